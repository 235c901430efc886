// Every engine export as a stand-in that gives its failure value (0, false, null, a zeroed struct),
// generated from the export list, for the stand-in engines of the game's fuzz targets. Included
// inside a target's unnamed namespace, after <type_traits> and the export declarations.

template <typename T>
T FailureValue() {
  if constexpr (!std::is_void_v<T>) return T{};
}

namespace stand_in {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#define OV_EXPORT(position, name, return_type, params) \
  return_type name params noexcept {                   \
    return FailureValue<return_type>();                \
  }
#include "api/export_list.h"
#undef OV_EXPORT
#pragma GCC diagnostic pop
}  // namespace stand_in
