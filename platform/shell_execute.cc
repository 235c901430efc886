// ShellExecuteA on posix_spawn: programs with an argument list, everything else through xdg-open.
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/host.h"
#include "platform/hostpath.h"
#include "platform/shellapi.h"

extern char** environ;

namespace orvane {
namespace {

bool Lead(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

HINSTANCE Result(int code) {
  return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(code));
}

// An address rather than a file: a scheme such as "https:" or "mailto:" before any separator.
bool IsAddress(const std::string& text) {
  size_t colon = text.find(':');
  if (colon == std::string::npos || colon < 2) return false;  // "C:" is a drive
  for (size_t i = 0; i < colon; ++i) {
    char c = text[i];
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' ||
              c == '-' || c == '.';
    if (!ok) return false;
  }
  return true;
}

// Starts the program with the arguments (and working directory); its end is collected by a
// detached thread so no zombie stays behind.
bool Spawn(const std::string& program, const std::vector<std::string>& args, const std::string& directory,
           bool search) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!directory.empty()) posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
  pid_t pid;
  int error = search ? posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ)
                     : posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return false;
  std::thread([pid] {
    int status;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return true;
}

}  // namespace

std::vector<std::string> SplitShellArguments(const char* text) {
  std::vector<std::string> out;
  if (!text) return out;
  const size_t n = std::strlen(text);
  size_t i = 0;
  std::string arg;
  auto copy_char = [&] {
    if (Lead(static_cast<unsigned char>(text[i])) && i + 1 < n) {
      arg.append(text + i, 2);
      i += 2;
    } else {
      arg += text[i++];
    }
  };
  for (;;) {
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i >= n) break;
    arg.clear();
    while (i < n && text[i] != ' ' && text[i] != '\t') {
      if (text[i] != '"') {
        copy_char();
        continue;
      }
      if (i + 1 < n && text[i + 1] == '"') {
        arg += '"';
        i += 2;
        continue;
      }
      ++i;
      while (i < n) {
        if (text[i] == '"') {
          if (i + 1 < n && text[i + 1] == '"') {
            arg += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        copy_char();
      }
    }
    out.push_back(arg);
  }
  return out;
}

}  // namespace orvane

HINSTANCE ShellExecuteA(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory, int show) {
  (void)owner;
  (void)show;
  using orvane::Result;
  if (verb && *verb && std::strcmp(verb, "open") != 0) return Result(SE_ERR_NOASSOC);
  if (!file || !*file) return Result(SE_ERR_FNF);
  if (std::strcmp(orvane::host::CurrentName(), "headless") == 0) {
    orvane::host::RecordTrace(std::string("shellexecute 'open' '") + file + "' '" +
                              (parameters ? parameters : "") + "'");
    return Result(42);
  }
  std::string target = file;
  std::string host_dir;
  if (directory && *directory && !orvane::HostPathFromEngine(directory, &host_dir)) return Result(SE_ERR_FNF);
  if (orvane::IsAddress(target)) {
    std::string utf8;
    orvane::Cp932ToUtf8(target, &utf8, true);
    return orvane::Spawn("xdg-open", {utf8}, host_dir, true) ? Result(42) : Result(SE_ERR_NOASSOC);
  }
  std::string host;
  if (!orvane::HostPathFromEngine(target, &host)) return Result(SE_ERR_FNF);
  if (host[0] != '/' && !host_dir.empty()) host = host_dir + "/" + host;
  struct stat st;
  if (stat(host.c_str(), &st) != 0) return Result(SE_ERR_FNF);
  if (S_ISREG(st.st_mode) && access(host.c_str(), X_OK) == 0) {
    std::vector<std::string> args;
    for (const std::string& a : orvane::SplitShellArguments(parameters)) {
      std::string utf8;
      orvane::Cp932ToUtf8(a, &utf8, true);
      args.push_back(utf8);
    }
    // Absolute: the child changes its directory before it starts the program.
    char real[4096];
    if (!realpath(host.c_str(), real)) return Result(SE_ERR_FNF);
    return orvane::Spawn(real, args, host_dir, false) ? Result(42) : Result(SE_ERR_NOASSOC);
  }
  return orvane::Spawn("xdg-open", {host}, host_dir, true) ? Result(42) : Result(SE_ERR_NOASSOC);
}
