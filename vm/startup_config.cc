// The start-up configuration pass: runs "startupconfig" in a temporary context and reads its option words.
#include "vm/startup_config.h"

#include <cstdio>
#include <string>

#include "base/dlogstream.h"
#include "base/dstring.h"
#include "vm/dispatch.h"
#include "vm/opcodes.h"
#include "vm/script_context.h"
#include "vm/script_image.h"
#include "vm/script_loader.h"
#include "vm/script_task.h"
#include "vm/vm_services.h"

namespace {

constexpr uint32_t kMbIconError = 0x10;

uint32_t g_pass_error = 0;  // set by the pass's error callback; tested before every instruction

// Blank at p: 1 for a space or tab, 2 for a full-width space, 0 otherwise.
int BlankLength(const char* p) {
  if (*p == ' ' || *p == '\t') return 1;
  if (static_cast<uint8_t>(p[0]) == 0x81 && static_cast<uint8_t>(p[1]) == 0x40) return 2;
  return 0;
}

}  // namespace

const char* SkipConfigBlanks(const char* p) {
  if (p == nullptr) return nullptr;
  while (int n = BlankLength(p)) p += n;
  return *p != '\0' ? p : nullptr;
}

const char* NextConfigWord(const char* p, char* word, size_t size) {
  if (size > 0) word[0] = '\0';
  if (p == nullptr) return nullptr;
  size_t out = 0;
  for (size_t count = 2; count < size;) {
    if (*p == '\0' || BlankLength(p) != 0) break;
    if (DIsLeadByte(static_cast<uint8_t>(p[0])) && p[1] != '\0') {
      word[out++] = *p++;
      word[out++] = *p++;
      count += 2;
    } else {
      word[out++] = *p++;
      count += 1;
    }
  }
  if (size > 0) word[out] = '\0';
  return *p != '\0' ? p : nullptr;
}

bool StartupConfigNativeHook(ScriptContext*, uint32_t) {
  VmMessageBox("起動設定(startupconfig)時はメソッドは使用できません。", "Orvane", kMbIconError);
  return false;
}

void StartupConfigErrorHook(ScriptContext* ctx, uint32_t) {
  bool has = false;
  char name[kTaskTextSize] = {};
  uint32_t line = 0;
  if (ctx != nullptr) ctx->GetSourcePos(&has, name, sizeof name, &line);
  std::string text;
  if (has) {
    char number[16];
    std::snprintf(number, sizeof number, "%d", static_cast<int>(line));
    text =
        std::string("起動設定(startupconfig)時に") + name + "内の" + number + "行目でエラーが発生しました。";
  } else {
    text = "起動設定(startupconfig)時にエラーが発生しました。";
  }
  VmMessageBox(text.c_str(), "実行エラー", kMbIconError);
  g_pass_error |= 1;
}

ORVANE_START_CODE bool RunStartupConfig(std::span<const uint8_t> image, uint64_t max_steps) {
  SetStartupFlags(0);
  if (image.size() < 4 || ReadImageWord(image.data()) != kScriptImageMagic) return false;
  DRef<ScriptImageInfo> info;
  info.Alloc(1);
  if (LoadScriptImageInfo(image, info.Get()) != nullptr) return false;

  bool failed = false;
  std::string text;
  uint32_t entry;
  // Most images have no such method; they need no context, whose making and release cost a
  // program's start more than the rest of the pass.
  ScriptContext* ctx = nullptr;
  if (info->FindMethod("startupconfig", &entry)) {
    ctx = ScriptContext::Create(info, kLoaderSlotGrowth, &StartupConfigNativeHook, &StartupConfigErrorHook);
    if (ctx == nullptr) return false;
  }
  if (ctx != nullptr && ctx->Start(entry)) {
    g_pass_error = 0;
    for (uint64_t steps = 0;; ++steps) {
      if (g_pass_error != 0) {
        failed = true;
        break;
      }
      if (steps == max_steps) {
        // A method that never ends would hold the program in start-up without a window.
        StartupConfigErrorHook(ctx, 1);
        failed = true;
        break;
      }
      if (ctx->Step()) {
        failed = g_pass_error != 0;
        break;
      }
    }
    if (!failed && ctx->result()->type() == kScriptString && ctx->result()->text() != nullptr) {
      text = ctx->result()->text();
    }
  }
  ScriptContext::Destroy(ctx);
  if (failed) return false;

  DLogStream& log = DDebugLog();
  log.Write(DString("Startup Config: \""));
  log.Write(DString(text.c_str()));
  log.Write(DString("\"\r\n"));

  static const char* const kWords[] = {"tss", "nomenu", "sound3d"};
  uint32_t flags = 0;
  char word[256];
  for (const char* p = SkipConfigBlanks(text.c_str()); p != nullptr; p = SkipConfigBlanks(p)) {
    p = NextConfigWord(p, word, sizeof word);
    for (uint32_t k = 0; k < 3; ++k) {
      if (DString::CompareNoCase(DString(word), DString(kWords[k])) == 0) {
        flags |= 1u << k;
        break;
      }
    }
  }
  SetStartupFlags(flags);
  static const char* const kLines[] = {" using TSS.\r\n", " using no-menu.\r\n", " using sound-3d.\r\n"};
  for (uint32_t k = 0; k < 3; ++k) {
    if (flags & (1u << k)) log.Write(DString(kLines[k]));
  }
  return true;
}
