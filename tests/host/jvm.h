// The Java virtual machine a test leg runs the suite against: HotSpot started
// in-process, or our own strict JVM. The suite makes strings and arrays through
// the ordinary JNI function table of Env(); this interface adds what a test
// needs beyond JNI.
#pragma once

#include <jni.h>

#include <cstddef>
#include <string>
#include <vector>

namespace corvane::test {

class Jvm {
 public:
  virtual ~Jvm() = default;

  // "hotspot" or "ours".
  virtual const char* Name() const = 0;

  // The JNIEnv of the calling thread; attaches the thread on first use.
  virtual JNIEnv* Env() = 0;
  // Detaches the calling thread (a test thread calls this before it ends).
  virtual void DetachThisThread() = 0;

  // The class of the pending exception in JNI form
  // ("java/lang/NullPointerException"), cleared; "" when none is pending.
  virtual std::string TakePendingException() = 0;

  // Misuse the JVM saw since the last call, one line each: -Xcheck:jni
  // warnings and fatal errors, our JVM's misuse reports. The suite fails a
  // test that leaves any.
  virtual std::vector<std::string> TakeFaults() = 0;

  // Bracket a call of a native method from the test, the way a JVM brackets
  // the call of a native method from Java: on leaving, our JVM checks that no
  // critical region is still open and drops the call's local references but
  // the returned one, which comes back valid in the caller's frame.
  virtual void EnterNative() {}
  virtual jobject LeaveNative(jobject result) { return result; }

  // --- Only our JVM can do these; HotSpot answers false / 0. ---

  // Element and critical access hand out copies (true) or direct pointers.
  virtual bool SetHandsOutCopies(bool copies) { (void)copies; return false; }
  // After `after` more allocating JNI calls (NewByteArray, NewIntArray,
  // Get<Type>ArrayElements, GetPrimitiveArrayCritical, GetStringUTFChars,
  // NewStringUTF) succeed, the next `count` fail: they return null with
  // OutOfMemoryError pending.
  virtual bool FailNextAllocations(int count, int after = 0) {
    (void)count;
    (void)after;
    return false;
  }
  // Element copies and string copies handed out and not yet released.
  virtual std::size_t OutstandingCopies() { return 0; }
};

// The leg's JVM, created on first use; one per process.
Jvm& TheJvm();

}  // namespace corvane::test
