// Host paths: cp932 engine paths to UTF-8 host paths with a case-insensitive component match.
#include "platform/hostpath.h"

#include <dirent.h>
#include <iconv.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <vector>

namespace orvane {
namespace {

bool IsLeadByte(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// One iconv descriptor per thread and direction, opened on first use.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts in; on an invalid or unmappable sequence fails, or with lossy emits '?' and skips a byte.
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
      out->append(buf, dst - buf);
      if (r != static_cast<size_t>(-1)) continue;
      if (errno == E2BIG) continue;
      if (!lossy) return false;
      out->push_back('?');
      ++src;
      --src_left;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
    char* dst = buf;
    size_t dst_left = sizeof buf;
    iconv(cd_, nullptr, nullptr, &dst, &dst_left);
    out->append(buf, dst - buf);
    return true;
  }

 private:
  iconv_t cd_;
};

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x += 32;
    if (y >= 'A' && y <= 'Z') y += 32;
    if (x != y) return false;
  }
  return true;
}

// The entry of dir whose name equals name ignoring ASCII case (the smallest such name, so the
// choice does not depend on directory order), or an empty string.
std::string FindIgnoringCase(const std::string& dir, std::string_view name) {
  std::string best;
  DIR* d = opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return best;
  while (struct dirent* e = readdir(d)) {
    std::string_view entry(e->d_name);
    if (EqualsIgnoringAsciiCase(entry, name) && (best.empty() || entry < best)) best = std::string(entry);
  }
  closedir(d);
  return best;
}

}  // namespace

bool Cp932ToUtf8(std::string_view cp932, std::string* utf8, bool lossy) {
  thread_local Converter conv("UTF-8", "CP932");
  return conv.Run(cp932, utf8, lossy);
}

bool Utf8ToCp932(std::string_view utf8, std::string* cp932) {
  thread_local Converter conv("CP932", "UTF-8");
  return conv.Run(utf8, cp932, false);
}

bool HostPathFromEngine(std::string_view engine_path, std::string* host_path) {
  std::string slashed(engine_path);
  for (size_t i = 0; i < slashed.size(); ++i) {
    unsigned char c = slashed[i];
    if (IsLeadByte(c) && i + 1 < slashed.size()) {
      ++i;
    } else if (c == '\\') {
      slashed[i] = '/';
    }
  }
  std::string utf8;
  if (!Cp932ToUtf8(slashed, &utf8)) return false;
  if (utf8.empty() || Exists(utf8)) {
    *host_path = std::move(utf8);
    return true;
  }
  // Walk the components, replacing each missing one by an existing entry that differs in case.
  std::string out = utf8[0] == '/' ? "/" : "";
  bool found_all = true;
  size_t pos = 0;
  while (pos < utf8.size()) {
    size_t end = utf8.find('/', pos);
    if (end == std::string::npos) end = utf8.size();
    std::string_view comp(utf8.data() + pos, end - pos);
    if (!comp.empty()) {
      std::string dir = out;
      std::string candidate = out + std::string(comp);
      if (found_all && comp != "." && comp != ".." && !Exists(candidate)) {
        std::string match = FindIgnoringCase(dir, comp);
        if (match.empty()) {
          found_all = false;
        } else {
          candidate = dir + match;
        }
      }
      out = std::move(candidate);
      if (end < utf8.size()) out.push_back('/');
    }
    pos = end + 1;
  }
  *host_path = std::move(out);
  return true;
}

bool EnginePathFromHost(std::string_view host_path, std::string* engine_path) {
  return Utf8ToCp932(host_path, engine_path);
}

}  // namespace orvane
