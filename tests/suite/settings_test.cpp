// The settings and dialog methods with the image library present: every value
// crosses unchanged, text crosses as modified UTF-8 and stays valid.
#include <climits>

#include "bridge_test.h"

namespace corvane::test {
namespace {

using Settings = BridgeTest;
CORVANE_FOR_EACH_BINDING(Settings);

// Doubles whose bits a careless copy would change: NaN payloads (a signalling
// one among them, which an x87 load turns quiet), infinities, signed zero,
// the smallest denormal.
constexpr std::uint64_t kDoubleBits[] = {
    0x7FF0000000000123,  // signalling NaN with a payload
    0x7FF8000000000456,  // quiet NaN with a payload
    0xFFF8000000000000,  // negative quiet NaN
    0x7FF0000000000000,  // +infinity
    0xFFF0000000000000,  // -infinity
    0x8000000000000000,  // -0.0
    0x0000000000000001,  // smallest denormal
    0xBFF8000000000000,  // -1.5
    0x4000000000000000,  // 2.0
};

constexpr jint kInts[] = {0, 1, 2, -1, INT_MIN, INT_MAX, 500};

TEST_P(Settings, IntArgumentsReachTheImageLibraryUnchanged) {
  struct Setter {
    const char* method;
    Entry entry;
    int DoubleState::*received;
  };
  for (const Setter& s : {Setter{"WriteWSQ_1ppi", Entry::WriteWSQ_ppi, &DoubleState::ppi},
                          Setter{"WriteTIFFcompression", Entry::WriteTIFFcompression, &DoubleState::tiff_compression},
                          Setter{"WriteTIFFpredictor", Entry::WriteTIFFpredictor, &DoubleState::tiff_predictor},
                          Setter{"SetShowFilePropertiesDialog", Entry::SetShowFilePropertiesDialog,
                                 &DoubleState::show_file_properties}}) {
    for (jint value : kInts) {
      lib().*s.received = 12345;
      Call<void>(s.method, value);
      EXPECT_EQ(lib().*s.received, value) << s.method;
    }
    EXPECT_EQ(Calls(s.entry), static_cast<int>(std::size(kInts))) << s.method;
  }
}

TEST_P(Settings, ReadWSQ_ppiReturnsTheImageLibrarysInt) {
  for (jint value : kInts) {
    lib().ppi = value;
    EXPECT_EQ(Call<jint>("ReadWSQ_1ppi"), value);
  }
}

TEST_P(Settings, WriteWSQ_bitratePassesTheEightBytesUnchanged) {
  for (std::uint64_t bits : kDoubleBits) {
    Call<void>("WriteWSQ_1bitrate", DoubleFromBits(bits));
    EXPECT_EQ(lib().bitrate_bits, bits) << std::hex << bits;
  }
}

TEST_P(Settings, ReadWSQ_bitrateReturnsTheImageLibrarysDoubleBitForBit) {
  for (std::uint64_t bits : kDoubleBits) {
    lib().bitrate_bits = bits;
    EXPECT_EQ(Bits(Call<jdouble>("ReadWSQ_1bitrate")), AfterReturnRegister(bits)) << std::hex << bits;
  }
}

TEST_P(Settings, WriteWSQ_commentPassesModifiedUtf8) {
  struct Case {
    std::u16string java;
    std::string bytes;
  };
  const Case cases[] = {
      {u"", ""},
      {u"plain ASCII", "plain ASCII"},
      {u"caf\u00e9", "caf\xC3\xA9"},
      {std::u16string(u"a\0b", 3), "a\xC0\x80" "b"},    // U+0000 as C0 80
      {u"\U0001F600", "\xED\xA0\xBD\xED\xB8\x80"},       // a surrogate pair, each half on its own
  };
  for (const Case& c : cases) {
    Call<void>("WriteWSQ_1comment", JavaString(c.java));
    ASSERT_NE(lib().comment, nullptr) << "the empty string is a pointer to a NUL byte, never null";
    EXPECT_EQ(std::string(lib().comment), c.bytes);
  }
  EXPECT_EQ(Calls(Entry::WriteWSQ_comment), static_cast<int>(std::size(cases)));
}

TEST_P(Settings, TextHandedToTheImageLibraryStaysReadable) {
  Call<void>("WriteWSQ_1comment", JavaString(u"first"));
  const char* first = lib().comment;
  Call<void>("WriteWSQ_1comment", JavaString(u"second"));
  Call<jint>("ReadWSQ_1ppi");
  EXPECT_NE(lib().comment, first) << "each call leaves its own copy";
  EXPECT_STREQ(first, "first");
  EXPECT_STREQ(lib().comment, "second");
}

TEST_P(Settings, ReadWSQ_commentReturnsANewStringOnEveryCall) {
  lib().comment = "Gr\xC3\xBC\xC3\x9F" "e";  // "Grüße"
  const jstring first = Call<jstring>("ReadWSQ_1comment");
  const jstring second = Call<jstring>("ReadWSQ_1comment");
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(FromJava(first), u"Gr\u00fc\u00dfe");
  EXPECT_EQ(FromJava(second), u"Gr\u00fc\u00dfe");
  EXPECT_FALSE(env()->IsSameObject(first, second));
}

// NewStringUTF takes modified UTF-8 only; other bytes from the image library
// still give a string, with U+FFFD for each byte that starts no valid sequence.
TEST_P(Settings, ReadWSQ_commentTextThatIsNotModifiedUtf8) {
  struct Case {
    const char* bytes;
    std::u16string java;
  };
  const Case cases[] = {
      {"caf\xE9", u"caf\uFFFD"},                          // a Latin-1 byte
      {"\xF0\x9F\x98\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // four-byte UTF-8
      {"\xC0\xAF\xC1\x81", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // overlong forms
      {"a\xC0\x80" "b\xED\xA0\xBD\xED\xB8\x80", u"a" + std::u16string(1, u'\0') + u"b\U0001F600"},  // valid
  };
  for (const Case& c : cases) {
    lib().comment = c.bytes;
    const jstring comment = Call<jstring>("ReadWSQ_1comment");
    ASSERT_NE(comment, nullptr);
    EXPECT_EQ(FromJava(comment), c.java) << c.bytes;
  }
}

TEST_P(Settings, NullTextFromTheImageLibraryGivesNull) {
  lib().comment = nullptr;
  EXPECT_EQ(Call<jstring>("ReadWSQ_1comment"), nullptr);
  EXPECT_EQ(jvm().TakePendingException(), "");
}

TEST_P(Settings, NullCommentThrowsWithoutCallingTheImageLibrary) {
  Call<void>("WriteWSQ_1comment", static_cast<jstring>(nullptr));
  EXPECT_EQ(jvm().TakePendingException(), "java/lang/NullPointerException");
  EXPECT_EQ(Calls(Entry::WriteWSQ_comment), 0);
}

TEST_P(Settings, CommentCopyTheJvmCantMakeStopsTheCall) {
  CORVANE_REQUIRE_OUR_JVM("fail an allocation on request");
  const jstring comment = JavaString(u"no room");
  jvm().FailNextAllocations(1);
  Call<void>("WriteWSQ_1comment", comment);
  EXPECT_EQ(jvm().TakePendingException(), "java/lang/OutOfMemoryError");
  EXPECT_EQ(Calls(Entry::WriteWSQ_comment), 0);
}

TEST_P(Settings, ShowFileConverterOpensTheDialogOnce) {
  Call<void>("ShowFileConverter");
  EXPECT_EQ(Calls(Entry::ShowFileConverter), 1);
}

}  // namespace
}  // namespace corvane::test
