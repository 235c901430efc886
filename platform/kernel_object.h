// Kernel objects behind handles: the handle table shared by files, events and threads (internal).
#pragma once

#include <memory>

#include "platform/kernel.h"

namespace orvane::kernel {

enum class ObjectKind { kFile, kEvent, kThread };

// A kernel object; handles refer to it through the table, so a stale or forged handle is
// simply not found.
class Object {
 public:
  explicit Object(ObjectKind kind) : kind_(kind) {}
  virtual ~Object() = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  ObjectKind kind() const { return kind_; }
  // Waits until the object is signalled: WAIT_OBJECT_0 or WAIT_TIMEOUT; objects that cannot be
  // waited on give WAIT_FAILED.
  virtual DWORD Wait(DWORD milliseconds) {
    (void)milliseconds;
    return WAIT_FAILED;
  }

 private:
  const ObjectKind kind_;
};

// Enters an object into the table and returns its new handle (never 0 or a pseudo handle).
HANDLE Register(std::shared_ptr<Object> object);
// The object of a handle (the current thread's for its pseudo handle), or null.
std::shared_ptr<Object> Lookup(HANDLE handle);
// The object of a handle when it has the given kind, or null with ERROR_INVALID_HANDLE set.
template <class T>
std::shared_ptr<T> LookupAs(HANDLE handle, ObjectKind kind) {
  std::shared_ptr<Object> object = Lookup(handle);
  if (!object || object->kind() != kind) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return std::static_pointer_cast<T>(object);
}
// Removes a handle from the table; false when it was not there.
bool Unregister(HANDLE handle);

// The object of the calling thread (made on first use for threads this layer did not start).
std::shared_ptr<Object> CurrentThreadObject();

// Maps an errno value to the closest last-error code.
DWORD ErrorFromErrno(int error);

}  // namespace orvane::kernel
