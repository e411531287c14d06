// Tests of our strict JVM: the normal paths work, and each misuse detector
// fires once for its misuse.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <functional>
#include <latch>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "jvm.h"
#include "vm.h"

namespace corvane::test {
namespace {

class OurJvm : public ::testing::Test {
 protected:
  void SetUp() override {
    jvm.SetHandsOutCopies(false);
    jvm.TakeFaults();
  }
  void TearDown() override {
    EXPECT_EQ(jvm.TakeFaults(), std::vector<std::string>{});
    EXPECT_EQ(jvm.TakePendingException(), "");
    EXPECT_EQ(jvm.OutstandingCopies(), 0u);
    jvm.FailNextAllocations(0);
    jvm.SetHandsOutCopies(false);
  }

  // The single fault recorded since the last look; fails unless it is the
  // only one and contains `part`.
  void ExpectFault(const std::string& part) {
    std::vector<std::string> faults = jvm.TakeFaults();
    ASSERT_EQ(faults.size(), 1u) << ::testing::PrintToString(faults);
    EXPECT_NE(faults[0].find(part), std::string::npos) << faults[0];
  }
  void ExpectNoFault() { EXPECT_EQ(jvm.TakeFaults(), std::vector<std::string>{}); }

  jintArray Ints(const std::vector<jint>& values) {
    jintArray array = env->NewIntArray(static_cast<jsize>(values.size()));
    env->SetIntArrayRegion(array, 0, static_cast<jsize>(values.size()), values.data());
    return array;
  }
  std::vector<jint> Read(jintArray array) {
    std::vector<jint> values(env->GetArrayLength(array));
    env->GetIntArrayRegion(array, 0, static_cast<jsize>(values.size()), values.data());
    return values;
  }
  jthrowable Thrown(const char* class_name) {
    env->ThrowNew(env->FindClass(class_name), "test");
    jthrowable thrown = env->ExceptionOccurred();
    env->ExceptionClear();
    return thrown;
  }
  bool InstanceOf(jobject object, const char* class_name) {
    return env->IsInstanceOf(object, env->FindClass(class_name)) == JNI_TRUE;
  }

  Jvm& jvm = TheJvm();
  JNIEnv* env = jvm.Env();
};

// --- Strings ---

TEST_F(OurJvm, ModifiedUtf8RoundTrips) {
  struct Case {
    const char* utf;
    std::u16string units;
  };
  const Case cases[] = {
      {"plain", u"plain"},
      {"a\xC0\x80z", std::u16string(u"a\0z", 3)},
      {"\xC3\xA9\xE2\x82\xAC", u"\u00E9\u20AC"},
      {"\xED\xA0\xBD\xED\xB8\x80", u"\U0001F600"},  // a surrogate pair, three bytes each half
      {"", u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.units));
    jstring decoded = env->NewStringUTF(c.utf);
    ASSERT_EQ(env->GetStringLength(decoded), static_cast<jsize>(c.units.size()));
    EXPECT_EQ(env->GetStringUTFLength(decoded), static_cast<jsize>(std::strlen(c.utf)));
    const jchar* chars = env->GetStringChars(decoded, nullptr);
    EXPECT_EQ(std::u16string(chars, chars + c.units.size()), c.units);
    env->ReleaseStringChars(decoded, chars);

    const auto* units = reinterpret_cast<const jchar*>(c.units.data());
    jstring made = env->NewString(units, static_cast<jsize>(c.units.size()));
    jboolean is_copy = JNI_FALSE;
    const char* utf = env->GetStringUTFChars(made, &is_copy);
    EXPECT_STREQ(utf, c.utf);
    EXPECT_EQ(is_copy, JNI_TRUE);
    env->ReleaseStringUTFChars(made, utf);

    std::vector<char> region(std::strlen(c.utf) + 1, 'x');
    env->GetStringUTFRegion(made, 0, static_cast<jsize>(c.units.size()), region.data());
    EXPECT_STREQ(region.data(), c.utf);
  }
}

TEST_F(OurJvm, MalformedModifiedUtf8IsAFault) {
  for (const char* bad : {"\xC3", "ab\x80", "\xC1\x81", "\xE0\x81\x81", "\xF0\x9F\x98\x80", "\xE2\x82"}) {
    SCOPED_TRACE(::testing::PrintToString(bad));
    env->NewStringUTF(bad);
    ExpectFault("malformed modified UTF-8");
  }
}

TEST_F(OurJvm, StringRegionsCheckBounds) {
  jstring hello = env->NewStringUTF("hello");
  jchar buf[4] = {'x', 'x', 'x', 'x'};
  env->GetStringRegion(hello, 1, 3, buf);
  EXPECT_EQ(std::u16string(buf, buf + 4), u"ellx");

  env->GetStringRegion(hello, 3, 3, buf);
  EXPECT_EQ(jvm.TakePendingException(), "java/lang/StringIndexOutOfBoundsException");
  EXPECT_EQ(std::u16string(buf, buf + 4), u"ellx");
  char utf[4] = "abc";
  env->GetStringUTFRegion(hello, -1, 1, utf);
  EXPECT_EQ(jvm.TakePendingException(), "java/lang/StringIndexOutOfBoundsException");
  EXPECT_STREQ(utf, "abc");
}

TEST_F(OurJvm, StringCopiesAreCountedUntilReleased) {
  jstring s = env->NewStringUTF("text");
  const char* utf = env->GetStringUTFChars(s, nullptr);
  const jchar* chars = env->GetStringChars(s, nullptr);
  const jchar* critical = env->GetStringCritical(s, nullptr);
  EXPECT_EQ(jvm.OutstandingCopies(), 3u);
  env->ReleaseStringCritical(s, critical);
  env->ReleaseStringChars(s, chars);
  env->ReleaseStringUTFChars(s, utf);
  EXPECT_EQ(jvm.OutstandingCopies(), 0u);
}

TEST_F(OurJvm, StringReleaseMisuseIsAFault) {
  jstring one = env->NewStringUTF("one");
  jstring two = env->NewStringUTF("two");
  const char* utf_one = env->GetStringUTFChars(one, nullptr);
  const char* utf_two = env->GetStringUTFChars(two, nullptr);
  env->ReleaseStringUTFChars(one, utf_two);
  ExpectFault("not handed out for this string");
  env->ReleaseStringUTFChars(two, utf_two);
  env->ReleaseStringUTFChars(two, utf_two);
  ExpectFault("released already");

  const_cast<char*>(utf_one)[0] = 'X';
  env->ReleaseStringUTFChars(one, utf_one);
  ExpectFault("written to");
}

// --- Arrays, handing out direct pointers and copies ---

class OurJvmArrays : public OurJvm, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    OurJvm::SetUp();
    jvm.SetHandsOutCopies(copies);
  }
  const bool copies = GetParam();
};

INSTANTIATE_TEST_SUITE_P(Modes, OurJvmArrays, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Copies" : "Direct"; });

TEST_P(OurJvmArrays, ReleaseModesCopyBackAsAsked) {
  jintArray array = Ints({0, 0, 0});
  jboolean is_copy = JNI_FALSE;
  jint* elements = env->GetIntArrayElements(array, &is_copy);
  EXPECT_EQ(is_copy, copies ? JNI_TRUE : JNI_FALSE);
  EXPECT_EQ(jvm.OutstandingCopies(), copies ? 1u : 0u);

  elements[0] = 1;
  env->ReleaseIntArrayElements(array, elements, JNI_COMMIT);
  EXPECT_EQ(Read(array), (std::vector<jint>{1, 0, 0}));
  elements[0] = 2;  // still handed out after JNI_COMMIT
  env->ReleaseIntArrayElements(array, elements, JNI_ABORT);
  const jint kept = copies ? 1 : 2;  // an aborted copy never reaches the array
  EXPECT_EQ(Read(array), (std::vector<jint>{kept, 0, 0}));
  EXPECT_EQ(jvm.OutstandingCopies(), 0u);

  elements = env->GetIntArrayElements(array, nullptr);
  elements[2] = 3;
  env->ReleaseIntArrayElements(array, elements, 0);
  EXPECT_EQ(Read(array), (std::vector<jint>{kept, 0, 3}));
}

TEST_P(OurJvmArrays, CriticalAccessCopiesBackAsAsked) {
  jbyteArray array = env->NewByteArray(2);
  jboolean is_copy = JNI_FALSE;
  auto* bytes = static_cast<jbyte*>(env->GetPrimitiveArrayCritical(array, &is_copy));
  EXPECT_EQ(is_copy, copies ? JNI_TRUE : JNI_FALSE);
  bytes[0] = 7;
  env->ReleasePrimitiveArrayCritical(array, bytes, 0);

  bytes = static_cast<jbyte*>(env->GetPrimitiveArrayCritical(array, nullptr));
  bytes[1] = 9;
  env->ReleasePrimitiveArrayCritical(array, bytes, JNI_ABORT);
  jbyte read[2] = {};
  env->GetByteArrayRegion(array, 0, 2, read);
  EXPECT_EQ(read[0], 7);
  EXPECT_EQ(read[1], copies ? 0 : 9);
}

TEST_P(OurJvmArrays, ReleaseMisuseIsAFault) {
  jintArray array = Ints({1, 2});
  jintArray other = Ints({3, 4});
  const std::pair<const char*, std::function<void(jint*)>> cases[] = {
      {"not handed out", [&](jint* p) { env->ReleaseIntArrayElements(array, p + 1, 0); }},
      {"not handed out", [&](jint* p) { env->ReleaseIntArrayElements(other, p, 0); }},
      {"not handed out", [&](jint* p) { env->ReleasePrimitiveArrayCritical(array, p, 0); }},
      {"unknown release mode 7", [&](jint* p) { env->ReleaseIntArrayElements(array, p, 7); }},
  };
  for (const auto& [fault, misuse] : cases) {
    SCOPED_TRACE(fault);
    jint* elements = env->GetIntArrayElements(array, nullptr);
    misuse(elements);
    ExpectFault(fault);
    env->ReleaseIntArrayElements(array, elements, 0);
    ExpectNoFault();
  }
  jint* elements = env->GetIntArrayElements(array, nullptr);
  env->ReleaseIntArrayElements(array, elements, 0);
  env->ReleaseIntArrayElements(array, elements, 0);
  ExpectFault("released already");
}

TEST_P(OurJvmArrays, GuardBytesCatchWritesOutsideTheArray) {
  if (ours::kUnderAsan) GTEST_SKIP() << "AddressSanitizer catches these writes itself";
  jbyteArray array = env->NewByteArray(8);
  jbyte* bytes = env->GetByteArrayElements(array, nullptr);
  bytes[8] = 1;
  env->ReleaseByteArrayElements(array, bytes, 0);
  ExpectFault("release: a write outside the bounds");

  bytes = env->GetByteArrayElements(array, nullptr);
  jvm.EnterNative();
  bytes[-1] = 1;
  jvm.LeaveNative(nullptr);
  ExpectFault("LeaveNative: a write outside the bounds");
  env->ReleaseByteArrayElements(array, bytes, 0);
}

#if GTEST_HAS_DEATH_TEST
TEST_P(OurJvmArrays, AddressSanitizerSeesAccessPastTheEnd) {
  if (!ours::kUnderAsan) GTEST_SKIP() << "needs AddressSanitizer";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  jintArray array = Ints({1, 2, 3});
  jint* elements = env->GetIntArrayElements(array, nullptr);
  volatile jint* past_end = elements + 3;
  EXPECT_DEATH(*past_end = 4, "heap-buffer-overflow");
  env->ReleaseIntArrayElements(array, elements, JNI_ABORT);
}
#endif

TEST_F(OurJvm, ArrayRegionsOutOfBoundsThrowAndTouchNothing) {
  jintArray array = Ints({1, 2, 3, 4});
  const jint source[5] = {9, 9, 9, 9, 9};
  const std::pair<jsize, jsize> regions[] = {{-1, 1}, {0, 5}, {4, 1}, {2, -1}, {INT_MAX, 1}};
  for (auto [start, len] : regions) {
    SCOPED_TRACE(::testing::Message() << start << "+" << len);
    env->SetIntArrayRegion(array, start, len, source);
    jthrowable thrown = env->ExceptionOccurred();
    env->ExceptionClear();
    EXPECT_TRUE(InstanceOf(thrown, "java/lang/ArrayIndexOutOfBoundsException"));
    EXPECT_EQ(Read(array), (std::vector<jint>{1, 2, 3, 4}));

    jint read[5] = {};
    env->GetIntArrayRegion(array, start, len, read);
    EXPECT_EQ(jvm.TakePendingException(), "java/lang/ArrayIndexOutOfBoundsException");
    EXPECT_EQ(read[0], 0);
  }
}

TEST_F(OurJvm, NegativeArraySizeThrows) {
  EXPECT_EQ(env->NewByteArray(-1), nullptr);
  EXPECT_EQ(jvm.TakePendingException(), "java/lang/NegativeArraySizeException");
  EXPECT_EQ(env->NewIntArray(-5), nullptr);
  EXPECT_EQ(jvm.TakePendingException(), "java/lang/NegativeArraySizeException");
}

TEST_F(OurJvm, AllocationsFailOnRequest) {
  jintArray ints = Ints({1});
  jstring text = env->NewStringUTF("x");
  struct Case {
    const char* name;
    std::function<void*()> allocate;
    std::function<void(void*)> free;
  };
  auto nothing = [](void*) {};
  const Case cases[] = {
      {"NewByteArray", [&] { return env->NewByteArray(1); }, nothing},
      {"NewIntArray", [&] { return env->NewIntArray(1); }, nothing},
      {"NewStringUTF", [&] { return env->NewStringUTF("y"); }, nothing},
      {"GetIntArrayElements", [&] { return env->GetIntArrayElements(ints, nullptr); },
       [&](void* p) { env->ReleaseIntArrayElements(ints, static_cast<jint*>(p), 0); }},
      {"GetPrimitiveArrayCritical", [&] { return env->GetPrimitiveArrayCritical(ints, nullptr); },
       [&](void* p) { env->ReleasePrimitiveArrayCritical(ints, p, 0); }},
      {"GetStringUTFChars", [&] { return const_cast<char*>(env->GetStringUTFChars(text, nullptr)); },
       [&](void* p) { env->ReleaseStringUTFChars(text, static_cast<char*>(p)); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    jvm.FailNextAllocations(1);
    EXPECT_EQ(c.allocate(), nullptr);
    EXPECT_EQ(jvm.TakePendingException(), "java/lang/OutOfMemoryError");
    void* allocated = c.allocate();
    EXPECT_NE(allocated, nullptr);
    c.free(allocated);
  }
  jvm.FailNextAllocations(2);
  EXPECT_EQ(env->NewByteArray(1), nullptr);
  env->ExceptionClear();
  EXPECT_EQ(env->NewByteArray(1), nullptr);
  env->ExceptionClear();
  EXPECT_NE(env->NewByteArray(1), nullptr);
}

// --- Misuse of references ---

TEST_F(OurJvm, BadReferencesAreFaultsNotCrashes) {
  jintArray ints = Ints({1});
  jbyteArray bytes = env->NewByteArray(1);
  jstring text = env->NewStringUTF("x");
  jintArray deleted = Ints({2});
  env->DeleteLocalRef(deleted);
  int not_a_reference = 0;
  const std::pair<const char*, std::function<std::intptr_t()>> cases[] = {
      {"null array", [&] { return env->GetArrayLength(nullptr); }},
      {"null string", [&] { return reinterpret_cast<std::intptr_t>(env->GetStringUTFChars(nullptr, nullptr)); }},
      {"null array", [&] { return reinterpret_cast<std::intptr_t>(env->GetByteArrayElements(nullptr, nullptr)); }},
      {"null object", [&] { return reinterpret_cast<std::intptr_t>(env->GetObjectClass(nullptr)); }},
      {"null class", [&] { return env->ThrowNew(nullptr, "x") == JNI_OK; }},
      {"is a int[]",
       [&] { return reinterpret_cast<std::intptr_t>(env->GetByteArrayElements(reinterpret_cast<jbyteArray>(ints), nullptr)); }},
      {"is a string", [&] { return env->GetArrayLength(reinterpret_cast<jarray>(text)); }},
      {"is a byte[]", [&] { return env->GetStringLength(reinterpret_cast<jstring>(bytes)); }},
      {"deleted reference", [&] { return env->GetArrayLength(deleted); }},
      {"not a reference", [&] { return env->GetArrayLength(reinterpret_cast<jarray>(&not_a_reference)); }},
  };
  for (const auto& [fault, call] : cases) {
    SCOPED_TRACE(fault);
    EXPECT_EQ(call(), 0);
    ExpectFault(fault);
  }
}

TEST_F(OurJvm, DeletingReferencesWronglyIsAFault) {
  jobject local = env->NewIntArray(1);
  jobject global = env->NewGlobalRef(local);
  EXPECT_TRUE(env->IsSameObject(local, global));
  env->DeleteGlobalRef(local);
  ExpectFault("a local reference");
  env->DeleteLocalRef(global);
  ExpectFault("a global reference");
  env->DeleteGlobalRef(global);
  env->DeleteGlobalRef(global);
  ExpectFault("deleted already");
  env->DeleteLocalRef(local);
  EXPECT_EQ(env->GetArrayLength(static_cast<jarray>(global)), 0);
  ExpectFault("deleted reference");
}

TEST_F(OurJvm, LocalFramesAndNativeCallsDropTheirReferences) {
  jintArray outer = Ints({1});
  jvm.EnterNative();
  jintArray inner = Ints({1});
  ASSERT_EQ(env->PushLocalFrame(4), JNI_OK);
  jintArray dropped = Ints({1});
  jobject kept = env->PopLocalFrame(Ints({1, 2}));
  EXPECT_EQ(env->GetArrayLength(static_cast<jarray>(kept)), 2);
  EXPECT_EQ(env->GetArrayLength(dropped), 0);
  ExpectFault("deleted reference");
  EXPECT_EQ(env->PopLocalFrame(nullptr), nullptr);
  ExpectFault("no frame pushed by PushLocalFrame");
  jvm.LeaveNative(nullptr);
  EXPECT_EQ(env->GetArrayLength(inner), 0);
  ExpectFault("deleted reference");
  EXPECT_EQ(env->GetArrayLength(outer), 1);

  jvm.EnterNative();
  env->PushLocalFrame(1);
  jvm.LeaveNative(nullptr);
  ExpectFault("not popped");
}

// --- Calls the thread's state forbids ---

TEST_F(OurJvm, OnlyCleanupCallsAreAllowedWhileAnExceptionIsPending) {
  jintArray array = Ints({1});
  jstring text = env->NewStringUTF("x");
  jint* elements = env->GetIntArrayElements(array, nullptr);
  const char* utf = env->GetStringUTFChars(text, nullptr);
  env->ThrowNew(env->FindClass("java/lang/IllegalStateException"), "pending");

  EXPECT_TRUE(env->ExceptionCheck());
  env->DeleteLocalRef(env->ExceptionOccurred());
  env->ReleaseIntArrayElements(array, elements, 0);
  env->ReleaseStringUTFChars(text, utf);
  env->PushLocalFrame(2);
  env->PopLocalFrame(nullptr);
  ExpectNoFault();

  EXPECT_EQ(env->GetArrayLength(array), 1);
  ExpectFault("GetArrayLength: called with java/lang/IllegalStateException pending");
  env->ExceptionClear();
  env->GetArrayLength(array);
}

TEST_F(OurJvm, CriticalRegionsAllowNoOtherCallsAndNoNesting) {
  jintArray array = Ints({1});
  jbyteArray other = env->NewByteArray(1);
  jstring text = env->NewStringUTF("x");
  void* critical = env->GetPrimitiveArrayCritical(array, nullptr);
  env->GetArrayLength(array);
  ExpectFault("GetArrayLength: called inside a critical region");
  void* nested = env->GetPrimitiveArrayCritical(other, nullptr);
  ExpectFault("already open");
  const jchar* chars = env->GetStringCritical(text, nullptr);
  ExpectFault("already open");
  env->ReleaseStringCritical(text, chars);
  env->ReleasePrimitiveArrayCritical(other, nested, 0);
  env->ReleasePrimitiveArrayCritical(array, critical, 0);
  ExpectNoFault();
  env->GetArrayLength(array);

  jvm.EnterNative();
  critical = env->GetPrimitiveArrayCritical(array, nullptr);
  jvm.LeaveNative(nullptr);
  ExpectFault("LeaveNative: a critical region is still open");
  env->ReleasePrimitiveArrayCritical(array, critical, JNI_ABORT);
}

// --- Classes, exceptions, the JavaVM ---

TEST_F(OurJvm, InstancesFollowTheClassTable) {
  jthrowable aioobe = Thrown("java/lang/ArrayIndexOutOfBoundsException");
  jstring text = env->NewStringUTF("x");
  jbyteArray bytes = env->NewByteArray(1);
  const struct {
    jobject object;
    const char* class_name;
    bool expected;
  } cases[] = {
      {aioobe, "java/lang/ArrayIndexOutOfBoundsException", true},
      {aioobe, "java/lang/IndexOutOfBoundsException", true},
      {aioobe, "java/lang/RuntimeException", true},
      {aioobe, "java/lang/Throwable", true},
      {aioobe, "java/lang/Object", true},
      {aioobe, "java/lang/NullPointerException", false},
      {text, "java/lang/String", true},
      {text, "[B", false},
      {bytes, "[B", true},
      {bytes, "java/lang/Object", true},
      {nullptr, "java/lang/String", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.class_name);
    EXPECT_EQ(InstanceOf(c.object, c.class_name), c.expected);
  }
  EXPECT_TRUE(env->IsSameObject(env->GetObjectClass(text), env->FindClass("java/lang/String")));
  EXPECT_FALSE(env->IsSameObject(text, bytes));

  EXPECT_EQ(env->FindClass("java.lang.String"), nullptr);
  ExpectFault("malformed class name");
  EXPECT_EQ(jvm.TakePendingException(), "java/lang/NoClassDefFoundError");
}

TEST_F(OurJvm, ExceptionsArePendingUntilCleared) {
  jthrowable thrown = Thrown("java/lang/IllegalArgumentException");
  EXPECT_FALSE(env->ExceptionCheck());
  EXPECT_EQ(env->Throw(thrown), JNI_OK);
  EXPECT_TRUE(env->ExceptionCheck());
  env->ExceptionDescribe();
  EXPECT_FALSE(env->ExceptionCheck());
  env->Throw(thrown);
  EXPECT_EQ(jvm.TakePendingException(), "java/lang/IllegalArgumentException");

  EXPECT_EQ(env->Throw(reinterpret_cast<jthrowable>(env->NewStringUTF("x"))), JNI_ERR);
  ExpectFault("is a string");
  EXPECT_EQ(env->ThrowNew(env->FindClass("java/lang/String"), "x"), JNI_ERR);
  ExpectFault("not a Throwable class");
}

TEST_F(OurJvm, JavaVmAttachesAndDetachesThreads) {
  EXPECT_EQ(env->GetVersion(), JNI_VERSION_1_8);
  JavaVM* vm = nullptr;
  ASSERT_EQ(env->GetJavaVM(&vm), JNI_OK);
  void* got = nullptr;
  EXPECT_EQ(vm->GetEnv(&got, JNI_VERSION_1_6), JNI_OK);
  EXPECT_EQ(got, env);
  EXPECT_EQ(vm->GetEnv(&got, JNI_VERSION_9), JNI_EVERSION);

  std::thread([&] {
    void* penv = nullptr;
    EXPECT_EQ(vm->GetEnv(&penv, JNI_VERSION_1_8), JNI_EDETACHED);
    ASSERT_EQ(vm->AttachCurrentThread(&penv, nullptr), JNI_OK);
    EXPECT_NE(penv, env);
    EXPECT_EQ(static_cast<JNIEnv*>(penv)->GetVersion(), JNI_VERSION_1_8);
    EXPECT_EQ(vm->DetachCurrentThread(), JNI_OK);
    EXPECT_EQ(vm->GetEnv(&penv, JNI_VERSION_1_8), JNI_EDETACHED);
  }).join();

  jvm.EnterNative();
  EXPECT_EQ(vm->DetachCurrentThread(), JNI_ERR);
  jvm.LeaveNative(nullptr);
  ExpectFault("running a native method");
}

// --- Threads ---

TEST_P(OurJvmArrays, ThreadsEachHaveTheirOwnEnvAndState) {
  const char* kExceptions[] = {"java/lang/IllegalStateException", "java/lang/IllegalArgumentException",
                               "java/lang/ArithmeticException", "java/lang/NullPointerException"};
  std::vector<JNIEnv*> envs(std::size(kExceptions));
  std::vector<std::thread> threads;
  std::latch all_pending(static_cast<std::ptrdiff_t>(envs.size()));
  for (std::size_t t = 0; t < envs.size(); ++t) {
    threads.emplace_back([&, t] {
      JNIEnv* e = jvm.Env();
      envs[t] = e;
      e->ThrowNew(e->FindClass(kExceptions[t]), "mine");
      all_pending.arrive_and_wait();  // every thread has its own exception pending now
      EXPECT_EQ(jvm.TakePendingException(), kExceptions[t]);
      for (jint i = 0; i < 200; ++i) {
        jintArray array = e->NewIntArray(16);
        jint* elements = e->GetIntArrayElements(array, nullptr);
        elements[15] = i;
        e->ReleaseIntArrayElements(array, elements, 0);
        jint last = -1;
        e->GetIntArrayRegion(array, 15, 1, &last);
        EXPECT_EQ(last, i);
        e->DeleteLocalRef(array);
      }
      jvm.DetachThisThread();
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(std::set<JNIEnv*>(envs.begin(), envs.end()).size(), envs.size());
}

TEST_F(OurJvm, ThreadMisuseIsAFault) {
  jintArray mine = Ints({1});
  std::thread([&] {
    jvm.Env();
    env->GetVersion();
    jvm.DetachThisThread();
  }).join();
  ExpectFault("the JNIEnv of another thread was used");
  std::thread([&] {
    jvm.Env()->GetArrayLength(mine);
    jvm.DetachThisThread();
  }).join();
  ExpectFault("local reference of another thread");

  JNIEnv* ended_env = nullptr;
  std::thread([&] { ended_env = jvm.Env(); }).join();  // ends without detaching
  ExpectFault("ended while attached");
  ended_env->GetVersion();
  ExpectFault("not one of an attached thread");
}

#if GTEST_HAS_DEATH_TEST
TEST_F(OurJvm, UnimplementedFunctionAborts) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  jclass cls = env->FindClass("java/lang/String");
  EXPECT_DEATH(env->GetSuperclass(cls), "unimplemented JNI function 10 ");
}
#endif

}  // namespace
}  // namespace corvane::test
