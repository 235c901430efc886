// Fuzz target of the string and path built-ins and the path exports: arbitrary bytes as texts and
// arbitrary numbers as counts, widths and angles, through the machine's built-in call.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "api/api_frame.h"
#include "api/ov_api.h"
#include "imaging/dimg_tables.h"
#include "vm/dispatch.h"
#include "vm/runtime_error.h"
#include "vm/script_task.h"
#include "vm/vm_services.h"

namespace {

// The string, math and path built-ins that take texts and numbers.
constexpr uint32_t kBuiltins[] = {106, 107, 108, 231, 109, 110, 111, 112, 113, 114, 223, 194, 61,  62,
                                  238, 180, 163, 63,  128, 127, 121, 120, 123, 122, 124, 239, 240, 242};

ScriptContext* Context() {
  static ScriptContext* ctx = [] {
    DimgInitMathTables();
    VmServices s = GetVmServices();
    s.message_box = [](const char*, const char*, uint32_t) { return 1; };
    s.exit_all_tasks = &ExitAllTasks;
    SetVmServices(s);
    InstallApiBuiltins();
    DRef<ScriptImageInfo> image;
    image.Alloc(1);
    image->code = {0};
    image->globals = 8;
    image->SetData("", 0);
    ScriptContext* c = ScriptContext::Create(image, 64, &CallBuiltin, &ReportVmErrorCode);
    c->Start(0);
    return c;
  }();
  return ctx;
}

uint32_t Word(const uint8_t*& p, const uint8_t* end) {
  uint32_t w = 0;
  for (int i = 0; i < 4 && p < end; ++i) w |= static_cast<uint32_t>(*p++) << (8 * i);
  return w;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  ScriptContext* ctx = Context();
  const uint8_t* p = data;
  const uint8_t* end = data + size;
  const uint32_t builtin = kBuiltins[*p++ % (sizeof kBuiltins / sizeof kBuiltins[0])];
  uint8_t kinds = *p++;  // two bits per argument: int, float, string, string
  uint32_t words[4];
  for (uint32_t& w : words) w = Word(p, end);
  // StrPad builds what the width asks for: keep widths small enough for many runs a second.
  // The width is always the small int then (a text or float would convert to any width).
  if (builtin == 114) {
    words[2] = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(words[2])));
    kinds = static_cast<uint8_t>(kinds & ~(3u << 4));
  }
  // The rest: up to four texts separated by NUL bytes.
  std::vector<std::string> texts;
  const char* t = reinterpret_cast<const char*>(p);
  const char* tend = reinterpret_cast<const char*>(end);
  while (texts.size() < 4) {
    const char* nul = static_cast<const char*>(std::memchr(t, 0, static_cast<size_t>(tend - t)));
    texts.emplace_back(t, nul ? nul : tend);
    if (!nul) break;
    t = nul + 1;
  }
  texts.resize(4);
  for (uint32_t k = 0; k < 4; ++k) {
    ScriptValue* v = ctx->SlotOrNull(k + 1);
    switch ((kinds >> (2 * k)) & 3) {
      case 0:
        v->SetInt(static_cast<int32_t>(words[k]));
        break;
      case 1: {
        float f;
        std::memcpy(&f, &words[k], sizeof f);
        v->SetFloat(f);
        break;
      }
      default:
        v->SetString(texts[k].c_str(), texts[k].size());
    }
  }
  const uint32_t top = ctx->stack_top();
  for (uint32_t k = 4; k >= 1; --k) ctx->PushSlotRef(k);
  ctx->Push(0);
  CallBuiltin(ctx, builtin);
  ctx->Drop(ctx->stack_top() - top);
  (void)ctx->result()->ToStaticString();

  // The path exports fill buffers of exactly 264 bytes.
  std::vector<char> out(264), dir(264), name(264), ext(264);
  ovConvSlashPath(out.data(), texts[0].c_str());
  ovConvYenPath(out.data(), texts[1].c_str());
  ovMargePath(out.data(), texts[0].c_str(), texts[1].c_str(), texts[2].c_str());
  ovSplitPath(dir.data(), name.data(), ext.data(), texts[0].c_str());
  ovGetAbsolutePath(out.data(), texts[0].c_str(), texts[1].c_str());
  ovGetRelativePath(out.data(), texts[0].c_str(), texts[1].c_str());
  (void)ovIsWildPathCompare(texts[0].c_str(), texts[1].c_str());
  return 0;
}
