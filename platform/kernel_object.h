// Kernel objects behind handles: the handle table shared by files, events and threads (internal).
#pragma once

#include <memory>

#include "platform/kernel.h"

namespace orvane::kernel {

enum class ObjectKind { kFile, kEvent, kThread, kMutex };

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
  // Takes the object when it is signalled, without waiting: true when it was (an auto-reset
  // event is reset by the take). Objects that cannot be waited on give false.
  virtual bool TryAcquire() { return false; }
  // Whether the object can be waited on at all.
  virtual bool Waitable() const { return false; }

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

// ---- Waiting for any of several objects (and for other conditions, such as a message queue).
// Every change that may end such a wait (an event set, a thread ended, a message posted) calls
// NotifyWaiters, which wakes all multi-object waiters to look again.
void NotifyWaiters();

// Something besides the objects that ends a wait: ready() is tested with the objects; due_in()
// gives the milliseconds until ready() may become true by itself (-1: only through a
// NotifyWaiters); poll(), when set, is called every poll_ms milliseconds while waiting (a host
// whose events must be fetched).
struct WaitCondition {
  bool (*ready)(void* context) = nullptr;
  int (*due_in)(void* context) = nullptr;
  void (*poll)(void* context) = nullptr;
  int poll_ms = 10;
  void* context = nullptr;
};

// Waits until one of the objects can be taken (lowest index first, only that one taken) or the
// condition holds: the object's index, objects.size() for the condition, or WAIT_TIMEOUT after ms
// (INFINITE: no limit). Under the virtual clock a finite wait on the clock's thread does not
// block: it returns WAIT_TIMEOUT at once with the clock advanced by ms.
DWORD WaitAny(const std::shared_ptr<Object>* objects, DWORD count, DWORD ms, const WaitCondition* condition);

}  // namespace orvane::kernel
