// Resource identifiers shared by the resource script and the program.
#ifndef CORVANE_RESOURCES_RESOURCE_H
#define CORVANE_RESOURCES_RESOURCE_H

#define IDD_SETTINGS 104

#define IDC_ALLOW_100 1005
#define IDC_SHOW_NOTIFICATION 1010

#define IDI_APP 1
#define IDI_LEGEND_100 101
#define IDI_TRAY_400 109
#define IDI_TRAY_498 110
#define IDI_LEGEND_498 115
#define IDI_TRAY_100 118
#define IDI_LEGEND_400 119

#endif
