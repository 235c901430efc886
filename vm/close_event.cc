// The close event: runs the script's close handler, or asks the user whether to quit.
#include "vm/close_event.h"

#include "vm/script_task.h"
#include "vm/vm_services.h"

namespace {
constexpr uint32_t kMbYesNo = 4;
constexpr uint32_t kMbIconError = 0x10;
constexpr int kIdYes = 6;
}  // namespace

void RunEventHandler(int32_t e) {
  DRef<ScriptTask>* entry = EventHandler(e);
  if (entry == nullptr) return;
  InstallTaskServices();
  const DRef<ScriptTask> handler = *entry;  // the handler may replace itself while it runs
  if (!handler) {
    if (VmMessageBox("終了しますか？", "Orvane", kMbYesNo) == kIdYes) ExitAllTasks();
    return;
  }
  if (!CallMethodSync(handler)) {
    VmMessageBox("EVTSIG_CLOSEで指定されたメソッドが存在しません。", "実行エラー", kMbIconError);
    ExitAllTasks();
  }
}
