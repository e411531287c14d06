// The Windows interfaces the bridge uses: the real ones on Windows, our POSIX
// layer's under the same names elsewhere.
#pragma once

#if defined(_WIN32)
#include <float.h>
#include <windows.h>
// A wide string literal of the platform's WCHAR type.
#define CORVANE_WIDE(text) L##text
#else
#include "posix/winapi_posix.h"
#define CORVANE_WIDE(text) u##text
#endif
