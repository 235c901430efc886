// DProfile: a section of a private profile (.ini) file behind the library's settings interface.
#pragma once

#include "base/dregkey.h"

// A profile is open while its file name is set; every operation goes to the system's
// private-profile functions with the two names (no file is held open).
class DProfile : public DRegKey {
 public:
  DProfile();
  // Opens (file, section) as Open does.
  DProfile(const DString& file, const DString& section);
  // An empty profile, then Open with the other's names.
  DProfile(const DProfile& other);
  // Release, then Open with the other's names.
  DProfile& operator=(const DProfile& other);
  ~DProfile() override;

  // Sets both names; false when a file name is already set, or when a name does not fit its
  // 264-byte field (263 bytes and a NUL). An empty section is accepted; every read then gives
  // its default and every write false.
  bool Open(const DString& file, const DString& section);
  // The registry form stays reachable: it opens a key that the profile's reads and writes ignore.
  using DRegKey::Open;
  void Release() override;
  // Empties the file name (the section name stays); false when none is set.
  bool Close() override;
  bool SetInt(const DString& name, int value) override;
  bool SetString(const DString& name, const DString& value) override;
  // The leading digits of the stored text (atoi), the default when the key is missing.
  int GetInt(const DString& name, int default_value) override;
  // Reads with a 256-byte buffer, then 512, 768 ... until the value fits.
  DStringBuffer GetString(const DString& name, const DString& default_value) override;

  const char* GetFileName() const { return file_; }
  const char* GetSectionName() const { return section_; }
  bool IsOpen() const { return file_[0] != 0; }

 private:
  char file_[264];
  char section_[264];
};
