// mei-run: runs a script image headless as the engine would and exits with its first task's result.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/hostpath.h"
#include "api/api_frame.h"
#include "imaging/dimg_tables.h"
#include "vm/script_image.h"
#include "vm/script_loader.h"
#include "vm/script_task.h"
#include "vm/startup_config.h"
#include "vm/vm_services.h"

namespace {

constexpr int kIdOk = 1;
constexpr int kIdNo = 7;
constexpr uint32_t kMbTypeMask = 0xF;
constexpr uint32_t kMbYesNo = 4;

bool g_runtime_error = false;

// The exit status of a result outside 0..255 (printed on stdout instead).
constexpr int kResultOutOfRange = 4;

// Boxes go to stderr in UTF-8; a question is answered No, so nothing ends by the runner's choice.
int PrintBox(const char* text, const char* caption, uint32_t type) {
  std::string utf8_text, utf8_caption;
  orvane::Cp932ToUtf8(text ? text : "", &utf8_text, true);
  orvane::Cp932ToUtf8(caption ? caption : "", &utf8_caption, true);
  std::fprintf(stderr, "[%s] %s\n", utf8_caption.c_str(), utf8_text.c_str());
  if (std::string(caption ? caption : "") == "実行エラー") g_runtime_error = true;
  return (type & kMbTypeMask) == kMbYesNo ? kIdNo : kIdOk;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: mei-run IMAGE [ARGS]\n");
    return 2;
  }
  // The runner is headless whatever display there is: the message pumps of the task loop then
  // never load the SDL host. The environment is only written when it says otherwise.
  const char* backend = getenv("ORVANE_BACKEND");
  if (backend == nullptr || std::strcmp(backend, "headless") != 0) setenv("ORVANE_BACKEND", "headless", 1);
  std::string host_path = argv[1];
  if (!host_path.empty() && host_path[0] != '/') {
    std::vector<char> cwd(4096);
    if (getcwd(cwd.data(), cwd.size()) == nullptr) return 3;
    host_path = std::string(cwd.data()) + "/" + host_path;
  }
  std::string path;
  if (!orvane::EnginePathFromHost(host_path, &path)) {
    std::fprintf(stderr, "mei-run: %s: the path has no cp932 form\n", argv[1]);
    return 3;
  }

  HostImageFile file(host_path);
  if (!file.IsOpen()) {
    std::fprintf(stderr, "mei-run: cannot open %s\n", argv[1]);
    return 3;
  }
  const std::vector<uint8_t> image = ReadScriptImageFile(file);
  if (image.empty()) {
    std::fprintf(stderr, "mei-run: %s: not a script image\n", argv[1]);
    return 3;
  }

  // A damaged image is reported with the reader's own reason.
  {
    ScriptImageInfo info;
    if (const char* why = LoadScriptImageInfo(image, &info)) {
      std::fprintf(stderr, "mei-run: %s: damaged script image: %s\n", argv[1], why);
      return 3;
    }
  }

  VmServices services = GetVmServices();
  services.message_box = &PrintBox;
  services.exit_all_tasks = &ExitAllTasks;
  SetVmServices(services);
  DimgInitMathTables();
  InstallApiBuiltins();
  InstallApiUnitHooks();

  if (!RunStartupConfig(image)) {
    std::fprintf(stderr, "mei-run: %s: the start-up configuration pass failed\n", argv[1]);
    return 3;
  }
  if (!InitVmUnit()) return 3;
  if (!StartMainTask(image, path.c_str())) {
    TermVmUnit();
    return g_runtime_error ? 1 : 3;
  }
  const DRef<ScriptTask> first = TaskRegistry(kTaskList).Front();
  RunTaskLoop();
  const int result = g_runtime_error ? 1 : (first ? first->result.ToInt() : 0);
  TermVmUnit();
  if (result < 0 || result > 255) {
    // No exit status holds it: the value goes to stdout and the status says so.
    std::printf("%d\n", result);
    return kResultOutOfRange;
  }
  return result;
}
