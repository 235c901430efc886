// Exports that reach the engine shell: the main window's handle and message box, the end
// request, the single-instance check.
#include "api/ov_api.h"
#include "shell/cmainwindow.h"
#include "shell/engine.h"
#include "vm/script_task.h"

HWND ovGetWindow() {
  return MainWindow().GetHandle();
}

int ovMessage(const char* text, const char* caption, int flag) {
  int answer = MainWindow().MessageBox(DString(text ? text : ""), DString(caption), flag ? MB_YESNO : MB_OK);
  return answer == IDNO ? 1 : 0;
}

int ovIsExit() {
  return AllTasksEnded() ? 1 : 0;
}

int ovCheckSystemName(const char* name) {
  return CheckSingleInstance(name) ? 1 : 0;
}
