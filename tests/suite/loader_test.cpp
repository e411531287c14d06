// Loading the image library and resolving entry points: lazily, one entry
// point per method, reported and retried on failure. The scenario suites run
// in processes of their own, where the image library is absent, lacks entry
// points, or becomes findable during the run.
#include <set>

#include "bridge_test.h"
#include "sample_calls.h"

namespace corvane::test {
namespace {

constexpr char16_t kUnableToLoad[] = u"Unable to load Corvane.dll";

std::u16string MissingEntryReport(const MethodInfo& method) {
  const std::string name = method.name;
  return u"Unable to get p" + std::u16string(name.begin(), name.end()) + u" function address";
}

using Loader = BridgeTest;
CORVANE_FOR_EACH_BINDING(Loader);

TEST_P(Loader, FirstCallLoadsTheLibraryAndResolvesOnlyItsOwnEntryPoint) {
  const BridgeModule fresh = FreshBridge(binding());
  fresh.Call<void>("ShowFileConverter");
  EXPECT_EQ(TakeLoaderCalls(), (std::vector<std::string>{"LoadLibraryW Corvane", "GetProcAddress _ShowFileConverter"}));
  fresh.Call<void>("ShowFileConverter");
  EXPECT_EQ(TakeLoaderCalls(), std::vector<std::string>{}) << "both are cached after the first call";
  fresh.Call<jint>("ReadWSQ_1ppi");
  EXPECT_EQ(TakeLoaderCalls(), std::vector<std::string>{"GetProcAddress _ReadWSQ_ppi"});
  EXPECT_EQ(Calls(Entry::ShowFileConverter), 2);
}

TEST_P(Loader, EveryMethodIsExportedUnderItsShortName) {
  for (const MethodInfo& method : kMethods) {
    EXPECT_NE(bridge().Export(bridge().ShortName(method.mangled)), nullptr) << method.name;
  }
}

// --- Scenario: no image library anywhere. ---

using WithoutImageLibrary = BridgeTest;
CORVANE_FOR_EACH_BINDING(WithoutImageLibrary);

TEST_P(WithoutImageLibrary, EveryMethodReportsAndReturnsItsFailureResultOnEveryCall) {
  for (const MethodInfo& method : kMethods) {
    for (int attempt = 0; attempt < 2; ++attempt) {
      const CallResult result = CallWithSampleArguments(bridge(), method);
      EXPECT_TRUE(IsFailureResult(result)) << method.name;
      EXPECT_EQ(TakeReportTexts(), std::vector<std::u16string>{kUnableToLoad}) << method.name;
      EXPECT_EQ(TakeLoaderCalls(), std::vector<std::string>{"LoadLibraryW Corvane"}) << "a failed load is retried";
    }
  }
}

TEST_P(WithoutImageLibrary, FailedCallConvertsNothingAndLeavesTheControlWord) {
  const std::size_t copies = jvm().OutstandingCopies();
  const FpuState before = ReadFpu();
  FpuState odd = before;
  odd.x87_control = 0x0F7F;  // 64-bit precision, rounding toward zero
  odd.mxcsr = 0x7F80;        // rounding toward zero
  WriteFpu(odd);
  Call<void>("WriteWSQ_1comment", JavaString(u"never converted"));
  const FpuState after = ReadFpu();
  WriteFpu(before);
  EXPECT_EQ(after.x87_control, odd.x87_control);
  EXPECT_EQ(after.mxcsr, odd.mxcsr);
  EXPECT_EQ(TakeReportTexts(), std::vector<std::u16string>{kUnableToLoad});
  EXPECT_EQ(jvm().OutstandingCopies(), copies) << "the string was converted";
}

// --- Scenario: an image library that lacks some entry points. ---

using PartialImageLibrary = BridgeTest;
CORVANE_FOR_EACH_BINDING(PartialImageLibrary);

TEST_P(PartialImageLibrary, MissingEntryPointIsReportedOnEveryCallWhileTheOthersWork) {
  const std::set<std::string> missing = {"WriteTIFFpredictor", "ReadWSQ_comment", "WSQ_encode_stream",
                                         "CreateBMPFromWSQByteArray"};
  for (const MethodInfo& method : kMethods) {
    if (!missing.count(method.name)) continue;
    for (int attempt = 0; attempt < 2; ++attempt) {
      EXPECT_TRUE(IsFailureResult(CallWithSampleArguments(bridge(), method))) << method.name;
      EXPECT_EQ(TakeReportTexts(), std::vector<std::u16string>{MissingEntryReport(method)}) << method.name;
    }
  }
  Call<void>("WriteWSQ_1ppi", jint{600});
  EXPECT_EQ(Call<jint>("ReadWSQ_1ppi"), 600);
  EXPECT_EQ(TakeReportTexts(), std::vector<std::u16string>{});
}

// --- Scenario: the image library becomes findable between two calls. ---

TEST(LateImageLibrary, NextCallLoadsTheLibraryOnceItCanBeFound) {
  const Binding bindings[] = {Binding::kDemo, Binding::kLibrary};
  for (Binding b : bindings) {
    EXPECT_EQ(SharedBridge(b).Call<jint>("ReadWSQ_1ppi"), 0);
    ASSERT_EQ(TakeReports().size(), 1u) << BindingName(b);
  }
  MakeImageLibraryFindable();
  ImageLibrary()->ppi = 1000;
  for (Binding b : bindings) {
    EXPECT_EQ(SharedBridge(b).Call<jint>("ReadWSQ_1ppi"), 1000) << BindingName(b);
  }
  EXPECT_EQ(TakeReports().size(), 0u);
  EXPECT_EQ(TheJvm().TakeFaults(), std::vector<std::string>{});
}

}  // namespace
}  // namespace corvane::test
