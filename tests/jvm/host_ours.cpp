// corvane::test::TheJvm() for the leg that runs the suite against our own
// strict JVM.
#include "jvm.h"
#include "vm.h"

namespace corvane::test {
namespace {

using ours::FrameKind;
using ours::Vm;

class OurJvm final : public Jvm {
 public:
  const char* Name() const override { return "ours"; }

  JNIEnv* Env() override {
    std::lock_guard lock(vm_.mu);
    return &vm_.Attach().env;
  }

  void DetachThisThread() override {
    std::lock_guard lock(vm_.mu);
    ours::ThreadState* thread = vm_.Current();
    if (thread == nullptr) return;
    if (thread->native_depth > 0) vm_.Fault("DetachThisThread: between EnterNative and LeaveNative");
    if (thread->critical > 0) vm_.Fault("DetachThisThread: a critical region is still open");
    vm_.Detach(*thread);
  }

  std::string TakePendingException() override {
    std::lock_guard lock(vm_.mu);
    ours::ThreadState& thread = vm_.Attach();
    std::string name = thread.pending != nullptr ? thread.pending->name : "";
    vm_.SetPending(thread, nullptr);
    return name;
  }

  std::vector<std::string> TakeFaults() override {
    std::lock_guard lock(vm_.mu);
    return vm_.TakeFaults();
  }

  void EnterNative() override {
    std::lock_guard lock(vm_.mu);
    ours::ThreadState& thread = vm_.Attach();
    thread.frames.push_back({FrameKind::kNative, {}});
    ++thread.native_depth;
  }

  jobject LeaveNative(jobject result) override {
    std::lock_guard lock(vm_.mu);
    ours::ThreadState& thread = vm_.Attach();
    // The result outlives the native frame, as the JVM hands it to the caller.
    ours::Ref* ref = result ? vm_.Lookup(result) : nullptr;
    ours::Object* returned = ref ? ref->object : nullptr;
    if (result && !returned) vm_.Fault("LeaveNative: the native method returned a reference that is none of ours");
    if (returned) vm_.Pin(*returned);
    if (thread.critical > 0) {
      vm_.Fault("LeaveNative: a critical region is still open");
      thread.critical = 0;
    }
    vm_.CheckTouchedGuards(thread);
    if (thread.native_depth == 0) {
      vm_.Fault("LeaveNative: without EnterNative");
    } else {
      for (; thread.frames.back().kind == FrameKind::kPushed; vm_.PopFrame(thread)) {
        vm_.Fault("LeaveNative: a frame pushed by PushLocalFrame was not popped");
      }
      vm_.PopFrame(thread);
      --thread.native_depth;
    }
    if (!returned) return nullptr;
    const jobject moved = vm_.NewLocal(thread, *returned);
    vm_.Unpin(*returned);
    return moved;
  }

  bool SetHandsOutCopies(bool copies) override {
    std::lock_guard lock(vm_.mu);
    vm_.hands_out_copies = copies;
    return true;
  }

  bool FailNextAllocations(int count, int after) override {
    std::lock_guard lock(vm_.mu);
    vm_.failing_allocations = count;
    vm_.allocations_before_failing = after;
    return true;
  }

  std::size_t OutstandingCopies() override {
    std::lock_guard lock(vm_.mu);
    return vm_.outstanding_copies;
  }

 private:
  Vm& vm_ = Vm::Get();
};

}  // namespace

Jvm& TheJvm() {
  static Jvm* jvm = new OurJvm;  // never destroyed: threads may outlive static destruction
  return *jvm;
}

}  // namespace corvane::test
