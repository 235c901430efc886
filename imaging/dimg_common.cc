// The codecs' shared log lines.
#include "imaging/dimg_common.h"

#include "base/dfile.h"
#include "base/dlogstream.h"

namespace dimg_detail {

void Log(std::initializer_list<const char*> pieces) {
  try {
    for (const char* piece : pieces) DDebugLog().Write(DString(piece));
  } catch (...) {
    // Logging is best effort; it never ends a decode.
  }
}

void LogFileFailure(const char* tag, DFile& file, const char* what) {
  Log({tag, "\"", file.GetName(), "\"", what, "\n"});
}

}  // namespace dimg_detail
