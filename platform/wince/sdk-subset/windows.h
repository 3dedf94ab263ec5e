/* Stand-in for the Windows CE SDK's windows.h: the declarations Corvane
   uses, with the SDK's names, values and layouts for ARM. */
#ifndef CORVANE_SDK_SUBSET_WINDOWS_H
#define CORVANE_SDK_SUBSET_WINDOWS_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* On ARM every Windows CE function uses the one ARM procedure call
   standard; WINAPI and CALLBACK name no other convention there. */
#define WINAPI
#define CALLBACK
#define APIENTRY

#define TRUE 1
#define FALSE 0

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef unsigned long DWORD;
typedef long LONG;
typedef unsigned long ULONG;
typedef int INT;
typedef unsigned int UINT;
typedef wchar_t WCHAR;
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
typedef UINT WPARAM;
typedef LONG LPARAM;
typedef LONG LRESULT;
typedef int INT_PTR;
typedef unsigned int UINT_PTR;

typedef void* HANDLE;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct HWND__* HWND;
typedef struct HICON__* HICON;
typedef struct HRSRC__* HRSRC;
typedef HANDLE HGLOBAL;

#define __TEXT(quote) L##quote
#define TEXT(quote) __TEXT(quote)

#define LOWORD(l) ((WORD)((DWORD)(l)&0xffff))
#define HIWORD(l) ((WORD)(((DWORD)(l) >> 16) & 0xffff))
#define MAKEINTRESOURCEW(i) ((LPWSTR)((DWORD)((WORD)(i))))
#define MAKEINTRESOURCE MAKEINTRESOURCEW

/* GUID, DLGTEMPLATE and NOTIFYICONDATA */
#include "../records/windows.h"

/* Resources */
#define RT_DIALOG MAKEINTRESOURCE(5)
HRSRC WINAPI FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType);
HGLOBAL WINAPI LoadResource(HMODULE hModule, HRSRC hResInfo);
#define IMAGE_ICON 1
HICON WINAPI LoadIconW(HINSTANCE hInstance, LPCWSTR lpIconName);
HANDLE WINAPI LoadImageW(HINSTANCE hinst, LPCWSTR lpszName, UINT uType, int cxDesired,
                         int cyDesired, UINT fuLoad);

/* Windows and dialogs */
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

typedef const DLGTEMPLATE* LPCDLGTEMPLATEW;

typedef BOOL(CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);

int WINAPI DialogBoxIndirectParamW(HINSTANCE hInstance, LPCDLGTEMPLATEW lpTemplate, HWND hWndParent,
                                   DLGPROC lpDialogFunc, LPARAM dwInitParam);
BOOL WINAPI EndDialog(HWND hDlg, int nResult);
BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow);
BOOL WINAPI SetForegroundWindow(HWND hWnd);
LRESULT WINAPI SendDlgItemMessageW(HWND hDlg, int nIDDlgItem, UINT Msg, WPARAM wParam,
                                   LPARAM lParam);

#define MB_OK 0x00000000L
#define MB_ICONSTOP 0x00000010L
#define MB_SETFOREGROUND 0x00010000L
int WINAPI MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType);

/* Threads, time and synchronisation */
typedef struct _SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID lpThreadParameter);
HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES lpsa, DWORD cbStack,
                           LPTHREAD_START_ROUTINE lpStartAddr, LPVOID lpvThreadParam,
                           DWORD fdwCreate, LPDWORD lpIDThread);
void WINAPI ExitThread(DWORD dwExitCode);
BOOL WINAPI CloseHandle(HANDLE hObject);
void WINAPI Sleep(DWORD dwMilliseconds);

LONG WINAPI InterlockedIncrement(LPLONG lpAddend);
LONG WINAPI InterlockedDecrement(LPLONG lpAddend);
LONG WINAPI InterlockedExchange(LPLONG Target, LONG Value);
/* Sets *Target to newValue if it holds oldValue; returns what it held. */
LONG WINAPI InterlockedTestExchange(LPLONG Target, LONG oldValue, LONG newValue);
#if _WIN32_WCE < 0x400
/* coredll of Windows CE 3.0 has no InterlockedCompareExchange (it first
   appears in later releases): the same operation is InterlockedTestExchange,
   with the last two arguments the other way round. */
#define InterlockedCompareExchange(Destination, Exchange, Comperand) \
    InterlockedTestExchange((Destination), (Comperand), (Exchange))
#else
LONG WINAPI InterlockedCompareExchange(LPLONG Destination, LONG Exchange, LONG Comperand);
#endif

typedef struct CRITICAL_SECTION {
    unsigned int LockCount;
    HANDLE OwnerThread;
    HANDLE hCrit;
    DWORD needtrap;
    DWORD dwContentions;
} CRITICAL_SECTION, *LPCRITICAL_SECTION;
void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpcs);
void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpcs);
void WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpcs);
void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpcs);

/* Virtual memory */
#define MEM_RESERVE 0x2000
#define MEM_RELEASE 0x8000
#define PAGE_NOACCESS 0x01
#define PAGE_READONLY 0x02
#define PAGE_READWRITE 0x04
#define PAGE_NOCACHE 0x200
#define PAGE_PHYSICAL 0x400
LPVOID WINAPI VirtualAlloc(LPVOID lpAddress, DWORD dwSize, DWORD flAllocationType, DWORD flProtect);
BOOL WINAPI VirtualFree(LPVOID lpAddress, DWORD dwSize, DWORD dwFreeType);

/* The tray (shellapi.h on Windows CE) */
#define NIM_ADD 0x00000000
#define NIM_MODIFY 0x00000001
#define NIM_DELETE 0x00000002
#define NIF_MESSAGE 0x00000001
#define NIF_ICON 0x00000002
#define NIF_TIP 0x00000004
BOOL WINAPI Shell_NotifyIcon(DWORD dwMessage, PNOTIFYICONDATA lpData);

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR lpCmdLine, int nShowCmd);

#ifdef __cplusplus
}
#endif

#endif
