// Checks that the 32-bit Windows rig (Wine under qemu-i386) runs what the
// bridge tests depend on, and that the rig's test utilities work: threads
// and thread_local, the DLL search, calling conventions seen through
// stack_probe, import patching, msvcrt's _controlfp, and processor faults
// arriving as the right Windows exceptions. Needs rig_selftest_dll.dll in
// the folder of this program.
#include <float.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "import_patch.h"
#include "stack_probe.h"

namespace corvane::test {
namespace {

HMODULE SelftestDll() {
  static const HMODULE module = LoadLibraryW(L"rig_selftest_dll.dll");
  return module;
}

template <typename Function>
Function Export(const char* name) {
  const HMODULE module = SelftestDll();
  return module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

const void* ExportAddress(const char* name) { return Export<const void*>(name); }

std::uint64_t Bits(double d) {
  std::uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  return bits;
}

// ------------------------------------------------------------------ loader

TEST(RigLoader, FindsDllInProgramFolderAndReportsMissingOne) {
  ASSERT_NE(SelftestDll(), nullptr) << "LoadLibraryW error " << GetLastError();
  EXPECT_NE(ExportAddress("rig_add3@12"), nullptr);
  EXPECT_NE(ExportAddress("rig_sub"), nullptr);

  SetLastError(0);
  EXPECT_EQ(LoadLibraryW(L"rig_selftest_no_such_module"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

// ----------------------------------------------------------------- threads

thread_local int exe_counter = 0;

TEST(RigThreads, ThreadLocalIsPerThreadInExeAndDll) {
  auto dll_bump = Export<int(__stdcall*)()>("rig_tls_bump@0");
  ASSERT_NE(dll_bump, nullptr);
  constexpr int kThreads = 4;
  std::vector<int> exe_seen(kThreads), dll_seen(kThreads);
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      // All threads run at once, so a shared counter would show.
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();
      for (int i = 0; i < 1000 + t; ++i) ++exe_counter;
      int last = 0;
      for (int i = 0; i < 100 + t; ++i) last = dll_bump();
      exe_seen[t] = exe_counter;
      dll_seen[t] = last;
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(exe_seen[t], 1000 + t) << "thread " << t;
    EXPECT_EQ(dll_seen[t], 100 + t) << "thread " << t;
  }
  EXPECT_EQ(exe_counter, 0);
  EXPECT_EQ(dll_bump(), 1);
}

// ------------------------------------------------------------- stack probe

enum class Returns { kInt32, kInt64, kDouble };

struct ProbeCase {
  const char* name;
  const char* symbol;
  ArgWords args;
  std::int32_t popped;
  Returns returns;
  std::uint64_t value;  // EAX, EDX:EAX or the bits of ST0
};
void PrintTo(const ProbeCase& c, std::ostream* os) { *os << c.symbol; }

class RigStackProbe : public ::testing::TestWithParam<ProbeCase> {};

TEST_P(RigStackProbe, ReportsBytesRemovedAndReturnRegisters) {
  const ProbeCase& c = GetParam();
  const void* function = ExportAddress(c.symbol);
  ASSERT_NE(function, nullptr) << c.symbol;
  const ProbeResult r = ProbeCall(function, c.args);
  EXPECT_EQ(r.popped, c.popped);
  EXPECT_EQ(r.x87_depth, c.returns == Returns::kDouble ? 1 : 0);
  switch (c.returns) {
    case Returns::kInt32: EXPECT_EQ(r.eax, c.value); break;
    case Returns::kInt64: EXPECT_EQ(r.edx_eax(), c.value); break;
    case Returns::kDouble: EXPECT_EQ(r.st0_bits, c.value); break;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Exports, RigStackProbe,
    ::testing::Values(
        ProbeCase{"stdcall", "rig_add3@12", ArgWords().Int(1).Int(2).Int(3), 12, Returns::kInt32, 321},
        ProbeCase{"cdecl", "rig_sub", ArgWords().Int(10).Int(3), 0, Returns::kInt32, 7},
        // One word too many: the callee still removes its 12 bytes only.
        ProbeCase{"stdcall_extra_word", "rig_add3@12", ArgWords().Int(1).Int(2).Int(3).Int(99), 12,
                  Returns::kInt32, 321},
        ProbeCase{"int64_in_edx_eax", "rig_mul64@8", ArgWords().Int(-2).Int(0x40000000), 8, Returns::kInt64,
                  static_cast<std::uint64_t>(-2LL * 0x40000000)},
        ProbeCase{"double_in_st0_stdcall", "rig_scale@12", ArgWords().Double(1.5).Int(4), 12, Returns::kDouble,
                  Bits(6.0)},
        ProbeCase{"double_in_st0_cdecl", "rig_identity", ArgWords().Double(-0.1), 0, Returns::kDouble,
                  Bits(-0.1)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RigStackProbeState, LeavesX87StackBalancedAndReportsCalleesFpuState) {
  const void* identity = ExportAddress("rig_identity");
  const void* set_fpu = ExportAddress("rig_set_fpu");
  ASSERT_NE(identity, nullptr);
  ASSERT_NE(set_fpu, nullptr);
  // Each call sees one value: the one before it was popped.
  for (int i = 0; i < 10; ++i) {
    const ProbeResult r = ProbeCall(identity, ArgWords().Double(i));
    ASSERT_EQ(r.x87_depth, 1) << "call " << i;
    EXPECT_EQ(r.st0_bits, Bits(i));
  }

  unsigned short cw_before;
  unsigned mxcsr_before;
  __asm__ volatile("fnstcw %0" : "=m"(cw_before));
  __asm__ volatile("stmxcsr %0" : "=m"(mxcsr_before));
  const ProbeResult r = ProbeCall(set_fpu, ArgWords().Word(0x0E7F).Word(0x9FC0));
  unsigned short cw_after;
  unsigned mxcsr_after;
  __asm__ volatile("fnstcw %0" : "=m"(cw_after));
  __asm__ volatile("stmxcsr %0" : "=m"(mxcsr_after));
  __asm__ volatile("fldcw %0" : : "m"(cw_before));
  __asm__ volatile("ldmxcsr %0" : : "m"(mxcsr_before));
  EXPECT_EQ(r.x87_control, 0x0E7F);
  EXPECT_EQ(r.mxcsr, 0x9FC0u);
  // The probe hands the callee's settings on, as a real caller would get them.
  EXPECT_EQ(cw_after, 0x0E7F);
  EXPECT_EQ(mxcsr_after, 0x9FC0u);
}

// ------------------------------------------------------------ import patch

std::wstring seen_text, seen_caption;
unsigned seen_flags = 0;
std::wstring seen_module;
std::string seen_symbol;

int WINAPI FakeMessageBoxW(HWND, LPCWSTR text, LPCWSTR caption, UINT flags) {
  seen_text = text;
  seen_caption = caption;
  seen_flags = flags;
  return 4242;
}
HMODULE WINAPI FakeLoadLibraryW(LPCWSTR name) {
  seen_module = name;
  return reinterpret_cast<HMODULE>(0x1234);
}
FARPROC WINAPI FakeGetProcAddress(HMODULE, LPCSTR name) {
  seen_symbol = name;
  return reinterpret_cast<FARPROC>(0x5678);
}

struct PatchCase {
  const char* name;
  const char* dll;       // spelt differently from the import
  const char* exporter;  // where the real function lives
  const char* function;
  void* fake;
  std::uintptr_t (*call)();
  std::uintptr_t fake_result;
  bool (*seen)();
};

void PrintTo(const PatchCase& c, std::ostream* os) { *os << c.dll << '!' << c.function; }

class RigImportPatch : public ::testing::TestWithParam<PatchCase> {};

TEST_P(RigImportPatch, CapturesCallsOfThatModuleAndRestores) {
  const PatchCase& c = GetParam();
  ASSERT_NE(SelftestDll(), nullptr);
  const void* real = reinterpret_cast<const void*>(GetProcAddress(GetModuleHandleA(c.exporter), c.function));
  ASSERT_NE(real, nullptr);
  {
    ImportPatch patch(SelftestDll(), c.dll, c.function, c.fake);
    ASSERT_TRUE(patch.active());
    EXPECT_EQ(patch.previous<const void*>(), real);
    EXPECT_EQ(c.call(), c.fake_result);
    EXPECT_TRUE(c.seen());
  }
  // Restored: the table holds the real function again.
  void* now = PatchImport(SelftestDll(), c.dll, c.function, const_cast<void*>(real));
  EXPECT_EQ(now, real);
}

INSTANTIATE_TEST_SUITE_P(
    SystemFunctions, RigImportPatch,
    ::testing::Values(
        PatchCase{"MessageBoxW", "user32.DLL", "user32.dll", "MessageBoxW", reinterpret_cast<void*>(&FakeMessageBoxW),
                  [] {
                    auto show = Export<int(__stdcall*)(const wchar_t*, const wchar_t*, unsigned)>("rig_show@12");
                    return static_cast<std::uintptr_t>(show(L"text", L"caption", MB_ICONERROR | MB_OK));
                  },
                  4242,
                  [] { return seen_text == L"text" && seen_caption == L"caption" && seen_flags == MB_ICONERROR; }},
        PatchCase{"LoadLibraryW", "Kernel32.dll", "kernel32.dll", "LoadLibraryW",
                  reinterpret_cast<void*>(&FakeLoadLibraryW),
                  [] {
                    auto load = Export<HMODULE(__stdcall*)(const wchar_t*)>("rig_load@4");
                    return reinterpret_cast<std::uintptr_t>(load(L"Corvane"));
                  },
                  0x1234, [] { return seen_module == L"Corvane"; }},
        PatchCase{"GetProcAddress", "KERNEL32.DLL", "kernel32.dll", "GetProcAddress",
                  reinterpret_cast<void*>(&FakeGetProcAddress),
                  [] {
                    auto lookup = Export<FARPROC(__stdcall*)(HMODULE, const char*)>("rig_lookup@8");
                    return reinterpret_cast<std::uintptr_t>(lookup(nullptr, "Java_x_y@8"));
                  },
                  0x5678, [] { return seen_symbol == "Java_x_y@8"; }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RigImportPatchMisses, ChangesNothingForAnImportTheModuleDoesNotHave) {
  ASSERT_NE(SelftestDll(), nullptr);
  void* fake = reinterpret_cast<void*>(&FakeMessageBoxW);
  EXPECT_EQ(PatchImport(SelftestDll(), "USER32.dll", "MessageBoxA", fake), nullptr);
  EXPECT_EQ(PatchImport(SelftestDll(), "GDI32.dll", "MessageBoxW", fake), nullptr);
  EXPECT_EQ(PatchImport(SelftestDll(), "USER32", "MessageBoxW", fake), nullptr);
  EXPECT_EQ(PatchImport(nullptr, "USER32.dll", "MessageBoxW", fake), nullptr);
  ImportPatch none(SelftestDll(), "USER32.dll", "NoSuchFunction", fake);
  EXPECT_FALSE(none.active());
}

// --------------------------------------------------------------------- FPU

struct FpuCase {
  const char* name;
  unsigned short x87_start;
  unsigned mxcsr_start;
  unsigned short x87_expected;
  unsigned mxcsr_expected;
};
void PrintTo(const FpuCase& c, std::ostream* os) { *os << c.name; }

class RigControlfp : public ::testing::TestWithParam<FpuCase> {};

// _controlfp(0x9001F, 0xFFFFF): all exceptions masked, round to nearest,
// 53-bit precision; _controlfp leaves both denormal masks alone (unlike
// _control87), and neither flush-to-zero nor denormals-are-zero changes.
TEST_P(RigControlfp, SetsMasksRoundingAndPrecisionOnly) {
  const FpuCase& c = GetParam();
  unsigned short saved_cw, cw;
  unsigned saved_mxcsr, mxcsr;
  __asm__ volatile("fnstcw %0" : "=m"(saved_cw));
  __asm__ volatile("stmxcsr %0" : "=m"(saved_mxcsr));
  __asm__ volatile("fnclex\n\tfldcw %0\n\tldmxcsr %1" : : "m"(c.x87_start), "m"(c.mxcsr_start));
  _controlfp(0x9001F, 0xFFFFF);
  __asm__ volatile("fnstcw %0" : "=m"(cw));
  __asm__ volatile("stmxcsr %0" : "=m"(mxcsr));
  __asm__ volatile("fldcw %0\n\tldmxcsr %1" : : "m"(saved_cw), "m"(saved_mxcsr));
  EXPECT_EQ(cw, c.x87_expected);
  EXPECT_EQ(mxcsr, c.mxcsr_expected);
}

INSTANTIATE_TEST_SUITE_P(
    StartStates, RigControlfp,
    ::testing::Values(FpuCase{"runtime_default", 0x037F, 0x1F80, 0x027F, 0x1F80},
                      FpuCase{"denormal_unmasked_ftz_daz", 0x037D, 0x9EC0, 0x027D, 0x9EC0},
                      FpuCase{"all_unmasked_round_up_64bit", 0x1B40, 0x4000, 0x027D, 0x1E80}),
    [](const auto& info) { return std::string(info.param.name); });

// ------------------------------------------------------------------ faults

// Each faulting instruction has a label, and one to resume at; the handler
// below moves EIP from the first to the second.
extern "C" std::uint32_t FaultRead(const void* address) __asm__("rig_fault_read");
extern "C" void FaultWrite(void* address) __asm__("rig_fault_write");
extern "C" std::uint32_t FaultDivide(std::uint32_t a, std::uint32_t b) __asm__("rig_fault_divide");
extern "C" void FaultPrivileged() __asm__("rig_fault_privileged");
extern "C" const char kReadAt[] __asm__("rig_fault_read_at");
extern "C" const char kReadResume[] __asm__("rig_fault_read_resume");
extern "C" const char kWriteAt[] __asm__("rig_fault_write_at");
extern "C" const char kWriteResume[] __asm__("rig_fault_write_resume");
extern "C" const char kDivideAt[] __asm__("rig_fault_divide_at");
extern "C" const char kDivideResume[] __asm__("rig_fault_divide_resume");
extern "C" const char kPrivilegedAt[] __asm__("rig_fault_privileged_at");
extern "C" const char kPrivilegedResume[] __asm__("rig_fault_privileged_resume");

__asm__(R"(
    .text
rig_fault_read:
    movl 4(%esp), %ecx
rig_fault_read_at:
    movl (%ecx), %eax
rig_fault_read_resume:
    ret
rig_fault_write:
    movl 4(%esp), %ecx
rig_fault_write_at:
    movl $1, (%ecx)
rig_fault_write_resume:
    ret
rig_fault_divide:
    movl 4(%esp), %eax
    movl 8(%esp), %ecx
    xorl %edx, %edx
rig_fault_divide_at:
    divl %ecx
rig_fault_divide_resume:
    ret
rig_fault_privileged:
rig_fault_privileged_at:
    cli
rig_fault_privileged_resume:
    ret
)");

struct Fault {
  DWORD code = 0;
  DWORD parameters = 0;
  ULONG_PTR info[2] = {};
  const void* address = nullptr;
  int count = 0;
};
Fault fault;

LONG CALLBACK RecordFault(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  const void* at = record->ExceptionAddress;
  const void* resume = at == kReadAt         ? kReadResume
                       : at == kWriteAt      ? kWriteResume
                       : at == kDivideAt     ? kDivideResume
                       : at == kPrivilegedAt ? kPrivilegedResume
                                             : nullptr;
  if (!resume) return EXCEPTION_CONTINUE_SEARCH;
  fault.code = record->ExceptionCode;
  fault.parameters = record->NumberParameters;
  for (DWORD i = 0; i < 2 && i < record->NumberParameters; ++i) fault.info[i] = record->ExceptionInformation[i];
  fault.address = at;
  ++fault.count;
  // A guard page fault is retried: the page has lost its guard by now.
  if (record->ExceptionCode != STATUS_GUARD_PAGE_VIOLATION) {
    pointers->ContextRecord->Eip = reinterpret_cast<DWORD>(resume);
    pointers->ContextRecord->Eax = 0xDEADBEEF;
  }
  return EXCEPTION_CONTINUE_EXECUTION;
}

class RigFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    fault = Fault{};
    handler_ = AddVectoredExceptionHandler(1, RecordFault);
    ASSERT_NE(handler_, nullptr);
  }
  void TearDown() override { RemoveVectoredExceptionHandler(handler_); }
  void* handler_ = nullptr;
};

TEST_F(RigFaults, ReadOfUnmappedAddressIsReadAccessViolation) {
  EXPECT_EQ(FaultRead(reinterpret_cast<const void*>(0x10)), 0xDEADBEEFu);
  EXPECT_EQ(fault.code, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
  EXPECT_EQ(fault.address, kReadAt);
  ASSERT_EQ(fault.parameters, 2u);
  EXPECT_EQ(fault.info[0], 0u);  // read
  EXPECT_EQ(fault.info[1], 0x10u);
}

TEST_F(RigFaults, WriteToReadOnlyPageIsWriteAccessViolation) {
  void* page = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READONLY);
  ASSERT_NE(page, nullptr);
  FaultWrite(page);
  EXPECT_EQ(fault.code, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
  ASSERT_EQ(fault.parameters, 2u);
  EXPECT_EQ(fault.info[0], 1u);  // write
  EXPECT_EQ(fault.info[1], reinterpret_cast<ULONG_PTR>(page));
  VirtualFree(page, 0, MEM_RELEASE);
}

TEST_F(RigFaults, GuardPageFaultsOnceThenReads) {
  auto* page = static_cast<std::uint32_t*>(
      VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE | PAGE_GUARD));
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(FaultRead(page), 0u);
  EXPECT_EQ(fault.code, static_cast<DWORD>(STATUS_GUARD_PAGE_VIOLATION));
  EXPECT_EQ(fault.count, 1);
  EXPECT_EQ(FaultRead(page), 0u);
  EXPECT_EQ(fault.count, 1);
  VirtualFree(page, 0, MEM_RELEASE);
}

TEST_F(RigFaults, IntegerDivideByZeroAndPrivilegedInstruction) {
  EXPECT_EQ(FaultDivide(7, 0), 0xDEADBEEFu);
  EXPECT_EQ(fault.code, static_cast<DWORD>(EXCEPTION_INT_DIVIDE_BY_ZERO));
  EXPECT_EQ(fault.address, kDivideAt);
  EXPECT_EQ(FaultDivide(7, 2), 3u);

  FaultPrivileged();
  EXPECT_EQ(fault.code, static_cast<DWORD>(EXCEPTION_PRIV_INSTRUCTION));
  EXPECT_EQ(fault.address, kPrivilegedAt);
  EXPECT_EQ(fault.count, 2);
}

}  // namespace
}  // namespace corvane::test
