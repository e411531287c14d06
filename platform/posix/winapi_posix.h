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
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using LPVOID = void*;
using WCHAR = char16_t;  // UTF-16, as on Windows
using LPCWSTR = const WCHAR*;
using LPCSTR = const char*;

using HMODULE = struct HINSTANCE__*;
using HWND = struct HWND__*;
using FARPROC = void (*)();
using HANDLE = void*;
using HGDIOBJ = void*;
using HBITMAP = struct HBITMAP__*;
using HDC = struct HDC__*;

// GDI records, laid out as on Windows (but for pointer sizes).
struct BITMAP {
  LONG bmType;
  LONG bmWidth;
  LONG bmHeight;
  LONG bmWidthBytes;
  WORD bmPlanes;
  WORD bmBitsPixel;
  LPVOID bmBits;
};

struct BITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;  // positive: rows bottom-up; negative: top-down
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
};

struct RGBQUAD {
  BYTE rgbBlue;
  BYTE rgbGreen;
  BYTE rgbRed;
  BYTE rgbReserved;
};

struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];  // the colour table, as long as the format needs
};

constexpr DWORD BI_RGB = 0;
constexpr UINT DIB_RGB_COLORS = 0;

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

// GDI: bitmaps in memory with their Windows meaning. Device-dependent bitmaps
// (CreateBitmap) and DIB sections of 1, 4, 8, 16, 24 and 32 bits per pixel;
// a deleted handle names no object any more.
CORVANE_POSIX_API HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bits_per_pixel, const void* bits);
CORVANE_POSIX_API HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section,
                                           DWORD offset);
CORVANE_POSIX_API int GetObjectW(HANDLE object, int size, LPVOID record);
CORVANE_POSIX_API int GetObjectA(HANDLE object, int size, LPVOID record);
CORVANE_POSIX_API HDC CreateCompatibleDC(HDC dc);
CORVANE_POSIX_API BOOL DeleteDC(HDC dc);
CORVANE_POSIX_API int GetDIBits(HDC dc, HBITMAP bitmap, UINT start, UINT lines, LPVOID bits, BITMAPINFO* info,
                                UINT usage);
CORVANE_POSIX_API BOOL DeleteObject(HGDIOBJ object);
}
