// A small DLL for rig_selftest: exports of both calling conventions, a
// thread_local counter, and calls to the system functions the bridge tests
// intercept (so their import can be patched here too).
#include <windows.h>

#include <cstdint>

#define RIG_EXPORT extern "C" __declspec(dllexport)

// Argument order shows in the result.
RIG_EXPORT int __stdcall rig_add3(int a, int b, int c) { return a + 10 * b + 100 * c; }
RIG_EXPORT int __cdecl rig_sub(int a, int b) { return a - b; }
RIG_EXPORT std::int64_t __stdcall rig_mul64(int a, int b) { return static_cast<std::int64_t>(a) * b; }
RIG_EXPORT double __stdcall rig_scale(double x, int k) { return x * k; }
RIG_EXPORT double __cdecl rig_identity(double x) { return x; }

// Leaves the x87 control word and MXCSR as given, for the probe to see.
RIG_EXPORT void __cdecl rig_set_fpu(unsigned x87, unsigned mxcsr) {
  const auto cw = static_cast<unsigned short>(x87);
  __asm__ volatile("fldcw %0" : : "m"(cw));
  __asm__ volatile("ldmxcsr %0" : : "m"(mxcsr));
}

thread_local int tls_counter = 0;
RIG_EXPORT int __stdcall rig_tls_bump() { return ++tls_counter; }

RIG_EXPORT int __stdcall rig_show(const wchar_t* text, const wchar_t* caption, unsigned flags) {
  return MessageBoxW(nullptr, text, caption, flags);
}
RIG_EXPORT HMODULE __stdcall rig_load(const wchar_t* name) { return LoadLibraryW(name); }
RIG_EXPORT FARPROC __stdcall rig_lookup(HMODULE module, const char* name) { return GetProcAddress(module, name); }
