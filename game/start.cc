// The game: data archive, start-up, logo, the title menu and the plays it starts.
#include "game/start.h"

#include <cstdio>
#include <cstring>

#include "base/dlogstream.h"
#include "game/court.h"
#include "game/engine_api.h"
#include "game/error_report.h"
#include "game/save.h"
#include "game/scenario.h"
#include "game/sound.h"
#include "game/sprite.h"
#include "game/sprite_def.h"
#include "game/stage.h"
#include "game/timer.h"
#include "game/tokenizer.h"
#include "platform/user.h"

namespace {

int32_t g_title_choice = kTitleWaiting;

// The chapters the selection scenario may choose, by its result code.
struct Chapter {
  const char* result;
  const char* folder;
};
constexpr Chapter kChapters[] = {{"0", "scn/maid"}, {"1", "scn/kigae"}, {"2", "scn/tabako"}};

constexpr int32_t kTitleBeginSprite = 20, kTitleLoadSprite = 21, kTitleExitSprite = 22;

bool SameNoCase(const char* a, const char* b) {
  return DStrCompareNoCase(DString(a), DString(b)) == 0;
}

// The first count bytes of text equal the prefix, ASCII case ignored.
bool StartsNoCase(const char* text, const char* prefix) {
  const size_t n = std::strlen(prefix);
  if (std::strlen(text) < n) return false;
  return DStrCompareNoCaseN(DString(text), DString(prefix), static_cast<uint32_t>(n)) == 0;
}

void ReadSaveText(const char* key, char* out, size_t size, const char* path) {
  GetPrivateProfileStringA("save", key, "", out, static_cast<DWORD>(size), path);
}

bool SaveHoldsChapter() {
  char path[kPathSize];
  SaveFilePath(path);
  char chapter[256];
  ReadSaveText("pt_scn", chapter, sizeof(chapter), path);
  return chapter[0] != '\0';
}

void LoadTitleButton(int32_t slot, const char* name, int32_t y) {
  LoadSpriteDef(slot, 0, name, 400, y, -1, ParseDisplayStyle("backhide wipefade", 0), "none");
}

}  // namespace

void GameMain() {
  if (g_engine.ovIsFileExist("derora.dat")) g_engine.ovSetDataFile("derora.dat");
  InitGame(800, 600, false);
  SetupTitle();
  LoadBgmList();
  ShowLogo();
  for (;;) {
    switch (TitleMenu()) {
      case kTitleBegin: {
        int32_t n = ReadClearCount();
        n = n < 0 ? 0 : n > 2 ? 2 : n;
        char target[32];
        std::snprintf(target, sizeof(target), "select%d:", n);
        char result[kResultSize];
        StartPlay("scn/menu", target, false, result, sizeof(result));
        for (const Chapter& chapter : kChapters) {
          if (!SameNoCase(result, chapter.result)) continue;
          PlayChapter(chapter.folder, false);
          break;
        }
        bgmPlay("");
        break;
      }
      case kTitleLoad:
        PlayChapter("", true);
        bgmPlay("");
        break;
      case kTitleExit:
        ThrowGameExit();
      default:
        FatalError("[start] 実装されていないタイトル通知");
    }
  }
}

int32_t TitleChoice() {
  return g_title_choice;
}

bool TitleClick(const ButtonEvent& event) {
  if (event.type != kEventButton || !event.name) return false;
  const struct {
    const char* name;
    int32_t choice;
  } buttons[] = {{"begin", kTitleBegin}, {"load", kTitleLoad}, {"exit", kTitleExit}};
  for (const auto& button : buttons) {
    if (!SameNoCase(event.name, button.name)) continue;
    g_title_choice = button.choice;
    return true;
  }
  return false;
}

int32_t TitleMenu() {
  const bool saved = SaveHoldsChapter();
  ResetStage();
  SetClickCallback(&TitleClick);
  SetBackground("sys/title_bg", "", "fade");
  LoadTitleButton(kTitleBeginSprite, "sys/title_begin", saved ? 400 : 430);
  if (saved) LoadTitleButton(kTitleLoadSprite, "sys/title_load", 465);
  LoadTitleButton(kTitleExitSprite, "sys/title_exit", saved ? 530 : 500);
  sprRender();
  RegisterButton(kTitleBeginSprite, "begin");
  RegisterButton(kTitleExitSprite, "exit");
  if (saved) RegisterButton(kTitleLoadSprite, "load");
  do {
    g_title_choice = kTitleWaiting;
    BeginChoice();
    sprRender();
    // Waits even when there is nothing to choose (every button hidden): the engine keeps being
    // pumped, so the window stays alive and its close request ends the game.
    WaitFor(kWaitForever, &IsAdvanceInput, 1);
    EndChoice();
  } while (g_title_choice == kTitleWaiting);
  sePlay("sys/se/文字クリック");
  if (g_title_choice == kTitleBegin)
    SetBackground("sys/bg_select", "", "fade");
  else
    SetBackground("", "black", "fade");
  return g_title_choice;
}

void StartPlay(const char* folder, const char* target, bool from_save, char* result, size_t capacity) {
  char save[kPathSize];
  SaveFilePath(save);
  ResetStage();
  char chapter[kPathSize];
  char start[kPathSize];
  if (from_save) {
    ReadSaveText("pt_scn", chapter, sizeof(chapter), save);
    ReadSaveText("pt_target", start, sizeof(start), save);
  } else {
    DStrCopyToCharBoundary(folder ? folder : "", chapter, sizeof(chapter));
    DStrCopyToCharBoundary(target ? target : "", start, sizeof(start));
  }
  SetChapterFolder(chapter);
  LoadItemDefs(from_save, save);
  ResetCourtStage();
  InitLife(from_save, save);
  DScenario scenario;
  JumpToLabel(scenario, start);
  RunScenario(scenario, 0);
  if (result && capacity) DStrCopyToCharBoundary(scenario.result, result, capacity);
}

void PlayChapter(const char* folder, bool from_save) {
  char result[kResultSize];
  StartPlay(folder, "start:", from_save, result, sizeof(result));
  if (StartsNoCase(result, "clear")) {
    const int32_t n = ToInt(result + 5);
    WriteClearCount(NextClearCount(n));
    char target[32];
    std::snprintf(target, sizeof(target), "clear%d:", n);
    StartPlay("scn/menu", target, false, nullptr, 0);
  } else if (SameNoCase(result, "gameover")) {
    StartPlay("scn/menu", "gameover:", false, nullptr, 0);
  }
}

int32_t NextClearCount(int32_t n) {
  const int64_t next = int64_t{n} + 1;
  return next > INT32_MAX ? INT32_MAX : static_cast<int32_t>(next);
}

int32_t ReadClearCount() {
  char path[kPathSize];
  SaveFilePath(path);
  return static_cast<int32_t>(GetPrivateProfileIntA("save", "clear", 0, path));
}

bool WriteClearCount(int32_t n) {
  if (n <= ReadClearCount()) return true;
  char path[kPathSize];
  SaveFilePath(path);
  char text[16];
  std::snprintf(text, sizeof(text), "%d", n);
  if (WritePrivateProfileStringA("save", "clear", text, path)) return true;
  try {
    DDebugLog() << "[start] the clear count could not be written to " << path << "\n";
  } catch (...) {
  }
  return false;
}
