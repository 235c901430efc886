// The save file: the chapter, the resume target, the owned items, the life and the no-life
// target, written together so a failed save never mixes two saves.
#include "game/save.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "base/dpath.h"
#include "game/court.h"
#include "game/error_report.h"
#include "game/handlers.h"
#include "game/scenario.h"
#include "game/text_layer.h"
#include "game/tokenizer.h"
#include "platform/kernel.h"

namespace {

char g_test_folder[kPathSize] = "";
bool g_test_folder_set = false;
ProfileWriter g_writer = nullptr;

BOOL WriteKey(const char* key, const char* value, const char* path) {
  return (g_writer ? g_writer : &WritePrivateProfileStringA)("save", key, value, path);
}

bool FileExists(const char* path) {
  struct _stat status;
  return _stat(path, &status) == 0;
}

bool WriteAll(const char* target, const char* path) {
  return WriteKey("pt_scn", ChapterFolder(), path) && WriteKey("pt_target", target, path) &&
         WriteSaveItems(path) && WriteSaveLife(path);
}

// Copies the save (or starts from an empty section), writes the keys on the copy and moves it
// over the save in one step.
bool WriteSave(const char* target) {
  char path[kPathSize];
  SaveFilePath(path);
  const std::string temp = std::string(path) + ".tmp";
  if (FileExists(path)) {
    if (!CopyFileA(path, temp.c_str(), FALSE)) return false;
  } else if (FileExists(temp.c_str())) {
    // A copy left by an earlier failed save: its keys must not reach the new save.
    if (!WriteKey(nullptr, nullptr, temp.c_str())) return false;
  }
  if (WriteAll(target, temp.c_str()) && MoveFileExA(temp.c_str(), path, MOVEFILE_REPLACE_EXISTING))
    return true;
  // The copy stays behind; the next save copies over it or empties it first.
  return false;
}

}  // namespace

void SaveFilePath(char* out) {
  char program[kPathSize] = "";
  char directory[kPathSize] = "", name[kPathSize] = "", extension[kPathSize] = "";
  if (g_test_folder_set) {
    DMargePath(out, DString(g_test_folder), DString("derora"), DString("sav"));
    return;
  }
  GetModuleFileNameA(nullptr, program, sizeof(program));
  DSplitPath(DString(program), directory, name, extension);
  DMargePath(out, DString(directory), DString("derora"), DString("sav"));
}

void SetSaveFolderForTests(const char* folder) {
  g_test_folder_set = folder != nullptr;
  if (folder) DStrCopyToCharBoundary(folder, g_test_folder, sizeof(g_test_folder));
}

void SetSaveProfileWriterForTests(ProfileWriter writer) {
  g_writer = writer;
}

bool WriteSaveItems(const char* path) {
  std::string text;
  char number[16];
  const uint32_t count = ItemCount();
  for (uint32_t n = 0; n < count; ++n) {
    const DItem* item = ItemAt(n);
    if (!item || !item->owned) continue;
    std::snprintf(number, sizeof(number), "%u ", n);
    text += number;
  }
  return WriteKey("pt_item", text.c_str(), path);
}

bool WriteSaveLife(const char* path) {
  char life[16];
  std::snprintf(life, sizeof(life), "%d", CurrentLife());
  return WriteKey("pt_life", life, path) && WriteKey("pt_nolife", NolifeTarget(), path);
}

void SetUpFullWindowLayer(const char* layer) {
  SetTextLayerWindow(layer, "", "#00000080", 32, 32, 736, 536);
  TextLayerFont font;
  std::strcpy(font.font, "ＭＳ ゴシック");
  font.size = 40;
  font.heavy = false;
  font.chars_per_line = 16;
  font.max_lines = 11;
  font.char_spacing = 5;
  font.line_spacing = 10;
  font.shadow = true;
  font.shadow_dx = 2;
  font.shadow_dy = 3;
  std::strcpy(font.ruby_font, "ＭＳ ゴシック");
  font.ruby_size = 10;
  font.ruby_gap = -2;
  SetTextLayerFont(layer, font);
  SetTextLayerShadowColor(layer, 0.2f, 0.2f, 0.2f);
}

void saveGame(const char* target) {
  Need(Handlers().textShowMessage, "textShowMessage")();
  Need(Handlers().textShowName, "textShowName")("");
  SetUpFullWindowLayer("def");
  SetTextLayerColor("def", 1.0f, 1.0f, 1.0f);
  SetTextLayerCharWait("def", 0);
  ClearTextLayer("def");
  auto show = Need(Handlers().ShowMessage, "ShowMessage");
  for (int i = 0; i < 4; ++i) show("[br]", nullptr, 0);
  show("　　ここまでをセーブしますか？[br]", nullptr, 0);
  show("[br]", nullptr, 0);
  show("　　　　　 [link target=yes]はい[/link]　[link target=no]いいえ[/link][br]", nullptr, 0);
  show("[np]", nullptr, 2);
  DScenario* current = CurrentScenario();
  if (current && DStrCompareNoCase(DString(current->link_target), DString("yes")) == 0) {
    if (!WriteSave(target ? target : "")) WarningMessage("セーブできませんでした。");
  }
  DScenario::ClearLinkRequest();
}
