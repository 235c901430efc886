// Critical sections on recursive pthread mutexes.
#include <pthread.h>

#include <new>

#include "platform/kernel.h"

static_assert(sizeof(pthread_mutex_t) <= sizeof(CRITICAL_SECTION::opaque), "mutex does not fit");

namespace {
pthread_mutex_t* Mutex(LPCRITICAL_SECTION cs) { return reinterpret_cast<pthread_mutex_t*>(cs->opaque); }
}  // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION cs) {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(new (cs->opaque) pthread_mutex_t, &attr);
  pthread_mutexattr_destroy(&attr);
}

void EnterCriticalSection(LPCRITICAL_SECTION cs) { pthread_mutex_lock(Mutex(cs)); }

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs) { return pthread_mutex_trylock(Mutex(cs)) == 0 ? TRUE : FALSE; }

void LeaveCriticalSection(LPCRITICAL_SECTION cs) { pthread_mutex_unlock(Mutex(cs)); }

void DeleteCriticalSection(LPCRITICAL_SECTION cs) { pthread_mutex_destroy(Mutex(cs)); }
