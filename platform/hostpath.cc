// Host paths: cp932 engine paths to UTF-8 host paths with a case-insensitive component match, and
// the reversible rule for host names that cp932 cannot spell.
#include "platform/hostpath.h"

#include <dirent.h>
#include <sys/stat.h>

#include <string>

#include "platform/cp932.h"

namespace orvane {
namespace {

using cp932::IsLeadByte;

// Host names that cp932 cannot spell keep every byte through one reversible rule: each byte
// (0x80-0xFF) of such a character, and each byte that is not UTF-8 at all, becomes the
// double-byte character 0xF0 t of the user-defined area, t running over 0x40-0x7E then
// 0x80-0xC0 for the bytes 0x80-0xFF. Private-use characters that cp932 would give those codes
// are escaped the same way, so every engine name maps back to exactly one host name.
constexpr unsigned char kEscapeLead = 0xF0;

bool IsEscapeTrail(unsigned char t) {
  return (t >= 0x40 && t <= 0x7E) || (t >= 0x80 && t <= 0xC0);
}
unsigned char EscapeTrail(unsigned char byte) {
  const unsigned i = byte - 0x80u;
  return static_cast<unsigned char>(i < 63 ? 0x40 + i : 0x80 + (i - 63));
}
unsigned char EscapedByte(unsigned char trail) {
  return static_cast<unsigned char>(0x80 + (trail <= 0x7E ? trail - 0x40 : 63 + (trail - 0x80)));
}

// Private-use characters U+E000-U+E757: what iconv gives for the user-defined area.
bool IsUserAreaCharacter(std::string_view sequence) {
  if (sequence.size() != 3) return false;
  const unsigned value = (static_cast<unsigned char>(sequence[0]) & 0x0Fu) << 12 |
                         (static_cast<unsigned char>(sequence[1]) & 0x3Fu) << 6 |
                         (static_cast<unsigned char>(sequence[2]) & 0x3Fu);
  return value >= 0xE000 && value <= 0xE757;
}

void AppendEscaped(std::string_view bytes, std::string* out) {
  for (unsigned char b : bytes) {
    out->push_back(static_cast<char>(kEscapeLead));
    out->push_back(static_cast<char>(EscapeTrail(b)));
  }
}

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
  return cp932::ToUtf8(cp932, utf8, lossy);
}

bool Utf8ToCp932(std::string_view utf8, std::string* cp932) {
  return cp932::FromUtf8(utf8, cp932, false);
}

bool HostTextFromEngine(std::string_view engine, std::string* host) {
  std::string out, piece;
  size_t start = 0;  // of the run of ordinary text not yet converted
  auto flush = [&](size_t end) {
    if (end > start) {
      if (!cp932::ToUtf8(engine.substr(start, end - start), &piece)) return false;
      out += piece;
    }
    return true;
  };
  for (size_t i = 0; i < engine.size();) {
    const unsigned char c = static_cast<unsigned char>(engine[i]);
    if (c == kEscapeLead && i + 1 < engine.size() &&
        IsEscapeTrail(static_cast<unsigned char>(engine[i + 1]))) {
      if (!flush(i)) return false;
      out.push_back(static_cast<char>(EscapedByte(static_cast<unsigned char>(engine[i + 1]))));
      i += 2;
      start = i;
      continue;
    }
    i += IsLeadByte(c) && i + 1 < engine.size() ? 2 : 1;
  }
  if (!flush(engine.size())) return false;
  *host = std::move(out);
  return true;
}

void EngineTextFromHost(std::string_view host, std::string* engine) {
  std::string out, piece;
  // Most names convert whole.
  bool plain = cp932::FromUtf8(host, &out);
  for (size_t i = 0; plain && i + 2 < host.size(); ++i)
    if (IsUserAreaCharacter(host.substr(i, 3))) plain = false;
  if (plain) {
    *engine = std::move(out);
    return;
  }
  out.clear();
  for (size_t i = 0; i < host.size();) {
    const size_t n = cp932::Utf8SequenceLength(host.substr(i));
    if (n == 0) {  // not UTF-8
      AppendEscaped(host.substr(i, 1), &out);
      ++i;
      continue;
    }
    const std::string_view sequence = host.substr(i, n);
    if (!IsUserAreaCharacter(sequence) && cp932::FromUtf8(sequence, &piece)) {
      out += piece;
    } else {
      AppendEscaped(sequence, &out);
    }
    i += n;
  }
  *engine = std::move(out);
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
  if (!HostTextFromEngine(slashed, &utf8)) return false;
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
  EngineTextFromHost(host_path, engine_path);
  return true;
}

}  // namespace orvane
