// The JNI functions of our JVM. Each one locks the VM, checks that the call
// is allowed in the calling thread's state, checks its arguments, and records
// a fault for every misuse it can see instead of crashing.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

#include "vm.h"

namespace corvane::test::ours {
namespace {

// What a function may be called in despite the calling thread's state.
enum Rule : unsigned { kStrict = 0, kWhilePending = 1, kInCritical = 2 };

// One JNI call: holds the VM lock and knows the calling thread.
class Call {
 public:
  Call(JNIEnv* env, std::string name, unsigned rules = kStrict)
      : vm(Vm::Get()), lock_(vm.mu), name_(std::move(name)), thread(Enter(env, rules)) {}

  void Fault(const std::string& what) { vm.Fault(name_ + ": " + what); }

  // The object behind a reference that must not be null.
  Object* Ref(jobject handle, const char* what) {
    if (handle == nullptr) {
      Fault(std::string("null ") + what);
      return nullptr;
    }
    return Optional(handle, what);
  }
  Object* Optional(jobject handle, const char* what) {
    if (handle == nullptr) return nullptr;
    auto* ref = vm.Lookup(handle);
    if (ref == nullptr) {
      Fault(std::string(what) + " is not a reference");
      return nullptr;
    }
    if (ref->kind == RefKind::kDeleted) {
      Fault(std::string(what) + " is a deleted reference");
      return nullptr;
    }
    if (ref->kind == RefKind::kLocal && ref->owner != &thread) {
      Fault(std::string(what) + " is a local reference of another thread");
    }
    return ref->object;
  }
  // A non-null reference to an object of one of `kinds`.
  Object* Typed(jobject handle, const char* what, std::initializer_list<Kind> kinds) {
    Object* object = Ref(handle, what);
    if (object == nullptr || std::find(kinds.begin(), kinds.end(), object->kind) != kinds.end()) return object;
    Fault(std::string(what) + " is a " + KindName(object->kind) + ", which this function does not take");
    return nullptr;
  }

  template <class Handle = jobject>
  Handle Local(Object* object) {
    return object == nullptr ? nullptr : static_cast<Handle>(vm.NewLocal(thread, *object));
  }
  void Throw(const char* class_name, std::string message = "") { vm.ThrowNew(thread, class_name, std::move(message)); }
  // Takes a failure asked for by FailNextAllocations.
  bool AllocationFails() {
    if (!vm.TakeAllocationFailure()) return false;
    Throw("java/lang/OutOfMemoryError", "allocation failed on request");
    return true;
  }

  Vm& vm;

 private:
  ThreadState& Enter(JNIEnv* env, unsigned rules) {
    ThreadState* owner = vm.FromEnv(env);
    ThreadState& current = vm.Attach();
    if (owner == nullptr) {
      Fault("the JNIEnv is not one of an attached thread");
    } else if (owner != &current) {
      Fault("the JNIEnv of another thread was used");
    }
    if (current.critical > 0 && !(rules & kInCritical)) Fault("called inside a critical region");
    if (current.pending != nullptr && !(rules & kWhilePending)) {
      Fault("called with " + current.pending->name + " pending");
    }
    return current;
  }

  std::lock_guard<std::mutex> lock_;
  std::string name_;

 public:
  ThreadState& thread;
};

bool IsCritical(Grant grant) { return grant == Grant::kCritical || grant == Grant::kStringCritical; }

std::size_t AllocationSize(std::int64_t count, std::size_t element) {
  auto bytes = static_cast<std::uint64_t>(count) * element;
  if (bytes > SIZE_MAX / 2) throw std::bad_alloc();
  return static_cast<std::size_t>(bytes);
}

// Hands out a pointer to the object's elements: the storage itself, or a copy.
void* HandOut(Call& call, Object& object, Grant grant, jboolean* is_copy) {
  std::unique_ptr<Buffer> copy;
  void* ptr = object.elements->data();
  if (call.vm.hands_out_copies) {
    try {
      copy = std::make_unique<Buffer>(object.elements->size());
    } catch (const std::bad_alloc&) {
      call.Throw("java/lang/OutOfMemoryError");
      return nullptr;
    }
    if (copy->size() > 0) std::memcpy(copy->data(), object.elements->data(), copy->size());
    ptr = copy->data();
    ++call.vm.outstanding_copies;
  }
  if (is_copy != nullptr) *is_copy = copy ? JNI_TRUE : JNI_FALSE;
  object.accesses.push_back({grant, ptr, std::move(copy), call.thread.serial});
  call.thread.touched.emplace_back(&object, ptr);
  call.vm.Pin(object);
  if (IsCritical(grant)) ++call.thread.critical;
  return ptr;
}

// Hands out a copy of a string's characters.
const void* HandOutCopy(Call& call, Object& string, Grant grant, const void* bytes, std::size_t size,
                        jboolean* is_copy) {
  auto copy = std::make_unique<Buffer>(size);
  if (size > 0) std::memcpy(copy->data(), bytes, size);
  const void* ptr = copy->data();
  string.accesses.push_back({grant, ptr, std::move(copy), call.thread.serial});
  call.thread.touched.emplace_back(&string, ptr);
  ++call.vm.outstanding_copies;
  call.vm.Pin(string);
  if (IsCritical(grant)) ++call.thread.critical;
  if (is_copy != nullptr) *is_copy = JNI_TRUE;
  return ptr;
}

void OpenCritical(Call& call) {
  if (call.thread.critical > 0) call.Fault("a critical region is already open (nesting is not allowed)");
}

void Release(Call& call, Object& object, const void* ptr, Grant grant, jint mode) {
  if (mode != 0 && mode != JNI_COMMIT && mode != JNI_ABORT) {
    call.Fault("unknown release mode " + std::to_string(mode));
    return;
  }
  auto it = std::find_if(object.accesses.begin(), object.accesses.end(),
                         [&](const Access& a) { return a.ptr == ptr && a.grant == grant; });
  if (it == object.accesses.end()) {
    call.Fault(std::string("the pointer was not handed out for this ") + KindName(object.kind) +
               " by the matching Get function, or was released already");
    return;
  }
  call.vm.CheckGuards(object, "release");
  if (object.kind == Kind::kString) {
    std::string expected = grant == Grant::kUtfChars ? EncodeModifiedUtf8(object.chars) + '\0'
        : std::string(reinterpret_cast<const char*>(object.chars.data()), object.chars.size() * 2);
    if (std::memcmp(it->copy->data(), expected.data(), expected.size()) != 0) {
      call.Fault("the characters handed out were written to");
    }
  } else if (it->copy && mode != JNI_ABORT && it->copy->size() > 0) {
    std::memcpy(object.elements->data(), it->copy->data(), it->copy->size());
  }
  if (mode == JNI_COMMIT) return;
  if (IsCritical(grant)) {
    if (it->thread != call.thread.serial) {
      call.Fault("the critical region was opened on another thread");
    } else if (call.thread.critical > 0) {
      --call.thread.critical;
    }
  }
  if (it->copy) --call.vm.outstanding_copies;
  object.accesses.erase(it);
  call.vm.Unpin(object);
}

// Bounds check of a region access; AIOOBE-style exception when out of range.
bool InBounds(Call& call, std::int64_t start, std::int64_t len, std::int64_t size, const void* buf,
              const char* exception) {
  if (start < 0 || len < 0 || start + len > size) {
    call.Throw(exception, "region " + std::to_string(start) + "+" + std::to_string(len) +
                              " out of bounds for length " + std::to_string(size));
    return false;
  }
  if (len > 0 && buf == nullptr) {
    call.Fault("null buffer");
    return false;
  }
  return true;
}

// --- Version, classes, objects ---

jint JNICALL GetVersion(JNIEnv* env) {
  Call call(env, "GetVersion");
  return JNI_VERSION_1_8;
}

jclass JNICALL FindClass(JNIEnv* env, const char* name) {
  Call call(env, "FindClass");
  if (name == nullptr) {
    call.Fault("null class name");
    return nullptr;
  }
  std::string n = name;
  if (n.empty() || n.find('.') != std::string::npos || (n.front() == 'L' && n.back() == ';')) {
    call.Fault("malformed class name \"" + n + "\" (expected the form java/lang/String)");
    call.Throw("java/lang/NoClassDefFoundError", n);
    return nullptr;
  }
  return call.Local<jclass>(&call.vm.ClassNamed(n));
}

jclass JNICALL GetObjectClass(JNIEnv* env, jobject obj) {
  Call call(env, "GetObjectClass");
  Object* object = call.Ref(obj, "object");
  return object == nullptr ? nullptr : call.Local<jclass>(&call.vm.ClassNamed(object->ClassName()));
}

// The superclass of the few classes that JNI code commonly tests against.
std::string SuperclassOf(const std::string& name) {
  static const std::pair<const char*, const char*> kSuper[] = {
      {"java/lang/ArrayIndexOutOfBoundsException", "java/lang/IndexOutOfBoundsException"},
      {"java/lang/StringIndexOutOfBoundsException", "java/lang/IndexOutOfBoundsException"},
      {"java/lang/IndexOutOfBoundsException", "java/lang/RuntimeException"},
      {"java/lang/NegativeArraySizeException", "java/lang/RuntimeException"},
      {"java/lang/NullPointerException", "java/lang/RuntimeException"},
      {"java/lang/IllegalArgumentException", "java/lang/RuntimeException"},
      {"java/lang/IllegalStateException", "java/lang/RuntimeException"},
      {"java/lang/UnsupportedOperationException", "java/lang/RuntimeException"},
      {"java/lang/ArithmeticException", "java/lang/RuntimeException"},
      {"java/lang/RuntimeException", "java/lang/Exception"},
      {"java/io/IOException", "java/lang/Exception"},
      {"java/lang/Exception", "java/lang/Throwable"},
      {"java/lang/OutOfMemoryError", "java/lang/VirtualMachineError"},
      {"java/lang/VirtualMachineError", "java/lang/Error"},
      {"java/lang/NoClassDefFoundError", "java/lang/LinkageError"},
      {"java/lang/LinkageError", "java/lang/Error"},
      {"java/lang/Error", "java/lang/Throwable"},
  };
  for (const auto& [sub, super] : kSuper) {
    if (name == sub) return super;
  }
  return "";
}

bool IsSubclass(std::string name, const std::string& of) {
  if (of == "java/lang/Object") return true;
  for (; !name.empty(); name = SuperclassOf(name)) {
    if (name == of) return true;
  }
  return false;
}

jboolean JNICALL IsInstanceOf(JNIEnv* env, jobject obj, jclass clazz) {
  Call call(env, "IsInstanceOf");
  Object* cls = call.Typed(clazz, "class", {Kind::kClass});
  if (cls == nullptr) return JNI_FALSE;
  if (obj == nullptr) return JNI_TRUE;
  Object* object = call.Optional(obj, "object");
  return object != nullptr && IsSubclass(object->ClassName(), cls->name) ? JNI_TRUE : JNI_FALSE;
}

jboolean JNICALL IsSameObject(JNIEnv* env, jobject a, jobject b) {
  Call call(env, "IsSameObject");
  return call.Optional(a, "first object") == call.Optional(b, "second object") ? JNI_TRUE : JNI_FALSE;
}

// --- References and frames ---

jobject JNICALL NewLocalRef(JNIEnv* env, jobject ref) {
  Call call(env, "NewLocalRef");
  return call.Local(call.Optional(ref, "reference"));
}

jobject JNICALL NewGlobalRef(JNIEnv* env, jobject ref) {
  Call call(env, "NewGlobalRef");
  Object* object = call.Optional(ref, "reference");
  return object == nullptr ? nullptr : call.vm.NewGlobal(*object);
}

void DeleteRef(Call& call, jobject handle, RefKind kind) {
  if (handle == nullptr) return;
  auto* ref = call.vm.Lookup(handle);
  if (ref == nullptr) {
    call.Fault("not a reference");
  } else if (ref->kind == RefKind::kDeleted) {
    call.Fault("the reference was deleted already");
  } else if (ref->kind != kind) {
    call.Fault(kind == RefKind::kLocal ? "a global reference" : "a local reference");
  } else if (kind == RefKind::kLocal && ref->owner != &call.thread) {
    call.Fault("a local reference of another thread");
  } else {
    call.vm.Delete(*ref);
  }
}

void JNICALL DeleteLocalRef(JNIEnv* env, jobject ref) {
  Call call(env, "DeleteLocalRef", kWhilePending);
  DeleteRef(call, ref, RefKind::kLocal);
}

void JNICALL DeleteGlobalRef(JNIEnv* env, jobject ref) {
  Call call(env, "DeleteGlobalRef", kWhilePending);
  DeleteRef(call, ref, RefKind::kGlobal);
}

jint JNICALL PushLocalFrame(JNIEnv* env, jint capacity) {
  Call call(env, "PushLocalFrame", kWhilePending);
  if (capacity < 0) {
    call.Fault("negative capacity");
    return JNI_ERR;
  }
  call.thread.frames.push_back({FrameKind::kPushed, {}});
  return JNI_OK;
}

jobject JNICALL PopLocalFrame(JNIEnv* env, jobject result) {
  Call call(env, "PopLocalFrame", kWhilePending);
  if (call.thread.frames.back().kind != FrameKind::kPushed) {
    call.Fault("no frame pushed by PushLocalFrame is open");
    return nullptr;
  }
  Object* object = call.Optional(result, "result");
  if (object != nullptr) call.vm.Pin(*object);
  call.vm.PopFrame(call.thread);
  jobject moved = call.Local(object);
  if (object != nullptr) call.vm.Unpin(*object);
  return moved;
}

jint JNICALL EnsureLocalCapacity(JNIEnv* env, jint capacity) {
  Call call(env, "EnsureLocalCapacity");
  if (capacity < 0) call.Fault("negative capacity");
  return capacity < 0 ? JNI_ERR : JNI_OK;
}

jint JNICALL GetJavaVM(JNIEnv* env, JavaVM** vm) {
  Call call(env, "GetJavaVM");
  if (vm == nullptr) {
    call.Fault("null JavaVM**");
    return JNI_ERR;
  }
  *vm = call.vm.java_vm();
  return JNI_OK;
}

// --- Exceptions ---

jint JNICALL Throw(JNIEnv* env, jthrowable obj) {
  Call call(env, "Throw");
  Object* throwable = call.Typed(obj, "throwable", {Kind::kThrowable});
  if (throwable == nullptr) return JNI_ERR;
  call.vm.SetPending(call.thread, throwable);
  return JNI_OK;
}

jint JNICALL ThrowNew(JNIEnv* env, jclass clazz, const char* message) {
  Call call(env, "ThrowNew");
  Object* cls = call.Typed(clazz, "class", {Kind::kClass});
  if (cls == nullptr) return JNI_ERR;
  if (cls->name.front() == '[' || cls->name == "java/lang/String" || cls->name == "java/lang/Object" ||
      cls->name == "java/lang/Class") {
    call.Fault(cls->name + " is not a Throwable class");
    return JNI_ERR;
  }
  call.Throw(cls->name.c_str(), message == nullptr ? "" : message);
  return JNI_OK;
}

jthrowable JNICALL ExceptionOccurred(JNIEnv* env) {
  Call call(env, "ExceptionOccurred", kWhilePending);
  return call.Local<jthrowable>(call.thread.pending);
}

void JNICALL ExceptionDescribe(JNIEnv* env) {
  Call call(env, "ExceptionDescribe", kWhilePending);
  if (Object* pending = call.thread.pending) {
    std::fprintf(stderr, "Exception in native code: %s: %s\n", pending->name.c_str(), pending->message.c_str());
    call.vm.SetPending(call.thread, nullptr);
  }
}

void JNICALL ExceptionClear(JNIEnv* env) {
  Call call(env, "ExceptionClear", kWhilePending);
  call.vm.SetPending(call.thread, nullptr);
}

jboolean JNICALL ExceptionCheck(JNIEnv* env) {
  Call call(env, "ExceptionCheck", kWhilePending);
  return call.thread.pending != nullptr ? JNI_TRUE : JNI_FALSE;
}

// --- Strings ---

jstring NewStringObject(Call& call, std::u16string chars) {
  Object& string = call.vm.NewObject(Kind::kString, "java/lang/String");
  string.chars = std::move(chars);
  return call.Local<jstring>(&string);
}

jstring JNICALL NewString(JNIEnv* env, const jchar* unicode, jsize len) {
  Call call(env, "NewString");
  if (len < 0 || (len > 0 && unicode == nullptr)) {
    call.Fault(len < 0 ? "negative length" : "null characters");
    return nullptr;
  }
  return NewStringObject(call, std::u16string(unicode, unicode + len));
}

jstring JNICALL NewStringUTF(JNIEnv* env, const char* bytes) {
  Call call(env, "NewStringUTF");
  if (bytes == nullptr) {
    call.Fault("null bytes");
    return nullptr;
  }
  if (call.AllocationFails()) return nullptr;
  std::u16string chars;
  if (std::ptrdiff_t bad = DecodeModifiedUtf8(bytes, chars); bad >= 0) {
    call.Fault("malformed modified UTF-8 at byte " + std::to_string(bad));
  }
  return NewStringObject(call, std::move(chars));
}

jsize JNICALL GetStringLength(JNIEnv* env, jstring str) {
  Call call(env, "GetStringLength");
  Object* string = call.Typed(str, "string", {Kind::kString});
  return string == nullptr ? 0 : static_cast<jsize>(string->chars.size());
}

jsize JNICALL GetStringUTFLength(JNIEnv* env, jstring str) {
  Call call(env, "GetStringUTFLength");
  Object* string = call.Typed(str, "string", {Kind::kString});
  return string == nullptr ? 0 : static_cast<jsize>(EncodeModifiedUtf8(string->chars).size());
}

const char* JNICALL GetStringUTFChars(JNIEnv* env, jstring str, jboolean* is_copy) {
  Call call(env, "GetStringUTFChars");
  Object* string = call.Typed(str, "string", {Kind::kString});
  if (string == nullptr || call.AllocationFails()) return nullptr;
  std::string utf = EncodeModifiedUtf8(string->chars);
  return static_cast<const char*>(HandOutCopy(call, *string, Grant::kUtfChars, utf.c_str(), utf.size() + 1, is_copy));
}

void JNICALL ReleaseStringUTFChars(JNIEnv* env, jstring str, const char* chars) {
  Call call(env, "ReleaseStringUTFChars", kWhilePending);
  if (Object* string = call.Typed(str, "string", {Kind::kString})) Release(call, *string, chars, Grant::kUtfChars, 0);
}

const jchar* StringChars(Call& call, jstring str, Grant grant, jboolean* is_copy) {
  Object* string = call.Typed(str, "string", {Kind::kString});
  if (string == nullptr) return nullptr;
  if (grant == Grant::kStringCritical) OpenCritical(call);
  return static_cast<const jchar*>(
      HandOutCopy(call, *string, grant, string->chars.data(), string->chars.size() * sizeof(jchar), is_copy));
}

const jchar* JNICALL GetStringChars(JNIEnv* env, jstring str, jboolean* is_copy) {
  Call call(env, "GetStringChars");
  return StringChars(call, str, Grant::kChars, is_copy);
}

void JNICALL ReleaseStringChars(JNIEnv* env, jstring str, const jchar* chars) {
  Call call(env, "ReleaseStringChars", kWhilePending);
  if (Object* string = call.Typed(str, "string", {Kind::kString})) Release(call, *string, chars, Grant::kChars, 0);
}

const jchar* JNICALL GetStringCritical(JNIEnv* env, jstring str, jboolean* is_copy) {
  Call call(env, "GetStringCritical", kInCritical);
  return StringChars(call, str, Grant::kStringCritical, is_copy);
}

void JNICALL ReleaseStringCritical(JNIEnv* env, jstring str, const jchar* chars) {
  Call call(env, "ReleaseStringCritical", kInCritical | kWhilePending);
  if (Object* string = call.Typed(str, "string", {Kind::kString})) {
    Release(call, *string, chars, Grant::kStringCritical, 0);
  }
}

void JNICALL GetStringRegion(JNIEnv* env, jstring str, jsize start, jsize len, jchar* buf) {
  Call call(env, "GetStringRegion");
  Object* string = call.Typed(str, "string", {Kind::kString});
  if (string == nullptr ||
      !InBounds(call, start, len, string->chars.size(), buf, "java/lang/StringIndexOutOfBoundsException")) {
    return;
  }
  std::copy_n(string->chars.begin() + start, len, buf);
}

void JNICALL GetStringUTFRegion(JNIEnv* env, jstring str, jsize start, jsize len, char* buf) {
  Call call(env, "GetStringUTFRegion");
  Object* string = call.Typed(str, "string", {Kind::kString});
  if (string == nullptr ||
      !InBounds(call, start, len, string->chars.size(), buf, "java/lang/StringIndexOutOfBoundsException")) {
    return;
  }
  std::string utf = EncodeModifiedUtf8(std::u16string_view(string->chars).substr(start, len));
  if (buf != nullptr) std::memcpy(buf, utf.c_str(), utf.size() + 1);
}

// --- Arrays ---

template <class T>
constexpr Kind kArrayKind = std::is_same_v<T, jbyte> ? Kind::kByteArray : Kind::kIntArray;
template <class T>
const std::string kTypeName = std::is_same_v<T, jbyte> ? "Byte" : "Int";

jsize JNICALL GetArrayLength(JNIEnv* env, jarray arr) {
  Call call(env, "GetArrayLength");
  Object* array = call.Typed(arr, "array", {Kind::kByteArray, Kind::kIntArray});
  return array == nullptr ? 0 : array->length;
}

template <class T, class A>
A JNICALL NewArray(JNIEnv* env, jsize len) {
  Call call(env, "New" + kTypeName<T> + "Array");
  if (len < 0) {
    call.Throw("java/lang/NegativeArraySizeException", std::to_string(len));
    return nullptr;
  }
  if (call.AllocationFails()) return nullptr;
  std::unique_ptr<Buffer> elements;
  try {
    elements = std::make_unique<Buffer>(AllocationSize(len, sizeof(T)));
  } catch (const std::bad_alloc&) {
    call.Throw("java/lang/OutOfMemoryError");
    return nullptr;
  }
  Object& array = call.vm.NewObject(kArrayKind<T>, std::is_same_v<T, jbyte> ? "[B" : "[I");
  array.elements = std::move(elements);
  array.length = len;
  return call.Local<A>(&array);
}

template <class T, class A>
T* JNICALL GetElements(JNIEnv* env, A arr, jboolean* is_copy) {
  Call call(env, "Get" + kTypeName<T> + "ArrayElements");
  Object* array = call.Typed(arr, "array", {kArrayKind<T>});
  if (array == nullptr || call.AllocationFails()) return nullptr;
  return static_cast<T*>(HandOut(call, *array, Grant::kElements, is_copy));
}

template <class T, class A>
void JNICALL ReleaseElements(JNIEnv* env, A arr, T* elems, jint mode) {
  Call call(env, "Release" + kTypeName<T> + "ArrayElements", kWhilePending);
  if (Object* array = call.Typed(arr, "array", {kArrayKind<T>})) Release(call, *array, elems, Grant::kElements, mode);
}

template <class T, class A>
void JNICALL GetRegion(JNIEnv* env, A arr, jsize start, jsize len, T* buf) {
  Call call(env, "Get" + kTypeName<T> + "ArrayRegion");
  Object* array = call.Typed(arr, "array", {kArrayKind<T>});
  if (array == nullptr || !InBounds(call, start, len, array->length, buf, "java/lang/ArrayIndexOutOfBoundsException")) {
    return;
  }
  if (len > 0) std::memcpy(buf, array->elements->data() + start * sizeof(T), len * sizeof(T));
}

template <class T, class A>
void JNICALL SetRegion(JNIEnv* env, A arr, jsize start, jsize len, const T* buf) {
  Call call(env, "Set" + kTypeName<T> + "ArrayRegion");
  Object* array = call.Typed(arr, "array", {kArrayKind<T>});
  if (array == nullptr || !InBounds(call, start, len, array->length, buf, "java/lang/ArrayIndexOutOfBoundsException")) {
    return;
  }
  if (len > 0) std::memcpy(array->elements->data() + start * sizeof(T), buf, len * sizeof(T));
}

void* JNICALL GetPrimitiveArrayCritical(JNIEnv* env, jarray arr, jboolean* is_copy) {
  Call call(env, "GetPrimitiveArrayCritical", kInCritical);
  Object* array = call.Typed(arr, "array", {Kind::kByteArray, Kind::kIntArray});
  if (array == nullptr) return nullptr;
  OpenCritical(call);
  if (call.AllocationFails()) return nullptr;
  return HandOut(call, *array, Grant::kCritical, is_copy);
}

void JNICALL ReleasePrimitiveArrayCritical(JNIEnv* env, jarray arr, void* carray, jint mode) {
  Call call(env, "ReleasePrimitiveArrayCritical", kInCritical | kWhilePending);
  Object* array = call.Typed(arr, "array", {Kind::kByteArray, Kind::kIntArray});
  if (array != nullptr) Release(call, *array, carray, Grant::kCritical, mode);
}

// --- Everything else ---

template <std::size_t Index>
void JNICALL Unimplemented() {
  std::fprintf(stderr, "our JVM: unimplemented JNI function %u (slot in JNINativeInterface_) called\n",
               static_cast<unsigned>(Index));
  {
    Vm& vm = Vm::Get();
    std::lock_guard lock(vm.mu);
    vm.Fault("unimplemented JNI function " + std::to_string(Index));
  }
  std::abort();  // its real signature is unknown here, so it cannot return
}

using AnyFunction = void(JNICALL*)();
constexpr std::size_t kSlots = sizeof(JNINativeInterface_) / sizeof(AnyFunction);
static_assert(sizeof(JNINativeInterface_) == kSlots * sizeof(AnyFunction));

template <std::size_t... Index>
JNINativeInterface_ StubTable(std::index_sequence<Index...>) {
  const AnyFunction stubs[] = {&Unimplemented<Index>...};
  JNINativeInterface_ table;
  std::memcpy(&table, stubs, sizeof table);
  return table;
}

JNINativeInterface_ MakeTable() {
  JNINativeInterface_ t = StubTable(std::make_index_sequence<kSlots>());
  t.reserved0 = t.reserved1 = t.reserved2 = t.reserved3 = nullptr;
  t.GetVersion = GetVersion;
  t.FindClass = FindClass;
  t.GetObjectClass = GetObjectClass;
  t.IsInstanceOf = IsInstanceOf;
  t.IsSameObject = IsSameObject;
  t.NewLocalRef = NewLocalRef;
  t.DeleteLocalRef = DeleteLocalRef;
  t.NewGlobalRef = NewGlobalRef;
  t.DeleteGlobalRef = DeleteGlobalRef;
  t.PushLocalFrame = PushLocalFrame;
  t.PopLocalFrame = PopLocalFrame;
  t.EnsureLocalCapacity = EnsureLocalCapacity;
  t.GetJavaVM = GetJavaVM;
  t.Throw = Throw;
  t.ThrowNew = ThrowNew;
  t.ExceptionOccurred = ExceptionOccurred;
  t.ExceptionDescribe = ExceptionDescribe;
  t.ExceptionClear = ExceptionClear;
  t.ExceptionCheck = ExceptionCheck;
  t.NewString = NewString;
  t.NewStringUTF = NewStringUTF;
  t.GetStringLength = GetStringLength;
  t.GetStringUTFLength = GetStringUTFLength;
  t.GetStringUTFChars = GetStringUTFChars;
  t.ReleaseStringUTFChars = ReleaseStringUTFChars;
  t.GetStringChars = GetStringChars;
  t.ReleaseStringChars = ReleaseStringChars;
  t.GetStringCritical = GetStringCritical;
  t.ReleaseStringCritical = ReleaseStringCritical;
  t.GetStringRegion = GetStringRegion;
  t.GetStringUTFRegion = GetStringUTFRegion;
  t.GetArrayLength = GetArrayLength;
  t.NewByteArray = NewArray<jbyte, jbyteArray>;
  t.NewIntArray = NewArray<jint, jintArray>;
  t.GetByteArrayElements = GetElements<jbyte, jbyteArray>;
  t.GetIntArrayElements = GetElements<jint, jintArray>;
  t.ReleaseByteArrayElements = ReleaseElements<jbyte, jbyteArray>;
  t.ReleaseIntArrayElements = ReleaseElements<jint, jintArray>;
  t.GetByteArrayRegion = GetRegion<jbyte, jbyteArray>;
  t.GetIntArrayRegion = GetRegion<jint, jintArray>;
  t.SetByteArrayRegion = SetRegion<jbyte, jbyteArray>;
  t.SetIntArrayRegion = SetRegion<jint, jintArray>;
  t.GetPrimitiveArrayCritical = GetPrimitiveArrayCritical;
  t.ReleasePrimitiveArrayCritical = ReleasePrimitiveArrayCritical;
  return t;
}

// --- The invoke interface ---

jint JNICALL DestroyJavaVM(JavaVM*) {
  Vm& vm = Vm::Get();
  std::lock_guard lock(vm.mu);
  vm.Fault("DestroyJavaVM: not supported by this JVM");
  return JNI_ERR;
}

bool CheckJavaVM(Vm& vm, JavaVM* java_vm, void** penv, const char* name) {
  if (java_vm != vm.java_vm()) vm.Fault(std::string(name) + ": not this JVM's JavaVM");
  if (penv == nullptr) vm.Fault(std::string(name) + ": null penv");
  return penv != nullptr;
}

jint JNICALL AttachCurrentThread(JavaVM* java_vm, void** penv, void*) {
  Vm& vm = Vm::Get();
  std::lock_guard lock(vm.mu);
  if (!CheckJavaVM(vm, java_vm, penv, "AttachCurrentThread")) return JNI_ERR;
  *penv = &vm.Attach().env;
  return JNI_OK;
}

jint JNICALL DetachCurrentThread(JavaVM* java_vm) {
  Vm& vm = Vm::Get();
  std::lock_guard lock(vm.mu);
  void* unused;
  CheckJavaVM(vm, java_vm, &unused, "DetachCurrentThread");
  ThreadState* thread = vm.Current();
  if (thread == nullptr) return JNI_EDETACHED;
  if (thread->native_depth > 0) {
    vm.Fault("DetachCurrentThread: the thread is running a native method");
    return JNI_ERR;
  }
  vm.Detach(*thread);
  return JNI_OK;
}

jint JNICALL GetEnv(JavaVM* java_vm, void** penv, jint version) {
  Vm& vm = Vm::Get();
  std::lock_guard lock(vm.mu);
  if (!CheckJavaVM(vm, java_vm, penv, "GetEnv")) return JNI_ERR;
  *penv = nullptr;
  static constexpr jint kVersions[] = {JNI_VERSION_1_1, JNI_VERSION_1_2, JNI_VERSION_1_4, JNI_VERSION_1_6,
                                       JNI_VERSION_1_8};
  if (std::find(std::begin(kVersions), std::end(kVersions), version) == std::end(kVersions)) return JNI_EVERSION;
  ThreadState* thread = vm.Current();
  if (thread == nullptr) return JNI_EDETACHED;
  *penv = &thread->env;
  return JNI_OK;
}

}  // namespace

const JNINativeInterface_& FunctionTable() {
  static const JNINativeInterface_ table = MakeTable();
  return table;
}

JNIInvokeInterface_ InvokeTable() {
  JNIInvokeInterface_ t{};
  t.DestroyJavaVM = DestroyJavaVM;
  t.AttachCurrentThread = AttachCurrentThread;
  t.DetachCurrentThread = DetachCurrentThread;
  t.GetEnv = GetEnv;
  t.AttachCurrentThreadAsDaemon = AttachCurrentThread;
  return t;
}

}  // namespace corvane::test::ours
