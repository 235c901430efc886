// Private profiles (.ini files) in cp932 bytes: reading values and lists, and rewriting one line
// of a file while keeping every other line as it was.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/cp932.h"
#include "platform/hostpath.h"
#include "platform/settings_internal.h"
#include "platform/user_internal.h"

namespace orvane::settings {
namespace {

std::mutex g_lock;

using orvane::cp932::IsLeadByte;
bool Blank(char c) {
  return c == ' ' || c == '\t';
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && Blank(s[b])) ++b;
  while (e > b && Blank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// One line of the file: its text and the line end it had ("\r\n", "\n" or "" at the end).
struct Line {
  std::string text;
  std::string end;
};

enum class Kind { kOther, kSection, kEntry };

// What a line is: a section header (name set) or an entry (key and value set).
Kind Parse(const std::string& text, std::string* name, std::string* value) {
  std::string t = Trim(text);
  if (t.empty()) return Kind::kOther;
  if (t[0] == '[') {
    size_t i = 1;
    while (i < t.size() && t[i] != ']')
      i += IsLeadByte(static_cast<unsigned char>(t[i])) && i + 1 < t.size() ? 2 : 1;
    *name = Trim(t.substr(1, i - 1));
    return Kind::kSection;
  }
  size_t eq = t.find('=');
  if (eq == std::string::npos) {
    *name = t;
    value->clear();
    return Kind::kEntry;
  }
  *name = Trim(t.substr(0, eq));
  std::string v = Trim(t.substr(eq + 1));
  if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) v = v.substr(1, v.size() - 2);
  *value = v;
  return Kind::kEntry;
}

std::vector<Line> SplitLines(const std::string& data) {
  std::vector<Line> lines;
  size_t i = 0;
  while (i < data.size()) {
    size_t nl = data.find('\n', i);
    if (nl == std::string::npos) {
      lines.push_back({data.substr(i), ""});
      break;
    }
    size_t end = nl;
    if (end > i && data[end - 1] == '\r') --end;
    lines.push_back({data.substr(i, end - i), data.substr(end, nl + 1 - end)});
    i = nl + 1;
  }
  return lines;
}

bool Same(const std::string& a, const std::string& b) {
  return orvane::user::SameName(a.c_str(), b.c_str());
}

// The host path of a profile file: a name without a directory lives in the Windows directory.
bool ProfilePath(LPCSTR file, std::string* host) {
  if (!file || !*file) return false;
  std::string f = file;
  bool has_dir = false;
  for (size_t i = 0; i < f.size(); ++i) {
    if (IsLeadByte(static_cast<unsigned char>(f[i]))) {
      ++i;
      continue;
    }
    if (f[i] == '\\' || f[i] == '/' || f[i] == ':') has_dir = true;
  }
  if (!has_dir) {
    char dir[MAX_PATH];
    UINT n = GetWindowsDirectoryA(dir, sizeof(dir));
    if (n == 0 || n >= sizeof(dir)) return false;
    f = std::string(dir) + "\\" + f;
  }
  return orvane::HostPathFromEngine(f, host);
}

// Reads a profile file; a missing file reads as empty text.
bool LoadText(LPCSTR file, std::string* text, std::string* host, bool* exists) {
  *exists = false;
  if (!ProfilePath(file, host)) return false;
  return ReadWholeFile(*host, text, exists) || !*exists;
}

// Copies a list of NUL-terminated names, ended by a second NUL, cut to fit as the system does.
DWORD CopyList(const std::vector<std::string>& names, LPSTR buffer, DWORD size) {
  if (size < 2) {
    if (size == 1) buffer[0] = 0;
    return 0;
  }
  DWORD used = 0;
  for (const std::string& n : names) {
    DWORD left = size - 2 - used;  // room before the two closing NULs
    if (n.size() + 1 > left) {
      std::memcpy(buffer + used, n.data(), left);
      buffer[size - 2] = 0;
      buffer[size - 1] = 0;
      return size - 2;
    }
    std::memcpy(buffer + used, n.c_str(), n.size() + 1);
    used += static_cast<DWORD>(n.size() + 1);
  }
  buffer[used] = 0;
  if (used == 0) buffer[1] = 0;
  return used;
}

DWORD CopyValue(const std::string& v, LPSTR buffer, DWORD size) {
  DWORD n = static_cast<DWORD>(std::min<size_t>(v.size(), size - 1));
  std::memcpy(buffer, v.data(), n);
  buffer[n] = 0;
  return n;
}

}  // namespace

DWORD ReadProfile(const std::string& text, LPCSTR section, LPCSTR key, LPCSTR default_text, LPSTR buffer,
                  DWORD size) {
  std::vector<std::string> names;
  bool in_section = false;
  bool found = false;
  std::string value;
  for (const Line& line : SplitLines(text)) {
    std::string name, v;
    Kind k = Parse(line.text, &name, &v);
    if (k == Kind::kSection) {
      in_section = section && Same(name, section);
      if (!section) names.push_back(name);
      continue;
    }
    if (k != Kind::kEntry || !in_section) continue;
    if (!key) {
      names.push_back(name);
    } else if (!found && Same(name, key)) {
      found = true;
      value = v;
    }
  }
  if (!section || !key) return CopyList(names, buffer, size);
  if (!found) {
    // The default loses its trailing blanks, as the system's does.
    value = default_text ? default_text : "";
    while (!value.empty() && Blank(value.back())) value.pop_back();
  }
  return CopyValue(value, buffer, size);
}

bool EditProfile(std::string* text, LPCSTR section, LPCSTR key, LPCSTR value) {
  std::vector<Line> lines = SplitLines(*text);
  // Locate the section: its header line and the end of its lines.
  long header = -1;
  size_t end = lines.size();
  long last_entry = -1;
  long key_line = -1;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string name, v;
    Kind k = Parse(lines[i].text, &name, &v);
    if (k == Kind::kSection) {
      if (header >= 0) {
        end = i;
        break;
      }
      if (Same(name, section)) header = static_cast<long>(i);
      continue;
    }
    if (header < 0 || k != Kind::kEntry) continue;
    last_entry = static_cast<long>(i);
    if (key && key_line < 0 && Same(name, key)) key_line = static_cast<long>(i);
  }
  // Lines added follow the file's own line ends (those of its first line); CR LF in a new file.
  size_t first_lf = text->find('\n');
  const std::string crlf = first_lf == std::string::npos || (first_lf > 0 && (*text)[first_lf - 1] == '\r')
                               ? std::string("\r\n")
                               : std::string("\n");
  if (!key) {
    if (header < 0) return false;
    lines.erase(lines.begin() + header, lines.begin() + static_cast<long>(end));
  } else if (!value) {
    if (key_line < 0) return false;
    lines.erase(lines.begin() + key_line);
  } else {
    std::string entry = std::string(key) + "=" + value;
    if (key_line >= 0) {
      lines[static_cast<size_t>(key_line)].text = entry;
    } else if (header >= 0) {
      size_t at = static_cast<size_t>((last_entry >= 0 ? last_entry : header) + 1);
      if (lines[at - 1].end.empty()) lines[at - 1].end = crlf;
      lines.insert(lines.begin() + static_cast<long>(at), Line{entry, crlf});
    } else {
      if (!lines.empty() && lines.back().end.empty()) lines.back().end = crlf;
      lines.push_back(Line{"[" + std::string(section) + "]", crlf});
      lines.push_back(Line{entry, crlf});
    }
  }
  text->clear();
  for (const Line& line : lines) *text += line.text + line.end;
  return true;
}

}  // namespace orvane::settings

using namespace orvane::settings;

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR default_text, LPSTR buffer, DWORD size,
                               LPCSTR file) {
  if (!buffer || size == 0) return 0;
  std::lock_guard<std::mutex> l(g_lock);
  std::string text, host;
  bool exists = false;
  if (!LoadText(file, &text, &host, &exists)) text.clear();
  return ReadProfile(text, section, key, default_text, buffer, size);
}

UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, int default_value, LPCSTR file) {
  char buf[64];
  if (!section || !key) return static_cast<UINT>(default_value);
  DWORD n = GetPrivateProfileStringA(section, key, "", buf, sizeof(buf), file);
  if (n == 0) return static_cast<UINT>(default_value);
  return static_cast<UINT>(std::strtol(buf, nullptr, 10));
}

BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file) {
  if (!section) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> l(g_lock);
  std::string text, host;
  bool exists = false;
  if (!LoadText(file, &text, &host, &exists)) {
    SetLastError(exists ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  if (!EditProfile(&text, section, key, value)) return TRUE;
  if (!WriteAtomically(host, text)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return TRUE;
}

UINT GetWindowsDirectoryA(LPSTR buffer, UINT size) {
  std::string dir = ConfigDir();
  if (dir.empty()) return 0;
  dir += "/windows";
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return 0;
  std::string engine;
  if (!orvane::EnginePathFromHost(dir, &engine)) return 0;
  if (!buffer || engine.size() + 1 > size) return static_cast<UINT>(engine.size() + 1);
  std::memcpy(buffer, engine.c_str(), engine.size() + 1);
  return static_cast<UINT>(engine.size());
}
