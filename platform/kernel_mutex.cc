// Named mutexes as lock files: the name claimed across processes with flock.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/kernel_object.h"

namespace orvane::kernel {
namespace {

// Longest escaped name kept in a file name; longer ones keep their start and a digest of the
// whole name, so distinct names stay distinct files.
constexpr size_t kMaxNameInFile = 160;

class MutexObject : public Object {
 public:
  explicit MutexObject(int fd) : Object(ObjectKind::kMutex), fd_(fd) {}
  ~MutexObject() override {
    if (fd_ >= 0) ::close(fd_);  // closing the descriptor gives the lock back
  }

 private:
  int fd_;
};

std::uint64_t Fnv1a(const std::string& text, std::uint64_t basis) {
  std::uint64_t h = basis;
  for (unsigned char c : text) {
    h ^= c;
    h *= 0x100000001b3ULL;
  }
  return h;
}

std::string Directory() {
  for (const char* var : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
    const char* v = std::getenv(var);
    if (v && *v == '/') return v;
  }
  return "/tmp";
}

}  // namespace

// The lock file's name for a mutex name: bytes outside [A-Za-z0-9._-] become %XX.
std::string MutexFileName(const std::string& name) {
  std::string escaped;
  for (unsigned char c : name) {
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                 c == '_' || c == '-';
    if (plain) {
      escaped += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      escaped += hex;
    }
  }
  if (escaped.size() > kMaxNameInFile) {
    char digest[40];
    std::snprintf(digest, sizeof digest, "~%016llx%016llx",
                  static_cast<unsigned long long>(Fnv1a(name, 0xcbf29ce484222325ULL)),
                  static_cast<unsigned long long>(Fnv1a(name, 0x84222325cbf29ce4ULL)));
    escaped = escaped.substr(0, kMaxNameInFile - 40) + digest;
  }
  return "orvane-mutex-" + escaped + ".lock";
}

}  // namespace orvane::kernel

using namespace orvane::kernel;

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES security, BOOL initial_owner, LPCSTR name) {
  (void)security;
  (void)initial_owner;
  if (!name || !*name) {
    SetLastError(0);
    return Register(std::make_shared<MutexObject>(-1));
  }
  std::string path = Directory() + "/" + MutexFileName(name);
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    SetLastError(ErrorFromErrno(errno));
    return nullptr;
  }
  int r;
  while ((r = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  if (r != 0) {
    bool held = errno == EWOULDBLOCK;
    ::close(fd);
    if (!held) {
      SetLastError(ERROR_GEN_FAILURE);
      return nullptr;
    }
    HANDLE h = Register(std::make_shared<MutexObject>(-1));
    SetLastError(ERROR_ALREADY_EXISTS);
    return h;
  }
  HANDLE h = Register(std::make_shared<MutexObject>(fd));
  SetLastError(0);
  return h;
}
