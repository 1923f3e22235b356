// The few Windows types and constants that the plug-in's interface uses.
// On Windows they come from <windows.h>; elsewhere this header stands in for
// it with the same names and values, so that the core and the exports compile
// unchanged on both. Nothing outside platform/ and plugin/ includes this; a
// host includes it through plugin/pngcomment.h, in C or C++.
#ifndef PNGCOMMENT_PLATFORM_WINDOWS_TYPES_H
#define PNGCOMMENT_PLATFORM_WINDOWS_TYPES_H

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <stddef.h>
#include <stdint.h>

#define WINAPI

typedef int BOOL;
typedef uint32_t DWORD;
typedef unsigned int UINT;
typedef void* LPVOID;
typedef void* HANDLE;
typedef void* HLOCAL;
typedef void* HWND;
typedef void* HINSTANCE;
typedef size_t SIZE_T;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#define LMEM_MOVEABLE 0x0002
#define LMEM_ZEROINIT 0x0040

#define MB_OK 0x00000000
#define MB_ICONINFORMATION 0x00000040

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3
#endif

#endif
