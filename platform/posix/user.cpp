// MessageBoxW: a report goes to standard error, one line, and returns at once.
#include <cstdio>

#include "posix/posix_hooks.h"
#include "posix/utf16.h"

namespace {
CorvanePosixMessageBox message_box_hook = nullptr;
}

extern "C" {

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  if (message_box_hook) return message_box_hook(owner, text, caption, type);
  const std::string line = corvane::posix::Utf16ToUtf8(caption ? caption : u"") + ": " +
                           corvane::posix::Utf16ToUtf8(text ? text : u"") + "\n";
  std::fputs(line.c_str(), stderr);
  return IDOK;
}

void CorvanePosix_SetMessageBoxHook(CorvanePosixMessageBox hook) { message_box_hook = hook; }

}  // extern "C"
