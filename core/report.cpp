#include "core/report.h"

namespace corvane {

void ShowFailureReport(const WCHAR* text) { MessageBoxW(nullptr, text, CORVANE_WIDE("Error"), MB_OK); }

}  // namespace corvane
