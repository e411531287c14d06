// The part of the Windows API that the bridge and its tests use, for POSIX
// systems: the same names, types and meaning, implemented by libcorvane_posix
// over dlopen, stderr and the x87/SSE control registers.
#pragma once

#include <cstdint>

#if defined(CORVANE_POSIX_BUILDING)
#define CORVANE_POSIX_API __attribute__((visibility("default")))
#else
#define CORVANE_POSIX_API
#endif

using BOOL = int;
using UINT = unsigned int;
using DWORD = std::uint32_t;
using WCHAR = char16_t;  // UTF-16, as on Windows
using LPCWSTR = const WCHAR*;
using LPCSTR = const char*;

using HMODULE = struct HINSTANCE__*;
using HWND = struct HWND__*;
using FARPROC = void (*)();

constexpr UINT MB_OK = 0x00000000;
constexpr int IDOK = 1;

// The runtime's floating-point control word, in its platform-independent form.
constexpr unsigned int _EM_INEXACT = 0x00000001;
constexpr unsigned int _EM_UNDERFLOW = 0x00000002;
constexpr unsigned int _EM_OVERFLOW = 0x00000004;
constexpr unsigned int _EM_ZERODIVIDE = 0x00000008;
constexpr unsigned int _EM_INVALID = 0x00000010;
constexpr unsigned int _EM_DENORMAL = 0x00080000;
constexpr unsigned int _MCW_EM = 0x0008001F;
constexpr unsigned int _RC_NEAR = 0x00000000;
constexpr unsigned int _RC_DOWN = 0x00000100;
constexpr unsigned int _RC_UP = 0x00000200;
constexpr unsigned int _RC_CHOP = 0x00000300;
constexpr unsigned int _MCW_RC = 0x00000300;
constexpr unsigned int _PC_64 = 0x00000000;
constexpr unsigned int _PC_53 = 0x00010000;
constexpr unsigned int _PC_24 = 0x00020000;
constexpr unsigned int _MCW_PC = 0x00030000;
constexpr unsigned int _IC_AFFINE = 0x00040000;
constexpr unsigned int _MCW_IC = 0x00040000;
constexpr unsigned int _DN_SAVE = 0x00000000;
constexpr unsigned int _DN_FLUSH = 0x01000000;
constexpr unsigned int _MCW_DN = 0x03000000;
constexpr unsigned int _CW_DEFAULT = _RC_NEAR + _PC_53 + _EM_INVALID + _EM_ZERODIVIDE +
                                     _EM_OVERFLOW + _EM_UNDERFLOW + _EM_INEXACT + _EM_DENORMAL;

extern "C" {
// Loads "NAME" as lib NAME .so by the dynamic loader's standard search when
// NAME has no directory and no extension; otherwise as given. Null on failure.
CORVANE_POSIX_API HMODULE LoadLibraryW(LPCWSTR name);
CORVANE_POSIX_API FARPROC GetProcAddress(HMODULE module, LPCSTR name);
// Writes "CAPTION: TEXT" as one line to standard error and returns IDOK.
CORVANE_POSIX_API int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
// Sets the bits of `mask` in the control word to those of `value` and returns
// the new control word. As on Windows, the denormal-operand mask never
// changes here; x87 and MXCSR both follow. _MCW_DN sets flush-to-zero and
// denormals-are-zero in MXCSR.
CORVANE_POSIX_API unsigned int _controlfp(unsigned int value, unsigned int mask);
}
