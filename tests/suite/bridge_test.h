// The fixture of every suite test: a binding's module, the image library
// double, and the checks that every test passes on leaving: no JVM fault, no
// report nobody looked at, no exception left pending.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host/fpu_state.h"
#include "host/jvm.h"
#include "host/platform.h"

namespace corvane::test {

std::string Utf8(const std::u16string& text);

template <typename T>
std::uint64_t Bits(T value) {
  static_assert(sizeof(T) == 8);
  std::uint64_t bits;
  std::memcpy(&bits, &value, 8);
  return bits;
}

inline double DoubleFromBits(std::uint64_t bits) {
  double value;
  std::memcpy(&value, &bits, 8);
  return value;
}

// What a double that the image library returns looks like after it crossed a
// return register: x87 (32-bit Windows) loads turn a signalling NaN quiet,
// SSE registers (x86-64) carry it unchanged.
std::uint64_t AfterReturnRegister(std::uint64_t bits);

class BridgeTest : public ::testing::TestWithParam<Binding> {
 protected:
  void SetUp() override;
  void TearDown() override;

  Binding binding() const { return GetParam(); }
  const BridgeModule& bridge() const { return SharedBridge(GetParam()); }
  JNIEnv* env() const { return env_; }
  Jvm& jvm() const { return *jvm_; }
  // The double's state; fails the test where no image library is findable.
  DoubleState& lib() const;
  int Calls(Entry entry) const { return lib().calls[static_cast<int>(entry)]; }

  template <typename R, typename... Args>
  R Call(const std::string& mangled_method, Args... args) const {
    return bridge().Call<R>(mangled_method, args...);
  }

  jstring JavaString(const std::u16string& text) const;
  std::u16string FromJava(jstring string) const;
  jbyteArray JavaBytes(const std::vector<jbyte>& bytes) const;
  std::vector<jbyte> FromJava(jbyteArray array) const;
  jintArray JavaInts(const std::vector<jint>& ints) const;
  std::vector<jint> FromJava(jintArray array) const;

  // The reports since the last look, each checked for the form every report
  // has: no owner, caption "Error", an OK button. Returns their texts.
  std::vector<std::u16string> TakeReportTexts();

  bool OnOurJvm() const { return std::string(jvm_->Name()) == "ours"; }

 private:
  Jvm* jvm_ = nullptr;
  JNIEnv* env_ = nullptr;
  FpuState saved_fpu_{};
};

// Skips the rest of a test that needs what only our JVM can do: fail an
// allocation on request, count the copies it handed out. HotSpot offers
// neither, so such a test runs on the legs with our JVM only.
#define CORVANE_REQUIRE_OUR_JVM(what) \
  if (!OnOurJvm()) GTEST_SKIP() << "HotSpot can't " what

// Runs a fixture's tests once per binding, named after it.
#define CORVANE_FOR_EACH_BINDING(Fixture)                                                          \
  INSTANTIATE_TEST_SUITE_P(Bindings, Fixture,                                                     \
                           ::testing::Values(::corvane::test::Binding::kDemo,                    \
                                             ::corvane::test::Binding::kLibrary),                \
                           [](const auto& info) { return ::corvane::test::BindingName(info.param); })

}  // namespace corvane::test
