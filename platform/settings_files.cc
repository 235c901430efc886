// The settings stores' files: their directory and atomic replacement.
#include <errno.h>
#include <fcntl.h>
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

bool WriteAtomically(const std::string& host_path, const std::string& data) {
  std::string tmp = host_path + ".tmp" + std::to_string(getpid());
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      close(fd);
      unlink(tmp.c_str());
      return false;
    }
    done += static_cast<size_t>(n);
  }
  bool synced = fsync(fd) == 0;
  if (close(fd) != 0 || !synced) {
    unlink(tmp.c_str());
    return false;
  }
  if (rename(tmp.c_str(), host_path.c_str()) != 0) {
    unlink(tmp.c_str());
    return false;
  }
  return true;
}

}  // namespace orvane::settings
