// The court record: browsing the owned items page by page, presenting one, the record button and
// evidence selection.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "game/choice.h"
#include "game/court.h"
#include "game/error_report.h"
#include "game/handlers.h"
#include "game/scenario.h"
#include "game/sprite.h"
#include "game/sprite_def.h"
#include "game/text_layer.h"
#include "game/tokenizer.h"

namespace {

CourtButtonHooks g_buttons = DefaultCourtButtons();
char g_record_target[kPathSize] = "";
int32_t g_button_x = 0, g_button_y = 0;

constexpr uint32_t kButtonRightTop = kStyleRight | kStyleTop | kStyleShow | kStyleCache;
constexpr uint32_t kButtonLeftTop = kStyleLeft | kStyleTop | kStyleShow | kStyleCache;
constexpr int32_t kPageCursorSlot = 2;

bool Show(const char* text, uint32_t flags) {
  return Need(Handlers().ShowMessage, "ShowMessage")(text, nullptr, flags);
}

void PlaySe(const char* path) {
  Need(Handlers().sePlay, "sePlay")(path);
}

void ClearAllButtons() {
  if (g_buttons.clear_buttons) g_buttons.clear_buttons();
}

void PlaceButton(int32_t row, const char* picture, const char* name, int32_t x, int32_t y, uint32_t style) {
  const CourtElement& e = CourtElementAt(row);
  LoadSpriteDef(e.slot, 0, picture, x, y, e.level, style, "none");
  if (g_buttons.register_button) g_buttons.register_button(e.slot, name);
}

void RemoveSprite(int32_t slot, const char* wipe) {
  if (!sprIsValid(slot)) return;
  sprHide(slot, wipe);
  sprDestroy(slot);
}

bool Owned(uint32_t n, int32_t kind) {
  const DItem* item = ItemAt(n);
  return item && item->name[0] && item->owned && item->kind == kind;
}

// The lowest or highest owned item of a kind; -1 when none.
int32_t Lowest(int32_t kind) {
  for (uint32_t n = 0; n < ItemCount(); ++n)
    if (Owned(n, kind)) return static_cast<int32_t>(n);
  return -1;
}
int32_t Highest(int32_t kind) {
  for (uint32_t n = ItemCount(); n-- > 0;)
    if (Owned(n, kind)) return static_cast<int32_t>(n);
  return -1;
}
// The nearest owned item of the kind below (step -1) or above (step 1) n, wrapping around.
int32_t Neighbour(int32_t n, int32_t kind, int step) {
  for (int64_t i = static_cast<int64_t>(n) + step; i >= 0 && i < static_cast<int64_t>(ItemCount()); i += step)
    if (Owned(static_cast<uint32_t>(i), kind)) return static_cast<int32_t>(i);
  return step < 0 ? Highest(kind) : Lowest(kind);
}

bool IsName(const char* a, const char* b) {
  return DStrCompareNoCase(DString(a), DString(b)) == 0;
}

void LoadPageCursor(const char* picture) {
  LoadSpriteDef(kPageCursorSlot, 1, picture, 0, 0, 96, kStyleHide, "none");
}

}  // namespace

CourtButtonHooks DefaultCourtButtons() {
  return CourtButtonHooks{&RegisterButton, &ClearButtons};
}

CourtButtonHooks& CourtButtons() {
  return g_buttons;
}

bool CourtRecord(int32_t* selected, bool present, bool close, bool evidence, bool persons) {
  int32_t out = -1;
  if (DScenario* current = CurrentScenario()) current->result[0] = '\0';
  const bool text_shown = IsTextLayerShown("def");
  if (text_shown) HideTextLayer("def");
  const int32_t plate = CourtElementAt(kRowNamePlate).slot;
  const bool plate_shown = sprIsValid(plate) && sprIsShown(plate);
  if (plate_shown) sprHide(plate, "none");

  const bool evidence_pages = evidence && Lowest(0) >= 0;
  const bool person_pages = persons && Lowest(1) >= 0;
  if (evidence_pages || person_pages) {
    int32_t kind = evidence_pages ? 0 : 1;
    int32_t shown = Lowest(kind);
    const int32_t picture = CourtElementAt(kRowItemPicture).slot;
    for (;;) {
      ShowItemPage(shown);
      SlideItemPageIn();
      ClearAllButtons();
      PlaceButton(kRowRecordRight, "sys/btn_item_right", "right", 735, 286, kButtonRightTop);
      int32_t x = 700;
      if (close) {
        PlaceButton(kRowRecordClose, "sys/btn_item_tojiru", "tojiru", 700, 286, kButtonRightTop);
        x = 601;
      }
      if (present) {
        PlaceButton(kRowRecordPresent, "sys/btn_item_tsuki", "tsuki", x, 286, kButtonRightTop);
        x -= 163;
      }
      PlaceButton(kRowRecordLeft, "sys/btn_item_left", "left", x, 286, kButtonRightTop);
      if (kind == 0 && person_pages)
        PlaceButton(kRowRecordSwitch, "sys/btn_item_chara", "chara", 65, 286, kButtonLeftTop);
      else if (kind == 1 && evidence_pages)
        PlaceButton(kRowRecordSwitch, "sys/btn_item_item", "item", 65, 286, kButtonLeftTop);
      const DItem* item = ItemAt(static_cast<uint32_t>(shown));
      if (item->mag[0])
        PlaceButton(kRowRecordMagnify, "sys/btn_item_mag", "mag", 735, 79,
                    kStyleRight | kStyleBottom | kStyleShow | kStyleCache);

      if (Show("[np]", 1)) break;

      ClearAllButtons();
      for (int32_t row : {kRowRecordRight, kRowRecordClose, kRowRecordPresent, kRowRecordLeft,
                          kRowRecordSwitch, kRowRecordMagnify})
        RemoveSprite(CourtElementAt(row).slot, "none");
      SlideItemPageOut();
      RemoveSprite(picture, "none");
      HideTextLayer("sub");

      char clicked[kPathSize] = "";
      if (DScenario* current = CurrentScenario())
        DStrCopyToCharBoundary(current->link_target, clicked, sizeof(clicked));
      if (IsName(clicked, "left")) {
        PlaySe("sys/se/アイテム切り替え");
        shown = Neighbour(shown, kind, -1);
      } else if (IsName(clicked, "right")) {
        PlaySe("sys/se/アイテム切り替え");
        shown = Neighbour(shown, kind, 1);
      } else if (IsName(clicked, "tsuki")) {
        PlaySe("sys/se/アイテム決定");
        out = shown;
        break;
      } else if (IsName(clicked, "tojiru")) {
        break;
      } else if (IsName(clicked, "chara") && person_pages) {
        PlaySe("sys/se/アイテム切り替え");
        kind = 1;
        shown = Lowest(1);
      } else if (IsName(clicked, "item") && evidence_pages) {
        PlaySe("sys/se/アイテム切り替え");
        kind = 0;
        shown = Lowest(0);
      } else if (IsName(clicked, "mag") && ItemAt(static_cast<uint32_t>(shown))->mag[0]) {
        PlaySe("sys/se/文字クリック");
        char mag[kPathSize];
        ChapterOrSystem(ItemAt(static_cast<uint32_t>(shown))->mag, mag);
        const CourtElement& m = CourtElementAt(kRowMagnified);
        LoadSpriteDef(m.slot, 0, mag, 400, 300, m.level,
                      kStyleCenter | kStyleMiddle | kStyleShow | kStyleCache, "fade");
        LoadPageCursor("sys/cursor_blank");
        if (Show("[np]", 1)) break;
        PlaySe("sys/se/文字クリック");
        RemoveSprite(m.slot, "fade");
      }
      DScenario::ClearLinkRequest();
    }
  }

  LoadPageCursor("sys/cursor_np");
  DScenario* current = CurrentScenario();
  // A scene ended from inside the record (the menu's way back to the title) keeps the result
  // code it was ended with.
  if (current && !current->exit_request) std::snprintf(current->result, sizeof(current->result), "%d", out);
  DScenario::ClearLinkRequest();
  if (text_shown) ShowTextLayer("def");
  if (plate_shown) sprShow(plate, kNoSprite, "none");
  SelectTextLayer("def");
  if (selected) *selected = out;
  return current && current->exit_request;
}

void itemShowKiroku(const char* target, int32_t x, int32_t y) {
  DStrCopyToCharBoundary(target, g_record_target, sizeof(g_record_target));
  g_button_x = x;
  g_button_y = y;
  ShowKirokuButton();
}

void ShowKirokuButton() {
  const CourtElement& e = CourtElementAt(kRowRecordOpen);
  if (sprIsValid(e.slot)) {
    sprSetPos(e.slot, g_button_x, g_button_y, kStyleLeft | kStyleTop);
    return;
  }
  PlaceButton(kRowRecordOpen, "sys/btn_other_kiroku", "sys_itemkiroku", g_button_x, g_button_y,
              kButtonLeftTop);
}

void itemHideKiroku() {
  RemoveSprite(CourtElementAt(kRowRecordOpen).slot, "none");
}

void GetRecordTarget(char* buffer, size_t capacity) {
  if (capacity == 0) return;
  DStrCopyToCharBoundary(g_record_target, buffer, capacity);
}

bool itemSelect(bool charaonly, int32_t item, const char* success, const char* miss, bool kurae,
                char* jump_target, bool* shout_due) {
  if (shout_due) *shout_due = false;
  int32_t selected = -1;
  if (CourtRecord(&selected, true, false, !charaonly, true)) return true;
  const bool hit = selected >= 0 && selected == item;
  DStrCopyToCharBoundary(hit ? success : miss, jump_target, kPathSize);
  if (shout_due) *shout_due = hit && kurae;
  return false;
}

void OpenRecordFromButton() {
  ClearTextLinks(TextLayer(CurrentTextLayer()).name);
  itemHideKiroku();
  int32_t selected = -1;
  CourtRecord(&selected, false, true, true, true);
  if (DScenario* current = CurrentScenario())
    DStrCopyToCharBoundary(g_record_target, current->link_target, sizeof(current->link_target));
}

void ResetCourtGlobals() {
  ResetCourtStage();
  ReleaseItemTable();
  InitLife(false, "");
  g_record_target[0] = '\0';
  g_button_x = g_button_y = 0;
  for (int32_t row = 0; row < kCourtElementCount; ++row) CourtElementWasShown(row) = 0;
}

void AddCourtHandlers(GameHandlers& handlers) {
  // The redraw and the scene fade of the sprite table.
  handlers.sprRender = &sprRender;
  handlers.sprBeginScene = &sprBeginScene;
  handlers.sprEndScene = &sprEndScene;
  // The stage.
  handlers.backSet = &backSet;
  handlers.frontSet = &frontSet;
  handlers.backPos = &backPos;
  handlers.charaShow = &charaShow;
  handlers.charaHide = &charaHide;
  handlers.textShowName = &textShowName;
  handlers.courtSetLawyerBack = &courtSetLawyerBack;
  handlers.courtSetWitnessBack = &courtSetWitnessBack;
  handlers.courtSetProsecutorBack = &courtSetProsecutorBack;
  handlers.courtSetJudgeBack = &courtSetJudgeBack;
  handlers.courtSetGuideBack = &courtSetGuideBack;
  // Items and the court record.
  handlers.itemShow = &itemShow;
  handlers.itemHide = &itemHide;
  handlers.itemGetShow = &itemGetShow;
  handlers.itemGet = &itemGet;
  handlers.itemLost = &itemLost;
  handlers.itemShowKiroku = &itemShowKiroku;
  handlers.itemHideKiroku = &itemHideKiroku;
  handlers.itemSelect = &itemSelect;
  // Life, shouts and verdict.
  handlers.courtShowKakegoe = &courtShowKakegoe;
  handlers.courtHideCourtLife = &courtHideCourtLife;
  handlers.courtShowLife = &courtShowLife;
  handlers.courtReduceLife = &courtReduceLife;
  handlers.courtSetLife = &courtSetLife;
  handlers.courtSetNolifeScenario = &courtSetNolifeScenario;
  handlers.courtShowPlea = &courtShowPlea;
}
