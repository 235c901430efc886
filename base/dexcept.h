// DExcept and DExceptFile: the library's exceptions, carrying a fixed 256-byte message.
#pragma once

#include "base/dobject.h"
#include "base/dstring.h"

namespace aqtl {

// The library's exception base: a message of at most 255 bytes and a NUL. Thrown by value.
class DExcept : public DObject {
 public:
  // Copies the text; a text of 256 bytes or more is cut to 255.
  explicit DExcept(const DString& message);
  DExcept(const DExcept&) = default;
  DExcept& operator=(const DExcept&) = default;
  ~DExcept() override = default;

  const char* GetMessage() const { return message_; }
  // The message compared with the text ignoring ASCII case (same length required).
  bool operator==(const DString& text) const;
  bool operator!=(const DString& text) const { return !(*this == text); }

 private:
  char message_[256];
};

// The exception of failing file operations; its message is always "DExceptFile".
class DExceptFile : public DExcept {
 public:
  DExceptFile() : DExcept(DString("DExceptFile")) {}
};

}  // namespace aqtl

using aqtl::DExcept;
using aqtl::DExceptFile;
