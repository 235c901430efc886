// DRegKey: registry keys through the settings interface.
#include "base/dregkey.h"

DRegKey::DRegKey(HKEY root, const DString& path) {
  Open(root, path);
}

DRegKey::DRegKey(HKEY key) {
  key_.Alloc(1);
  *key_ = key;
}

DRegKey::DRegKey(const DRegKey& other) : DObject(other), key_(other.key_) {}

DRegKey& DRegKey::operator=(const DRegKey& other) {
  if (this == &other) return *this;  // releasing first would free what is kept
  Release();
  key_ = other.key_;
  owned_ = 0;
  return *this;
}

DRegKey::~DRegKey() {
  DRegKey::Release();
}

bool DRegKey::Open(HKEY root, const DString& path) {
  if (key_) return false;
  HKEY key = nullptr;
  if (RegCreateKeyExA(root, path.Text(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  key_.Alloc(1);
  *key_ = key;
  owned_ = 1;
  return true;
}

void DRegKey::Release() {
  if (owned_) DRegKey::Close();
  key_.Release();
  owned_ = 0;
}

bool DRegKey::Close() {
  if (!key_) return false;
  if (*key_) RegCloseKey(*key_);
  key_.Release();
  owned_ = 0;
  return true;
}

bool DRegKey::SetInt(const DString& name, int value) {
  if (!GetHandle()) return false;
  DWORD v = static_cast<DWORD>(value);
  return RegSetValueExA(GetHandle(), name.Text(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4) ==
         ERROR_SUCCESS;
}

bool DRegKey::SetString(const DString& name, const DString& value) {
  if (!GetHandle()) return false;
  return RegSetValueExA(GetHandle(), name.Text(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.Text()),
                        value.Length() + 1) == ERROR_SUCCESS;
}

int DRegKey::GetInt(const DString& name, int default_value) {
  if (!GetHandle()) return default_value;
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(GetHandle(), name.Text(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      type != REG_DWORD || size != 4) {
    return default_value;
  }
  DWORD v = 0;
  size = 4;
  if (RegQueryValueExA(GetHandle(), name.Text(), nullptr, &type, reinterpret_cast<BYTE*>(&v), &size) !=
      ERROR_SUCCESS) {
    return default_value;
  }
  return static_cast<int>(v);
}

DStringBuffer DRegKey::GetString(const DString& name, const DString& default_value) {
  DStringBuffer result(default_value);
  if (!GetHandle()) return result;
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(GetHandle(), name.Text(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      type != REG_SZ || size == 0) {
    return result;
  }
  DStringBuffer text;
  text.Reserve(size + 1);
  DWORD room = size;
  if (RegQueryValueExA(GetHandle(), name.Text(), nullptr, &type, reinterpret_cast<BYTE*>(text.GetText()),
                       &room) != ERROR_SUCCESS) {
    return result;
  }
  text.GetText()[room] = 0;  // a value stored without its NUL still ends here
  text.UpdateLength();
  return text;
}
