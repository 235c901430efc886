// DApplication: framework start-up, the settings store in its four modes, and the program entry.
#include "base/dapplication.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include "base/dblockpool.h"
#include "base/dlogstream.h"
#include "base/dpath.h"
#include "base/dprofile.h"
#include "base/dregkey.h"
#include "base/dwindow.h"
#include "platform/host.h"
#include "platform/hostpath.h"

namespace {

DApplication* g_application = nullptr;

constexpr char kCompany[] = "Amber Quill";
constexpr char kWheelMessage[] = "MSWHEEL_ROLLMSG";

bool RegisterClass(const WNDCLASSEXA& wc) {
  WNDCLASSEXA copy = wc;
  copy.cbSize = sizeof(WNDCLASSEXA);
  copy.lpfnWndProc = &DWindow::WindowProc;
  return RegisterClassExA(&copy) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

DRef<char> CopyText(const char* text) {
  DRef<char> r;
  size_t n = std::strlen(text);
  r.Alloc(static_cast<uint32_t>(n + 1));
  std::memcpy(r.Get(), text, n + 1);
  return r;
}

}  // namespace

DApplication* DGetApplication() {
  return g_application;
}
void DSetApplication(DApplication* application) {
  g_application = application;
}

bool DRegisterWindowClass(const WNDCLASSEXA& wc) {
  WNDCLASSEXA copy = wc;
  copy.cbSize = sizeof(WNDCLASSEXA);
  copy.lpfnWndProc = &DWindow::WindowProc;
  return RegisterClassExA(&copy) != 0;
}

DApplication::~DApplication() {
  CoUninitialize();
  if (g_application == this) g_application = nullptr;
}

bool DApplication::Startup(HINSTANCE instance, int show_command, const char* command_line) {
  instance_ = instance;
  show_command_ = show_command;
  if (command_line) SplitCommandLine(arguments_, command_line);
  char path[264];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof(path));
  if (n >= sizeof(path)) n = sizeof(path) - 1;
  path[n] = 0;
  char drive[264], directory[264], name[264], extension[264];
  DSplitPathEx(path, drive, directory, name, extension);
  directory_ = DString(drive);
  directory_ += directory;
  application_name_ = DString(name);
  company_name_ = DString(kCompany);
  settings_mode_ = kDSettingsProgramIni;
  if (!RegisterBasicClass()) return false;
  WNDCLASSEXA splitter{};
  splitter.style = CS_HREDRAW | CS_VREDRAW;
  splitter.hInstance = instance;
  splitter.lpszClassName = kDSplitterWindowClass;
  if (!RegisterClass(splitter)) return false;
  wheel_message_ = RegisterWindowMessageA(kWheelMessage);
  InitCommonControls();
  CoInitialize(nullptr);
  return true;
}

bool DApplication::RegisterBasicClass() {
  WNDCLASSEXA wc{};
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.hInstance = instance_;
  wc.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
  wc.hIconSm = LoadIconA(nullptr, IDI_APPLICATION);
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<UINT_PTR>(6));  // COLOR_WINDOW + 1
  wc.lpszClassName = kDBasicWindowClass;
  return RegisterClass(wc);
}

// ---------------------------------------------------------------- settings

DStringBuffer DApplication::GetSettingsFile() {
  char file[264];
  if (settings_mode_ == kDSettingsProgramIni) {
    DMargePath(file, directory_.GetBuffer(), application_name_.GetBuffer(), "ini");
  } else if (settings_mode_ == kDSettingsWindowsIni) {
    char windows[264];
    UINT n = GetWindowsDirectoryA(windows, sizeof(windows));
    if (n == 0 || n >= sizeof(windows)) return DStringBuffer();
    DMargePath(file, windows, application_name_.GetBuffer(), "ini");
  } else {
    return DStringBuffer();
  }
  return DStringBuffer(static_cast<const char*>(file));
}

namespace {

// The registry key of a section, opened for the length of one operation.
bool OpenSettingsKey(DApplication& app, const DString& section, DRegKey* key) {
  std::string path = std::string("Software\\") + app.GetCompanyName().GetText() + "\\" +
                     app.GetApplicationName().GetText() + "\\" + section.Text();
  HKEY root = app.GetSettingsMode() == kDSettingsLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  return key->Open(root, path.c_str());
}

bool IsProfileMode(uint32_t mode) {
  return mode == kDSettingsProgramIni || mode == kDSettingsWindowsIni;
}

}  // namespace

int DApplication::GetSettingInt(const DString& section, const DString& key, int default_value) {
  if (IsProfileMode(settings_mode_)) {
    DStringBuffer file = GetSettingsFile();
    DProfile profile;
    if (!profile.Open(file.GetBuffer(), section)) return default_value;
    return profile.GetInt(key, default_value);
  }
  DRegKey reg;
  if (!OpenSettingsKey(*this, section, &reg)) return default_value;
  return reg.GetInt(key, default_value);
}

bool DApplication::SetSettingInt(const DString& section, const DString& key, int value) {
  if (IsProfileMode(settings_mode_)) {
    DStringBuffer file = GetSettingsFile();
    DProfile profile;
    return profile.Open(file.GetBuffer(), section) && profile.SetInt(key, value);
  }
  DRegKey reg;
  return OpenSettingsKey(*this, section, &reg) && reg.SetInt(key, value);
}

DStringBuffer DApplication::GetSettingString(const DString& section, const DString& key,
                                             const DString& default_value) {
  if (IsProfileMode(settings_mode_)) {
    DStringBuffer file = GetSettingsFile();
    DProfile profile;
    if (!profile.Open(file.GetBuffer(), section)) return DStringBuffer(default_value);
    return profile.GetString(key, default_value);
  }
  DRegKey reg;
  if (!OpenSettingsKey(*this, section, &reg)) return DStringBuffer(default_value);
  return reg.GetString(key, default_value);
}

bool DApplication::SetSettingString(const DString& section, const DString& key, const DString& value) {
  if (IsProfileMode(settings_mode_)) {
    DStringBuffer file = GetSettingsFile();
    DProfile profile;
    return profile.Open(file.GetBuffer(), section) && profile.SetString(key, value);
  }
  DRegKey reg;
  return OpenSettingsKey(*this, section, &reg) && reg.SetString(key, value);
}

// ---------------------------------------------------------------- program entry

bool DLibraryInitialize(const DProgramHooks& hooks) {
  // The lead-byte test is a fixed cp932 table: no locale is set.
  std::set_new_handler(&DNewHandler);
  if (hooks.init_tables) hooks.init_tables();
  if (hooks.plugins_init) hooks.plugins_init();
  return true;
}

bool DLibraryTerminate(const DProgramHooks& hooks) {
  DDebugLog().Close();
  DDebugLog().SetFileOutput(false);
  if (hooks.plugins_term) hooks.plugins_term();
  return true;
}

namespace {

// The entry's steps around the application object, with the arguments given.
int RunProgram(const std::vector<std::string>& arguments, const DProgramHooks& hooks) {
  DLibraryInitialize(hooks);
  int code = 0;
  {
    DApplication app;
    if (app.Startup(GetModuleHandleA(nullptr), SW_SHOWNORMAL, nullptr)) {
      // The arguments are taken as they are, in cp932: no command line is re-split. Host text
      // that cp932 cannot spell takes the host-path rule's form, so a path argument still
      // names its file.
      for (const std::string& a : arguments) {
        std::string engine;
        orvane::EnginePathFromHost(a, &engine);
        app.GetArguments().PushBack(CopyText(engine.c_str()));
      }
      DSetApplication(&app);
      code = hooks.engine_main ? hooks.engine_main() : 0;
    }
  }
  DLibraryTerminate(hooks);
  return code;
}

}  // namespace

int DProgramMain(int argc, char** argv, const DProgramHooks& hooks) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i] ? argv[i] : "");
  return RunProgram(arguments, hooks);
}

int DMain(const DProgramHooks& hooks) {
  // The process's own command line, the program's path first.
  std::vector<std::string> arguments;
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string arg;
  while (std::getline(in, arg, '\0')) arguments.push_back(arg);
  return RunProgram(arguments, hooks);
}
