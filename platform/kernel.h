// Kernel interfaces: files, memory, threads, events, critical sections, time, modules' paths.
#pragma once

#include "platform/wintypes.h"

#define ORVANE_API extern "C" __attribute__((visibility("default")))

// ---- Critical sections: recursive locks owned by one thread at a time.
// The storage is opaque and large enough for a recursive pthread mutex; it must not be copied
// or moved while initialised.
struct CRITICAL_SECTION {
  alignas(16) unsigned char opaque[64];
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;

// Makes the section usable; the same thread may then enter it any number of times.
ORVANE_API void InitializeCriticalSection(LPCRITICAL_SECTION cs);
// Blocks until the calling thread owns the section; counts nested entries by the owner.
ORVANE_API void EnterCriticalSection(LPCRITICAL_SECTION cs);
// Takes the section without waiting: TRUE when the calling thread now owns it.
ORVANE_API BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs);
// Undoes one EnterCriticalSection of the owner.
ORVANE_API void LeaveCriticalSection(LPCRITICAL_SECTION cs);
// Releases the section's resources; it must not be owned.
ORVANE_API void DeleteCriticalSection(LPCRITICAL_SECTION cs);

// ---- Last error: one code per thread, set by the failing calls below.
#define ERROR_SUCCESS 0u
#define NO_ERROR 0u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_PATH_NOT_FOUND 3u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_HANDLE_EOF 38u
#define ERROR_NOT_SUPPORTED 50u
#define ERROR_FILE_EXISTS 80u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_DISK_FULL 112u
#define ERROR_CALL_NOT_IMPLEMENTED 120u
#define ERROR_INSUFFICIENT_BUFFER 122u
#define ERROR_NEGATIVE_SEEK 131u
#define ERROR_ALREADY_EXISTS 183u
#define ERROR_ARITHMETIC_OVERFLOW 534u
#define ERROR_GEN_FAILURE 31u

// The calling thread's last error code.
ORVANE_API DWORD GetLastError();
ORVANE_API void SetLastError(DWORD code);

// ---- Kernel handles. Every handle below (files, events, threads) is closed with CloseHandle;
// a handle that was never returned or is already closed gives FALSE and ERROR_INVALID_HANDLE,
// never a crash. An object lives until its last handle is closed (and a thread until it ends).
struct SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;
using LPHANDLE = HANDLE*;

ORVANE_API BOOL CloseHandle(HANDLE handle);

// Pseudo handles of the calling process and thread; valid only in the calling thread.
ORVANE_API HANDLE GetCurrentProcess();
ORVANE_API HANDLE GetCurrentThread();
#define DUPLICATE_CLOSE_SOURCE 0x00000001u
#define DUPLICATE_SAME_ACCESS 0x00000002u
// Makes a second handle to the same object (within this process only); the pseudo handle of
// the current thread becomes a real handle to it.
ORVANE_API BOOL DuplicateHandle(HANDLE source_process, HANDLE source, HANDLE target_process, LPHANDLE target,
                                DWORD access, BOOL inherit, DWORD options);

// ---- Files. Every handle keeps its own file pointer; reads and writes transfer at that
// pointer with pread/pwrite, so handles and threads never move each other's positions.
// Sharing modes are accepted and not enforced (the host has no mandatory sharing).
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define TRUNCATE_EXISTING 5u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_BEGIN 0u
#define FILE_CURRENT 1u
#define FILE_END 2u
#define INVALID_SET_FILE_POINTER 0xFFFFFFFFu
#define INVALID_FILE_SIZE 0xFFFFFFFFu

struct OVERLAPPED {
  ULONG_PTR Internal;
  ULONG_PTR InternalHigh;
  DWORD Offset;  // with OffsetHigh: where the transfer happens; the file pointer ends after it
  DWORD OffsetHigh;
  HANDLE hEvent;  // ignored: every transfer completes before the call returns
};
using LPOVERLAPPED = OVERLAPPED*;

// Opens or creates a file named by a cp932 path (see platform/hostpath.h); directories are
// refused. Returns INVALID_HANDLE_VALUE on failure; CREATE_ALWAYS and OPEN_ALWAYS set
// ERROR_ALREADY_EXISTS when the file existed.
ORVANE_API HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                              DWORD creation, DWORD flags, HANDLE template_file);

namespace orvane::kernel {
// A watcher of file opens (the headless input script's file trace): called after every
// CreateFileA with the cp932 name, the host path it became ("" when it has none) and the error
// code of a failure (0: opened). Null: none. The caller's last error stays as the open set it.
__attribute__((visibility("default"))) void SetFileOpenWatcher(void (*watch)(const char* name, const char* host,
                                                                            DWORD error));
}  // namespace orvane::kernel

// Reads up to count bytes at the file pointer (or the overlapped offset); *done gets the count
// read, 0 at the end of the file. FALSE on an I/O error or without read access.
ORVANE_API BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED overlapped);
// Writes count bytes at the file pointer (or the overlapped offset), extending the file as needed.
// A short write (disk full) returns FALSE with *done holding what was written.
ORVANE_API BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED overlapped);
// Moves the file pointer; returns its new low 32 bits (the high ones in *high when given).
// A position before the start fails with ERROR_NEGATIVE_SEEK and leaves the pointer. Without
// *high the distance is a signed 32-bit value and a result that does not fit 32 bits fails.
ORVANE_API DWORD SetFilePointer(HANDLE file, LONG distance, LPLONG high, DWORD method);
// The file's size (low 32 bits; the high ones in *high when given). Without *high a size that
// does not fit 32 bits fails with INVALID_FILE_SIZE and ERROR_ARITHMETIC_OVERFLOW.
ORVANE_API DWORD GetFileSize(HANDLE file, LPDWORD high);
// Cuts or extends the file to end at its file pointer.
ORVANE_API BOOL SetEndOfFile(HANDLE file);
// Writes the file's data through to the disk.
ORVANE_API BOOL FlushFileBuffers(HANDLE file);

// Creates one directory (its parent must exist).
ORVANE_API BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES security);
// Copies a file's bytes; with fail_if_exists an existing destination makes it fail with
// ERROR_FILE_EXISTS. A failed copy removes the partly written destination.
ORVANE_API BOOL CopyFileA(LPCSTR source, LPCSTR destination, BOOL fail_if_exists);
// Renames a file. Without MOVEFILE_REPLACE_EXISTING an existing destination makes it fail with
// ERROR_ALREADY_EXISTS; with it the destination is replaced in one step (a reader sees the old or
// the new file, never a mix). Other flags fail with ERROR_INVALID_PARAMETER.
#define MOVEFILE_REPLACE_EXISTING 0x1u
ORVANE_API BOOL MoveFileExA(LPCSTR existing, LPCSTR destination, DWORD flags);

// File status of the runtime library, for a cp932 path.
#define _S_IFMT 0xF000
#define _S_IFDIR 0x4000
#define _S_IFREG 0x8000
// Only the fields the units read; the host's time fields are macros in its own headers.
struct _stat {
  unsigned short st_mode;  // _S_IFDIR or _S_IFREG (or 0 for other kinds) plus permission bits
  short st_nlink;
  std::int64_t st_size;
};
// 0 and *status filled when the path exists; -1 otherwise.
ORVANE_API int _stat(const char* path, struct _stat* status);

// ---- Events and waits.
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu

// An event: manual reset stays signalled until ResetEvent; auto reset releases one waiter and
// resets itself. A name makes events of this process with the same name one object
// (the second CreateEventA sets ERROR_ALREADY_EXISTS). NULL on failure.
ORVANE_API HANDLE CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manual_reset, BOOL initial_state,
                               LPCSTR name);
ORVANE_API BOOL SetEvent(HANDLE event);
ORVANE_API BOOL ResetEvent(HANDLE event);
// Releases the threads waiting at this moment (one of them for an auto-reset event) and leaves
// the event reset; with no waiter it only resets.
ORVANE_API BOOL PulseEvent(HANDLE event);
// Waits until an event is signalled or a thread has ended: WAIT_OBJECT_0, WAIT_TIMEOUT after
// milliseconds (INFINITE never times out), WAIT_FAILED for a bad handle.
ORVANE_API DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
#define MAXIMUM_WAIT_OBJECTS 64u
// Waits until any one of count (1 to 64) events or threads is signalled: WAIT_OBJECT_0 + the
// lowest signalled index, consuming only that auto-reset event; WAIT_TIMEOUT after ms. Waking
// needs no polling: SetEvent or a thread's end wakes the waiter at once. wait_all is not
// supported (WAIT_FAILED, ERROR_NOT_SUPPORTED, unless count is 1); a bad handle or count gives
// WAIT_FAILED.
ORVANE_API DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL wait_all, DWORD ms);
// Suspends the calling thread for the milliseconds (0 yields; INFINITE never returns). Under the
// virtual clock of tests (platform/mmsystem.h) its thread returns at once, the clock advanced.
ORVANE_API void Sleep(DWORD milliseconds);
// A named mutex claims its name across processes: a lock file in $XDG_RUNTIME_DIR (else $TMPDIR,
// else /tmp) held with flock and never inherited by child processes. When another process or an
// open handle of this one holds the name, the call still gives a handle (that holds nothing) and
// sets ERROR_ALREADY_EXISTS. Without a name the mutex is private to the handle. Only creating and
// closing are supported: waiting on a mutex fails.
ORVANE_API HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES security, BOOL initial_owner, LPCSTR name);

// ---- Threads.
#define STILL_ACTIVE 259u
#define CREATE_SUSPENDED 0x00000004u
#define THREAD_PRIORITY_IDLE (-15)
#define THREAD_PRIORITY_LOWEST (-2)
#define THREAD_PRIORITY_BELOW_NORMAL (-1)
#define THREAD_PRIORITY_NORMAL 0
#define THREAD_PRIORITY_ABOVE_NORMAL 1
#define THREAD_PRIORITY_HIGHEST 2
#define THREAD_PRIORITY_TIME_CRITICAL 15
#define THREAD_PRIORITY_ERROR_RETURN 0x7FFFFFFF

// Starts start(argument) on a new thread at once; its result becomes the exit code. Returns the
// thread's handle (0 on failure, with errno set) and stores its id in *thread_id when given.
// CREATE_SUSPENDED is refused (EINVAL): a thread here cannot be held and released safely.
ORVANE_API UINT_PTR _beginthreadex(void* security, unsigned stack_size, unsigned (*start)(void*),
                                   void* argument, unsigned flags, unsigned* thread_id);
ORVANE_API DWORD GetCurrentThreadId();
// STILL_ACTIVE while the thread runs, then its exit code; FALSE for a bad handle.
ORVANE_API BOOL GetExitCodeThread(HANDLE thread, LPDWORD code);
// Priorities are stored and returned; the host scheduler is not changed.
ORVANE_API BOOL SetThreadPriority(HANDLE thread, int priority);
ORVANE_API int GetThreadPriority(HANDLE thread);
// No safe form exists on this host: these fail (ERROR_NOT_SUPPORTED) and write a log line.
ORVANE_API BOOL TerminateThread(HANDLE thread, DWORD exit_code);
ORVANE_API DWORD SuspendThread(HANDLE thread);  // (DWORD)-1
ORVANE_API DWORD ResumeThread(HANDLE thread);   // (DWORD)-1
// Message queues of threads are never joined here: fails with ERROR_NOT_SUPPORTED.
ORVANE_API BOOL AttachThreadInput(DWORD attach_id, DWORD attach_to_id, BOOL attach);

// ---- Time, debugger output, the program's path.
struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};
using LPSYSTEMTIME = SYSTEMTIME*;
ORVANE_API void GetLocalTime(LPSYSTEMTIME time);

// Writes cp932 text (as UTF-8) to stderr when the environment variable ORVANE_DEBUG is set (read
// once, at the first call); otherwise the text goes nowhere.
ORVANE_API void OutputDebugStringA(LPCSTR text);

// The running program's path as a cp932 path (module NULL only; other modules fail with
// ERROR_INVALID_HANDLE). Returns the length copied; a path that does not fit is cut, ends with a
// NUL, returns size and sets ERROR_INSUFFICIENT_BUFFER.
ORVANE_API DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);
