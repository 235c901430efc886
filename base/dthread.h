// Kernel handle wrappers: DKernelHandle, DEvent and the thread object DThread.
#pragma once

#include <cstdint>

#include "base/dobject.h"
#include "base/dref.h"
#include "base/dstring.h"
#include "platform/kernel.h"

// One waitable kernel handle, held directly (not shared) and closed by the destructor.
class DKernelHandle : public DObject {
 public:
  DKernelHandle() = default;
  DKernelHandle(const DKernelHandle&) = delete;
  DKernelHandle& operator=(const DKernelHandle&) = delete;
  ~DKernelHandle() override;

  // Closes the handle when one is held; true.
  virtual bool Close();
  // True when the object is not signalled (or the wait fails); never waits.
  virtual bool Poll();
  // WaitForSingleObject's result: WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED.
  virtual DWORD Wait(DWORD milliseconds);
  // Does nothing for a bare handle.
  virtual void Signal() {}

  HANDLE GetHandle() const { return handle_; }

 protected:
  HANDLE handle_ = nullptr;
};

// An event that worker threads and the main thread signal and wait on.
class DEvent : public DKernelHandle {
 public:
  // Makes the event; false when one is already held or the system fails.
  virtual bool Create(bool initial_state, bool manual_reset, const DString& name = DString(),
                      SECURITY_ATTRIBUTES* security = nullptr);
  virtual bool Set();
  virtual bool Reset();
  // Releases the threads waiting now and leaves the event reset.
  virtual bool Pulse();
  void Signal() override { Set(); }
};

// The function a thread runs: its result becomes the thread's exit code.
using DThreadFunction = unsigned (*)(void* argument);

// A thread object. Copies share the thread handle and are not owners; the owner (the object that
// started or attached the thread) closes the handle when released. Releasing never waits for or
// stops the thread.
class DThread : public DObject {
 public:
  DThread() = default;
  DThread(const DThread& other) { *this = other; }
  // A bare thread id or handle cannot be turned into a shared handle: logs and stays empty.
  explicit DThread(DWORD thread_id);
  explicit DThread(HANDLE handle);
  ~DThread() override { Release(); }

  // Releases this object's thread, then shares the other's handle; not owner.
  DThread& operator=(const DThread& other);
  // Refused with a log line; the object is left unchanged.
  DThread& operator=(DWORD thread_id);
  DThread& operator=(HANDLE handle);

  // Starts function(argument) on a new thread; false when this object holds a thread already or
  // the system fails.
  bool Create(DThreadFunction function, void* argument);
  // Takes a handle of the calling thread; false when this object holds a thread already.
  bool AttachCurrent();
  // Closes the handle (for every copy sharing it); false when there was none.
  bool Close();
  // Close when owner, then drops this object's share of the handle.
  void Release();

  HANDLE GetHandle() const { return handle_ ? *handle_ : nullptr; }
  DWORD GetThreadId() const { return thread_id_; }
  bool IsOwner() const { return owned_ != 0; }

  // These have no safe form on this platform: they fail and write a line to the debug log.
  bool Terminate(DWORD exit_code);
  DWORD Suspend();
  DWORD Resume();

  bool SetPriority(int priority);
  int GetPriority() const;
  // The thread's exit code (STILL_ACTIVE while it runs); 0 with the last error set on an empty
  // object or a failed query.
  DWORD GetExitCode() const;
  bool AttachInput(const DThread& other);
  bool DetachInput(const DThread& other);

 private:
  DRef<HANDLE> handle_;  // shared by copies; its value is 0 once closed
  DWORD thread_id_ = 0;
  uint8_t owned_ = 0;  // this object closes the handle on release
};
