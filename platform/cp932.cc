// cp932 <-> UTF-8 on glibc's iconv, one descriptor per thread and direction.
#include "platform/cp932.h"

#include <iconv.h>

#include <cerrno>

namespace orvane::cp932 {
namespace {

class Converter {
 public:
  Converter(const char* to, const char* from, bool from_utf8)
      : cd_(iconv_open(to, from)), from_utf8_(from_utf8) {}
  ~Converter() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts in; an invalid or unmappable sequence fails, or with lossy becomes '?' and is
  // skipped (a whole UTF-8 sequence when the input is UTF-8 and the sequence is valid).
  bool Run(std::string_view in, std::string* out, bool lossy) {
    out->clear();
    if (cd_ == reinterpret_cast<iconv_t>(-1)) return false;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char* src = const_cast<char*>(in.data());
    size_t src_left = in.size();
    char buf[512];
    while (src_left > 0) {
      char* dst = buf;
      size_t dst_left = sizeof buf;
      size_t r = iconv(cd_, &src, &src_left, &dst, &dst_left);
      out->append(buf, static_cast<size_t>(dst - buf));
      if (r != static_cast<size_t>(-1) || errno == E2BIG) continue;
      if (!lossy) return false;
      out->push_back('?');
      size_t skip = 1;
      if (from_utf8_) {
        size_t n = Utf8SequenceLength(std::string_view(src, src_left));
        if (n > 0) skip = n;
      }
      src += skip;
      src_left -= skip;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
    char* dst = buf;
    size_t dst_left = sizeof buf;
    iconv(cd_, nullptr, nullptr, &dst, &dst_left);
    out->append(buf, static_cast<size_t>(dst - buf));
    return true;
  }

 private:
  iconv_t cd_;
  bool from_utf8_;
};

}  // namespace

size_t Utf8SequenceLength(std::string_view text) {
  if (text.empty()) return 0;
  const unsigned char c = static_cast<unsigned char>(text[0]);
  size_t n;
  unsigned min;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2, min = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3, min = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4, min = 0x10000;
  } else {
    return 0;
  }
  if (text.size() < n) return 0;
  unsigned value = c & (0x7F >> n);
  for (size_t i = 1; i < n; ++i) {
    const unsigned char t = static_cast<unsigned char>(text[i]);
    if ((t & 0xC0) != 0x80) return 0;
    value = value << 6 | (t & 0x3F);
  }
  if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  return n;
}

namespace {

// ASCII text is the same bytes in both encodings: it needs no converter (whose first use loads
// the encoding module).
bool CopyAscii(std::string_view in, std::string* out) {
  for (char c : in)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  out->assign(in);
  return true;
}

}  // namespace

bool ToUtf8(std::string_view cp932, std::string* utf8, bool lossy) {
  if (CopyAscii(cp932, utf8)) return true;
  thread_local Converter conv("UTF-8", "CP932", false);
  return conv.Run(cp932, utf8, lossy);
}

bool FromUtf8(std::string_view utf8, std::string* cp932, bool lossy) {
  if (CopyAscii(utf8, cp932)) return true;
  thread_local Converter conv("CP932", "UTF-8", true);
  return conv.Run(utf8, cp932, lossy);
}

}  // namespace orvane::cp932
