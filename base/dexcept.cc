// DExcept: the exception base with its fixed message buffer.
#include "base/dexcept.h"

#include <cstring>

namespace aqtl {

DExcept::DExcept(const DString& message) {
  DString::CopyTo(message, message_, sizeof message_);
}

bool DExcept::operator==(const DString& text) const {
  return DString::CompareNoCase(DString(message_), text) == 0;
}

}  // namespace aqtl
