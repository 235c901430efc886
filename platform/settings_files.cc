// The settings stores' files: their directory and their replacement through a temporary file.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/settings_internal.h"

namespace orvane::settings {
namespace {

bool MakeDirs(const std::string& path) {
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') {
      std::string part = path.substr(0, i);
      if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
  }
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string ConfigDir() {
  std::string base;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || !*home) return "";
    base = std::string(home) + "/.config";
  }
  std::string dir = base + "/orvane";
  return MakeDirs(dir) ? dir : "";
}

bool ReadWholeFile(const std::string& host_path, std::string* data, bool* exists) {
  data->clear();
  *exists = false;
  int fd = open(host_path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  *exists = true;
  char buf[8192];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof(buf));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      close(fd);
      return false;
    }
    if (n == 0) break;
    data->append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return true;
}

namespace {

// The suffix of our temporary files: "<name>.orvane-tmp.<pid>" beside the file they replace.
constexpr char kTempMark[] = ".orvane-tmp.";

// Removes temporary files of ours for this file whose writer is gone (killed mid-write).
void RemoveStaleTemps(const std::string& host_path) {
  size_t slash = host_path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : host_path.substr(0, slash == 0 ? 1 : slash);
  std::string prefix = (slash == std::string::npos ? host_path : host_path.substr(slash + 1)) + kTempMark;
  DIR* d = opendir(dir.c_str());
  if (!d) return;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name.compare(0, prefix.size(), prefix) != 0 || name.size() == prefix.size()) continue;
    std::string digits = name.substr(prefix.size());
    if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 9) continue;
    pid_t pid = static_cast<pid_t>(std::strtol(digits.c_str(), nullptr, 10));
    bool alive = pid > 0 && pid != getpid() && (kill(pid, 0) == 0 || errno == EPERM);
    if (!alive) unlink((dir + "/" + name).c_str());
  }
  closedir(d);
}

}  // namespace

bool WriteAtomically(const std::string& host_path, const std::string& data) {
  // A link is followed: the file it names is replaced, the link stays.
  std::string target = host_path;
  char resolved[PATH_MAX];
  struct stat link_st;
  if (lstat(host_path.c_str(), &link_st) == 0 && S_ISLNK(link_st.st_mode) &&
      realpath(host_path.c_str(), resolved))
    target = resolved;
  struct stat st;
  bool exists = stat(target.c_str(), &st) == 0;
  if (exists) {
    // A read-only file (no write bit for anyone) is refused even for root, as the system refuses
    // a file with the read-only attribute; otherwise the user's own right to write decides.
    if (!S_ISREG(st.st_mode) || (st.st_mode & 0222) == 0 || access(target.c_str(), W_OK) != 0) {
      errno = EACCES;
      return false;
    }
  }
  RemoveStaleTemps(target);
  std::string tmp = target + kTempMark + std::to_string(getpid());
  // A new file gets the usual mode (0666 less the umask); a replaced one keeps its mode and owner.
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, exists ? 0600 : 0666);
  if (fd < 0) return false;
  bool ok = true;
  if (exists) {
    if (fchown(fd, st.st_uid, st.st_gid) != 0) {
      // Not allowed to give the file away: keep at least the group where we may.
      if (fchown(fd, static_cast<uid_t>(-1), st.st_gid) != 0) {
      }
    }
    ok = fchmod(fd, st.st_mode & 07777) == 0;
  }
  size_t done = 0;
  while (ok && done < data.size()) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      ok = false;
    else
      done += static_cast<size_t>(n);
  }
  ok = ok && fsync(fd) == 0;
  if (close(fd) != 0) ok = false;
  if (!ok || rename(tmp.c_str(), target.c_str()) != 0) {
    unlink(tmp.c_str());
    return false;
  }
  return true;
}

}  // namespace orvane::settings
