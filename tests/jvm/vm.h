// State of our strict in-process JVM: objects, references, threads, faults.
// Everything here is guarded by Vm::mu; the JNI functions and the host lock it
// on entry.
#pragma once

#include <jni.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace corvane::test::ours {

// Under AddressSanitizer buffers carry no guard bytes: ASan sees the access.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kUnderAsan = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kUnderAsan = true;
#else
inline constexpr bool kUnderAsan = false;
#endif
#else
inline constexpr bool kUnderAsan = false;
#endif

// A zeroed heap block of exactly `size` bytes, its own allocation, so that
// AddressSanitizer sees any access past either end. Without ASan it carries
// guard bytes before and after, checked by GuardsIntact().
class Buffer {
 public:
  explicit Buffer(std::size_t size);  // throws std::bad_alloc
  ~Buffer();
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;

  std::byte* data() const { return data_; }
  std::size_t size() const { return size_; }
  // False when a guard was overwritten; the guards are then restored, so a
  // damage is reported once.
  bool CheckAndRepairGuards();

 private:
  std::byte* block_;
  std::byte* data_;
  std::size_t size_;
};

// Modified UTF-8 as JNI uses it: U+0000 as C0 80, every UTF-16 unit (also
// each half of a surrogate pair) on its own, in one to three bytes.
std::string EncodeModifiedUtf8(std::u16string_view text);
// Decodes a NUL-terminated string. Malformed bytes become U+FFFD; the result
// is the offset of the first malformed byte, or -1 when there is none.
std::ptrdiff_t DecodeModifiedUtf8(const char* bytes, std::u16string& out);

enum class Kind { kClass, kString, kByteArray, kIntArray, kThrowable };
const char* KindName(Kind kind);

// How a pointer into an object was handed out.
enum class Grant { kElements, kCritical, kUtfChars, kChars, kStringCritical };

struct Access {
  Grant grant;
  const void* ptr;
  std::unique_ptr<Buffer> copy;  // null when `ptr` points into the object
  std::uint64_t thread;          // serial of the thread it was handed to
};

struct Object {
  Kind kind;
  // The class of the object; for a class object, the class it stands for.
  std::string name;
  std::u16string chars;              // kString
  std::unique_ptr<Buffer> elements;  // arrays
  jsize length = 0;                  // arrays
  std::string message;               // kThrowable
  std::vector<Access> accesses;
  int pins = 0;  // live references, accesses and pending-exception slots

  std::string ClassName() const { return kind == Kind::kClass ? "java/lang/Class" : name; }
};

struct ThreadState;

enum class RefKind : std::uint8_t { kDeleted, kLocal, kGlobal };

// What a jobject points at. A reference record is never reused, so a deleted
// reference stays recognisable.
struct Ref {
  RefKind kind = RefKind::kDeleted;
  Object* object = nullptr;
  ThreadState* owner = nullptr;  // local references only
};

enum class FrameKind { kBase, kNative, kPushed };

struct Frame {
  FrameKind kind;
  std::vector<Ref*> refs;
};

struct ThreadState {
  JNIEnv env;
  std::uint64_t serial;
  Object* pending = nullptr;
  int critical = 0;  // open critical regions
  int native_depth = 0;
  std::vector<Frame> frames;
  // Elements or characters handed out since the last guard check, by object
  // and pointer: what a native method may have written past.
  std::vector<std::pair<Object*, const void*>> touched;
};

class Vm {
 public:
  static Vm& Get();  // never destroyed

  std::mutex mu;

  // --- All of the following need `mu` held. ---
  ThreadState* Current();  // null when the calling thread is not attached
  ThreadState& Attach();
  void Detach(ThreadState& thread);
  ThreadState* FromEnv(JNIEnv* env);
  JavaVM* java_vm() { return &java_vm_; }

  void Fault(std::string line) { faults_.push_back(std::move(line)); }
  std::vector<std::string> TakeFaults() { return std::exchange(faults_, {}); }

  // A new object with no pins; it lives while something pins it.
  Object& NewObject(Kind kind, std::string name);
  Object& ClassNamed(const std::string& name);  // interned, never freed
  void Pin(Object& object) { ++object.pins; }
  void Unpin(Object& object);

  jobject NewLocal(ThreadState& thread, Object& object);
  jobject NewGlobal(Object& object);
  Ref* Lookup(jobject handle);  // null when the handle is none of ours
  void Delete(Ref& ref);        // also drops it from its frame
  void PopFrame(ThreadState& thread);

  void SetPending(ThreadState& thread, Object* throwable);
  void ThrowNew(ThreadState& thread, std::string class_name, std::string message);
  bool TakeAllocationFailure();

  // Records a fault for each damaged guard of the arrays and copies that the
  // thread was handed since the last check.
  void CheckTouchedGuards(ThreadState& thread);
  bool CheckGuards(Object& object, const char* context);

  bool hands_out_copies = false;
  int failing_allocations = 0;
  int allocations_before_failing = 0;
  std::size_t outstanding_copies = 0;

 private:
  Vm();
  Ref& NewRef();

  std::vector<std::string> faults_;
  std::unordered_map<Object*, std::unique_ptr<Object>> objects_;
  std::unordered_map<std::string, Object*> classes_;
  std::vector<std::unique_ptr<Ref[]>> ref_chunks_;
  std::map<std::uintptr_t, Ref*> chunk_at_;  // chunk start -> chunk
  std::size_t refs_in_last_chunk_;
  std::unordered_map<JNIEnv*, std::unique_ptr<ThreadState>> threads_;
  std::vector<std::unique_ptr<ThreadState>> detached_;
  std::uint64_t next_serial_ = 1;
  JNIInvokeInterface_ invoke_table_;
  JavaVM java_vm_;
};

// The function table every JNIEnv of ours points at.
const JNINativeInterface_& FunctionTable();
// The invoke interface of our JavaVM.
JNIInvokeInterface_ InvokeTable();

}  // namespace corvane::test::ours
