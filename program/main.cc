// The engine program: the program entry with the imaging library's tables and plug-in support,
// the script machine's services, and the engine main.
#include "api/api_frame.h"
#include "api/display_ops.h"
#include "api/input_script.h"
#include "base/dapplication.h"
#include "base/dpump.h"
#include "imaging/dimg_susie.h"
#include "imaging/dimg_tables.h"
#include "shell/cmainwindow.h"
#include "shell/engine.h"
#include "vm/script_task.h"
#include "vm/vm_services.h"

namespace {

void InitTables() {
  DimgInitMathTables();
  DimgInitYCrCbTables();
}

int EngineBox(const char* text, const char* caption, uint32_t type) {
  return MainWindow().MessageBox(DString(text ? text : ""), DString(caption), type);
}

// The machine's pump: due timed messages of a headless run first, then the window messages.
void Pump() {
  PollInputScript();
  DPumpMessages();
}

int RunEngine() {
  VmServices services = GetVmServices();
  services.message_box = EngineBox;
  services.exit_all_tasks = ExitAllTasks;
  services.pump_messages = Pump;
  services.sin_table = DimgSinTable;
  SetVmServices(services);
  InstallApiBuiltins();
  InstallApiUnitHooks();
  InstallEngineDisplayOps();
  // A bad input script stops the run before it starts: a partial play must not pass for a full one.
  if (!LoadInputScriptFromEnvironment()) return 2;
  return EngineMain();
}

}  // namespace

int main(int argc, char** argv) {
  DProgramHooks hooks{};
  hooks.init_tables = InitTables;
  hooks.plugins_init = _DSusieInit;
  hooks.plugins_term = _DSusieTerm;
  hooks.engine_main = RunEngine;
  return DProgramMain(argc, argv, hooks);
}
