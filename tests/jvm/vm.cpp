#include "vm.h"

#include "per_thread.h"

#include <algorithm>

#include <cstdlib>
#include <cstring>
#include <new>

namespace corvane::test::ours {
namespace {

constexpr std::size_t kGuard = kUnderAsan ? 0 : 16;
constexpr std::size_t kRefsPerChunk = 1024;

std::byte GuardByte(std::size_t i) { return static_cast<std::byte>(0xA5 ^ (i * 7)); }

// The calling thread's state. The slot's destructor runs as the thread ends:
// it detaches a thread that is still attached, and says so.
struct ThreadSlot {
  ThreadState* state = nullptr;
  ~ThreadSlot() {
    if (state == nullptr) return;
    Vm& vm = Vm::Get();
    std::lock_guard lock(vm.mu);
    vm.Fault("a thread ended while attached to the JVM");
    vm.Detach(*state);
  }
};
using Slots = PerThread<ThreadSlot>;

}  // namespace

Buffer::Buffer(std::size_t size) : size_(size) {
  if (size > SIZE_MAX - 2 * kGuard - 1) throw std::bad_alloc();
  block_ = static_cast<std::byte*>(std::malloc(size + 2 * kGuard));
  if (block_ == nullptr && size + 2 * kGuard == 0) block_ = static_cast<std::byte*>(std::malloc(1));
  if (block_ == nullptr) throw std::bad_alloc();
  data_ = block_ + kGuard;
  if (size > 0) std::memset(data_, 0, size);
  for (std::size_t i = 0; i < kGuard; ++i) block_[i] = data_[size + i] = GuardByte(i);
}

Buffer::~Buffer() { std::free(block_); }

bool Buffer::CheckAndRepairGuards() {
  bool intact = true;
  for (std::size_t i = 0; i < kGuard; ++i) {
    for (std::byte* b : {&block_[i], &data_[size_ + i]}) {
      if (*b != GuardByte(i)) {
        intact = false;
        *b = GuardByte(i);
      }
    }
  }
  return intact;
}

std::string EncodeModifiedUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    if (c != 0 && c < 0x80) {
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

std::ptrdiff_t DecodeModifiedUtf8(const char* bytes, std::u16string& out) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes);
  auto continuation = [](unsigned char b) { return (b & 0xC0) == 0x80; };
  std::ptrdiff_t first_bad = -1;
  for (std::size_t i = 0; p[i] != 0;) {
    unsigned char b = p[i];
    unsigned value = 0;
    std::size_t n = 0;
    if (b < 0x80) {
      value = b, n = 1;
    } else if ((b & 0xE0) == 0xC0 && continuation(p[i + 1])) {
      value = (b & 0x1Fu) << 6 | (p[i + 1] & 0x3Fu), n = 2;
      if (value != 0 && value < 0x80) n = 0;  // overlong
    } else if ((b & 0xF0) == 0xE0 && continuation(p[i + 1]) && continuation(p[i + 2])) {
      value = (b & 0x0Fu) << 12 | (p[i + 1] & 0x3Fu) << 6 | (p[i + 2] & 0x3Fu), n = 3;
      if (value < 0x800) n = 0;  // overlong
    }
    if (n == 0) {
      if (first_bad < 0) first_bad = static_cast<std::ptrdiff_t>(i);
      out += u'\uFFFD';
      ++i;
      continue;
    }
    out += static_cast<char16_t>(value);
    i += n;
  }
  return first_bad;
}

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::kClass: return "class";
    case Kind::kString: return "string";
    case Kind::kByteArray: return "byte[]";
    case Kind::kIntArray: return "int[]";
    case Kind::kThrowable: return "throwable";
  }
  return "?";
}

Vm& Vm::Get() {
  static Vm* vm = new Vm;
  return *vm;
}

Vm::Vm() : refs_in_last_chunk_(kRefsPerChunk), invoke_table_(InvokeTable()) {
  java_vm_.functions = &invoke_table_;
}

ThreadState* Vm::Current() {
  const ThreadSlot* slot = Slots::Find();
  return slot ? slot->state : nullptr;
}

ThreadState& Vm::Attach() {
  if (ThreadState* current = Current()) return *current;
  auto thread = std::make_unique<ThreadState>();
  thread->env.functions = &FunctionTable();
  thread->serial = next_serial_++;
  thread->frames.push_back({FrameKind::kBase, {}});
  ThreadState& attached = *thread;
  threads_.emplace(&thread->env, std::move(thread));
  Slots::Get().state = &attached;
  return attached;
}

void Vm::Detach(ThreadState& thread) {
  while (!thread.frames.empty()) PopFrame(thread);
  SetPending(thread, nullptr);
  if (ThreadSlot* slot = Slots::Find(); slot && slot->state == &thread) slot->state = nullptr;
  // The state stays allocated, so that a stale JNIEnv still reaches our
  // functions, which report it.
  auto it = threads_.find(&thread.env);
  detached_.push_back(std::move(it->second));
  threads_.erase(it);
}

ThreadState* Vm::FromEnv(JNIEnv* env) {
  auto it = threads_.find(env);
  return it == threads_.end() ? nullptr : it->second.get();
}

Object& Vm::NewObject(Kind kind, std::string name) {
  auto object = std::make_unique<Object>();
  object->kind = kind;
  object->name = std::move(name);
  Object& result = *object;
  objects_.emplace(&result, std::move(object));
  return result;
}

Object& Vm::ClassNamed(const std::string& name) {
  Object*& slot = classes_[name];
  if (slot == nullptr) {
    slot = &NewObject(Kind::kClass, name);
    Pin(*slot);
  }
  return *slot;
}

void Vm::Unpin(Object& object) {
  if (--object.pins == 0) objects_.erase(&object);
}

Ref& Vm::NewRef() {
  if (refs_in_last_chunk_ == kRefsPerChunk) {
    ref_chunks_.push_back(std::make_unique<Ref[]>(kRefsPerChunk));
    chunk_at_.emplace(reinterpret_cast<std::uintptr_t>(ref_chunks_.back().get()), ref_chunks_.back().get());
    refs_in_last_chunk_ = 0;
  }
  return ref_chunks_.back()[refs_in_last_chunk_++];
}

jobject Vm::NewLocal(ThreadState& thread, Object& object) {
  Ref& ref = NewRef();
  ref = {RefKind::kLocal, &object, &thread};
  Pin(object);
  thread.frames.back().refs.push_back(&ref);
  return reinterpret_cast<jobject>(&ref);
}

jobject Vm::NewGlobal(Object& object) {
  Ref& ref = NewRef();
  ref = {RefKind::kGlobal, &object, nullptr};
  Pin(object);
  return reinterpret_cast<jobject>(&ref);
}

Ref* Vm::Lookup(jobject handle) {
  auto address = reinterpret_cast<std::uintptr_t>(handle);
  auto it = chunk_at_.upper_bound(address);
  if (it == chunk_at_.begin()) return nullptr;
  --it;
  std::uintptr_t offset = address - it->first;
  if (offset >= kRefsPerChunk * sizeof(Ref) || offset % sizeof(Ref) != 0) return nullptr;
  return it->second + offset / sizeof(Ref);
}

void Vm::Delete(Ref& ref) {
  // A deleted local stays listed in its frame; popping the frame skips it.
  Object* object = std::exchange(ref.object, nullptr);
  ref.kind = RefKind::kDeleted;
  ref.owner = nullptr;
  if (object != nullptr) Unpin(*object);
}

void Vm::PopFrame(ThreadState& thread) {
  for (Ref* ref : thread.frames.back().refs) {
    if (ref->kind == RefKind::kLocal) Delete(*ref);
  }
  thread.frames.pop_back();
}

void Vm::SetPending(ThreadState& thread, Object* throwable) {
  if (throwable != nullptr) Pin(*throwable);
  if (thread.pending != nullptr) Unpin(*thread.pending);
  thread.pending = throwable;
}

void Vm::ThrowNew(ThreadState& thread, std::string class_name, std::string message) {
  Object& throwable = NewObject(Kind::kThrowable, std::move(class_name));
  throwable.message = std::move(message);
  SetPending(thread, &throwable);
}

bool Vm::TakeAllocationFailure() {
  if (failing_allocations <= 0) return false;
  if (allocations_before_failing > 0) {
    --allocations_before_failing;
    return false;
  }
  --failing_allocations;
  return true;
}

bool Vm::CheckGuards(Object& object, const char* context) {
  bool intact = true;
  if (object.elements && !object.elements->CheckAndRepairGuards()) {
    Fault(std::string(context) + ": a write outside the bounds of a " + KindName(object.kind));
    intact = false;
  }
  for (Access& access : object.accesses) {
    if (access.copy && !access.copy->CheckAndRepairGuards()) {
      Fault(std::string(context) + ": a write outside the bounds of a copy of a " + KindName(object.kind));
      intact = false;
    }
  }
  return intact;
}

void Vm::CheckTouchedGuards(ThreadState& thread) {
  std::sort(thread.touched.begin(), thread.touched.end());
  thread.touched.erase(std::unique(thread.touched.begin(), thread.touched.end()), thread.touched.end());
  for (const auto& [object, ptr] : thread.touched) {
    if (!objects_.count(object)) continue;
    if (object->elements && !object->elements->CheckAndRepairGuards()) {
      Fault(std::string("LeaveNative: a write outside the bounds of a ") + KindName(object->kind));
    }
    // The newest accesses are at the back; never-released ones pile up in front.
    const auto access = std::find_if(object->accesses.rbegin(), object->accesses.rend(),
                                     [ptr = ptr](const Access& a) { return a.ptr == ptr; });
    if (access != object->accesses.rend() && access->copy && !access->copy->CheckAndRepairGuards()) {
      Fault(std::string("LeaveNative: a write outside the bounds of a copy of a ") + KindName(object->kind));
    }
  }
  thread.touched.clear();
}

}  // namespace corvane::test::ours
