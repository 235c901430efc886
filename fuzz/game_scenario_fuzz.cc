// Fuzz target: arbitrary scenario text through the game's loader, runner and command interpreter,
// against a small stand-in engine; every play-ending error is caught as the game's start does.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>

#include "game/engine_api.h"
#include "game/error_report.h"
#include "game/handlers.h"
#include "game/scenario.h"

namespace {

// The one file of the stand-in engine and the reading position in it.
std::string g_text;
size_t g_position = 0;
int g_open_files = 0;
char g_line[1024];

#include "fuzz/export_failure_stand_ins.h"

ApiHandle* const kFile = reinterpret_cast<ApiHandle*>(&g_position);

ApiHandle* CreateFile(const char* path, int32_t mode) noexcept {
  if (mode != 1 || std::strcmp(path, "scn/f/start.scn") != 0) return nullptr;
  ++g_open_files;
  g_position = 0;
  return kFile;
}

void DestroyFile(ApiHandle*) noexcept {
  --g_open_files;
}

// Lines as the engine hands them out: up to "\n" or NUL, control bytes dropped, 1023-byte pieces.
const char* ReadFileLine(ApiHandle*) noexcept {
  if (g_position >= g_text.size()) return nullptr;
  size_t length = 0;
  while (g_position < g_text.size()) {
    unsigned char c = static_cast<unsigned char>(g_text[g_position]);
    if (c == '\n' || c == 0) {
      ++g_position;
      break;
    }
    if (c < 0x20 && c != '\t') {
      ++g_position;
      continue;
    }
    if (length == 1023) break;
    g_line[length++] = static_cast<char>(c);
    ++g_position;
  }
  g_line[length] = '\0';
  return g_line;
}

void* Lookup(void*, const char* name) {
  if (std::strcmp(name, "ovCreateFile") == 0) return reinterpret_cast<void*>(&CreateFile);
  if (std::strcmp(name, "ovDestroyFile") == 0) return reinterpret_cast<void*>(&DestroyFile);
  if (std::strcmp(name, "ovReadFileLine") == 0) return reinterpret_cast<void*>(&ReadFileLine);
#define OV_EXPORT(position, export_name, return_type, params) \
  if (std::strcmp(name, #export_name) == 0) return reinterpret_cast<void*>(&stand_in::export_name);
#include "api/export_list.h"
#undef OV_EXPORT
  return nullptr;
}

template <class F>
struct Noop;
template <class R, class... A>
struct Noop<R (*)(A...)> {
  static R Call(A...) { return FailureValue<R>(); }
};
template <class F>
void SetNoop(F& slot) {
  slot = &Noop<F>::Call;
}

GameHandlers NoopHandlers() {
  GameHandlers h{};
  SetNoop(h.ShowMessage), SetNoop(h.sprRender), SetNoop(h.sprBeginScene), SetNoop(h.sprEndScene);
  SetNoop(h.sprLoadMotion), SetNoop(h.backSet), SetNoop(h.frontSet), SetNoop(h.backPos);
  SetNoop(h.charaShow), SetNoop(h.charaHide), SetNoop(h.textShowName), SetNoop(h.courtSetLawyerBack);
  SetNoop(h.courtSetWitnessBack), SetNoop(h.courtSetProsecutorBack), SetNoop(h.courtSetJudgeBack);
  SetNoop(h.courtSetGuideBack), SetNoop(h.textShowMessage), SetNoop(h.textShowScene), SetNoop(h.textShowFull);
  SetNoop(h.textShowLoud), SetNoop(h.itemMessage), SetNoop(h.itemShow), SetNoop(h.itemHide);
  SetNoop(h.itemGetShow), SetNoop(h.itemGet), SetNoop(h.itemLost), SetNoop(h.itemShowKiroku);
  SetNoop(h.itemHideKiroku), SetNoop(h.itemSelect), SetNoop(h.inquiryRun), SetNoop(h.inquiryDisableSpeech);
  SetNoop(h.inquiryEnableSpeech), SetNoop(h.inquiryExit), SetNoop(h.inquiryRewind),
      SetNoop(h.courtShowKakegoe);
  SetNoop(h.courtHideCourtLife), SetNoop(h.courtShowLife), SetNoop(h.courtReduceLife),
      SetNoop(h.courtSetLife);
  SetNoop(h.courtSetNolifeScenario), SetNoop(h.courtShowPlea), SetNoop(h.bgmPlay), SetNoop(h.FindSoundFile);
  SetNoop(h.sePlay), SetNoop(h.saveGame);
  return h;
}

// A jump command can loop for ever, as it would in the game; inputs with one are not run.
bool MayLoop(const std::string& text) {
  for (size_t i = 0; i + 4 <= text.size(); ++i) {
    bool match = true;
    for (size_t k = 0; k < 4 && match; ++k) match = (text[i + k] | 0x20) == "goto"[k];
    if (match) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 16) return 0;
  g_text.assign(reinterpret_cast<const char*>(data), size);
  if (MayLoop(g_text)) return 0;
  static const bool bound = BindEngineApi(&Lookup, nullptr);
  if (!bound) __builtin_trap();
  Handlers() = NoopHandlers();
  SetChapterFolder("scn/f");
  for (int32_t kind = 0; kind < 2; ++kind) {
    DScenario scenario;
    try {
      JumpToLabel(scenario, "start:");
      RunScenario(scenario, kind);
    } catch (const DExceptGame&) {
    }
    // The first line as a jump target.
    try {
      std::string target = g_text.substr(0, g_text.find('\n'));
      JumpToLabel(scenario, target.c_str());
    } catch (const DExceptGame&) {
    }
  }
  if (g_open_files != 0 || CurrentScenario() != nullptr) __builtin_trap();
  return 0;
}
