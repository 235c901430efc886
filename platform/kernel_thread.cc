// Events, threads and their waits on pthreads, with thread ids and priorities kept by this layer.
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>

#include "platform/clock.h"
#include "platform/kernel_object.h"

namespace orvane::kernel {
namespace {

// Waits on cv until ready() holds; false when the time-out passed first.
template <class Ready>
bool WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, DWORD milliseconds,
             Ready ready) {
  std::int64_t ns = milliseconds == INFINITE ? -1 : static_cast<std::int64_t>(milliseconds) * 1000000;
  return orvane::WaitForNs(cv, lock, ns, ready);
}

class EventObject : public Object {
 public:
  EventObject(bool manual, bool signalled)
      : Object(ObjectKind::kEvent), manual_(manual), signalled_(signalled) {}

  void Set() {
    {
      std::lock_guard lock(mutex_);
      signalled_ = true;
      if (manual_) {
        cv_.notify_all();
      } else {
        cv_.notify_one();
      }
    }
    NotifyWaiters();
  }

  bool TryAcquire() override {
    std::lock_guard lock(mutex_);
    if (!signalled_) return false;
    if (!manual_) signalled_ = false;
    return true;
  }
  bool Waitable() const override { return true; }

  void Reset() {
    std::lock_guard lock(mutex_);
    signalled_ = false;
  }

  // Every waiter holds a ticket; a pulse releases the tickets issued before it (all of them for a
  // manual-reset event, the first to wake for an auto-reset one) and leaves the event reset.
  void Pulse() {
    std::lock_guard lock(mutex_);
    signalled_ = false;
    if (waiters_ == 0) return;
    pulse_limit_ = next_ticket_;
    pulse_left_ = manual_ ? waiters_ : std::min(pulse_left_ + 1, waiters_);
    cv_.notify_all();
  }

  DWORD Wait(DWORD milliseconds) override {
    std::unique_lock lock(mutex_);
    std::uint64_t ticket = next_ticket_++;
    ++waiters_;
    bool by_pulse = false;
    bool woke = WaitFor(cv_, lock, milliseconds, [&] {
      if (signalled_) return true;
      by_pulse = ticket < pulse_limit_ && pulse_left_ > 0;
      return by_pulse;
    });
    if (woke && by_pulse) {
      --pulse_left_;
    } else if (woke && !manual_) {
      signalled_ = false;
    }
    if (--waiters_ == 0) pulse_left_ = 0;  // nobody is left for an earlier pulse
    return woke ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
  }

 private:
  const bool manual_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool signalled_;
  std::uint64_t next_ticket_ = 0;  // ticket of the next waiter
  std::uint64_t pulse_limit_ = 0;  // waiters with a smaller ticket may leave by the last pulse
  std::uint64_t pulse_left_ = 0;   // how many more waiters the last pulse releases
  std::uint64_t waiters_ = 0;
};

std::atomic<DWORD> next_thread_id{1};

class ThreadObject : public Object {
 public:
  ThreadObject() : Object(ObjectKind::kThread), id(next_thread_id.fetch_add(1)) {}

  DWORD Wait(DWORD milliseconds) override {
    std::unique_lock lock(mutex);
    return WaitFor(cv, lock, milliseconds, [&] { return done; }) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
  }

  bool TryAcquire() override {
    std::lock_guard lock(mutex);
    return done;
  }
  bool Waitable() const override { return true; }

  void Finish(DWORD code) {
    {
      std::lock_guard lock(mutex);
      if (done) return;
      done = true;
      exit_code = code;
      cv.notify_all();
    }
    NotifyWaiters();
  }

  const DWORD id;
  std::mutex mutex;
  std::condition_variable cv;
  bool done = false;
  DWORD exit_code = STILL_ACTIVE;
  std::atomic<int> priority{THREAD_PRIORITY_NORMAL};
};

// The calling thread's object; a thread that ends without returning through the start routine
// is marked ended with exit code 0 when its thread-local storage goes.
struct CurrentThread {
  std::shared_ptr<ThreadObject> object;
  ~CurrentThread() {
    if (object) object->Finish(0);
  }
};
thread_local CurrentThread current_thread;

ThreadObject& Current() {
  if (!current_thread.object) current_thread.object = std::make_shared<ThreadObject>();
  return *current_thread.object;
}

struct StartRecord {
  std::shared_ptr<ThreadObject> object;
  unsigned (*start)(void*);
  void* argument;
};

void* ThreadMain(void* raw) {
  StartRecord* record = static_cast<StartRecord*>(raw);
  std::shared_ptr<ThreadObject> object = std::move(record->object);
  unsigned (*start)(void*) = record->start;
  void* argument = record->argument;
  delete record;
  current_thread.object = object;
  unsigned code = start(argument);
  object->Finish(code);
  return nullptr;
}

std::mutex names_mutex;
std::map<std::string, std::weak_ptr<EventObject>>& EventNames() {
  static auto* names = new std::map<std::string, std::weak_ptr<EventObject>>;
  return *names;
}

std::shared_ptr<EventObject> GetEvent(HANDLE h) {
  return LookupAs<EventObject>(h, ObjectKind::kEvent);
}
std::shared_ptr<ThreadObject> GetThread(HANDLE h) {
  return LookupAs<ThreadObject>(h, ObjectKind::kThread);
}

// The refusal is the caller's to report (DThread writes it to the debug log).
void LogRefusal(const char*) {
  SetLastError(ERROR_NOT_SUPPORTED);
}

}  // namespace

std::shared_ptr<Object> CurrentThreadObject() {
  Current();
  return current_thread.object;
}

}  // namespace orvane::kernel

using namespace orvane::kernel;

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manual_reset, BOOL initial_state, LPCSTR name) {
  (void)security;
  if (!name || !*name) return Register(std::make_shared<EventObject>(manual_reset, initial_state));
  std::lock_guard lock(names_mutex);
  auto& names = EventNames();
  std::shared_ptr<EventObject> event = names[name].lock();
  if (event) {
    HANDLE h = Register(event);
    SetLastError(ERROR_ALREADY_EXISTS);
    return h;
  }
  // Forget names whose events are gone, so the map does not grow without bound.
  for (auto it = names.begin(); it != names.end();)
    it = it->second.expired() ? names.erase(it) : std::next(it);
  event = std::make_shared<EventObject>(manual_reset, initial_state);
  names[name] = event;
  HANDLE h = Register(event);
  SetLastError(0);
  return h;
}

BOOL SetEvent(HANDLE event) {
  auto e = GetEvent(event);
  if (!e) return FALSE;
  e->Set();
  return TRUE;
}

BOOL ResetEvent(HANDLE event) {
  auto e = GetEvent(event);
  if (!e) return FALSE;
  e->Reset();
  return TRUE;
}

BOOL PulseEvent(HANDLE event) {
  auto e = GetEvent(event);
  if (!e) return FALSE;
  e->Pulse();
  return TRUE;
}

UINT_PTR _beginthreadex(void* security, unsigned stack_size, unsigned (*start)(void*), void* argument,
                        unsigned flags, unsigned* thread_id) {
  (void)security;
  if (!start || (flags & CREATE_SUSPENDED)) {
    errno = EINVAL;
    return 0;
  }
  auto object = std::make_shared<ThreadObject>();
  HANDLE h = Register(object);
  if (thread_id) *thread_id = object->id;
  auto* record = new StartRecord{object, start, argument};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  if (stack_size) pthread_attr_setstacksize(&attr, stack_size < 65536 ? 65536 : stack_size);
  pthread_t thread;
  int error = pthread_create(&thread, &attr, ThreadMain, record);
  pthread_attr_destroy(&attr);
  if (error != 0) {
    delete record;
    Unregister(h);
    errno = error;
    return 0;
  }
  return reinterpret_cast<UINT_PTR>(h);
}

DWORD GetCurrentThreadId() {
  return Current().id;
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD code) {
  auto t = GetThread(thread);
  if (!t || !code) {
    if (t) SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard lock(t->mutex);
  *code = t->exit_code;
  return TRUE;
}

BOOL SetThreadPriority(HANDLE thread, int priority) {
  auto t = GetThread(thread);
  if (!t) return FALSE;
  bool valid = (priority >= THREAD_PRIORITY_LOWEST && priority <= THREAD_PRIORITY_HIGHEST) ||
               priority == THREAD_PRIORITY_IDLE || priority == THREAD_PRIORITY_TIME_CRITICAL;
  if (!valid) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  t->priority = priority;
  return TRUE;
}

int GetThreadPriority(HANDLE thread) {
  auto t = GetThread(thread);
  return t ? t->priority.load() : THREAD_PRIORITY_ERROR_RETURN;
}

BOOL TerminateThread(HANDLE thread, DWORD exit_code) {
  (void)thread;
  (void)exit_code;
  LogRefusal("TerminateThread");
  return FALSE;
}

DWORD SuspendThread(HANDLE thread) {
  (void)thread;
  LogRefusal("SuspendThread");
  return static_cast<DWORD>(-1);
}

DWORD ResumeThread(HANDLE thread) {
  (void)thread;
  LogRefusal("ResumeThread");
  return static_cast<DWORD>(-1);
}

BOOL AttachThreadInput(DWORD attach_id, DWORD attach_to_id, BOOL attach) {
  (void)attach_id;
  (void)attach_to_id;
  (void)attach;
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}
