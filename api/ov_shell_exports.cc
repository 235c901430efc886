// Exports that reach the engine shell: the main window's handle and message box, the end
// request, the single-instance check.
#include "api/ov_api.h"
#include "shell/cmainwindow.h"
#include "shell/engine.h"
#include "vm/script_task.h"

// No exception leaves an export: a failure gives the export's failure value.
HWND ovGetWindow() noexcept {
  try {
    return MainWindow().GetHandle();
  } catch (...) {
    return nullptr;
  }
}

int32_t ovMessage(const char* text, const char* caption, int32_t flag) noexcept {
  try {
    int answer =
        MainWindow().MessageBox(DString(text ? text : ""), DString(caption), flag ? MB_YESNO : MB_OK);
    return answer == IDNO ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

int32_t ovIsExit() noexcept {
  return AllTasksEnded() ? 1 : 0;
}

int32_t ovCheckSystemName(const char* name) noexcept {
  try {
    return CheckSingleInstance(name) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}
