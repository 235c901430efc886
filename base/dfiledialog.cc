// DFileDialog: the open and save dialogs over the library's own file-name buffer.
#include "base/dfiledialog.h"

#include <cstring>

DFileDialog::DFileDialog() {
  std::memset(&ofn_, 0, sizeof(ofn_));
  file_[0] = 0;
}

DFileDialog::DFileDialog(const DWindow& owner, const DString& filter, DWORD filter_index,
                         const DString& initial_file, const DString& initial_dir, const DString& default_ext,
                         DWORD flags)
    : DFileDialog() {
  Init(owner, filter, filter_index, initial_file, initial_dir, default_ext, flags);
}

DFileDialog::DFileDialog(const DFileDialog& other) : DFileDialog() {
  Assign(other);
}

DFileDialog& DFileDialog::operator=(const DFileDialog& other) {
  if (this != &other) Assign(other);
  return *this;
}

OPENFILENAMEA* DFileDialog::GetOfn() {
  return &ofn_;
}
const OPENFILENAMEA* DFileDialog::GetOfn() const {
  return &ofn_;
}

void DFileDialog::Assign(const DFileDialog& other) {
  ofn_ = other.ofn_;
  std::memcpy(file_, other.file_, sizeof(file_));
  if (ofn_.lpstrFile) ofn_.lpstrFile = file_;
}

void DFileDialog::Init(const DWindow& owner, const DString& filter, DWORD filter_index,
                       const DString& initial_file, const DString& initial_dir, const DString& default_ext,
                       DWORD flags) {
  std::memset(&ofn_, 0, sizeof(ofn_));
  ofn_.lStructSize = sizeof(OPENFILENAMEA);
  ofn_.hwndOwner = owner.GetHandle();
  ofn_.lpstrFilter = filter.Get() ? filter.Text() : nullptr;
  ofn_.nFilterIndex = filter_index;
  // Copy at most 263 bytes without splitting a double-byte character.
  const char* text = initial_file.Text();
  size_t n = 0;
  while (text[n]) {
    size_t step = DIsLeadByte(text[n]) && text[n + 1] ? 2 : 1;
    if (n + step > sizeof(file_) - 1) break;
    n += step;
  }
  std::memcpy(file_, text, n);
  file_[n] = 0;
  ofn_.lpstrFile = file_;
  ofn_.nMaxFile = sizeof(file_);
  ofn_.lpstrInitialDir = initial_dir.Get() ? initial_dir.Text() : nullptr;
  ofn_.lpstrDefExt = default_ext.Get() ? default_ext.Text() : nullptr;
  ofn_.Flags = flags;
}

bool DFileDialog::Open() {
  return GetOpenFileNameA(&ofn_) != FALSE;
}

bool DFileDialog::Save() {
  return GetSaveFileNameA(&ofn_) != FALSE;
}

DStringBuffer DFileDialog::GetFileName() {
  return DStringBuffer(static_cast<const char*>(file_));
}
