// DRegKey: an open registry key behind the library's settings interface.
#pragma once

#include <cstdint>

#include "base/dobject.h"
#include "base/dref.h"
#include "base/dstring.h"
#include "platform/win32.h"

// The settings interface shared with DProfile: open, release, close, write and read integers and
// strings. Reads never fail (a missing key or value, or one of another type, gives the default);
// writes give false when the store is not open or the system refuses.
class DRegKey : public DObject {
 public:
  DRegKey() = default;
  // Opens (root, path) as Open does.
  DRegKey(HKEY root, const DString& path);
  // Over an existing key, not owner.
  explicit DRegKey(HKEY key);
  DRegKey(const DRegKey& other);
  DRegKey& operator=(const DRegKey& other);
  ~DRegKey() override;

  // Opens or creates the key with full access; false when a key is held or the system fails.
  virtual bool Open(HKEY root, const DString& path);
  virtual void Release();
  virtual bool Close();
  virtual bool SetInt(const DString& name, int value);
  virtual bool SetString(const DString& name, const DString& value);
  // A REG_DWORD value of 4 bytes, else the default.
  virtual int GetInt(const DString& name, int default_value);
  // A REG_SZ value of non-zero size (its text up to the first NUL), else the default's text.
  virtual DStringBuffer GetString(const DString& name, const DString& default_value);

  HKEY GetHandle() const { return key_ ? *key_ : nullptr; }

 protected:
  DRef<HKEY> key_;
  uint8_t owned_ = 0;
};
