// DKernelHandle, DEvent and DThread over the platform's kernel objects.
#include "base/dthread.h"

#include "base/dlogstream.h"

DKernelHandle::~DKernelHandle() {
  DKernelHandle::Close();
}

bool DKernelHandle::Close() {
  if (handle_) CloseHandle(handle_);
  handle_ = nullptr;
  return true;
}

bool DKernelHandle::Poll() {
  return WaitForSingleObject(handle_, 0) != WAIT_OBJECT_0;
}

DWORD DKernelHandle::Wait(DWORD milliseconds) {
  return WaitForSingleObject(handle_, milliseconds);
}

bool DEvent::Create(bool initial_state, bool manual_reset, const DString& name,
                    SECURITY_ATTRIBUTES* security) {
  if (handle_) return false;
  handle_ = CreateEventA(security, manual_reset, initial_state, name.Get());
  return handle_ != nullptr;
}

bool DEvent::Set() {
  return SetEvent(handle_) != FALSE;
}

bool DEvent::Reset() {
  return ResetEvent(handle_) != FALSE;
}

bool DEvent::Pulse() {
  return PulseEvent(handle_) != FALSE;
}

DThread::DThread(DWORD thread_id) {
  *this = thread_id;
}

DThread::DThread(HANDLE handle) {
  *this = handle;
}

DThread& DThread::operator=(const DThread& other) {
  if (this == &other) return *this;
  if (handle_ && handle_ == other.handle_) {
    // Already sharing this thread: releasing first would close the handle under every copy.
    thread_id_ = other.thread_id_;
    return *this;
  }
  DRef<HANDLE> shared = other.handle_;
  DWORD id = other.thread_id_;
  Release();
  handle_ = shared;
  thread_id_ = id;
  owned_ = 0;
  return *this;
}

DThread& DThread::operator=(DWORD thread_id) {
  (void)thread_id;
  DDebugLog() << "[DThread::operator=] Can't duplicate from an only Thread ID\r\n";
  return *this;
}

DThread& DThread::operator=(HANDLE handle) {
  (void)handle;
  DDebugLog() << "[DThread::operator=] Can't duplicate from an only HANDLE\r\n";
  return *this;
}

bool DThread::Create(DThreadFunction function, void* argument) {
  if (handle_ || !function) return false;
  DRef<HANDLE> record;
  record.Alloc(1);
  unsigned id = 0;
  UINT_PTR thread = _beginthreadex(nullptr, 0, function, argument, 0, &id);
  if (!thread) return false;
  *record = reinterpret_cast<HANDLE>(thread);
  handle_ = record;
  thread_id_ = id;
  owned_ = 1;
  return true;
}

bool DThread::AttachCurrent() {
  if (handle_) return false;
  DRef<HANDLE> record;
  record.Alloc(1);
  HANDLE h = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &h, 0, FALSE,
                       DUPLICATE_SAME_ACCESS))
    return false;
  *record = h;
  handle_ = record;
  thread_id_ = GetCurrentThreadId();
  owned_ = 1;
  return true;
}

bool DThread::Close() {
  if (!handle_) return false;
  if (*handle_) CloseHandle(*handle_);
  *handle_ = nullptr;  // copies sharing the record see the handle gone
  handle_.Release();
  thread_id_ = 0;
  owned_ = 0;
  return true;
}

void DThread::Release() {
  if (owned_) Close();
  handle_.Release();
  thread_id_ = 0;
  owned_ = 0;
}

namespace {

// The platform refuses these operations; the refusal goes to the debug log (file and debugger).
void LogRefusal(const char* operation) {
  if (GetLastError() == ERROR_NOT_SUPPORTED)
    DDebugLog() << "[DThread::" << operation << "] not supported on this platform.\n";
}

}  // namespace

bool DThread::Terminate(DWORD exit_code) {
  if (TerminateThread(GetHandle(), exit_code)) return true;
  LogRefusal("Terminate");
  return false;
}

DWORD DThread::Suspend() {
  DWORD count = SuspendThread(GetHandle());
  if (count == static_cast<DWORD>(-1)) LogRefusal("Suspend");
  return count;
}

DWORD DThread::Resume() {
  DWORD count = ResumeThread(GetHandle());
  if (count == static_cast<DWORD>(-1)) LogRefusal("Resume");
  return count;
}

bool DThread::SetPriority(int priority) {
  return SetThreadPriority(GetHandle(), priority) != FALSE;
}

int DThread::GetPriority() const {
  return GetThreadPriority(GetHandle());
}

DWORD DThread::GetExitCode() const {
  if (!GetHandle()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  DWORD code = 0;
  if (!GetExitCodeThread(GetHandle(), &code)) return 0;  // the query set the last error
  return code;
}

bool DThread::AttachInput(const DThread& other) {
  return AttachThreadInput(other.thread_id_, thread_id_, TRUE) != FALSE;
}

bool DThread::DetachInput(const DThread& other) {
  return AttachThreadInput(other.thread_id_, thread_id_, FALSE) != FALSE;
}
