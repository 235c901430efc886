// Loading script images into tasks: sharing loaded images by path, the file forms, entries, the reset.
#include "vm/script_loader.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/dfile.h"
#include "base/dpath.h"
#include "base/dstring.h"
#include "platform/kernel.h"
#include "vm/dispatch.h"
#include "vm/runtime_error.h"
#include "vm/script_image.h"
#include "vm/vm_services.h"

namespace {

constexpr uint32_t kMbIconError = 0x10;

// Copies at most 263 bytes of `text` and a NUL.
void CopyText(char* target, const char* text) {
  DString::CopyTo(DString(text), target, kTaskTextSize);
}

// The image of the file at `path`: the one appended to an executable, else the whole file. Empty
// when the file cannot be opened or read, or carries no image.
std::vector<uint8_t> ReadImageFile(const char* path) {
  DFile file;
  if (!file.Open(DString(path), DFile::kRead)) return {};
  DFileImageFile reader(file);
  std::vector<uint8_t> image = ReadScriptImageFile(reader);
  file.Close();
  return image;
}

bool HasMagic(std::span<const uint8_t> image) {
  return image.size() >= 4 && ReadImageWord(image.data()) == kScriptImageMagic;
}

void ReportLoadFailure(const char* path) {
  std::string text = "スクリプトを読み込めません。\n\"";
  text += path;
  text += '"';
  VmMessageBox(text.c_str(), "実行エラー", kMbIconError);
  ExitAllTasks();
}

// Fills the entry and appends the task to its registry.
void Register(const DRef<ScriptTask>& task, int32_t export_number, const char* entry_name,
              uint32_t registry) {
  if (entry_name != nullptr && entry_name[0] != '\0') {
    CopyText(task->entry_name, entry_name);
  } else {
    task->entry_name[0] = '\0';
    task->export_number = export_number;
  }
  task->registry = registry;
  task->link = TaskRegistry(registry).PushBack(task);
}

// The program's directory: the one set, else the executable's own, looked up on first need (the
// lookup goes through /proc, a noticeable part of a short program's start).
struct ProgramDirectoryState {
  bool known = false;
  std::string directory;
};
ProgramDirectoryState& ProgramDirectory() {
  static ProgramDirectoryState state;
  return state;
}
const std::string& KnownProgramDirectory() {
  ProgramDirectoryState& s = ProgramDirectory();
  if (!s.known) {
    char path[kTaskTextSize] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n != 0 && n < sizeof path) {
      DConvSlashPath(path);
      char directory[kTaskTextSize] = {};
      DSplitPath(DString(path), directory, nullptr, nullptr);
      s.directory = directory;
    }
    s.known = true;
  }
  return s.directory;
}

// The base a task path is made absolute against when no task runs. A path from the root is its own
// absolute form against any base without a drive, as the executable's directory always is (a host
// path from the root), so such a path needs no lookup of it.
const char* BaseForTaskPath(const char* path) {
  if (!ProgramDirectory().known && (path[0] == '/' || path[0] == '\\')) return "";
  return KnownProgramDirectory().c_str();
}

}  // namespace

void SetProgramDirectory(const char* directory) {
  ProgramDirectory() = {true, directory ? directory : ""};
}
const char* GetProgramDirectory() {
  return KnownProgramDirectory().c_str();
}

ScriptContext* ParseScriptImage(std::span<const uint8_t> image, uint32_t growth, VmNativeHook hook,
                                VmErrorCallback callback) {
  DRef<ScriptImageInfo> info;
  info.Alloc(1);
  if (LoadScriptImageInfo(image, info.Get()) != nullptr) return nullptr;
  return ScriptContext::Create(info, growth, hook, callback);
}

DRef<ScriptTask> LoadScript(const char* path, std::span<const uint8_t> image, int32_t export_number,
                            const char* entry_name, uint32_t registry, bool report) {
  if (path == nullptr) path = "";
  DRef<ScriptTask> task;
  task.Alloc(1);
  const DRef<ScriptTask>& current = CurrentTask();
  const char* base = current ? current->directory : BaseForTaskPath(path);
  const DStringBuffer absolute = DGetAbsolutePath(DString(path), DString(base));
  CopyText(task->path, absolute.GetText());
  DConvSlashPath(task->path);
  DSplitPath(DString(task->path), task->directory, nullptr, nullptr);

  // An image that a registered task already runs is shared, globals included.
  bool found = false;
  for (uint32_t r : {kTaskList, kHandlerList}) {
    DRefList<ScriptTask>& list = TaskRegistry(r);
    for (auto it = list.Begin(); !found && !(it == list.End()); it = it.Next()) {
      DRef<ScriptTask> other = it.Value();
      if (!other || DString::CompareNoCase(DString(other->path), DString(task->path)) != 0) continue;
      found = true;
      if (other->context != nullptr) task->context = ScriptContext::CloneShared(*other->context);
    }
    if (found) break;
  }
  if (!found) {
    std::vector<uint8_t> from_file;
    if (image.empty()) {
      from_file = ReadImageFile(task->path);
      image = from_file;
    }
    if (HasMagic(image)) {
      task->context = ParseScriptImage(image, kLoaderSlotGrowth, &CallBuiltin, &ReportVmErrorCode);
    }
  }
  if (task->context == nullptr) {
    ScriptTask::End(task);
    if (report) ReportLoadFailure(path);
    return DRef<ScriptTask>();
  }
  Register(task, export_number, entry_name, registry);
  return task;
}

DRef<ScriptTask> LoadScriptExport(const char* path, int32_t export_number, uint32_t registry, bool report) {
  return LoadScript(path, {}, export_number, nullptr, registry, report);
}

DRef<ScriptTask> LoadScriptNamed(const char* path, const char* entry_name, uint32_t registry, bool report) {
  return LoadScript(path, {}, 0, entry_name, registry, report);
}

DRef<ScriptTask> NewScriptTask(const DRef<ScriptTask>& source, int32_t export_number, const char* entry_name,
                               uint32_t registry) {
  DRef<ScriptTask> task;
  task.Alloc(1);
  if (source) {
    std::memcpy(task->path, source->path, kTaskTextSize);
    std::memcpy(task->directory, source->directory, kTaskTextSize);
    if (source->context != nullptr) task->context = ScriptContext::CloneShared(*source->context);
  }
  if (task->context == nullptr) {
    ScriptTask::End(task);
    ReportLoadFailure(source ? source->path : "");
    return DRef<ScriptTask>();
  }
  Register(task, export_number, entry_name, registry);
  return task;
}

DRef<ScriptTask> NewScriptTaskExport(const DRef<ScriptTask>& source, int32_t export_number,
                                     uint32_t registry) {
  return NewScriptTask(source, export_number, nullptr, registry);
}

DRef<ScriptTask> NewScriptTaskNamed(const DRef<ScriptTask>& source, const char* entry_name,
                                    uint32_t registry) {
  return NewScriptTask(source, 0, entry_name, registry);
}

bool FindEntry(const DRef<ScriptTask>& task) {
  if (!task || task->context == nullptr) return false;
  ScriptContext* ctx = task->context;
  std::string message;
  if (task->entry_name[0] != '\0') {
    uint32_t entry;
    if (ctx->FindMethod(task->entry_name, &entry) && ctx->Start(entry)) {
      task->run_flags = 0;
      return true;
    }
    message = std::string("\"") + task->entry_name + "\"メソッドが見つかりません。";
  } else {
    if (ctx->StartByExport(task->export_number)) {
      task->run_flags = 0;
      return true;
    }
    char text[96];
    std::snprintf(text, sizeof text, "Export %d 属性のメソッドが見つかりません。", task->export_number);
    message = text;
  }
  InstallTaskServices();
  ReportRuntimeError(message.c_str(), ctx);
  return false;
}

bool ExecuteScriptFile(const char* path, int32_t export_number, const char* entry_name) {
  char resolved[kTaskTextSize];
  CopyText(resolved, DGetAbsolutePath(DString(path ? path : ""), DString(GetProgramDirectory())).GetText());
  DRef<ScriptTask> task = LoadScript(resolved, {}, export_number, entry_name, kTaskList, false);
  if (!task) {
    char with_extension[kTaskTextSize];
    DMargePath(with_extension, DString(""), DString(resolved), DString("mei"));
    task = LoadScript(with_extension, {}, export_number, entry_name, kTaskList, false);
    if (!task) return false;
  }
  const bool ran = CallMethodSync(task);
  ScriptTask::End(task);
  return ran;
}
