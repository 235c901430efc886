// A program of ours for the host-path test: it starts as the engine does, opens its debug log,
// writes and reads back a setting, and prints the file named by its first argument.
#include <cstdio>

#include "base/dapplication.h"
#include "base/dfile.h"
#include "base/dlogstream.h"

namespace {

int ProbeMain() {
  OpenDebugLog();
  DDebugLog() << "[probe] started\n";
  DApplication* app = DGetApplication();
  const bool stored = app->SetSettingInt(DString("Probe"), DString("value"), 7);
  const int read = app->GetSettingInt(DString("Probe"), DString("value"), 0);
  std::printf("name %s\nsetting %d %d\n", app->GetApplicationName().GetText(), stored ? 1 : 0, read);
  DRefList<char>& args = app->GetArguments();
  if (!(args.Begin() == args.End())) {
    DFile file;
    char text[64] = {};
    if (file.Open(DString(args.Begin().Value().Get()), DFile::kRead) && file.Read(text, sizeof text - 1) > 0)
      std::printf("argument file %s\n", text);
    else
      std::printf("argument file unreadable\n");
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  DProgramHooks hooks{};
  hooks.engine_main = ProbeMain;
  return DProgramMain(argc, argv, hooks);
}
