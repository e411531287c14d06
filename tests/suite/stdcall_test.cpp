// The calling convention of the shipped DLLs, run for real: every export
// removes exactly its N bytes of arguments (stdcall), leaves the x87 stack
// as a 32-bit JVM expects (one value for a double result, none otherwise),
// and the library binding's decorated names are entries of the same
// functions. It needs a 32-bit x86 caller, so it is built into the suite of
// the 32-bit Windows leg only. It runs where no image library is findable:
// every call then stops in LoadEntryPoint before touching an argument, so
// zero words are safe for every argument.
#include "bridge_test.h"
#include "method_info.h"
#include "stack_probe.h"

namespace corvane::test {
namespace {

using StackWithoutImageLibrary = BridgeTest;
CORVANE_FOR_EACH_BINDING(StackWithoutImageLibrary);

TEST_P(StackWithoutImageLibrary, EveryExportRemovesItsArgumentBytes) {
  for (const MethodInfo& method : kMethods) {
    std::vector<std::string> names = {bridge().ShortName(method.mangled)};
    if (binding() == Binding::kLibrary) {
      names.push_back("_" + names[0] + "@" + std::to_string(method.argument_bytes));
    }
    for (const std::string& name : names) {
      void* const function = bridge().Export(name);
      ASSERT_NE(function, nullptr) << name;
      EXPECT_EQ(function, bridge().Export(names[0])) << name << " is another function";
      ArgWords words;
      words.Ptr(env()).Ptr(nullptr);
      while (words.bytes() < method.argument_bytes) words.Word(0);
      jvm().EnterNative();
      const ProbeResult result = ProbeCall(function, words);
      jvm().LeaveNative(nullptr);
      EXPECT_EQ(result.popped, method.argument_bytes) << name;
      const bool returns_double = std::string(method.signature).back() == 'D';
      EXPECT_EQ(result.x87_depth, returns_double ? 1 : 0) << name;
      if (returns_double) {
        EXPECT_EQ(result.st0_bits, 0u) << name << ": the failure result is +0.0";
      }
      EXPECT_EQ(TakeReportTexts(), std::vector<std::u16string>{u"Unable to load Corvane.dll"}) << name;
    }
  }
}

}  // namespace
}  // namespace corvane::test
