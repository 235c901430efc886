// The in-game system menu: back to the game, the picture without the windows, or back to the
// title after a confirmation; drawn as text links on the layer "system".
#include "game/system_menu.h"

#include <cstdio>

#include "game/choice.h"
#include "game/court.h"
#include "game/handlers.h"
#include "game/save.h"
#include "game/scenario.h"
#include "game/sprite.h"
#include "game/text_layer.h"
#include "game/timer.h"
#include "game/tokenizer.h"

namespace {

// The stage cursor's slot, shown while the picture is on view.
constexpr int32_t kStageCursorSlot = 1;

bool IsName(const char* a, const char* b) {
  return DStrCompareNoCase(DString(a), DString(b)) == 0;
}

bool Say(const char* text, uint32_t flags) {
  return Need(Handlers().ShowMessage, "ShowMessage")(text, nullptr, flags);
}

const char* Chosen() {
  const DScenario* current = CurrentScenario();
  return current ? current->link_target : "";
}

bool Stopping() {
  const DScenario* current = CurrentScenario();
  return current && (current->exit_request || current->return_request);
}

// The menu page; true when the wait ended because the scenario is stopping.
bool MenuPage() {
  ClearTextLayer("system");
  for (int i = 0; i < 3; ++i) Say("[br]", 0);
  Say("　　　　　[link target=game]ゲームへ戻る[/link]　　　　　[br]", 0);
  Say("[br]", 0);
  Say("　　　　 　[link target=show]画像を表示[/link]　　　　　[br]", 0);
  Say("[br]", 0);
  Say("　　　　 [link target=title]タイトルへ戻る[/link]　　　　[br]", 0);
  return Say("[np]", 2);
}

void ShowPicture() {
  HideTextLayer("system");
  ClearTextLinks("system");
  const bool cursor = sprIsValid(kStageCursorSlot);
  if (cursor) {
    sprSetPos(kStageCursorSlot, 0, 0, kStyleLeft | kStyleMiddle);
    sprShow(kStageCursorSlot, kNoSprite, "none");
  }
  BeginChoice();
  sprRender();
  WaitFor(kWaitForever, &IsAdvanceInput, 0);
  EndChoice();
  if (cursor && sprIsValid(kStageCursorSlot)) sprHide(kStageCursorSlot, "none");
  ShowTextLayer("system");
}

void AskForTitle() {
  DScenario::ClearLinkRequest();
  ClearTextLayer("system");
  for (int i = 0; i < 4; ++i) Say("[br]", 0);
  Say("　　　本当に終了しますか？[br]", 0);
  Say("[br]", 0);
  Say("　　　　[link target=yes]はい[/link]　　　[link target=no]いいえ[/link]", 0);
  Say("[np]", 2);
  DScenario* current = CurrentScenario();
  if (current && IsName(current->link_target, "yes")) {
    current->exit_request = true;
    std::snprintf(current->result, sizeof(current->result), "%s", "sys_exit");
  }
}

}  // namespace

void InGameMenu() {
  const bool def_shown = IsTextLayerShown("def");
  if (def_shown) HideTextLayer("def");
  const bool sub_shown = IsTextLayerShown("sub");
  if (sub_shown) HideTextLayer("sub");
  for (int32_t row = 0; row < kCourtElementCount; ++row) {
    const CourtElement& e = CourtElementAt(row);
    if (e.menu != 1) continue;
    const bool shown = sprIsValid(e.slot) && sprIsShown(e.slot);
    CourtElementWasShown(row) = shown ? 1 : 0;
    if (shown) sprHide(e.slot, "none");
  }

  SelectTextLayer("system");
  SetUpFullWindowLayer("system");
  ShowTextLayer("system");
  SetTextLayerColor("system", 1.0f, 1.0f, 1.0f);
  SetTextLayerCharWait("system", 0);

  // A wait that ended because the scenario is stopping leaves the menu: its page would only end
  // the same way again.
  while (!MenuPage() && !Stopping()) {
    const char* chosen = Chosen();
    if (IsName(chosen, "game")) break;
    if (IsName(chosen, "show")) {
      ShowPicture();
      continue;
    }
    if (IsName(chosen, "title")) {
      AskForTitle();
      break;
    }
  }

  DScenario::ClearLinkRequest();
  HideTextLayer("system");
  if (def_shown) ShowTextLayer("def");
  if (sub_shown) ShowTextLayer("sub");
  if (CourtElementWasShown(kRowRecordOpen)) ShowKirokuButton();
  for (int32_t row = 0; row < kCourtElementCount; ++row) {
    const CourtElement& e = CourtElementAt(row);
    if (e.menu == 1 && CourtElementWasShown(row) && sprIsValid(e.slot)) sprShow(e.slot, kNoSprite, "none");
  }
  SelectTextLayer("def");
}

bool HandleSystemButtons() {
  DScenario* current = CurrentScenario();
  if (!current) return false;
  if (current->right_click_request) {
    InGameMenu();
    return true;
  }
  if (IsName(current->link_target, "sys_itemkiroku")) OpenRecordFromButton();
  return false;
}
