// The image library's entry points and the module state that caches them.
#pragma once

#include <atomic>
#include <cstdint>
#include <type_traits>

#include "platform/winapi.h"

namespace corvane {

// The loaded image library; null until a load succeeds. Loads and stores are
// single aligned word accesses, so threads racing through the first call all
// end up storing the same handle.
extern std::atomic<HMODULE> hImageLibrary;

// One cached pointer per entry point, p##Name, null until resolved.
#define CORVANE_METHOD(Name, Mangled, Signature, N, Type) \
  extern std::atomic<std::add_pointer_t<Type>> p##Name;
#include "core/method_table.h"

// What LoadEntryPoint needs to know of one entry point.
template <typename Fn>
struct EntryPoint {
  std::atomic<Fn*>& pointer;
  const char* symbol;          // "_ReadWSQ_ppi"
  const WCHAR* missing_report;  // "Unable to get pReadWSQ_ppi function address"
};

namespace entry {
#define CORVANE_METHOD(Name, Mangled, Signature, N, Type)                \
  inline constexpr EntryPoint<Type> Name{p##Name, "_" #Name,            \
                                         CORVANE_WIDE("Unable to get p" #Name " function address")};
#include "core/method_table.h"
}  // namespace entry

}  // namespace corvane
