// Run-time error reports: the box text with file and line, the error codes' messages.
#include "vm/runtime_error.h"

#include <cstdio>
#include <cstring>

#include "vm/script_context.h"
#include "vm/vm_services.h"

std::string FormatRuntimeError(const char* message, const ScriptContext* ctx) {
  std::string text = message ? message : "";
  if (!ctx) return text;
  bool has = false;
  char name[264];
  uint32_t line = 0;
  ctx->GetSourcePos(&has, name, sizeof name, &line);
  if (!has) return text;
  char number[16];
  std::snprintf(number, sizeof number, "%d", static_cast<int32_t>(line));
  text += "\n";
  text += "　";
  text += name;
  text += "内の";
  text += number;
  text += "行目で発生";
  return text;
}

void ReportRuntimeError(const char* message, const ScriptContext* ctx) {
  std::string text = FormatRuntimeError(message, ctx);
  VmMessageBox(text.c_str(), "実行エラー", 0x10);
  VmExitAllTasks();
}

std::string VmErrorMessage(uint32_t code) {
  static const char* const kKindMessages[] = {
      "指定された変数はイメージではありません。",
      "指定された変数は入力デバイスではありません。",
      "指定された変数はテキスト情報ではありません。",
      "指定された変数はサウンドデーターではありません。",
      "指定された変数は映像データーではありません。",
      "指定された変数はプロファイルではありません。",
      "指定された変数はファイルではありません。",
      "指定された変数はネットではありません。",
      "指定された変数はタスクではありません。",
      "指定された変数はプラグインではありません。",
      "指定された変数はストリームではありません。",
      "指定された変数はワイプではありません。",
      "指定された変数はアンチエイリアス文字ではありません。",
  };
  if (code == 1) return "メモリアクセスエラー";
  if (code >= 500 && code <= 512) return kKindMessages[code - 500];
  char buf[64];
  std::snprintf(buf, sizeof buf, "未知のエラー[%d]", static_cast<int32_t>(code));
  return buf;
}

void ReportVmErrorCode(ScriptContext* ctx, uint32_t code) {
  ReportRuntimeError(VmErrorMessage(code).c_str(), ctx);
}
