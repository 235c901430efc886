// Root class of the library's class tree: a virtual destructor and nothing else.
#pragma once

namespace aqtl {

// Every library class with virtual operations derives from DObject, so an object (or an array of
// objects) can always be destroyed through a DObject pointer by its dynamic type's destructor.
class DObject {
 public:
  DObject() = default;
  DObject(const DObject&) = default;
  DObject& operator=(const DObject&) = default;
  virtual ~DObject() = default;
};

}  // namespace aqtl

using aqtl::DObject;
