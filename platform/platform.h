// The one platform header the program includes.
//
// Built for a Pocket PC it pulls in the Windows CE SDK plus the few
// declarations the SDK lacks; built for the host it pulls in the simulated
// Pocket PC's declarations of the same functions, types and constants. The
// program is written against these names only and cannot tell which it got.
#ifndef CORVANE_PLATFORM_PLATFORM_H
#define CORVANE_PLATFORM_PLATFORM_H

#if defined(_WIN32_WCE)
#include "platform/wince/device.h"
#else
#include "simulator/hardware/hwapi.h"
#include "simulator/shell/shellapi.h"
#include "simulator/wince/winapi.h"
#endif

#endif
