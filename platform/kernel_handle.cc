// The handle table, CloseHandle, DuplicateHandle, waits and the per-thread last error.
#include <cerrno>
#include <mutex>
#include <unordered_map>

#include "platform/kernel_object.h"
#include "platform/mmsystem.h"

namespace orvane::kernel {
namespace {

constexpr UINT_PTR kFirstHandle = 0x1000;
const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));
const HANDLE kCurrentThread = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-2));

struct Table {
  std::mutex mutex;
  std::unordered_map<UINT_PTR, std::shared_ptr<Object>> objects;
  UINT_PTR next = kFirstHandle;
};

Table& GetTable() {
  static Table* table = new Table;  // never destroyed: handles may be closed during exit
  return *table;
}

thread_local DWORD last_error = 0;

}  // namespace

HANDLE Register(std::shared_ptr<Object> object) {
  Table& t = GetTable();
  std::lock_guard lock(t.mutex);
  // Handle values are never reused until the counter wraps, so a stale handle finds nothing.
  while (t.next < kFirstHandle || t.objects.count(t.next)) t.next += 4;
  UINT_PTR value = t.next;
  t.next += 4;
  t.objects.emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<Object> Lookup(HANDLE handle) {
  if (handle == kCurrentThread) return CurrentThreadObject();
  Table& t = GetTable();
  std::lock_guard lock(t.mutex);
  auto it = t.objects.find(reinterpret_cast<UINT_PTR>(handle));
  return it == t.objects.end() ? nullptr : it->second;
}

bool Unregister(HANDLE handle) {
  std::shared_ptr<Object> doomed;  // destroyed outside the table's lock
  Table& t = GetTable();
  std::lock_guard lock(t.mutex);
  auto it = t.objects.find(reinterpret_cast<UINT_PTR>(handle));
  if (it == t.objects.end()) return false;
  doomed = std::move(it->second);
  t.objects.erase(it);
  return true;
}

DWORD ErrorFromErrno(int error) {
  switch (error) {
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
      return ERROR_ACCESS_DENIED;
    case EEXIST:
      return ERROR_ALREADY_EXISTS;
    case ENOSPC:
      return ERROR_DISK_FULL;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case EINVAL:
    case ENAMETOOLONG:
      return ERROR_INVALID_PARAMETER;
    default:
      return ERROR_GEN_FAILURE;
  }
}

}  // namespace orvane::kernel

using namespace orvane::kernel;

DWORD GetLastError() {
  return last_error;
}

void SetLastError(DWORD code) {
  last_error = code;
}

HANDLE GetCurrentProcess() {
  return kCurrentProcess;
}

HANDLE GetCurrentThread() {
  return kCurrentThread;
}

BOOL CloseHandle(HANDLE handle) {
  if (handle == kCurrentThread || handle == kCurrentProcess) return TRUE;
  if (!Unregister(handle)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

BOOL DuplicateHandle(HANDLE source_process, HANDLE source, HANDLE target_process, LPHANDLE target,
                     DWORD access, BOOL inherit, DWORD options) {
  (void)access;
  (void)inherit;
  if (source_process != kCurrentProcess || target_process != kCurrentProcess || !target) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::shared_ptr<Object> object = Lookup(source);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *target = Register(std::move(object));
  if (options & DUPLICATE_CLOSE_SOURCE) CloseHandle(source);
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  std::shared_ptr<Object> object = Lookup(handle);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  if (milliseconds != INFINITE && orvane::clock::VirtualWaitHere()) {
    // Under the virtual clock a wait that would time out returns at once, the clock advanced.
    DWORD result = object->Wait(0);
    if (result == WAIT_TIMEOUT) orvane::clock::AdvanceForWait(milliseconds);
    if (result == WAIT_FAILED) SetLastError(ERROR_INVALID_HANDLE);
    return result;
  }
  DWORD result = object->Wait(milliseconds);
  if (result == WAIT_FAILED) SetLastError(ERROR_INVALID_HANDLE);
  return result;
}
