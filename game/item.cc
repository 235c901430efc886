// Items: the chapter's item definition file, the table of items with their owned flags, and the
// item picture, page and kurae picture on the stage.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "base/dpath.h"
#include "base/dref.h"
#include "game/court.h"
#include "game/engine_api.h"
#include "game/error_report.h"
#include "game/handlers.h"
#include "game/motion.h"
#include "game/resource.h"
#include "game/scenario.h"
#include "game/sprite.h"
#include "game/sprite_def.h"
#include "game/text_layer.h"
#include "game/timer.h"
#include "game/tokenizer.h"
#include "platform/user.h"

namespace {

DRef<DItem> g_items;
uint32_t g_capacity = 0;
uint32_t g_count = 0;

constexpr size_t kTokenSize = 1024;
constexpr uint32_t kLeftTop = kStyleLeft | kStyleTop;

int32_t PictureSlot() {
  return CourtElementAt(kRowItemPicture).slot;
}
int32_t PictureLevel() {
  return CourtElementAt(kRowItemPicture).level;
}

bool IsName(const char* a, const char* b) {
  return DStrCompareNoCase(DString(a), DString(b)) == 0;
}

// Makes the table hold record n; numbers are at most kMaxItemNumber, so the sizes fit.
void Reserve(uint32_t n) {
  const size_t need = static_cast<size_t>(n) + 1;
  if (need <= g_capacity) return;
  const size_t capacity = (need + 31) / 32 * 32;
  DRef<DItem> grown;
  grown.Alloc(static_cast<uint32_t>(capacity));
  for (uint32_t i = 0; i < g_capacity; ++i) grown[i] = g_items[i];
  g_items = grown;
  g_capacity = static_cast<uint32_t>(capacity);
}

[[noreturn]] void Shortage() {
  FatalError("アイテム定義ファイルにおいてデータが不足しています");
}

void ReadItemLine(const char* line) {
  const char* cursor = line;
  bool end = false;
  std::vector<char> name(kTokenSize), value(kTokenSize);
  ReadOption(cursor, name.data(), kTokenSize, value.data(), kTokenSize, end, 0);
  if (name[0] == '\0') return;
  if (!IsName(name.data(), "@item"))
    FatalError("アイテム定義ファイルに不正なコマンド \"%s\" が存在します。", name.data());
  if (end) Shortage();
  int32_t no = -1;
  DItem item;
  while (!end) {
    ReadOption(cursor, name.data(), kTokenSize, value.data(), kTokenSize, end, 0);
    if (name[0] == '\0' && value[0] == '\0') continue;  // blanks before the end of the line
    if (IsName(name.data(), "no")) {
      no = ToInt(value.data());
    } else if (IsName(name.data(), "name")) {
      DStrCopyToCharBoundary(value.data(), item.name, sizeof(item.name));
    } else if (IsName(name.data(), "comment")) {
      DStrCopyToCharBoundary(value.data(), item.comment, sizeof(item.comment));
    } else if (IsName(name.data(), "image")) {
      DStrCopyToCharBoundary(value.data(), item.image, sizeof(item.image));
    } else if (IsName(name.data(), "mag")) {
      DStrCopyToCharBoundary(value.data(), item.mag, sizeof(item.mag));
    } else if (IsName(name.data(), "type") && IsName(value.data(), "chara")) {
      item.kind = 1;
    } else {
      FatalError("アイテム定義ファイルに不正なオプション\"%s\"が存在します", name.data());
    }
  }
  // A number beyond the limit is refused like a missing one: it would make the table and every
  // walk over it (save, record) huge.
  if (no < 0 || no > kMaxItemNumber || !item.name[0] || !item.comment[0] || !item.image[0]) Shortage();
  const uint32_t n = static_cast<uint32_t>(no);
  if (n < g_count && g_items[n].name[0]) FatalError("アイテム番号 %d はすでに定義されている", no);
  Reserve(n);
  if (n >= g_count) g_count = n + 1;
  g_items[n] = item;
}

// The whole value of a save key, however long.
std::string ReadSaveString(const char* key, const char* fallback, const char* path) {
  std::vector<char> buffer(1024);
  for (;;) {
    const DWORD got = GetPrivateProfileStringA("save", key, fallback, buffer.data(),
                                               static_cast<DWORD>(buffer.size()), path);
    if (got + 1 < buffer.size() || buffer.size() >= (size_t{1} << 26)) return std::string(buffer.data(), got);
    buffer.resize(buffer.size() * 2);
  }
}

void LoadSaveItems(const char* path) {
  const std::string text = ReadSaveString("pt_item", "", path);
  const char* cursor = text.c_str();
  for (;;) {
    SkipBlanks(cursor);
    if (*cursor == '\0') break;
    const char* start = cursor;
    SkipWord(cursor);
    const std::string token(start, cursor);
    const int32_t n = ToInt(token.c_str());
    CheckItemNumber(static_cast<uint32_t>(n));
    g_items[static_cast<uint32_t>(n)].owned = 1;
  }
}

void LoadPicture(int32_t n, int32_t x, int32_t y, uint32_t style, const char* wipe) {
  char name[kPathSize];
  ChapterOrSystem(g_items[static_cast<uint32_t>(n)].image, name);
  LoadSpriteDef(PictureSlot(), 0, name, x, y, PictureLevel(), style, wipe);
}

bool Show(const char* text, uint32_t flags) {
  return Need(Handlers().ShowMessage, "ShowMessage")(text, nullptr, flags);
}

void PlaySe(const char* path) {
  Need(Handlers().sePlay, "sePlay")(path);
}

// Moves the page: the picture to (8 + d, 88) and the layer "sub" to (d, 80), with d from the
// elapsed time, for 100 ms.
void SlidePage(bool in) {
  auto place = [](int32_t d) {
    sprSetPos(PictureSlot(), 8 + d, 88, kLeftTop);
    SetTextLayerPos("sub", d, 80);
  };
  ResetStopwatch();
  uint32_t e = 0;
  while (e < 100) {
    const double t = std::min(1.0, e * 0.01);
    const int32_t step = static_cast<int32_t>(std::nearbyint(t * 800.0));
    place(in ? 800 - step : -step);
    sprRender();
    e = GetStopwatchTime();
  }
  place(in ? 0 : -800);
}

}  // namespace

void ReleaseItemTable() {
  g_items.Release();
  g_capacity = 0;
  g_count = 0;  // the numbers must not pass the check against storage that is gone
}

uint32_t ItemCount() {
  return g_count;
}
uint32_t ItemCapacity() {
  return g_capacity;
}
const DItem* ItemAt(uint32_t n) {
  return n < g_count ? &g_items[n] : nullptr;
}

void CheckItemNumber(uint32_t n) {
  if (n >= g_count || !g_items[n].name[0]) ScriptError("アイテム番号 %d は不正", static_cast<int32_t>(n));
}

const char* ItemName(int32_t n) {
  CheckItemNumber(static_cast<uint32_t>(n));
  return g_items[static_cast<uint32_t>(n)].name;
}

void LoadItemDefs(bool from_save, const char* save_path) {
  ReleaseItemTable();
  char path[kPathSize];
  DMargePath(path, DString(ChapterFolder()), DString("item"), DString("txt"));
  if (g_engine.ovIsFileExist(path)) {
    DRef<DFileRes> file = OpenFileRes(path, 1);
    while (const char* line = g_engine.ovReadFileLine(file->handle)) ReadItemLine(line);
  }
  if (from_save) LoadSaveItems(save_path);
}

void itemGet(int32_t n) {
  CheckItemNumber(static_cast<uint32_t>(n));
  g_items[static_cast<uint32_t>(n)].owned = 1;
}

void itemLost(int32_t n) {
  CheckItemNumber(static_cast<uint32_t>(n));
  g_items[static_cast<uint32_t>(n)].owned = 0;
}

void itemShow(int32_t n, bool right) {
  CheckItemNumber(static_cast<uint32_t>(n));
  sprSetTransitionTime(0);
  if (right)
    LoadPicture(n, 700, 100, kStyleRight | kStyleTop | kStyleShow | kStyleCache, "fade");
  else
    LoadPicture(n, 100, 100, kStyleLeft | kStyleTop | kStyleShow | kStyleCache, "fade");
  sprSetTransitionTime(300);
}

void itemHide() {
  if (!sprIsValid(PictureSlot())) return;
  sprSetTransitionTime(0);
  sprHide(PictureSlot(), "fade");
  sprDestroy(PictureSlot());
  sprSetTransitionTime(300);
}

void ShowItemKurae(int32_t n) {
  CheckItemNumber(static_cast<uint32_t>(n));
  LoadPicture(n, -200, -200, kStyleCenter | kStyleMiddle | kStyleShow | kStyleCache, "none");
  sprSetSize(PictureSlot(), 378, 378);
  sprLoadMotion(PictureSlot(), "sys/item_kurae", false);
}

void HideItemKurae() {
  if (!sprIsValid(PictureSlot())) return;
  sprHide(PictureSlot(), "none");
  sprDestroy(PictureSlot());
}

void ShowItemPage(int32_t n) {
  CheckItemNumber(static_cast<uint32_t>(n));
  LoadPicture(n, 8, 88, kStyleLeft | kStyleTop | kStyleHide | kStyleCache, "none");
  SelectTextLayer("sub");
  SetTextLayerWindow("sub", "sys/text_item", "", 0, 80, 0, 0);
  TextLayerFont font;
  std::strcpy(font.font, "ＭＳ ゴシック");
  font.size = 32;
  font.heavy = false;
  font.chars_per_line = 16;
  font.max_lines = 4;
  font.left_margin = 215;
  font.top_margin = 30;
  font.char_spacing = 3;
  font.line_spacing = 8;
  font.shadow = true;
  font.shadow_dx = 2;
  font.shadow_dy = 2;
  std::strcpy(font.ruby_font, "ＭＳ ゴシック");
  font.ruby_size = 10;
  font.ruby_gap = -2;
  SetTextLayerFont("sub", font);
  SetTextLayerShadowColor("sub", 0.2f, 0.15f, 0.15f);
  SetTextLayerColor("sub", 1.0f, 1.0f, 1.0f);
  SetTextLayerCharWait("sub", 0);
  ClearTextLayer("sub");
  const DItem& item = g_items[static_cast<uint32_t>(n)];
  std::string text = "　[cy]";
  text += item.name;
  text += "[c][br]";
  text += item.comment;
  Show(text.c_str(), 0);
  SelectTextLayer("def");
}

void SlideItemPageIn() {
  sprShow(PictureSlot(), kNoSprite, "none");
  ShowTextLayer("sub");
  SlidePage(true);
}

void SlideItemPageOut() {
  SlidePage(false);
}

void HideItemPage() {
  if (sprIsValid(PictureSlot())) {
    sprHide(PictureSlot(), "none");
    sprDestroy(PictureSlot());
  }
  HideTextLayer("sub");
}

void itemGetShow(int32_t n, int32_t se) {
  itemGet(n);
  const int32_t plate = CourtElementAt(kRowNamePlate).slot;
  const bool plate_hidden = sprIsValid(plate) && sprIsShown(plate);
  if (plate_hidden) sprHide(plate, "none");
  ShowItemPage(n);
  SlideItemPageIn();
  PlaySe(se == 1 ? "sys/se/ジングル" : "sys/se/アイテム取得");
  Show("[cb]証拠品[br]「", 0);
  Show(g_items[static_cast<uint32_t>(n)].name, 0);
  if (Show("」を[br]法廷記録にファイルした。[c][np]", 3)) return;
  SlideItemPageOut();
  HideItemPage();
  if (plate_hidden) sprShow(plate, kNoSprite, "none");
}
