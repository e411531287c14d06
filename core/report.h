// Failure reports: a message box with no owner, the caption "Error" and an OK
// button, which blocks the calling thread until the user closes it.
#pragma once

#include "platform/winapi.h"

namespace corvane {

void ShowFailureReport(const WCHAR* text);

}  // namespace corvane
