// Windows CE core services as the simulated Pocket PC provides them.
//
// Types, constants and functions carry the SDK's names and values. Sizes
// follow the host where the SDK's are pointer-sized (handles, WPARAM), and
// the SDK where they are fixed: DWORD, LONG and ULONG are 32-bit, WCHAR is
// 16-bit. Every function here is a scheduling point of the simulator.
#ifndef CORVANE_SIMULATOR_WINCE_WINAPI_H
#define CORVANE_SIMULATOR_WINCE_WINAPI_H

#include <stddef.h>
#include <stdint.h>

#define WINAPI
#define CALLBACK
#define APIENTRY

#ifndef NULL
#define NULL 0
#endif
#define TRUE 1
#define FALSE 0

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int INT;
typedef unsigned int UINT;
typedef char16_t WCHAR;
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
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;

typedef void* HANDLE;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct HWND__* HWND;
typedef struct HICON__* HICON;
typedef struct HRSRC__* HRSRC;
typedef void* HGLOBAL;

#define __TEXT(quote) u##quote
#define TEXT(quote) __TEXT(quote)

#define LOWORD(l) ((WORD)((UINT_PTR)(l)&0xffff))
#define HIWORD(l) ((WORD)(((UINT_PTR)(l) >> 16) & 0xffff))
#define MAKEINTRESOURCEW(i) ((LPWSTR)(UINT_PTR)((WORD)(i)))
#define MAKEINTRESOURCE MAKEINTRESOURCEW
#define IS_INTRESOURCE(r) ((((UINT_PTR)(r)) >> 16) == 0)

// GUID, DLGTEMPLATE and NOTIFYICONDATA, with the SDK's layouts.
#include "platform/wince/records/windows.h"

// --- Resources -------------------------------------------------------------
#define RT_ICON MAKEINTRESOURCE(3)
#define RT_DIALOG MAKEINTRESOURCE(5)
#define RT_GROUP_ICON MAKEINTRESOURCE(14)

HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
#define FindResource FindResourceW

#define IMAGE_ICON 1
HICON LoadIconW(HINSTANCE instance, LPCWSTR name);
HANDLE LoadImageW(HINSTANCE instance, LPCWSTR name, UINT type, int cx, int cy, UINT flags);
BOOL DestroyIcon(HICON icon);
#define LR_SHARED 0x00008000
#define LoadIcon LoadIconW
#define LoadImage LoadImageW

// --- Windows and dialogs ---------------------------------------------------
#define WM_CLOSE 0x0010
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_LBUTTONDOWN 0x0201
#define WM_LBUTTONUP 0x0202
#define WM_LBUTTONDBLCLK 0x0203
#define WM_USER 0x0400

#define IDOK 1
#define IDCANCEL 2

#define BM_GETCHECK 0x00F0
#define BST_UNCHECKED 0
#define BST_CHECKED 1
#define BN_CLICKED 0

#define SW_HIDE 0
#define SW_SHOW 5

#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define WS_CAPTION 0x00C00000L
#define WS_GROUP 0x00020000L
#define WS_TABSTOP 0x00010000L
#define WS_EX_CAPTIONOKBTN 0x80000000L
#define DS_MODALFRAME 0x80L
#define DS_SETFONT 0x40L

typedef const DLGTEMPLATE* LPCDLGTEMPLATEW;
typedef LPCDLGTEMPLATEW LPCDLGTEMPLATE;

typedef BOOL(CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);

int DialogBoxIndirectParamW(HINSTANCE instance, LPCDLGTEMPLATEW dialogTemplate, HWND owner,
                            DLGPROC dialogProc, LPARAM initParam);
BOOL EndDialog(HWND dialog, int result);
BOOL ShowWindow(HWND window, int command);
BOOL SetForegroundWindow(HWND window);
LRESULT SendDlgItemMessageW(HWND dialog, int itemId, UINT message, WPARAM wParam, LPARAM lParam);
#define DialogBoxIndirectParam DialogBoxIndirectParamW
#define SendDlgItemMessage SendDlgItemMessageW

// A modal message box on the calling thread; the program uses MB_OK only.
#define MB_OK 0x00000000L
#define MB_ICONSTOP 0x00000010L
#define MB_SETFOREGROUND 0x00010000L
#define MB_TYPEMASK 0x0000000FL
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
#define MessageBox MessageBoxW

// The common controls library's initialisation entry.
void InitCommonControls(void);

// --- Threads, time and synchronisation ---------------------------------------
typedef struct _SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID parameter);

HANDLE CreateThread(LPSECURITY_ATTRIBUTES attributes, DWORD stackSize,
                    LPTHREAD_START_ROUTINE startAddress, LPVOID parameter, DWORD creationFlags,
                    LPDWORD threadId);
[[noreturn]] void ExitThread(DWORD exitCode);
// The calling thread's last error code, set by the calls that fail.
DWORD GetLastError(void);
void SetLastError(DWORD error);
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_INVALID_PARAMETER 87
BOOL CloseHandle(HANDLE handle);
void Sleep(DWORD milliseconds);
DWORD GetTickCount(void);

LONG InterlockedIncrement(LPLONG addend);
LONG InterlockedCompareExchange(LPLONG destination, LONG exchange, LONG comparand);
// The same operation as coredll of Windows CE 3.0 has it, which lacks
// InterlockedCompareExchange: the old value first, then the new one.
LONG InterlockedTestExchange(LPLONG target, LONG oldValue, LONG newValue);

typedef struct _CRITICAL_SECTION {
    void* simulatorLock;  // the simulator's lock object; set by InitializeCriticalSection
} CRITICAL_SECTION, *LPCRITICAL_SECTION;

void InitializeCriticalSection(LPCRITICAL_SECTION section);
void DeleteCriticalSection(LPCRITICAL_SECTION section);
void EnterCriticalSection(LPCRITICAL_SECTION section);
void LeaveCriticalSection(LPCRITICAL_SECTION section);

// --- Virtual memory ----------------------------------------------------------
#define MEM_COMMIT 0x1000
#define MEM_RESERVE 0x2000
#define MEM_RELEASE 0x8000
#define PAGE_NOACCESS 0x01
#define PAGE_READONLY 0x02
#define PAGE_READWRITE 0x04
#define PAGE_NOCACHE 0x200
#define PAGE_PHYSICAL 0x400

LPVOID VirtualAlloc(LPVOID address, DWORD size, DWORD allocationType, DWORD protect);
BOOL VirtualCopy(LPVOID destination, LPVOID source, DWORD size, DWORD protect);
BOOL VirtualFree(LPVOID address, DWORD size, DWORD freeType);

// --- Program entry -----------------------------------------------------------
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPWSTR commandLine,
                   int showCommand);

#endif
