// DApplication: the process's application object, its settings store, and the program entry.
#pragma once

#include <cstdint>

#include "base/dobject.h"
#include "base/dreflist.h"
#include "base/dstring.h"
#include "platform/win32.h"

// Where settings go: 0 (and any value not listed) the registry under HKEY_CURRENT_USER, 1 under
// HKEY_LOCAL_MACHINE, both at "Software\<company>\<application>\<section>"; 2 the .ini file
// named after the program in its directory; 3 the same file name in the Windows directory.
enum : uint32_t {
  kDSettingsCurrentUser = 0,
  kDSettingsLocalMachine = 1,
  kDSettingsProgramIni = 2,
  kDSettingsWindowsIni = 3,
};

class DApplication : public DObject {
 public:
  DApplication() = default;
  DApplication(const DApplication&) = delete;
  DApplication& operator=(const DApplication&) = delete;
  // Uninitialises COM; clears the process-wide pointer when it designates this object.
  ~DApplication() override;

  // The framework start-up: instance and show command, the argument list (split from the
  // command line when one is given), the program's name and directory, company "Amber Quill",
  // settings mode 2, the two window classes, the wheel message, common controls and COM.
  // False only when a class registration fails for another reason than an existing class.
  bool Startup(HINSTANCE instance, int show_command, const char* command_line);
  // Registers "AQC Basic Window Class"; false on a failure other than an existing class.
  bool RegisterBasicClass();

  // Settings by section and key in the store of the current mode. Reads give the default on any
  // failure (missing store, key or value, or another type); writes give false.
  int GetSettingInt(const DString& section, const DString& key, int default_value);
  bool SetSettingInt(const DString& section, const DString& key, int value);
  DStringBuffer GetSettingString(const DString& section, const DString& key, const DString& default_value);
  bool SetSettingString(const DString& section, const DString& key, const DString& value);
  // The .ini file of modes 2 and 3 (empty for the registry modes).
  DStringBuffer GetSettingsFile();

  HINSTANCE GetInstance() const { return instance_; }
  int GetShowCommand() const { return show_command_; }
  const DStringBuffer& GetApplicationName() const { return application_name_; }
  const DStringBuffer& GetDirectory() const { return directory_; }
  const DStringBuffer& GetCompanyName() const { return company_name_; }
  uint32_t GetSettingsMode() const { return settings_mode_; }
  void SetSettingsMode(uint32_t mode) { settings_mode_ = mode; }
  UINT GetWheelMessage() const { return wheel_message_; }
  DRefList<char>& GetArguments() { return arguments_; }
  void SetApplicationName(const DString& name) { application_name_ = name; }
  void SetDirectory(const DString& directory) { directory_ = directory; }
  void SetCompanyName(const DString& name) { company_name_ = name; }

 private:
  HINSTANCE instance_ = nullptr;
  int show_command_ = SW_SHOWNORMAL;
  DStringBuffer application_name_;  // program file name without directory and extension
  DStringBuffer directory_;         // drive and directory of the program, ending in a separator
  DStringBuffer company_name_;      // first component of the registry key path
  uint32_t settings_mode_ = kDSettingsProgramIni;
  UINT wheel_message_ = 0;    // registered "MSWHEEL_ROLLMSG"
  DRefList<char> arguments_;  // command-line arguments
};

// The process-wide application object: set by the program entry after a successful Startup,
// cleared when that object is destroyed; null otherwise.
DApplication* DGetApplication();
void DSetApplication(DApplication* application);

// Registers a copy of the template with its size filled in and DWindow::WindowProc as procedure.
bool DRegisterWindowClass(const WNDCLASSEXA& wc);

// What the program entry runs around the application object; null members are skipped. The
// imaging library's tables and its plug-in support live above this library, the engine main in
// the engine shell.
struct DProgramHooks {
  void (*init_tables)();   // math tables, then colour-conversion tables
  void (*plugins_init)();  // image plug-in support start
  void (*plugins_term)();  // image plug-in support stop
  int (*engine_main)();    // runs the engine; its result is the exit code
};

// The program entry from main(argc, argv): the allocation-failure handler, the tables and
// plug-in support, the application object started with the arguments argv[1..] (converted to
// cp932) and show command SW_SHOWNORMAL, the engine main, then the application object's end,
// the debug log's close and the plug-in support's stop. Returns the engine main's exit code, or
// 0 when the start-up failed.
int DProgramMain(int argc, char** argv, const DProgramHooks& hooks);
// The same steps with the process's own command line (the program's path first in the list).
int DMain(const DProgramHooks& hooks);
// The library's global set-up (allocation-failure handler, tables, plug-in support) and
// tear-down (debug log close, plug-in support stop) alone. Both give true.
bool DLibraryInitialize(const DProgramHooks& hooks);
bool DLibraryTerminate(const DProgramHooks& hooks);
