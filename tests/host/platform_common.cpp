#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "host/platform_internal.h"

namespace corvane::test {

namespace {
std::mutex calls_mutex;
std::vector<Report> reports;
std::vector<std::string> loader_calls;
bool findable_later = false;
}  // namespace

const char* BindingName(Binding binding) { return binding == Binding::kDemo ? "demo" : "library"; }

std::string BridgeModule::ShortName(const std::string& mangled_method) const {
  const char* klass = binding_ == Binding::kDemo ? "wsq_1sun_1java_Tessaly" : "wsq_1sun_1java_Corvane";
  return std::string("Java_") + klass + "_" + mangled_method;
}

void* BridgeModule::RequireExport(const std::string& name) const {
  void* address = Export(name);
  if (!address) throw std::runtime_error(std::string(BindingName(binding_)) + " module exports no " + name);
  return address;
}

std::string RequiredEnv(const char* name) {
  const char* value = std::getenv(name);
  if (!value) throw std::runtime_error(std::string("environment variable ") + name + " is not set");
  return value;
}

Scenario CurrentScenario() {
  const char* name = std::getenv("CORVANE_SCENARIO");
  if (!name || !std::strcmp(name, "complete")) return Scenario::kComplete;
  if (!std::strcmp(name, "partial")) return Scenario::kPartial;
  if (!std::strcmp(name, "absent")) return Scenario::kAbsent;
  if (!std::strcmp(name, "later")) return Scenario::kLater;
  throw std::runtime_error(std::string("unknown CORVANE_SCENARIO ") + name);
}

void RecordReport(Report report) {
  std::lock_guard lock(calls_mutex);
  reports.push_back(std::move(report));
}

void RecordLoaderCall(std::string call) {
  std::lock_guard lock(calls_mutex);
  loader_calls.push_back(std::move(call));
}

std::vector<Report> TakeReports() {
  std::lock_guard lock(calls_mutex);
  return std::exchange(reports, {});
}

std::vector<std::string> TakeLoaderCalls() {
  std::lock_guard lock(calls_mutex);
  return std::exchange(loader_calls, {});
}

bool DoubleFindable() {
  const Scenario scenario = CurrentScenario();
  return scenario == Scenario::kComplete || scenario == Scenario::kPartial ||
         (scenario == Scenario::kLater && findable_later);
}

void MarkDoubleFindable() { findable_later = true; }

DoubleState* ImageLibrary() {
  const auto state = reinterpret_cast<DoubleStateFn>(DoubleSymbol(kDoubleStateSymbol));
  return state ? state() : nullptr;
}

void ResetImageLibrary() {
  if (const auto reset = reinterpret_cast<void (*)()>(DoubleSymbol("CorvaneDouble_Reset"))) reset();
}

DoubleState* UseOwnImageLibraryState() {
  const auto use = reinterpret_cast<DoubleUseThreadStateFn>(DoubleSymbol(kDoubleUseThreadStateSymbol));
  return use ? use() : nullptr;
}

void SetImageLibraryThreadTag(int tag) {
  if (const auto set = reinterpret_cast<DoubleSetThreadTagFn>(DoubleSymbol(kDoubleSetThreadTagSymbol))) set(tag);
}

}  // namespace corvane::test
