// Module state: zero-initialised static storage, one copy per loaded module,
// never reset.
#include "core/entry_points.h"

namespace corvane {

constinit std::atomic<HMODULE> hImageLibrary{nullptr};

#define CORVANE_METHOD(Name, Mangled, Signature, N, Type) \
  constinit std::atomic<std::add_pointer_t<Type>> p##Name{nullptr};
#include "core/method_table.h"

}  // namespace corvane
