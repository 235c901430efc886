// Files on POSIX descriptors: each handle keeps its own pointer and transfers with pread/pwrite.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/hostpath.h"
#include "platform/kernel_object.h"

namespace orvane::kernel {
namespace {

class FileObject : public Object {
 public:
  FileObject(int fd, bool readable, bool writable)
      : Object(ObjectKind::kFile), fd(fd), readable(readable), writable(writable) {}
  ~FileObject() override { close(fd); }

  const int fd;
  const bool readable;
  const bool writable;
  std::mutex mutex;  // guards position
  std::int64_t position = 0;
};

std::shared_ptr<FileObject> GetFile(HANDLE handle) {
  return LookupAs<FileObject>(handle, ObjectKind::kFile);
}

bool ToHost(LPCSTR name, std::string* host) {
  if (!name || !*name || !orvane::HostPathFromEngine(name, host)) {
    SetLastError(name && *name ? ERROR_INVALID_PARAMETER : ERROR_PATH_NOT_FOUND);
    return false;
  }
  return true;
}

std::int64_t OverlappedOffset(const OVERLAPPED* o) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(o->OffsetHigh) << 32) | o->Offset);
}

}  // namespace
}  // namespace orvane::kernel

using namespace orvane::kernel;

namespace {

std::atomic<void (*)(const char*, const char*, DWORD)> g_open_watcher{nullptr};

HANDLE OpenHostFile(LPCSTR name, DWORD access, DWORD creation, std::string& host) {
  if (!ToHost(name, &host)) return INVALID_HANDLE_VALUE;
  bool readable = access & GENERIC_READ;
  bool writable = access & GENERIC_WRITE;
  int oflags = O_CLOEXEC | (writable ? (readable ? O_RDWR : O_WRONLY) : O_RDONLY);
  switch (creation) {
    case CREATE_NEW:
      oflags |= O_CREAT | O_EXCL;
      break;
    case CREATE_ALWAYS:
      oflags |= O_CREAT | O_TRUNC;
      break;
    case OPEN_EXISTING:
      break;
    case OPEN_ALWAYS:
      oflags |= O_CREAT;
      break;
    case TRUNCATE_EXISTING:
      if (!writable) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
      }
      oflags |= O_TRUNC;
      break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
  }
  struct stat before;
  bool existed = stat(host.c_str(), &before) == 0;
  if (existed && S_ISDIR(before.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  int fd = open(host.c_str(), oflags, 0666);
  if (fd < 0) {
    int e = errno;
    SetLastError(e == EEXIST ? ERROR_FILE_EXISTS : ErrorFromErrno(e));
    return INVALID_HANDLE_VALUE;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    close(fd);
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE h = Register(std::make_shared<FileObject>(fd, readable, writable));
  SetLastError(existed && (creation == CREATE_ALWAYS || creation == OPEN_ALWAYS) ? ERROR_ALREADY_EXISTS : 0);
  return h;
}

}  // namespace

void orvane::kernel::SetFileOpenWatcher(void (*watch)(const char* name, const char* host, DWORD error)) {
  g_open_watcher = watch;
}

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD creation,
                   DWORD flags, HANDLE template_file) {
  (void)share;
  (void)security;
  (void)flags;
  (void)template_file;
  std::string host;
  HANDLE h = OpenHostFile(name, access, creation, host);
  if (auto watch = g_open_watcher.load()) {
    const DWORD error = GetLastError();
    watch(name ? name : "", host.c_str(),
          h == INVALID_HANDLE_VALUE ? (error ? error : ERROR_INVALID_PARAMETER) : 0);
    SetLastError(error);  // the watcher leaves the caller's error as the open set it
  }
  return h;
}

namespace {
// The file behind a handle for a read or a write of count bytes at buffer, or null with the error
// set: an unknown handle, a file not opened for that access, or no buffer for a non-empty transfer.
std::shared_ptr<FileObject> GetFileForTransfer(HANDLE file, bool write, const void* buffer, DWORD count) {
  auto f = GetFile(file);
  if (!f) return nullptr;
  if (!(write ? f->writable : f->readable)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  if (!buffer && count) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return f;
}
}  // namespace

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED overlapped) {
  if (done) *done = 0;
  auto f = GetFileForTransfer(file, false, buffer, count);
  if (!f) return FALSE;
  std::lock_guard lock(f->mutex);
  std::int64_t at = overlapped ? OverlappedOffset(overlapped) : f->position;
  DWORD got = 0;
  while (got < count) {
    ssize_t r = pread(f->fd, static_cast<char*>(buffer) + got, count - got, at + got);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      SetLastError(ErrorFromErrno(errno));
      f->position = at + got;
      if (done) *done = got;
      return FALSE;
    }
    if (r == 0) break;
    got += static_cast<DWORD>(r);
  }
  f->position = at + got;
  if (done) *done = got;
  return TRUE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED overlapped) {
  if (done) *done = 0;
  auto f = GetFileForTransfer(file, true, buffer, count);
  if (!f) return FALSE;
  std::lock_guard lock(f->mutex);
  std::int64_t at = overlapped ? OverlappedOffset(overlapped) : f->position;
  DWORD put = 0;
  while (put < count) {
    ssize_t r = pwrite(f->fd, static_cast<const char*>(buffer) + put, count - put, at + put);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      SetLastError(r == 0 ? ERROR_DISK_FULL : ErrorFromErrno(errno));
      f->position = at + put;
      if (done) *done = put;
      return FALSE;
    }
    put += static_cast<DWORD>(r);
  }
  f->position = at + put;
  if (done) *done = put;
  return TRUE;
}

DWORD SetFilePointer(HANDLE file, LONG distance, LPLONG high, DWORD method) {
  auto f = GetFile(file);
  if (!f) return INVALID_SET_FILE_POINTER;
  std::int64_t move =
      high ? static_cast<std::int64_t>((static_cast<std::uint64_t>(static_cast<DWORD>(*high)) << 32) |
                                       static_cast<DWORD>(distance))
           : static_cast<std::int64_t>(distance);
  std::lock_guard lock(f->mutex);
  std::int64_t base;
  switch (method) {
    case FILE_BEGIN:
      base = 0;
      break;
    case FILE_CURRENT:
      base = f->position;
      break;
    case FILE_END: {
      struct stat st;
      if (fstat(f->fd, &st) != 0) {
        SetLastError(ErrorFromErrno(errno));
        return INVALID_SET_FILE_POINTER;
      }
      base = st.st_size;
      break;
    }
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_SET_FILE_POINTER;
  }
  if ((move > 0 && base > INT64_MAX - move) || base + move < 0) {
    SetLastError(ERROR_NEGATIVE_SEEK);
    return INVALID_SET_FILE_POINTER;
  }
  std::int64_t target = base + move;
  if (!high && target >= static_cast<std::int64_t>(INVALID_SET_FILE_POINTER)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  f->position = target;
  if (high) *high = static_cast<LONG>(static_cast<std::uint64_t>(target) >> 32);
  SetLastError(0);
  return static_cast<DWORD>(target);
}

DWORD GetFileSize(HANDLE file, LPDWORD high) {
  auto f = GetFile(file);
  if (!f) return INVALID_FILE_SIZE;
  struct stat st;
  if (fstat(f->fd, &st) != 0) {
    SetLastError(ErrorFromErrno(errno));
    return INVALID_FILE_SIZE;
  }
  std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
  if (!high && size >= INVALID_FILE_SIZE) {
    SetLastError(ERROR_ARITHMETIC_OVERFLOW);
    return INVALID_FILE_SIZE;
  }
  if (high) *high = static_cast<DWORD>(size >> 32);
  SetLastError(0);
  return static_cast<DWORD>(size);
}

BOOL SetEndOfFile(HANDLE file) {
  auto f = GetFile(file);
  if (!f) return FALSE;
  if (!f->writable) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  std::lock_guard lock(f->mutex);
  if (ftruncate(f->fd, f->position) != 0) {
    SetLastError(ErrorFromErrno(errno));
    return FALSE;
  }
  return TRUE;
}

BOOL FlushFileBuffers(HANDLE file) {
  auto f = GetFile(file);
  if (!f) return FALSE;
  if (!f->writable) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (fdatasync(f->fd) != 0) {
    SetLastError(ErrorFromErrno(errno));
    return FALSE;
  }
  return TRUE;
}

BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES security) {
  (void)security;
  std::string host;
  if (!ToHost(path, &host)) return FALSE;
  if (mkdir(host.c_str(), 0777) != 0) {
    int e = errno;
    SetLastError(e == ENOENT ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(e));
    return FALSE;
  }
  return TRUE;
}

BOOL CopyFileA(LPCSTR source, LPCSTR destination, BOOL fail_if_exists) {
  std::string from, to;
  if (!ToHost(source, &from) || !ToHost(destination, &to)) return FALSE;
  int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    SetLastError(ErrorFromErrno(errno));
    return FALSE;
  }
  struct stat st;
  if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(in);
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  struct stat dst_st;
  if (stat(to.c_str(), &dst_st) == 0 && dst_st.st_dev == st.st_dev && dst_st.st_ino == st.st_ino) {
    // Copying a file onto itself would truncate it first and lose its bytes.
    close(in);
    SetLastError(fail_if_exists ? ERROR_FILE_EXISTS : ERROR_ACCESS_DENIED);
    return FALSE;
  }
  int out = open(to.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (fail_if_exists ? O_EXCL : O_TRUNC),
                 st.st_mode & 0777);
  if (out < 0) {
    int e = errno;
    close(in);
    SetLastError(e == EEXIST ? ERROR_FILE_EXISTS : ErrorFromErrno(e));
    return FALSE;
  }
  char buf[65536];
  bool ok = true;
  int error = 0;
  for (;;) {
    ssize_t r = read(in, buf, sizeof buf);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      ok = false;
      error = errno;
      break;
    }
    if (r == 0) break;
    for (ssize_t done = 0; done < r && ok;) {
      ssize_t w = write(out, buf + done, r - done);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        ok = false;
        error = w == 0 ? ENOSPC : errno;
      } else {
        done += w;
      }
    }
    if (!ok) break;
  }
  if (close(out) != 0 && ok) {
    ok = false;
    error = errno;
  }
  close(in);
  if (!ok) {
    unlink(to.c_str());
    SetLastError(ErrorFromErrno(error));
    return FALSE;
  }
  return TRUE;
}

BOOL MoveFileExA(LPCSTR existing, LPCSTR destination, DWORD flags) {
  if ((flags & ~MOVEFILE_REPLACE_EXISTING) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string from, to;
  if (!ToHost(existing, &from) || !ToHost(destination, &to)) return FALSE;
  struct stat st;
  if (lstat(from.c_str(), &st) != 0) {
    SetLastError(ErrorFromErrno(errno));
    return FALSE;
  }
  if (!(flags & MOVEFILE_REPLACE_EXISTING)) {
    // Without replacing, an existing destination is refused; link-then-unlink keeps the check and
    // the rename one step for regular files.
    if (S_ISREG(st.st_mode) && link(from.c_str(), to.c_str()) == 0) {
      unlink(from.c_str());
      return TRUE;
    }
    if (errno == EEXIST || access(to.c_str(), F_OK) == 0) {
      SetLastError(ERROR_ALREADY_EXISTS);
      return FALSE;
    }
  }
  if (rename(from.c_str(), to.c_str()) != 0) {
    int e = errno;
    SetLastError(e == EISDIR || e == ENOTEMPTY || e == EEXIST ? ERROR_ACCESS_DENIED : ErrorFromErrno(e));
    return FALSE;
  }
  return TRUE;
}

int _stat(const char* path, struct _stat* status) {
  std::string host;
  struct stat st;
  if (!path || !status || !orvane::HostPathFromEngine(path, &host) || host.empty() ||
      stat(host.c_str(), &st) != 0) {
    errno = ENOENT;
    return -1;
  }
  unsigned short kind = S_ISDIR(st.st_mode) ? _S_IFDIR : S_ISREG(st.st_mode) ? _S_IFREG : 0;
  status->st_mode = static_cast<unsigned short>(kind | (st.st_mode & 0777));
  status->st_nlink = static_cast<short>(st.st_nlink);
  status->st_size = st.st_size;
  return 0;
}
