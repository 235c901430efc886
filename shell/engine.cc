// The engine main, start-up and shutdown over the unit table, the script image's choice, the
// single-instance guard and the random generator.
#include "shell/engine.h"

#include <time.h>

#include <cstring>
#include <string>

#include "base/dapplication.h"
#include "base/dfile.h"
#include "base/dfiledialog.h"
#include "base/dlogstream.h"
#include "base/dpump.h"
#include "shell/cmainwindow.h"
#include "shell/engine_units.h"
#include "vm/script_image.h"
#include "vm/script_task.h"
#include "vm/startup_config.h"

namespace {

constexpr uint32_t kPathSize = 264;

// The held image, made on first use and never destroyed: at exit the system takes it back with
// no destructor to run.
std::vector<uint8_t>& HeldImage() {
  static std::vector<uint8_t>* const image = new std::vector<uint8_t>();
  return *image;
}
bool g_image_held = false;
char g_script_path[kPathSize] = {};
HANDLE g_instance_mutex = nullptr;
uint32_t g_random = 1;

void CopyPath(const char* text) {
  std::strncpy(g_script_path, text ? text : "", kPathSize - 1);
  g_script_path[kPathSize - 1] = 0;
}

void ReleaseImage() {
  std::vector<uint8_t>().swap(HeldImage());
  g_image_held = false;
}

void FailImage() {
  ReleaseImage();
  MessageBoxA(nullptr, "実行ファイルを開けません", "Orvane", MB_ICONHAND);
}

// Reads the whole file at the script path into the image buffer.
bool ReadImageFile() {
  DFile file;
  if (!file.Open(DString(g_script_path), DFile::kRead)) return false;
  int64_t size = file.GetSize();
  // A size above the cap is taken for a damaged or foreign file: nothing is allocated for it.
  if (size < 0 || static_cast<uint64_t>(size) > kMaxScriptImageFileSize) return false;
  HeldImage().assign(static_cast<size_t>(size), 0);
  if (size > 0 && file.Read(HeldImage().data(), static_cast<uint32_t>(size)) != size) return false;
  file.Close();
  g_image_held = true;
  return true;
}

}  // namespace

const std::vector<uint8_t>& ScriptImage() {
  return HeldImage();
}
const char* ScriptPath() {
  return g_script_path;
}
void* SingleInstanceHandle() {
  return g_instance_mutex;
}

DRef<DDataFile>& MountedDataFile() {
  static DRef<DDataFile> mounted;
  return mounted;
}

void SeedRandom(uint32_t seed) {
  g_random = seed;
}

int NextRandom() {
  g_random = g_random * 214013u + 2531011u;
  return static_cast<int>((g_random >> 16) & 0x7FFF);
}

bool LoadScriptImageFile() {
  char program[kPathSize] = {};
  DWORD n = GetModuleFileNameA(nullptr, program, kPathSize);
  if (n >= kPathSize) n = kPathSize - 1;
  program[n] = 0;
  CopyPath(program);

  // An image appended to the program wins over everything else.
  {
    DFile self;
    if (self.Open(DString(g_script_path), DFile::kRead)) {
      std::vector<uint8_t> appended = ReadAppendedImage(self);
      self.Close();
      if (!appended.empty()) {
        HeldImage() = std::move(appended);
        g_image_held = true;
        return true;
      }
    }
  }

  DApplication* app = DGetApplication();
  if (app && !app->GetArguments().IsEmpty()) {
    CopyPath(DString(app->GetArguments().Front()).Text());
  } else {
    static const char kFilter[] = "Orvane Script Image File(*.mei)\0*.mei\0All File(*.*)\0*.*\0";
    DFileDialog dialog;
    DWindow none(static_cast<HWND>(nullptr));
    DString filter;
    filter.Attach(const_cast<char*>(kFilter));
    dialog.Init(none, filter, 1, DString(""), DString(""), DString(""), OFN_FILEMUSTEXIST | OFN_HIDEREADONLY);
    if (!dialog.Open()) {
      FailImage();
      return false;
    }
    CopyPath(dialog.GetFileName().GetText());
  }
  if (!ReadImageFile()) {
    FailImage();
    return false;
  }
  return true;
}

bool InitUnits() {
  SeedRandom(static_cast<uint32_t>(::time(nullptr)));
  if (!OpenDebugLog()) return false;
  if (!LoadScriptImageFile()) return false;
  if (!RunStartupConfig(HeldImage())) return false;
  const uint32_t flags = GetStartupFlags();
  for (const EngineUnit& unit : EngineUnits()) {
    if (!UnitSelected(unit, flags)) continue;
    if (std::strcmp(unit.name, "VM") == 0) g_instance_mutex = nullptr;
    bool ok = unit.start ? unit.start() : true;
    if (!ok && unit.stop_on_failure) return false;
    if (unit.log_line) DDebugLog().Write(DString(unit.log_line));
  }
  return true;
}

void RunScript() {
  if (!StartMainTask(HeldImage(), g_script_path)) {
    MainWindow().MessageBox(DString("実行ファイルを開けません"), DString(), MB_OK);
    return;
  }
  // The machine keeps what it needs of the image.
  ReleaseImage();
  RunTaskLoop();
}

bool ShutdownUnits() {
  const uint32_t flags = GetStartupFlags();
  std::vector<EngineUnit>& units = EngineUnits();
  for (auto it = units.rbegin(); it != units.rend(); ++it) {
    if (!UnitSelected(*it, flags)) continue;
    if (it->stop) it->stop();
    if (std::strcmp(it->name, "VM") == 0 && g_instance_mutex) {
      CloseHandle(g_instance_mutex);
      g_instance_mutex = nullptr;
    }
  }
  if (g_instance_mutex) {
    CloseHandle(g_instance_mutex);
    g_instance_mutex = nullptr;
  }
  MountedDataFile().Release();
  ReleaseImage();
  DDebugLogFile().Close();
  return true;
}

int EngineMain() {
  if (!InitUnits()) {
    MessageBoxA(nullptr, "起動できませんでした。", "Orvane", MB_ICONHAND);
    ShutdownUnits();
    return 0;
  }
  DPumpMessages();
  RunScript();
  ShutdownUnits();
  return 0;
}

bool CheckSingleInstance(const char* name) {
  if (g_instance_mutex) {
    CloseHandle(g_instance_mutex);
    g_instance_mutex = nullptr;
  }
  CMainWindow& window = MainWindow();
  DStringBuffer caption = window.GetHandle() ? window.GetText() : DStringBuffer();
  if (!name || !*name) {
    window.MessageBox(DString("名前が指定されていません。\nプログラム作成者に報告してください。"),
                      caption.GetBuffer(), MB_ICONEXCLAMATION);
    return false;
  }
  std::string full = std::string("KAVELON_Orvane_") + name;
  g_instance_mutex = CreateMutexA(nullptr, FALSE, full.c_str());
  if (!g_instance_mutex) {
    window.MessageBox(DString("メモリが足りません"), caption.GetBuffer(), MB_ICONEXCLAMATION);
    return false;
  }
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    window.MessageBox(DString("プログラムはすでに起動されています"), caption.GetBuffer(), MB_ICONEXCLAMATION);
    return false;
  }
  return true;
}
