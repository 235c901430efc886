// DProfile: private-profile sections through the settings interface.
#include "base/dprofile.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

DProfile::DProfile() {
  file_[0] = 0;
  section_[0] = 0;
}

DProfile::DProfile(const DString& file, const DString& section) : DProfile() {
  Open(file, section);
}

DProfile::DProfile(const DProfile& other) : DRegKey(), file_{}, section_{} {
  if (other.IsOpen()) Open(other.file_, other.section_);
}

DProfile& DProfile::operator=(const DProfile& other) {
  if (this == &other) return *this;
  Release();
  Open(other.file_, other.section_);
  return *this;
}

DProfile::~DProfile() {
  DProfile::Close();
}

bool DProfile::Open(const DString& file, const DString& section) {
  if (file_[0]) return false;
  // Names that do not fit their fields are refused rather than overrun them.
  if (file.Length() >= sizeof(file_) || section.Length() >= sizeof(section_)) return false;
  std::memcpy(file_, file.Text(), file.Length() + 1);
  std::memcpy(section_, section.Text(), section.Length() + 1);
  return true;
}

void DProfile::Release() {
  Close();
}

bool DProfile::Close() {
  if (!file_[0]) return false;
  file_[0] = 0;
  return true;
}

bool DProfile::SetInt(const DString& name, int value) {
  if (!file_[0] || !section_[0]) return false;
  char text[16];
  std::snprintf(text, sizeof(text), "%d", value);
  return WritePrivateProfileStringA(section_, name.Text(), text, file_) != FALSE;
}

bool DProfile::SetString(const DString& name, const DString& value) {
  if (!file_[0] || !section_[0]) return false;
  return WritePrivateProfileStringA(section_, name.Text(), value.Text(), file_) != FALSE;
}

int DProfile::GetInt(const DString& name, int default_value) {
  if (!file_[0] || !section_[0]) return default_value;
  char buf[256];
  std::snprintf(buf, sizeof(buf), "%d", default_value);
  GetPrivateProfileStringA(section_, name.Text(), buf, buf, sizeof(buf), file_);
  return std::atoi(buf);
}

DStringBuffer DProfile::GetString(const DString& name, const DString& default_value) {
  if (!file_[0] || !section_[0]) return DStringBuffer(default_value);
  char fixed[256];
  DWORD n =
      GetPrivateProfileStringA(section_, name.Text(), default_value.Text(), fixed, sizeof(fixed), file_);
  if (n < sizeof(fixed) - 1) return DStringBuffer(fixed);
  // Cut: read again with 256 more bytes each time until the value fits.
  std::vector<char> grown;
  for (DWORD size = 512;; size += 256) {
    grown.assign(size, 0);
    n = GetPrivateProfileStringA(section_, name.Text(), default_value.Text(), grown.data(), size, file_);
    if (n < size - 1) return DStringBuffer(grown.data());
  }
}
