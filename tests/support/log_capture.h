// Captures what is written to the debug log while it lives; Text() gives it with line ends as "\n".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/dfile.h"
#include "base/dlogstream.h"
#include "base/dstring.h"

namespace orvane_test {

class LogCapture {
 public:
  LogCapture() {
    file_.OpenMemory(DString("log"), kCapacity, DFile::kRead | DFile::kWrite);
    std::vector<std::uint8_t> zeros(kCapacity, 0);
    file_.Write(zeros.data(), kCapacity);
    file_.Seek(DFile::kSeekStart, 0);
    DDebugLog().AttachFile(file_);
  }
  ~LogCapture() { DDebugLog().Close(); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::string Text() {
    std::vector<std::uint8_t> raw(kCapacity);
    const std::int64_t pos = file_.Tell();
    file_.Seek(DFile::kSeekStart, 0);
    file_.Read(raw.data(), kCapacity);
    file_.Seek(DFile::kSeekStart, pos);
    std::string text;
    for (std::uint8_t c : raw) {
      if (c == 0) break;
      if (c != '\r') text += static_cast<char>(c);
    }
    return text;
  }

 private:
  static constexpr std::uint32_t kCapacity = 1 << 18;
  DFile file_;
};

}  // namespace orvane_test
