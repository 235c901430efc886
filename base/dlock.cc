// DLock: the critical section is made lazily on the first Enter or Leave.
#include "base/dlock.h"

DLock::~DLock() {
  Delete();
}

void DLock::Prepare() {
  if (!ready_) {
    InitializeCriticalSection(&section_);
    ready_ = 1;
  }
}

void DLock::Enter() {
  Prepare();
  EnterCriticalSection(&section_);
}

void DLock::Leave() {
  Prepare();
  LeaveCriticalSection(&section_);
}

bool DLock::Delete() {
  if (ready_) {
    DeleteCriticalSection(&section_);
    ready_ = 0;
  }
  return true;
}
