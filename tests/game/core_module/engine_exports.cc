// Every export of the master list as an exported function, for loading core.opi against a stand-in
// engine. In the test program each is weak and records an unexpected call (the test defines the
// ones it expects); in the stand-in engine module each just returns its failure value.
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "api/ov_api.h"

namespace {

template <typename T>
T FailureValue() {
  if constexpr (!std::is_void_v<T>) return T{};
}

}  // namespace

#ifdef ENGINE_EXPORTS_IN_PROGRAM
std::vector<std::string> g_unexpected_engine_calls;
#define OV_EXPORT_BODY(name) g_unexpected_engine_calls.push_back(#name);
#define OV_EXPORT_WEAK __attribute__((weak))
#else
#define OV_EXPORT_BODY(name)
#define OV_EXPORT_WEAK
#endif

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#define OV_EXPORT(position, name, return_type, params)         \
  extern "C" OV_EXPORT_WEAK return_type name params noexcept { \
    OV_EXPORT_BODY(name)                                       \
    return FailureValue<return_type>();                        \
  }
#include "api/export_list.h"
#undef OV_EXPORT
#pragma GCC diagnostic pop
