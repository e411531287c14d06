#include "bridge_test.h"

#include <cstdlib>
#include <stdexcept>

namespace corvane::test {

std::string Utf8(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::uint64_t AfterReturnRegister(std::uint64_t bits) {
#if defined(__i386__)
  const bool nan = (bits & 0x7FF0000000000000ull) == 0x7FF0000000000000ull && (bits & 0x000FFFFFFFFFFFFFull);
  if (nan) bits |= 0x0008000000000000ull;
#endif
  return bits;
}

void BridgeTest::SetUp() {
  jvm_ = &TheJvm();
  env_ = jvm_->Env();
  jvm_->SetHandsOutCopies(std::getenv("CORVANE_JVM_COPIES") != nullptr);
  ASSERT_EQ(env_->PushLocalFrame(1024), 0);
  saved_fpu_ = ReadFpu();
  ResetImageLibrary();
  TakeReports();
  TakeLoaderCalls();
  for (const std::string& fault : jvm_->TakeFaults()) ADD_FAILURE() << "JVM fault before the test: " << fault;
}

void BridgeTest::TearDown() {
  WriteFpu(saved_fpu_);
  const std::string pending = jvm_->TakePendingException();
  EXPECT_EQ(pending, "") << "exception left pending";
  env_->PopLocalFrame(nullptr);
  for (const std::string& fault : jvm_->TakeFaults()) ADD_FAILURE() << "JVM fault: " << fault;
  for (const Report& report : TakeReports()) ADD_FAILURE() << "report nobody expected: " << Utf8(report.text);
}

DoubleState& BridgeTest::lib() const {
  DoubleState* state = ImageLibrary();
  if (!state) throw std::logic_error("no image library is findable in this scenario");
  return *state;
}

jstring BridgeTest::JavaString(const std::u16string& text) const {
  return env_->NewString(reinterpret_cast<const jchar*>(text.data()), static_cast<jsize>(text.size()));
}

std::u16string BridgeTest::FromJava(jstring string) const {
  const jsize length = env_->GetStringLength(string);
  std::u16string text(static_cast<std::size_t>(length), u'\0');
  env_->GetStringRegion(string, 0, length, reinterpret_cast<jchar*>(text.data()));
  return text;
}

jbyteArray BridgeTest::JavaBytes(const std::vector<jbyte>& bytes) const {
  const jbyteArray array = env_->NewByteArray(static_cast<jsize>(bytes.size()));
  env_->SetByteArrayRegion(array, 0, static_cast<jsize>(bytes.size()), bytes.data());
  return array;
}

std::vector<jbyte> BridgeTest::FromJava(jbyteArray array) const {
  std::vector<jbyte> bytes(static_cast<std::size_t>(env_->GetArrayLength(array)));
  env_->GetByteArrayRegion(array, 0, static_cast<jsize>(bytes.size()), bytes.data());
  return bytes;
}

jintArray BridgeTest::JavaInts(const std::vector<jint>& ints) const {
  const jintArray array = env_->NewIntArray(static_cast<jsize>(ints.size()));
  env_->SetIntArrayRegion(array, 0, static_cast<jsize>(ints.size()), ints.data());
  return array;
}

std::vector<jint> BridgeTest::FromJava(jintArray array) const {
  std::vector<jint> ints(static_cast<std::size_t>(env_->GetArrayLength(array)));
  env_->GetIntArrayRegion(array, 0, static_cast<jsize>(ints.size()), ints.data());
  return ints;
}

std::vector<std::u16string> BridgeTest::TakeReportTexts() {
  std::vector<std::u16string> texts;
  for (const Report& report : TakeReports()) {
    EXPECT_EQ(report.owner, nullptr) << Utf8(report.text);
    EXPECT_EQ(report.caption, u"Error") << Utf8(report.text);
    EXPECT_EQ(report.type, 0u /* MB_OK */) << Utf8(report.text);
    texts.push_back(report.text);
  }
  return texts;
}

}  // namespace corvane::test
