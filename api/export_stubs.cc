// Failing stand-ins for every export of the master list, so that each name is defined in the
// engine before its real worker exists.
//
// Each stand-in is a weak definition: the real export (a strong definition in the unit that does
// the work) replaces it at link time. A stand-in returns its type's failure value (0, false, a
// null pointer, a zeroed structure; nothing for void) and writes one log line the first time its
// name is called, so a plug-in that reaches a missing export fails honestly and visibly.
#include <atomic>
#include <cstdio>
#include <type_traits>

#include "api/ov_api.h"
#include "base/dlogstream.h"

namespace {

std::atomic<bool> g_reported[kOvExportCount + 1];

// Logs "[name] ..." once per export position.
void ReportMissing(int position, const char* name) noexcept {
  if (position < 1 || position > kOvExportCount) return;
  if (g_reported[position].exchange(true, std::memory_order_relaxed)) return;
  try {
    char line[160];
    std::snprintf(line, sizeof(line), "[%s] this export is not available yet; it returns its failure value\n",
                  name);
    DDebugLog() << line;
  } catch (...) {
  }
}

template <typename T>
T FailureValue() noexcept {
  if constexpr (!std::is_void_v<T>) return T{};
}

}  // namespace

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#define OV_EXPORT(position, name, return_type, params)                \
  extern "C" __attribute__((weak)) return_type name params noexcept { \
    ReportMissing(position, #name);                                   \
    return FailureValue<return_type>();                               \
  }
#include "api/export_list.h"
#undef OV_EXPORT
#pragma GCC diagnostic pop
