// A stand-in engine module that defines every export but exports all of them except one (its
// version script leaves one name out), to show that a plug-in refuses an engine lacking a name.
#include <type_traits>

#include "api/ov_api.h"

namespace {
template <typename T>
T Failure() noexcept {
  if constexpr (!std::is_void_v<T>) return T{};
}
}  // namespace

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#define OV_EXPORT(position, name, return_type, params) \
  extern "C" return_type name params noexcept {        \
    return Failure<return_type>();                     \
  }
#include "api/export_list.h"
#undef OV_EXPORT
#pragma GCC diagnostic pop
