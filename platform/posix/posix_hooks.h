// Test hooks of the POSIX layer: observe the calls that bridge modules make,
// in place of patching a Windows module's import table.
#pragma once

#include "posix/winapi_posix.h"

extern "C" {
using CorvanePosixMessageBox = int (*)(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
// Replaces what MessageBoxW does; null restores the default.
CORVANE_POSIX_API void CorvanePosix_SetMessageBoxHook(CorvanePosixMessageBox hook);

// Called after every LoadLibraryW and GetProcAddress with the function's name,
// the name it was given (UTF-8) and its result.
using CorvanePosixLoaderObserver = void (*)(const char* function, const char* name, const void* result);
CORVANE_POSIX_API void CorvanePosix_SetLoaderObserver(CorvanePosixLoaderObserver observer);

// GDI objects (bitmaps and device contexts) alive now, stock objects not counted.
CORVANE_POSIX_API int CorvanePosix_GdiObjectCount();
}
