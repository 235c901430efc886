// HAL selection: the process-wide span record, the reference count and the choice of unit.
#include "imaging/hal/dhal.h"

#include <cstdlib>
#include <cstring>

#include "imaging/hal/dhal_pixel.h"

DHalSpanRecord DHalSpans{};

namespace {

std::int32_t g_count = 0;      // references taken by successful DHalInit calls
std::uint32_t g_format = 0;    // the format in force while g_count > 0
bool g_vector_chosen = false;  // the unit DHalInit chose, which DHalTerm terms
bool g_plain_forced = false;   // ORVANE_HAL=plain, read at each DHalInit from count 0

bool PlainForcedByEnvironment() {
  const char* v = std::getenv("ORVANE_HAL");
  return v != nullptr && std::strcmp(v, "plain") == 0;
}

}  // namespace

bool DHalHasMmx() {
  return DHalMmx::Available() && !g_plain_forced;
}

std::int32_t DHalRefCount() {
  return g_count;
}

bool DHalInit(std::uint32_t format) {
  if (format != dhal::kArgb1555 && format != dhal::kRgb565) return false;
  if (g_count > 0) {
    if (format != g_format) return false;
    ++g_count;
    return true;
  }
  DHalSpans.WipeMapFlag = dhal::kWipeMapFlag;
  g_plain_forced = PlainForcedByEnvironment();
  g_vector_chosen = DHalHasMmx();
  DHalSpans = g_vector_chosen ? DHalMmx::Routines(format) : DHalX86::Routines(format);
  if (g_vector_chosen) {
    DHalMmx::Init(format);
  } else {
    DHalX86::Init(format);
  }
  ++g_count;
  g_format = format;
  return true;
}

void DHalTerm() {
  if (g_count == 0) return;
  if (--g_count > 0) return;
  if (g_vector_chosen) {
    DHalMmx::Term();
  } else {
    DHalX86::Term();
  }
}
