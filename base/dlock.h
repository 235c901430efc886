// DLock: a recursive lock whose critical section is made on first use.
#pragma once

#include <cstdint>

#include "base/dobject.h"
#include "platform/kernel.h"

// A lock that touches the operating system only when first entered or left, so locks can live in
// globals, arrays and objects made before the program entry. The owning thread may enter it
// again; every Enter needs one Leave. The first Enter must not race another first Enter.
// A lock is neither copied nor moved (its critical section is tied to its address).
class DLock : public DObject {
 public:
  DLock() = default;
  DLock(const DLock&) = delete;
  DLock& operator=(const DLock&) = delete;
  // Deletes the critical section if it was ever made.
  ~DLock() override;

  // Makes the section if needed, then enters it.
  void Enter();
  // Makes the section if needed, then leaves it.
  void Leave();
  // Deletes the section if it was made; the next Enter makes it anew. Always true.
  bool Delete();
  // True once the section has been made and until it is deleted.
  bool IsReady() const { return ready_ != 0; }

 private:
  void Prepare();

  uint8_t ready_ = 0;         // 1 while the critical section is initialised
  CRITICAL_SECTION section_;  // the platform's recursive lock
};

// Holds a lock for the life of a scope.
class DLockGuard {
 public:
  explicit DLockGuard(DLock& lock) : lock_(lock) { lock_.Enter(); }
  DLockGuard(const DLockGuard&) = delete;
  DLockGuard& operator=(const DLockGuard&) = delete;
  ~DLockGuard() { lock_.Leave(); }

 private:
  DLock& lock_;
};
