// Error reports: formatting into a bounded buffer, the log line, the engine's box, the throw.
#include "game/error_report.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "base/dlogstream.h"
#include "base/dstring.h"
#include "game/engine_api.h"

namespace {

char g_error_file[kErrorFileSize] = "";
int32_t g_error_line = 0;

constexpr const char kCaption[] = "Tale Frame";

// vsnprintf into buffer; a text that did not fit is cut before a double-byte character whose
// trail byte was lost.
void FormatBounded(char* buffer, size_t size, const char* format, va_list args) {
  int n = std::vsnprintf(buffer, size, format, args);
  if (n < 0) {
    buffer[0] = '\0';
    return;
  }
  if (static_cast<size_t>(n) < size) return;
  size_t length = size - 1, i = 0;
  while (i < length) {
    size_t step = DIsLeadByte(buffer[i]) ? 2 : 1;
    if (i + step > length) break;
    i += step;
  }
  buffer[i] = '\0';
}

// Log line and box; the log never stops a report.
void Show(const char* message) {
  try {
    DDebugLog() << message;
    DDebugLog() << "\n";
  } catch (...) {
  }
  if (g_engine.ovMessage) g_engine.ovMessage(message, kCaption, 0);
}

void CopyName(const char* name) {
  if (name == g_error_file) return;
  DString::CopyTo(DString(name), g_error_file, sizeof(g_error_file));
}

}  // namespace

void FatalError(const char* format, ...) {
  char message[kReportBufferSize];
  va_list args;
  va_start(args, format);
  FormatBounded(message, sizeof(message), format, args);
  va_end(args);
  Show(message);
  throw DExceptGame();
}

void WarningMessage(const char* format, ...) {
  char message[kReportBufferSize];
  va_list args;
  va_start(args, format);
  FormatBounded(message, sizeof(message), format, args);
  va_end(args);
  Show(message);
}

void ScriptError(const char* format, ...) {
  char message[kReportBufferSize];
  va_list args;
  va_start(args, format);
  FormatBounded(message, sizeof(message), format, args);
  va_end(args);
  FatalError("ファイル \"%s\"\n行数 %d\n\n%s", g_error_file, g_error_line, message);
}

void ThrowGameExit() {
  throw DExceptGame();
}

void TagOptionError(const char* tag, const char* option) {
  FatalError("ファイル \"%s\"\n行数 %d\n\nタグ[%s]の%sオプションが認識できません。", g_error_file,
             g_error_line, tag, option);
}

void TagError(const char* tag) {
  FatalError("ファイル \"%s\"\n行数 %d\n\nタグ[%s]が認識できません。", g_error_file, g_error_line, tag);
}

void CommandOptionError(const char* command, const char* option) {
  FatalError("ファイル \"%s\"\n行数 %d\n\nコマンド%sの%sオプションが認識できません。", g_error_file,
             g_error_line, command, option);
}

void CommandError(const char* command) {
  FatalError("ファイル \"%s\"\n行数 %d\n\nコマンド%sが認識できません。", g_error_file, g_error_line, command);
}

void WordError(const char* word) {
  FatalError("ファイル \"%s\"\n行数 %d\n\n%sが認識できません。", g_error_file, g_error_line, word);
}

void CommandOptionValueError(const char* command, const char* option, const char* value) {
  FatalError("ファイル \"%s\"\n行数 %d\n\nコマンド%sの%sオプション%sが認識できません。", g_error_file,
             g_error_line, command, option, value);
}

void SetErrorFile(const char* name) {
  CopyName(name);
  g_error_line = 0;
}

void SetErrorPosition(const char* name, int32_t line) {
  CopyName(name);
  g_error_line = line;
}

void NextErrorLine() {
  if (g_error_line < INT32_MAX) ++g_error_line;
}

void ClearErrorLine() {
  g_error_line = 0;
}

const char* ErrorFileName() {
  return g_error_file;
}

int32_t ErrorLine() {
  return g_error_line;
}
