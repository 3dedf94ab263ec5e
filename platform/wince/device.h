// The device side of platform/platform.h: the Windows CE / Pocket PC SDK,
// plus what the SDK does not declare.
//
// The device build (platform/wince/CMakeLists.txt) has no SDK here and puts
// sdk-subset/ on the include path instead, a stand-in that declares exactly
// what the program uses, with the SDK's names, values and layouts (written
// once in shared/, which the simulator's declarations include too); a build
// with the Pocket PC 2002 SDK would put the SDK's include directory there.
#ifndef CORVANE_PLATFORM_WINCE_DEVICE_H
#define CORVANE_PLATFORM_WINCE_DEVICE_H

// windows.h first: the other SDK headers build on its types.
#include <windows.h>

#include <aygshell.h>
#include <commctrl.h>

#ifdef __cplusplus
extern "C" {
#endif

// VirtualCopy, which only the platform builder's pkfuncs.h declares.
#include "platform/wince/shared/pkfuncs.h"

#ifdef CORVANE_SDK_LACKS_SHNOTIFICATIONDATA
// aygshell's notification bubbles (the record and its two functions), for
// SDK headers that lack them. The executable imports the functions from
// aygshell.dll by ordinal (platform/wince/exports/aygshell.exports).
#define CORVANE_SHARED_AYGSHELL_BUBBLES_ONLY
#include "platform/wince/shared/aygshell.h"
#undef CORVANE_SHARED_AYGSHELL_BUBBLES_ONLY
#endif

#ifdef __cplusplus
}
#endif

// Uncached register access through a mapping, as the CE DDK's accessors do
// it: one 32-bit load or store that the compiler may neither drop, repeat
// nor move.
#ifndef READ_REGISTER_ULONG
#define READ_REGISTER_ULONG(reg) (*(volatile ULONG*)(reg))
#endif
#ifndef WRITE_REGISTER_ULONG
#define WRITE_REGISTER_ULONG(reg, value) (*(volatile ULONG*)(reg) = (ULONG)(value))
#endif

// The records handed to the shell must have the device's layout: the shell
// refuses a record whose size field is not its own, and reads the fields
// where the device has them.
#include "platform/wince/shared/layout.h"

#endif
