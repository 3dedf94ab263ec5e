/* The Windows CE windows.h as Corvane uses it, declared once for both of
   its platforms: the device build's SDK stand-in includes it as <windows.h>
   (platform/wince/sdk-subset/windows.h), and the simulated Pocket PC as the
   core of its own declarations (simulator/wince/winapi.h). Every name and
   value here is the SDK's, and so is every record's layout but the host's
   critical section; what the program uses is declared here and nowhere
   else, so the executable and the host build cannot see different
   constants, records or functions.

   The two sides differ only in the block "What each side has its own"
   below, chosen by _WIN32_WCE (which the device build defines): the sizes
   of the integer and character types, how TEXT spells a string, the
   critical section's record and whether ExitThread says it does not return.
   Everything else is built on those. (InterlockedCompareExchange depends on
   the Windows CE release instead: coredll of 3.0 lacks it.)

   Linkage is left to the includer. The device's headers include this file
   inside extern "C": coredll's functions are C functions, imported by name.
   The simulator's include it as it is: there they are C++ functions of the
   simulator, bound to an executable's imports by address
   (simulator/exe/simulated_dlls.cpp), whose C++ names keep them apart from
   the host C library's.

   Declarations that only one side has stay with that side: the SDK's that
   the simulator does not provide (sdk-subset/), what only the simulator
   uses (simulator/wince/winapi.h), and what the SDK itself lacks
   (pkfuncs.h, and the device build's platform/wince/device.h). */
#ifndef CORVANE_PLATFORM_WINCE_SHARED_WINDOWS_H
#define CORVANE_PLATFORM_WINCE_SHARED_WINDOWS_H

#include <stddef.h>

/* On ARM every Windows CE function uses the one ARM procedure call
   standard, and the simulator's functions are plain host functions:
   WINAPI and CALLBACK name no other convention on either side. */
#define WINAPI
#define CALLBACK
#define APIENTRY

#define TRUE 1
#define FALSE 0

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef int INT;
typedef unsigned int UINT;
typedef void* HANDLE;

/* --- What each side has its own ----------------------------------------- */
#if defined(_WIN32_WCE)
/* The device: 32-bit ARM, whose long and pointers are 32 bits, and wchar_t
   16 bits under -fshort-wchar, as the SDK has them. */
typedef unsigned long DWORD;
typedef long LONG;
typedef unsigned long ULONG;
typedef wchar_t WCHAR;
typedef UINT WPARAM;
typedef LONG LPARAM;
typedef LONG LRESULT;
typedef int INT_PTR;
typedef unsigned int UINT_PTR;

#define __TEXT(quote) L##quote

/* coredll's own critical section record. */
typedef struct CRITICAL_SECTION {
    unsigned int LockCount;
    HANDLE OwnerThread;
    HANDLE hCrit;
    DWORD needtrap;
    DWORD dwContentions;
} CRITICAL_SECTION, *LPCRITICAL_SECTION;

/* The SDK does not mark ExitThread as not returning (C++98 could not say
   so anyway), and the device build keeps the SDK's declaration. */
#define CORVANE_NORETURN
#else
/* The simulator's host: DWORD, LONG and ULONG keep the SDK's 32 bits and
   WCHAR its 16, while the pointer-sized ones (WPARAM, LPARAM, LRESULT,
   INT_PTR, UINT_PTR) follow the host's pointers. */
#include <stdint.h>
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef char16_t WCHAR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;

#define __TEXT(quote) u##quote

/* The program owns the record and never looks inside: the simulator keeps
   its own lock object there. */
typedef struct _CRITICAL_SECTION {
    void* simulatorLock; /* set by InitializeCriticalSection */
} CRITICAL_SECTION, *LPCRITICAL_SECTION;

/* The simulator ends a thread by unwinding it, and says so. */
#define CORVANE_NORETURN [[noreturn]]
#endif
/* ------------------------------------------------------------------------ */

typedef WCHAR TCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef LPWSTR LPTSTR;
typedef LPCWSTR LPCTSTR;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef LONG* LPLONG;
typedef DWORD* LPDWORD;
typedef ULONG* PULONG;

typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct HWND__* HWND;
typedef struct HICON__* HICON;
typedef struct HRSRC__* HRSRC;
typedef HANDLE HGLOBAL;

#define TEXT(quote) __TEXT(quote)

#define LOWORD(l) ((WORD)((UINT_PTR)(l)&0xffff))
#define HIWORD(l) ((WORD)(((UINT_PTR)(l) >> 16) & 0xffff))
#define MAKEINTRESOURCEW(i) ((LPWSTR)(UINT_PTR)((WORD)(i)))
#define MAKEINTRESOURCE MAKEINTRESOURCEW

typedef struct _GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
} GUID;
typedef GUID CLSID;

/* --- Resources ----------------------------------------------------------- */
#define RT_DIALOG MAKEINTRESOURCE(5)
HRSRC WINAPI FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type);
HGLOBAL WINAPI LoadResource(HMODULE module, HRSRC resource);

#define IMAGE_ICON 1
HICON WINAPI LoadIconW(HINSTANCE instance, LPCWSTR name);
HANDLE WINAPI LoadImageW(HINSTANCE instance, LPCWSTR name, UINT type, int cx, int cy, UINT flags);

/* --- Windows and dialogs ------------------------------------------------- */
#define WM_CLOSE 0x0010
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_LBUTTONDOWN 0x0201
#define WM_LBUTTONUP 0x0202
#define WM_LBUTTONDBLCLK 0x0203

#define IDOK 1
#define IDCANCEL 2

#define BM_GETCHECK 0x00F0
#define BST_CHECKED 0x0001

#define SW_HIDE 0
#define SW_SHOW 5

/* A dialog template's header: packed on 2-byte boundaries, as in the
   resource. */
#pragma pack(push, 2)
typedef struct {
    DWORD style;
    DWORD dwExtendedStyle;
    WORD cdit;
    short x;
    short y;
    short cx;
    short cy;
} DLGTEMPLATE;
#pragma pack(pop)

typedef const DLGTEMPLATE* LPCDLGTEMPLATEW;

typedef BOOL(CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);

int WINAPI DialogBoxIndirectParamW(HINSTANCE instance, LPCDLGTEMPLATEW dialogTemplate, HWND owner,
                                   DLGPROC dialogProc, LPARAM initParam);
BOOL WINAPI EndDialog(HWND dialog, int result);
BOOL WINAPI ShowWindow(HWND window, int command);
BOOL WINAPI SetForegroundWindow(HWND window);
LRESULT WINAPI SendDlgItemMessageW(HWND dialog, int itemId, UINT message, WPARAM wParam,
                                   LPARAM lParam);

/* A modal message box on the calling thread. */
#define MB_OK 0x00000000L
#define MB_ICONSTOP 0x00000010L
#define MB_SETFOREGROUND 0x00010000L
int WINAPI MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

/* --- Threads, time and synchronisation ----------------------------------- */
typedef struct _SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID parameter);

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES attributes, DWORD stackSize,
                           LPTHREAD_START_ROUTINE startAddress, LPVOID parameter,
                           DWORD creationFlags, LPDWORD threadId);
CORVANE_NORETURN void WINAPI ExitThread(DWORD exitCode);
#undef CORVANE_NORETURN
BOOL WINAPI CloseHandle(HANDLE handle);
void WINAPI Sleep(DWORD milliseconds);

LONG WINAPI InterlockedIncrement(LPLONG addend);
/* Sets *target to newValue if it holds oldValue; returns what it held. */
LONG WINAPI InterlockedTestExchange(LPLONG target, LONG oldValue, LONG newValue);
#if defined(_WIN32_WCE) && _WIN32_WCE < 0x400
/* coredll of Windows CE 3.0 has no InterlockedCompareExchange (it first
   appears in later releases): the same operation is InterlockedTestExchange,
   with the last two arguments the other way round. The simulator provides
   both for the program built into it. */
#define InterlockedCompareExchange(destination, exchange, comparand) \
    InterlockedTestExchange((destination), (comparand), (exchange))
#else
LONG WINAPI InterlockedCompareExchange(LPLONG destination, LONG exchange, LONG comparand);
#endif

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section);
void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION section);
void WINAPI EnterCriticalSection(LPCRITICAL_SECTION section);
void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section);

/* --- Virtual memory ------------------------------------------------------ */
#define MEM_RESERVE 0x2000
#define MEM_RELEASE 0x8000
#define PAGE_NOACCESS 0x01
#define PAGE_READONLY 0x02
#define PAGE_READWRITE 0x04
#define PAGE_NOCACHE 0x200
#define PAGE_PHYSICAL 0x400

LPVOID WINAPI VirtualAlloc(LPVOID address, DWORD size, DWORD allocationType, DWORD protect);
BOOL WINAPI VirtualFree(LPVOID address, DWORD size, DWORD freeType);

/* --- The tray (shellapi.h on Windows CE) --------------------------------- */
typedef struct _NOTIFYICONDATA {
    DWORD cbSize;
    HWND hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    HICON hIcon;
    WCHAR szTip[64];
} NOTIFYICONDATA, *PNOTIFYICONDATA;

#define NIM_ADD 0x00000000
#define NIM_MODIFY 0x00000001
#define NIM_DELETE 0x00000002
#define NIF_MESSAGE 0x00000001
#define NIF_ICON 0x00000002
#define NIF_TIP 0x00000004

BOOL WINAPI Shell_NotifyIcon(DWORD message, PNOTIFYICONDATA data);

/* --- Program entry ------------------------------------------------------- */
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPWSTR commandLine,
                   int showCommand);

#endif
