// The registry: a typed key store in one file of the configuration directory.
//
// File layout, one record per line, every field percent-escaped (bytes below 0x21, above 0x7E,
// '%' and '|' become %XX):
//   K|<root>\<key path>                      a key
//   V|<root>\<key path>|<name>|<type>|<hex>  a value of that key
// Damaged lines are skipped when the file is read; the next write drops them.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/cp932.h"
#include "platform/settings_internal.h"
#include "platform/user_internal.h"

namespace orvane::settings {
namespace {

using Value = RegistryValue;
using Key = RegistryKey;

std::recursive_mutex g_lock;
// Made on first use and never destroyed: a run that never needs it never touches it (nor its
// pages at start and exit), and code running during exit still finds it.
std::map<UINT_PTR, std::string>& OpenKeys() {  // open key handles and their paths
  static auto* made = new std::map<UINT_PTR, std::string>;
  return *made;
}
UINT_PTR g_next_key = 0x30000;

bool SameName(const std::string& a, const std::string& b) {
  return orvane::user::SameName(a.c_str(), b.c_str());
}

std::string Escape(const std::string& s) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    if (c <= 0x20 || c >= 0x7F || c == '%' || c == '|') {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool Unescape(const std::string& s, std::string* out) {
  out->clear();
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      *out += s[i];
      continue;
    }
    if (i + 2 >= s.size()) return false;
    int hi = HexDigit(s[i + 1]), lo = HexDigit(s[i + 2]);
    if (hi < 0 || lo < 0) return false;
    *out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return true;
}

std::string StorePath() {
  std::string dir = ConfigDir();
  return dir.empty() ? "" : dir + "/registry";
}

std::vector<std::string> Split(const std::string& line, char sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t p = line.find(sep, start);
    parts.push_back(line.substr(start, p == std::string::npos ? std::string::npos : p - start));
    if (p == std::string::npos) return parts;
    start = p + 1;
  }
}

Key* FindKey(std::vector<Key>& keys, const std::string& path) {
  for (Key& k : keys) {
    if (SameName(k.path, path)) return &k;
  }
  return nullptr;
}

// Reads the store; false when the file exists but cannot be read.
bool Load(std::vector<Key>* keys) {
  keys->clear();
  std::string file = StorePath();
  if (file.empty()) return false;
  std::string data;
  bool exists;
  if (!ReadWholeFile(file, &data, &exists)) return !exists;
  *keys = ParseRegistry(data);
  return true;
}

bool Save(const std::vector<Key>& keys) {
  std::string file = StorePath();
  return !file.empty() && WriteAtomically(file, FormatRegistry(keys));
}

// The full path of root + sub key; false for an unknown root handle.
bool FullPath(HKEY root, LPCSTR sub, std::string* path) {
  std::string base;
  if (root == HKEY_CURRENT_USER)
    base = "HKCU";
  else if (root == HKEY_LOCAL_MACHINE)
    base = "HKLM";
  else if (root == HKEY_CLASSES_ROOT)
    base = "HKCR";
  else if (root == HKEY_USERS)
    base = "HKU";
  else {
    auto it = OpenKeys().find(reinterpret_cast<UINT_PTR>(root));
    if (it == OpenKeys().end()) return false;
    base = it->second;
  }
  std::string s = sub ? sub : "";
  // Empty components (leading, trailing or doubled separators) are dropped.
  std::string clean;
  size_t i = 0;
  while (i < s.size()) {
    size_t start = i;
    while (i < s.size() && s[i] != '\\') {
      unsigned char c = static_cast<unsigned char>(s[i]);
      i += orvane::cp932::IsLeadByte(c) && i + 1 < s.size() ? 2 : 1;
    }
    if (i > start) clean += "\\" + s.substr(start, i - start);
    ++i;
  }
  *path = base + clean;
  return true;
}

// Whether path names a key somewhere below parent.
bool IsBelow(const std::string& path, const std::string& parent) {
  return path.size() > parent.size() && path[parent.size()] == '\\' &&
         SameName(path.substr(0, parent.size()), parent);
}

bool KeyExists(std::vector<Key>& keys, const std::string& path) {
  if (path.find('\\') == std::string::npos) return true;  // a root
  for (const Key& k : keys) {
    if (SameName(k.path, path) || IsBelow(k.path, path)) return true;
  }
  return false;
}

// The path of root + sub key and the store, for the calls that name a key by root and sub key.
LONG LoadKeyPath(HKEY root, LPCSTR sub_key, std::string* path, std::vector<Key>* keys) {
  if (!FullPath(root, sub_key, path)) return ERROR_INVALID_HANDLE;
  return Load(keys) ? ERROR_SUCCESS : ERROR_BADDB;
}

HKEY NewHandle(const std::string& path) {
  UINT_PTR h = g_next_key;
  g_next_key += 0x10;
  OpenKeys().emplace(h, path);
  return reinterpret_cast<HKEY>(h);
}

const std::string* OpenPath(HKEY key) {
  auto it = OpenKeys().find(reinterpret_cast<UINT_PTR>(key));
  return it == OpenKeys().end() ? nullptr : &it->second;
}

}  // namespace

std::vector<RegistryKey> ParseRegistry(const std::string& text) {
  std::vector<Key> keys;
  for (const std::string& line : Split(text, '\n')) {
    std::vector<std::string> f = Split(line, '|');
    std::string path;
    if (f.size() < 2 || !Unescape(f[1], &path) || path.empty()) continue;
    if (f[0] == "K" && f.size() == 2) {
      if (!FindKey(keys, path)) keys.push_back(Key{path, {}});
    } else if (f[0] == "V" && f.size() == 5) {
      std::string name, hex = f[4];
      char* end = nullptr;
      unsigned long type = std::strtoul(f[3].c_str(), &end, 10);
      if (!Unescape(f[2], &name) || !end || *end || hex.size() % 2 || f[3].empty()) continue;
      std::string bytes;
      bool ok = true;
      for (size_t i = 0; i < hex.size(); i += 2) {
        int hi = HexDigit(hex[i]), lo = HexDigit(hex[i + 1]);
        if (hi < 0 || lo < 0) {
          ok = false;
          break;
        }
        bytes += static_cast<char>(hi * 16 + lo);
      }
      if (!ok) continue;
      Key* k = FindKey(keys, path);
      if (!k) {
        keys.push_back(Key{path, {}});
        k = &keys.back();
      }
      std::erase_if(k->values, [&](const Value& v) { return SameName(v.name, name); });
      k->values.push_back(Value{name, static_cast<DWORD>(type), bytes});
    }
  }
  return keys;
}

std::string FormatRegistry(const std::vector<RegistryKey>& keys) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const Key& k : keys) {
    out += "K|" + Escape(k.path) + "\n";
    for (const Value& v : k.values) {
      out += "V|" + Escape(k.path) + "|" + Escape(v.name) + "|" + std::to_string(v.type) + "|";
      for (unsigned char c : v.data) {
        out += kHex[c >> 4];
        out += kHex[c & 15];
      }
      out += "\n";
    }
  }
  return out;
}

}  // namespace orvane::settings

using namespace orvane::settings;

LONG RegCreateKeyExA(HKEY root, LPCSTR sub_key, DWORD, LPSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES,
                     PHKEY result, LPDWORD disposition) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::lock_guard<std::recursive_mutex> l(g_lock);
  std::string path;
  std::vector<Key> keys;
  if (LONG error = LoadKeyPath(root, sub_key, &path, &keys)) return error;
  bool existed = KeyExists(keys, path);
  if (!existed) {
    keys.push_back(Key{path, {}});
    if (!Save(keys)) return ERROR_ACCESS_DENIED;
  }
  if (disposition) *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
  *result = NewHandle(path);
  return ERROR_SUCCESS;
}

LONG RegOpenKeyExA(HKEY root, LPCSTR sub_key, DWORD, REGSAM, PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::lock_guard<std::recursive_mutex> l(g_lock);
  std::string path;
  std::vector<Key> keys;
  if (LONG error = LoadKeyPath(root, sub_key, &path, &keys)) return error;
  if (!KeyExists(keys, path)) return ERROR_FILE_NOT_FOUND;
  *result = NewHandle(path);
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  std::lock_guard<std::recursive_mutex> l(g_lock);
  return OpenKeys().erase(reinterpret_cast<UINT_PTR>(key)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD, DWORD type, const BYTE* data, DWORD size) {
  std::lock_guard<std::recursive_mutex> l(g_lock);
  const std::string* path = OpenPath(key);
  if (!path) return ERROR_INVALID_HANDLE;
  if ((size > 0 && !data) || (type == REG_DWORD && size != 4)) return ERROR_INVALID_PARAMETER;
  std::vector<Key> keys;
  if (!Load(&keys)) return ERROR_BADDB;
  Key* k = FindKey(keys, *path);
  if (!k) {
    keys.push_back(Key{*path, {}});
    k = &keys.back();
  }
  std::string n = name ? name : "";
  std::erase_if(k->values, [&](const Value& v) { return SameName(v.name, n); });
  k->values.push_back(Value{n, type, std::string(reinterpret_cast<const char*>(data), data ? size : 0)});
  return Save(keys) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size) {
  std::lock_guard<std::recursive_mutex> l(g_lock);
  const std::string* path = OpenPath(key);
  if (!path) return ERROR_INVALID_HANDLE;
  if (data && !size) return ERROR_INVALID_PARAMETER;
  std::vector<Key> keys;
  if (!Load(&keys)) return ERROR_BADDB;
  Key* k = FindKey(keys, *path);
  std::string n = name ? name : "";
  const Value* found = nullptr;
  if (k) {
    for (const Value& v : k->values) {
      if (SameName(v.name, n)) found = &v;
    }
  }
  if (!found) return ERROR_FILE_NOT_FOUND;
  if (type) *type = found->type;
  DWORD needed = static_cast<DWORD>(found->data.size());
  if (!data) {
    if (size) *size = needed;
    return ERROR_SUCCESS;
  }
  if (*size < needed) {
    *size = needed;
    return ERROR_MORE_DATA;
  }
  std::memcpy(data, found->data.data(), needed);
  *size = needed;
  return ERROR_SUCCESS;
}

LONG RegDeleteValueA(HKEY key, LPCSTR name) {
  std::lock_guard<std::recursive_mutex> l(g_lock);
  const std::string* path = OpenPath(key);
  if (!path) return ERROR_INVALID_HANDLE;
  std::vector<Key> keys;
  if (!Load(&keys)) return ERROR_BADDB;
  Key* k = FindKey(keys, *path);
  std::string n = name ? name : "";
  if (!k || !std::erase_if(k->values, [&](const Value& v) { return SameName(v.name, n); })) {
    return ERROR_FILE_NOT_FOUND;
  }
  return Save(keys) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

LONG RegDeleteKeyA(HKEY root, LPCSTR sub_key) {
  std::lock_guard<std::recursive_mutex> l(g_lock);
  std::string path;
  if (!FullPath(root, sub_key, &path)) return ERROR_INVALID_HANDLE;
  if (path.find('\\') == std::string::npos) return ERROR_ACCESS_DENIED;
  std::vector<Key> keys;
  if (!Load(&keys)) return ERROR_BADDB;
  if (!KeyExists(keys, path)) return ERROR_FILE_NOT_FOUND;
  for (const Key& k : keys) {
    if (IsBelow(k.path, path)) return ERROR_ACCESS_DENIED;  // it has sub-keys
  }
  std::erase_if(keys, [&](const Key& k) { return SameName(k.path, path); });
  return Save(keys) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}
