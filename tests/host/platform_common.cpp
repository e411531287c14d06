#include <stdexcept>

#include "host/platform.h"

namespace corvane::test {

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

}  // namespace corvane::test
