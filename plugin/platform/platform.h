// The few Windows calls of the module. On Windows they come from <windows.h>; in the native
// build the host stand-in provides them with the same shapes and calling conventions.
#pragma once

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

#define HOST_STDCALL __attribute__((stdcall))
#define HOST_CDECL __attribute__((cdecl))

// Prefix that the C compiler puts before global symbol names (for names given in assembly).
#ifdef _WIN32
#define ASM_PREFIX "_"
#else
#define ASM_PREFIX ""
#endif
#define ASM_NAME(text) ASM_PREFIX text

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
typedef void* HMODULE;
typedef void* HINSTANCE;
typedef void* HWND;
typedef uint32_t DWORD;
typedef int BOOL;
typedef const char* LPCSTR;
typedef char* LPSTR;
typedef void* LPVOID;
typedef int(HOST_STDCALL* FARPROC)(void);

#define WINAPI HOST_STDCALL
#define TRUE 1
#define FALSE 0
#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3
#define MB_ABORTRETRYIGNORE 0x00000002u
#define MB_ICONERROR 0x00000010u
#define MB_TASKMODAL 0x00002000u
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5

extern "C" {
HOST_STDCALL HMODULE GetModuleHandleA(LPCSTR moduleName);
HOST_STDCALL FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
HOST_STDCALL DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size);
HOST_STDCALL int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, unsigned type);
HOST_CDECL int wsprintfA(LPSTR out, LPCSTR format, ...);
HOST_STDCALL LPSTR lstrcpyA(LPSTR out, LPCSTR in);
}
#endif

// A procedure address from GetProcAddress as a function of another type. Windows hands out every
// export as FARPROC; the caller knows its real shape.
template <typename F>
inline F procAs(FARPROC address) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(address));
}
