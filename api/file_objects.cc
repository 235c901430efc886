// Script file objects: the CreateFile, read, write and position built-ins on the current file, and
// their export twins on a file handle. Both faces call the File unit's operations on one
// CScriptFile; a script value and a handle on the same object share it.
#include <cstring>
#include <string>

#include "api/api_common.h"
#include "api/api_frame.h"
#include "api/ov_api.h"
#include "shell/cfilemanager.h"
#include "shell/engine.h"
#include "vm/dispatch.h"
#include "vm/runtime_error.h"

namespace {

constexpr const char* kOpenFailed = "ファイルを開けません。";

// The archive that read-only opens take their files from: the mounted one, or none.
DRef<DDataFile> ReadArchive() {
  const DRef<DDataFile>& archive = MountedDataFile();
  return archive && archive->IsMounted() ? archive : DRef<DDataFile>();
}

// The shared worker of CreateFile and ovCreateFile: a new file object, empty on failure.
DRef<CScriptFile> OpenScriptFile(const char* path, int32_t mode) {
  DRef<CScriptFile> file;
  FileManager().Open(&file, path, ReadArchive(), mode);
  return file;
}

DRef<CScriptFile> CurrentFile() {
  return DRef<CScriptFile>::Convert(CurrentObjects().file);
}

// The file behind a handle, borrowed for the call: the handle's own reference keeps it alive, and
// no file export can destroy a handle, so the per-call reference count traffic of a temporary is
// spared (it dominated the cost of reading short lines). Null for a null handle; null, with the
// frame's log line, for a handle of another kind.
CScriptFile* FileOf(ApiHandle* handle, const char* export_name) {
  if (handle != nullptr && handle->kind == kScriptFile) return static_cast<CScriptFile*>(handle->ref.Get());
  if (handle != nullptr) ApiHandleObject(handle, kScriptFile, export_name);
  return nullptr;
}

// ---- Built-ins.

bool BiCreateFile(ScriptContext* ctx) {
  // The whole text, not a 263-byte cut of it: a longer path must fail, not open another file.
  const std::string path = ctx->GetArg(1)->ToStaticString();
  const int32_t mode = ctx->GetArg(2)->ToInt();
  DRef<CScriptFile> file = OpenScriptFile(path.c_str(), mode);
  if (!file) {
    char quoted[kApiPathSize];
    CopyPath(quoted, path.c_str());
    const std::string message = std::string(kOpenFailed) + "\n\"" + quoted + "\"";
    ReportRuntimeError(message.c_str(), ctx);
    return false;
  }
  SetObjectValue(ctx->result(), kScriptFile, DRef<void>::Convert(file));
  return false;
}

// The read built-ins replace the out variable's whole value, and only when they succeed.
bool ReadTextInto(ScriptContext* ctx, bool line_mode) {
  DRef<CScriptFile> file = CurrentFile();
  const char* text = file ? file->ReadText(line_mode) : nullptr;
  if (text) ctx->GetArg(1)->SetString(text);
  ctx->result()->SetBool(text != nullptr);
  return false;
}
bool BiReadFileLine(ScriptContext* ctx) {
  return ReadTextInto(ctx, true);
}
bool BiReadFileString(ScriptContext* ctx) {
  return ReadTextInto(ctx, false);
}
bool BiReadFileNumber(ScriptContext* ctx) {
  DRef<CScriptFile> file = CurrentFile();
  int32_t n = 0;
  const bool ok = file && file->ReadNumber(&n);
  if (ok) ctx->GetArg(1)->SetInt(n);
  ctx->result()->SetBool(ok);
  return false;
}
bool BiReadFileFloat(ScriptContext* ctx) {
  DRef<CScriptFile> file = CurrentFile();
  float f = 0;
  const bool ok = file && file->ReadFloat(&f);
  if (ok) ctx->GetArg(1)->SetFloat(f);
  ctx->result()->SetBool(ok);
  return false;
}

// The write built-ins write the argument's text (a number as its decimal text).
bool WriteTextOf(ScriptContext* ctx, bool line_mode) {
  DRef<CScriptFile> file = CurrentFile();
  ctx->result()->SetBool(file && file->WriteText(ctx->GetArg(1)->ToStaticString(), line_mode));
  return false;
}
bool BiWriteFileLine(ScriptContext* ctx) {
  return WriteTextOf(ctx, true);
}
bool BiWriteFileString(ScriptContext* ctx) {
  return WriteTextOf(ctx, false);
}
bool BiWriteFileNumber(ScriptContext* ctx) {
  DRef<CScriptFile> file = CurrentFile();
  ctx->result()->SetBool(file && file->WriteNumber(ctx->GetArg(1)->ToInt()));
  return false;
}
bool BiWriteFileFloat(ScriptContext* ctx) {
  DRef<CScriptFile> file = CurrentFile();
  ctx->result()->SetBool(file && file->WriteFloat(ctx->GetArg(1)->ToFloat()));
  return false;
}
bool BiSeekFile(ScriptContext* ctx) {
  DRef<CScriptFile> file = CurrentFile();
  const int32_t offset = ctx->GetArg(1)->ToInt();
  const int32_t origin = ctx->GetArg(2)->ToInt();
  ctx->result()->SetBool(file && file->Seek(offset, origin));
  return false;
}
bool BiTellFile(ScriptContext* ctx) {
  DRef<CScriptFile> file = CurrentFile();
  ctx->result()->SetInt(file ? file->Tell() : -1);
  return false;
}
bool BiRewindFile(ScriptContext*) {
  if (DRef<CScriptFile> file = CurrentFile()) file->Rewind();
  return false;
}
bool BiGetFileSize(ScriptContext* ctx) {
  DRef<CScriptFile> file = CurrentFile();
  ctx->result()->SetInt(file ? file->GetSize() : -1);
  return false;
}
bool BiChopFile(ScriptContext* ctx) {
  DRef<CScriptFile> file = CurrentFile();
  ctx->result()->SetBool(file && file->Chop());
  return false;
}

}  // namespace

void InstallFileSystemBuiltins();

ORVANE_START_CODE void InstallFileBuiltins() {
  const struct {
    uint32_t n;
    VmHandler h;
  } table[] = {
      {205, Guarded<BiCreateFile>},     {208, Guarded<BiReadFileNumber>},  {209, Guarded<BiReadFileFloat>},
      {210, Guarded<BiReadFileString>}, {213, Guarded<BiReadFileLine>},    {214, Guarded<BiWriteFileNumber>},
      {215, Guarded<BiWriteFileFloat>}, {216, Guarded<BiWriteFileString>}, {217, Guarded<BiRewindFile>},
      {218, Guarded<BiGetFileSize>},    {219, Guarded<BiChopFile>},        {220, Guarded<BiSeekFile>},
      {221, Guarded<BiTellFile>},       {222, Guarded<BiWriteFileLine>},
  };
  for (const auto& e : table) SetVmBuiltin(e.n, e.h);
  InstallFileSystemBuiltins();
}

// ---- Exports. Each gives its failure value for a null or wrong-kind handle and a null pointer.

ApiHandle* ovCreateFile(const char* path, int32_t mode) noexcept {
  try {
    if (path == nullptr) return nullptr;
    DRef<CScriptFile> file = OpenScriptFile(path, mode);
    return NewApiHandle(kScriptFile, DRef<void>::Convert(file));
  } catch (...) {
    return nullptr;
  }
}

void ovDestroyFile(ApiHandle* file) noexcept {
  try {
    DestroyApiHandle(file, kScriptFile, "ovDestroyFile");
  } catch (...) {
  }
}

// The text lies in the file object's buffer, valid until the next call on that object.
const char* ovReadFileLine(ApiHandle* file) noexcept {
  try {
    CScriptFile* f = FileOf(file, "ovReadFileLine");
    return f ? f->ReadText(true) : nullptr;
  } catch (...) {
    return nullptr;
  }
}

const char* ovReadFileString(ApiHandle* file) noexcept {
  try {
    CScriptFile* f = FileOf(file, "ovReadFileString");
    return f ? f->ReadText(false) : nullptr;
  } catch (...) {
    return nullptr;
  }
}

int32_t ovReadFileNumber(int32_t* out, ApiHandle* file) noexcept {
  try {
    CScriptFile* f = FileOf(file, "ovReadFileNumber");
    int32_t n = 0;
    if (out == nullptr || !f || !f->ReadNumber(&n)) return 0;
    *out = n;
    return 1;
  } catch (...) {
    return 0;
  }
}

int32_t ovReadFileFloat(float* out, ApiHandle* file) noexcept {
  try {
    CScriptFile* f = FileOf(file, "ovReadFileFloat");
    float v = 0;
    if (out == nullptr || !f || !f->ReadFloat(&v)) return 0;
    *out = v;
    return 1;
  } catch (...) {
    return 0;
  }
}

int32_t ovReadFileData(void* buffer, uint32_t n, ApiHandle* file) noexcept {
  try {
    CScriptFile* f = FileOf(file, "ovReadFileData");
    if (buffer == nullptr || !f) return 0;
    // Any block larger than the buffer fails as one of 1025 bytes does, with the error flag.
    const int32_t count = n > CScriptFile::kBufferSize ? static_cast<int32_t>(CScriptFile::kBufferSize + 1)
                                                       : static_cast<int32_t>(n);
    return f->Read(buffer, count) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

int32_t ovWriteFileData(ApiHandle* file, const void* buffer, uint32_t n) noexcept {
  try {
    CScriptFile* f = FileOf(file, "ovWriteFileData");
    if (buffer == nullptr || !f) return 0;
    // A count beyond the largest position is a negative one for the File unit: the error flag.
    const int32_t count = n > static_cast<uint32_t>(INT32_MAX) ? -1 : static_cast<int32_t>(n);
    return f->Write(buffer, count) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

int32_t ovWriteFileNumber(ApiHandle* file, int32_t value) noexcept {
  try {
    CScriptFile* f = FileOf(file, "ovWriteFileNumber");
    return f && f->WriteNumber(value) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

int32_t ovWriteFileFloat(ApiHandle* file, float value) noexcept {
  try {
    CScriptFile* f = FileOf(file, "ovWriteFileFloat");
    return f && f->WriteFloat(value) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

int32_t ovWriteFileString(ApiHandle* file, const char* text) noexcept {
  try {
    CScriptFile* f = FileOf(file, "ovWriteFileString");
    return text && f && f->WriteText(text, false) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

int32_t ovWriteFileLine(ApiHandle* file, const char* text) noexcept {
  try {
    CScriptFile* f = FileOf(file, "ovWriteFileLine");
    return text && f && f->WriteText(text, true) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

void ovRewindFile(ApiHandle* file) noexcept {
  try {
    if (CScriptFile* f = FileOf(file, "ovRewindFile")) f->Rewind();
  } catch (...) {
  }
}

int32_t ovGetFileSize(ApiHandle* file) noexcept {
  try {
    CScriptFile* f = FileOf(file, "ovGetFileSize");
    return f ? f->GetSize() : -1;
  } catch (...) {
    return -1;
  }
}

int32_t ovChopFile(ApiHandle* file) noexcept {
  try {
    CScriptFile* f = FileOf(file, "ovChopFile");
    return f && f->Chop() ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

int32_t ovSeekFile(ApiHandle* file, int32_t offset, int32_t origin) noexcept {
  try {
    CScriptFile* f = FileOf(file, "ovSeekFile");
    return f && f->Seek(offset, origin) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

int32_t ovTellFile(ApiHandle* file) noexcept {
  try {
    CScriptFile* f = FileOf(file, "ovTellFile");
    return f ? f->Tell() : -1;
  } catch (...) {
    return -1;
  }
}
