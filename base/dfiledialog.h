// DFileDialog: the system's open and save file dialogs over one block and a file-name buffer.
#pragma once

#include "base/dobject.h"
#include "base/dstring.h"
#include "base/dwindow.h"
#include "platform/win32.h"

class DFileDialog : public DObject {
 public:
  // An empty file name; the block is set by Init.
  DFileDialog();
  DFileDialog(const DWindow& owner, const DString& filter, DWORD filter_index, const DString& initial_file,
              const DString& initial_dir, const DString& default_ext, DWORD flags);
  // Through Assign: the copy's block points at the copy's own buffer.
  DFileDialog(const DFileDialog& other);
  DFileDialog& operator=(const DFileDialog& other);

  virtual OPENFILENAMEA* GetOfn();
  virtual const OPENFILENAMEA* GetOfn() const;
  virtual void Assign(const DFileDialog& other);
  // Sets the block. The filter, initial directory and default extension are borrowed: their
  // texts must stay valid until Open or Save returns. The initial file is copied into the
  // buffer, cut at a character boundary to 263 bytes.
  virtual void Init(const DWindow& owner, const DString& filter, DWORD filter_index,
                    const DString& initial_file, const DString& initial_dir, const DString& default_ext,
                    DWORD flags);
  // True when the user chose a file (then in the buffer); false on a cancel or a failure, the
  // buffer keeping its text.
  virtual bool Open();
  virtual bool Save();
  virtual DStringBuffer GetFileName();

 private:
  OPENFILENAMEA ofn_;
  char file_[264];
};
