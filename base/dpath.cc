// Path routines and the command-line splitter on cp932 text.
#include "base/dpath.h"

#include <cstring>
#include <string>

#include "base/charconv.h"
#include "platform/kernel.h"

namespace {

constexpr size_t kMaxPath = 263;

std::string Cut(const char* text) {
  return text ? std::string(text, strnlen(text, kMaxPath)) : std::string();
}

std::string Cut(const DString& text) {
  return Cut(text.Get());
}

// Copies text into an output buffer, cut to 263 bytes; a null output is skipped.
void Put(char* output, const std::string& text) {
  if (!output) return;
  size_t n = text.size() < kMaxPath ? text.size() : kMaxPath;
  std::memcpy(output, text.data(), n);
  output[n] = '\0';
}

void ConvertSeparators(std::string& path, char from, char to) {
  for (size_t i = 0; i < path.size(); ++i) {
    if (DIsLeadByte(path[i]) && i + 1 < path.size()) {
      ++i;
    } else if (path[i] == from) {
      path[i] = to;
    }
  }
}

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}

// A drive is an ASCII letter followed by ":" at the start.
bool HasDrive(const std::string& path) {
  if (path.size() < 2 || path[1] != ':') return false;
  char c = path[0];
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsRooted(const std::string& path) {
  return !path.empty() && IsSeparator(path[0]);
}

struct SplitParts {
  std::string directory;
  std::string name;
  std::string extension;
};

SplitParts Split(const std::string& path) {
  SplitParts parts;
  std::string segment;
  for (size_t i = 0; i < path.size(); ++i) {
    if (DIsLeadByte(path[i]) && i + 1 < path.size()) {
      segment.append(path, i, 2);
      ++i;
    } else if (IsSeparator(path[i])) {
      parts.directory += segment;
      parts.directory += '/';
      segment.clear();
    } else {
      segment += path[i];
    }
  }
  size_t dot = std::string::npos;
  for (size_t i = 0; i < segment.size(); ++i) {
    if (DIsLeadByte(segment[i]) && i + 1 < segment.size()) {
      ++i;
    } else if (segment[i] == '.') {
      dot = i;
    }
  }
  if (dot == std::string::npos) {
    parts.name = segment;
  } else {
    parts.name = segment.substr(0, dot);
    parts.extension = segment.substr(dot + 1);
  }
  return parts;
}

std::string Marge(const std::string& directory, const std::string& name, const std::string& extension) {
  std::string out = directory.substr(0, std::min(directory.size(), kMaxPath));
  if (!out.empty() && !IsSeparator(out.back()) && out.size() + 2 <= 264) {
    // The last byte may be the trail byte of a double-byte character: only a character counts.
    bool ends_with_separator = false;
    for (size_t i = 0; i < out.size(); ++i) {
      if (DIsLeadByte(out[i]) && i + 1 < out.size()) {
        ++i;
      } else {
        ends_with_separator = i + 1 == out.size() && IsSeparator(out[i]);
      }
    }
    if (!ends_with_separator) out += '/';
  } else if (!out.empty() && IsSeparator(out.back())) {
    // A final "\" byte may be a trail byte: then the directory still needs its "/".
    bool trail = false;
    for (size_t i = 0; i < out.size(); ++i) {
      if (DIsLeadByte(out[i]) && i + 1 < out.size()) {
        trail = i + 1 == out.size() - 1;
        ++i;
      } else {
        trail = false;
      }
    }
    if (trail && out.size() + 2 <= 264) out += '/';
  }
  if (!name.empty()) out += name.substr(0, kMaxPath - std::min(out.size(), kMaxPath));
  if (!extension.empty() && out.size() + 2 <= 264) {
    out += '.';
    out += extension.substr(0, kMaxPath - std::min(out.size(), kMaxPath));
  }
  out.resize(std::min(out.size(), kMaxPath));
  ConvertSeparators(out, '\\', '/');
  return out;
}

struct Drives {
  bool differ = false;
  std::string drive;  // "X:" or empty
  std::string path;   // the path without its drive
  std::string base;   // the base without its drive
};

Drives TakeDrives(const std::string& path, const std::string& base) {
  Drives d;
  bool pd = HasDrive(path), bd = HasDrive(base);
  if (pd && bd && path[0] != base[0]) {
    d.differ = true;
    return d;
  }
  d.path = pd ? path.substr(2) : path;
  d.base = bd ? base.substr(2) : base;
  if (bd) {
    d.drive = base.substr(0, 2);
  } else if (pd) {
    d.drive = path.substr(0, 2);
  }
  return d;
}

std::string BaseDirectory(std::string base) {
  ConvertSeparators(base, '\\', '/');
  if (base.empty() || base.back() != '/') base += '/';
  return base;
}

bool CreateOne(const std::string& path) {
  return CreateDirectoryA(path.c_str(), nullptr) != FALSE;
}

}  // namespace

void DConvSlashPath(char* path) {
  if (!path) return;
  for (unsigned char* p = reinterpret_cast<unsigned char*>(path); *p; ++p) {
    if (DIsLeadByte(*p)) {
      if (!p[1]) break;
      ++p;
    } else if (*p == '\\') {
      *p = '/';
    }
  }
}

void DConvYenPath(char* path) {
  if (!path) return;
  for (unsigned char* p = reinterpret_cast<unsigned char*>(path); *p; ++p) {
    if (DIsLeadByte(*p)) {
      if (!p[1]) break;
      ++p;
    } else if (*p == '/') {
      *p = '\\';
    }
  }
}

void DCopySlashPath(char* target, const DString& source) {
  if (!target) return;
  Put(target, Cut(source));
  DConvSlashPath(target);
}

void DCopyYenPath(char* target, const DString& source) {
  if (!target) return;
  Put(target, Cut(source));
  DConvYenPath(target);
}

bool DIsDir(const DString& path) {
  struct _stat st;
  return path.Get() && _stat(path.Get(), &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFDIR;
}

bool DIsFile(const DString& path) {
  struct _stat st;
  return path.Get() && _stat(path.Get(), &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFREG;
}

bool DCreateDir(const DString& path) {
  std::string whole = Cut(path);
  ConvertSeparators(whole, '\\', '/');
  if (!whole.empty() && whole.back() == '/') whole.pop_back();
  if (whole.empty()) return false;
  if (DIsDir(DString(whole.c_str())) || CreateOne(whole)) return true;
  // Each pass creates the highest missing level, so at most one pass per level is needed.
  for (size_t pass = 0; pass <= kMaxPath; ++pass) {
    size_t cut = whole.size();
    for (;;) {
      size_t slash = cut == 0 ? std::string::npos : whole.rfind('/', cut - 1);
      if (slash == std::string::npos || slash == 0) return false;
      if (CreateOne(whole.substr(0, slash))) break;
      cut = slash;
    }
    if (CreateOne(whole) || DIsDir(DString(whole.c_str()))) return true;
  }
  return false;
}

bool DCopyFile(const DString& source, const DString& destination) {
  char directory[264];
  DSplitPath(destination, directory, nullptr, nullptr);
  if (!DCreateDir(DString(directory))) return false;
  return CopyFileA(source.Text(), destination.Text(), FALSE) != FALSE;
}

bool DIsWildPathCompare(const DString& pattern, const DString& text) {
  uint16_t pat[264], txt[264];
  std::string p_text = Cut(pattern), t_text = Cut(text);
  uint32_t m = DTextToCodes(pat, DString(p_text.c_str()));
  uint32_t n = DTextToCodes(txt, DString(t_text.c_str()));
  // Greedy match with backtracking to the last "*": on a mismatch the star takes one more
  // character and the rest of the pattern is tried again from there.
  uint32_t p = 0, s = 0;
  bool have_star = false;
  uint32_t star_p = 0, star_s = 0;
  while (s < n) {
    if (p < m && pat[p] == '*') {
      have_star = true;
      star_p = ++p;
      star_s = s;
    } else if (p < m && (pat[p] == '?' || pat[p] == txt[s])) {
      ++p;
      ++s;
    } else if (have_star) {
      p = star_p;
      s = ++star_s;
    } else {
      return false;
    }
  }
  while (p < m && pat[p] == '*') ++p;
  return p == m;
}

void DMargePath(char* output, const DString& directory, const DString& name, const DString& extension) {
  Put(output, Marge(Cut(directory), Cut(name), Cut(extension)));
}

void DSplitPath(const DString& path, char* directory, char* name, char* extension) {
  SplitParts parts = Split(Cut(path));
  Put(directory, parts.directory);
  Put(name, parts.name);
  Put(extension, parts.extension);
}

void DMakePathEx(char* output, const DString& drive, const DString& directory, const DString& name,
                 const DString& extension) {
  Put(output, Cut(drive) + Marge(Cut(directory), Cut(name), Cut(extension)));
}

void DSplitPathEx(const DString& path, char* drive, char* directory, char* name, char* extension) {
  SplitParts parts = Split(Cut(path));
  std::string d;
  if (parts.directory.size() >= 2 && !DIsLeadByte(parts.directory[0]) && parts.directory[1] == ':') {
    d = parts.directory.substr(0, 2);
    parts.directory.erase(0, 2);
  }
  Put(drive, d);
  Put(directory, parts.directory);
  Put(name, parts.name);
  Put(extension, parts.extension);
}

void DMargePath(const DString& output, const DString& directory, const DString& name,
                const DString& extension) {
  DMargePath(output.Get(), directory, name, extension);
}

void DSplitPath(const DString& path, const DString& directory, const DString& name,
                const DString& extension) {
  DSplitPath(path, directory.Get(), name.Get(), extension.Get());
}

void DMakePathEx(const DString& output, const DString& drive, const DString& directory, const DString& name,
                 const DString& extension) {
  DMakePathEx(output.Get(), drive, directory, name, extension);
}

void DSplitPathEx(const DString& path, const DString& drive, const DString& directory, const DString& name,
                  const DString& extension) {
  DSplitPathEx(path, drive.Get(), directory.Get(), name.Get(), extension.Get());
}

DStringBuffer DGetAbsolutePath(const DString& path_text, const DString& base_text) {
  std::string path = Cut(path_text), base = Cut(base_text);
  if (path.empty()) return DStringBuffer(base.c_str());
  if (base.empty()) return DStringBuffer(path.c_str());
  Drives d = TakeDrives(path, base);
  if (d.differ) return DStringBuffer(path.c_str());
  if (IsRooted(d.path) || !IsRooted(d.base)) return DStringBuffer((d.drive + d.path).c_str());
  SplitParts parts = Split(d.path);
  std::string kept = BaseDirectory(d.base);
  // Leading segments made only of dots climb (dots - 1) levels each.
  size_t levels = 0, pos = 0;
  const std::string& dir = parts.directory;
  for (;;) {
    size_t slash = dir.find('/', pos);
    if (slash == std::string::npos || slash == pos) break;
    if (dir.find_first_not_of('.', pos) < slash) break;
    levels += slash - pos - 1;
    pos = slash + 1;
  }
  std::string rest = dir.substr(pos);
  size_t end = kept.size() - 1;  // index of the kept base's last "/"
  for (size_t i = 0; i < levels; ++i) {
    size_t previous = end == 0 ? std::string::npos : kept.rfind('/', end - 1);
    if (previous == std::string::npos) return DStringBuffer((d.drive + "/" + d.path).c_str());
    end = previous;
  }
  kept.resize(end + 1);
  return DStringBuffer((d.drive + Marge(kept + rest, parts.name, parts.extension)).c_str());
}

DStringBuffer DGetRelativePath(const DString& path_text, const DString& base_text) {
  std::string path = Cut(path_text), base = Cut(base_text);
  if (path.empty() || base.empty()) return DStringBuffer(path.c_str());
  Drives d = TakeDrives(path, base);
  if (d.differ || !IsRooted(d.path) || !IsRooted(d.base)) return DStringBuffer(path.c_str());
  SplitParts parts = Split(d.path);
  std::string b = BaseDirectory(d.base);
  uint16_t dc[264], bc[264];
  uint32_t dn = DTextToCodes(dc, DString(parts.directory.c_str()));
  uint32_t bn = DTextToCodes(bc, DString(b.substr(0, kMaxPath).c_str()));
  auto fold = [](uint16_t c) -> uint16_t { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
  uint32_t common = 0;
  while (common < dn && common < bn && fold(dc[common]) == fold(bc[common])) ++common;
  uint32_t up = 0;
  for (uint32_t i = common; i < bn; ++i) up += bc[i] == '/';
  std::string relative;
  if (up > 0) relative = std::string(up + 1, '.') + "/";
  if (common < dn) {
    // Continue from the last "/" before the difference, so a shared prefix of a directory
    // name (game/ and gamex/) is never taken for a shared directory.
    uint32_t from = 0;
    for (uint32_t i = 0; i < common; ++i) {
      if (dc[i] == '/') from = i + 1;
    }
    char tail[528];
    DCodesToText(tail, dc + from, dn - from);
    relative += tail;
  }
  return DStringBuffer(Marge(relative, parts.name, parts.extension).c_str());
}

uint32_t SplitCommandLine(DRefList<char>& list, const DString& text_handle) {
  const char* text = text_handle.Text();
  size_t n = std::strlen(text);
  uint32_t count = 0;
  size_t i = 0;
  std::string arg;
  auto copy_char = [&] {
    if (DIsLeadByte(text[i]) && i + 1 < n) {
      arg.append(text + i, 2);
      i += 2;
    } else {
      arg += text[i++];
    }
  };
  for (;;) {
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i >= n) break;
    arg.clear();
    while (i < n && text[i] != ' ' && text[i] != '\t') {
      if (text[i] != '"') {
        copy_char();
        continue;
      }
      if (i + 1 < n && text[i + 1] == '"') {  // two quotes at the opening: one quote
        arg += '"';
        i += 2;
        continue;
      }
      ++i;  // a quoted part, up to the closing quote or the end
      while (i < n) {
        if (text[i] == '"') {
          if (i + 1 < n && text[i + 1] == '"') {
            arg += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        copy_char();
      }
    }
    DString value;
    value.Alloc(static_cast<uint32_t>(arg.size() + 1));
    std::memcpy(value.Get(), arg.c_str(), arg.size() + 1);
    list.PushBack(value);
    ++count;
  }
  return count;
}
