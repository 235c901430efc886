// Buttons, text links and choices; the advance-input predicate and the page wait.
#include "game/choice.h"

#include <cstring>

#include "game/engine_api.h"
#include "game/error_report.h"
#include "game/sprite.h"
#include "game/text_layer.h"
#include "game/timer.h"
#include "game/tokenizer.h"

namespace {

// Keyboard codes of the engine's key events.
constexpr int32_t kKeyF5 = 0x3F;
constexpr int32_t kKeyReturn = 0x1C, kKeySpace = 0x39, kKeyPadEnter = 0x9C, kKeyZ = 0x2C;
constexpr int32_t kKeyTab = 0x0F, kKeyLeftShift = 0x2A, kKeyRightShift = 0x36;
constexpr int32_t kKeyLeft = 0xCB, kKeyUp = 0xC8, kKeyRight = 0xCD, kKeyDown = 0xD0;
constexpr int32_t kKeyLeftControl = 0x1D, kKeyRightControl = 0x9D;
// Mouse event kinds.
constexpr int32_t kMouseLeftDown = 0, kMouseRightDown = 2;

DRefList<DButton>* g_buttons = nullptr;  // made on first use, released by DestroyButtons
ClickCallback g_callback = nullptr;
bool g_choice_active = false;
bool g_link_mode = false;
DRef<DButton> g_hovered;  // shared, so removing the button leaves no dangling pointer

DRefList<DButton>& Buttons() {
  if (!g_buttons) g_buttons = new DRefList<DButton>();
  return *g_buttons;
}

DTextLayer& CurrentLayer() {
  return TextLayer(CurrentTextLayer());
}

[[noreturn]] void InvalidSprite(int32_t slot) {
  ScriptError("スプライト %d は有効ではありません。", slot - kScriptSpriteBase);
}

bool IsShownSprite(int32_t slot) {
  if (slot < 0 || slot >= kSpriteSlots) InvalidSprite(slot);
  const uint32_t flags = Sprite(slot).flags;
  return (flags & kSpriteValid) && (flags & kSpriteRealized);
}

bool AnyButtonShown() {
  if (!g_buttons) return false;
  for (auto it = g_buttons->Begin(); !(it == g_buttons->End()); it = it.Next())
    if (IsShownSprite(it.Value()->sprite)) return true;
  return false;
}

void RequireHighlight() {
  if (!sprIsValid(kLinkHighlightSprite)) InvalidSprite(kLinkHighlightSprite);
}

// Stretches the highlight over a link of the layer and shows it.
void ShowHighlight(const DTextLayer& layer, const DTextLink& link) {
  RequireHighlight();
  sprSetPos(kLinkHighlightSprite, layer.x + link.left, layer.y + link.top, kStyleLeft | kStyleTop);
  sprSetSize(kLinkHighlightSprite, link.right - link.left + 1, link.bottom - link.top + 1);
  sprShow(kLinkHighlightSprite, kNoSprite, "none");
}

// Moves the selection to the link under the mouse; true when the selection changed.
bool UpdateLinkHover() {
  DTextLayer& layer = CurrentLayer();
  int32_t mx = 0, my = 0;
  g_engine.ovGetMousePos(&mx, &my);
  const int64_t x = int64_t{mx} - layer.x;
  const int64_t y = int64_t{my} - layer.y;
  for (size_t i = 0; i < layer.links.size(); ++i) {
    DRef<DTextLink> link = layer.links[i];
    if (x < link->left || x > link->right || y < link->top || y > link->bottom) continue;
    if (layer.selected_link == link) return false;
    layer.selected_link = link;
    ShowHighlight(layer, *link);
    return true;
  }
  if (!layer.selected_link) return false;
  RequireHighlight();
  sprHide(kLinkHighlightSprite, "none");
  layer.selected_link.Release();
  return true;
}

void ClearLinkHighlight() {
  sprHide(kLinkHighlightSprite, "none");
  CurrentLayer().selected_link.Release();
}

// Drops the open link and the selection; true when the page has links.
bool PrepareLinkChoice() {
  DTextLayer& layer = CurrentLayer();
  layer.open_link.Release();
  layer.selected_link.Release();
  return !layer.links.empty();
}

// After a step of the keys: the highlight over the selected link (the hover below sees it selected
// already and would leave the highlight on the link before), the cursor to its centre, the hover.
void PointAtSelected(DTextLayer& layer) {
  const DRef<DTextLink> link = layer.selected_link;
  if (!link) return;
  ShowHighlight(layer, *link);
  const int64_t x = ((int64_t{link->left} + link->right) >> 1) + layer.x;
  const int64_t y = ((int64_t{link->top} + link->bottom) >> 1) + layer.y;
  g_engine.ovSetMousePos(static_cast<int32_t>(x), static_cast<int32_t>(y));
  UpdateLinkHover();
  sprRender();
}

void SelectLink(bool forward) {
  DTextLayer& layer = CurrentLayer();
  const size_t n = layer.links.size();
  if (n == 0) return;
  size_t at = n;
  for (size_t i = 0; i < n && layer.selected_link; ++i)
    if (layer.links[i] == layer.selected_link) at = i;
  if (at == n)  // nothing selected (or the selection left the page): the first link
    at = 0;
  else
    at = forward ? (at + 1) % n : (at + n - 1) % n;
  layer.selected_link = layer.links[at];
  PointAtSelected(layer);
}

// A click or advance key: the selection goes to the callback; anything selected ends the wait.
bool Advance(uint32_t choice_only) {
  if (ClickSelected()) return true;
  if (IsChoiceSelected()) return true;
  return choice_only == 0;
}

bool KeyHeld(int32_t key) {
  return g_engine.ovGetKeyState(key) != 0;
}

}  // namespace

void RegisterButton(int32_t sprite, const char* name) {
  if (sprite < 0 || sprite >= kSpriteSlots) InvalidSprite(sprite);
  DRefList<DButton>& list = Buttons();
  for (auto it = list.Begin(); !(it == list.End()); it = it.Next()) {
    DRef<DButton> b = it.Value();
    if (b->sprite != sprite) continue;
    DStrCopyToCharBoundary(name ? name : "", b->name, sizeof(b->name));
    return;
  }
  DRef<DButton> b;
  b.Alloc(1);
  b->sprite = sprite;
  DStrCopyToCharBoundary(name ? name : "", b->name, sizeof(b->name));
  list.PushBack(b);
}

bool UnregisterButton(int32_t sprite) {
  if (!g_buttons) return false;
  for (auto it = g_buttons->Begin(); !(it == g_buttons->End()); it = it.Next()) {
    if (it.Value()->sprite != sprite) continue;
    g_buttons->Erase(it);
    return true;
  }
  return false;
}

void RemoveSpriteButtons(int32_t sprite) {
  UnregisterButton(sprite);
}

void ClearButtons() {
  if (g_buttons) g_buttons->Clear();
}

void DestroyButtons() {
  if (g_choice_active) EndChoice();
  g_hovered.Release();
  delete g_buttons;
  g_buttons = nullptr;
}

int32_t ButtonCount() {
  return g_buttons ? static_cast<int32_t>(g_buttons->GetCount()) : 0;
}

const char* ButtonName(int32_t sprite) {
  if (!g_buttons) return nullptr;
  for (auto it = g_buttons->Begin(); !(it == g_buttons->End()); it = it.Next())
    if (it.Value()->sprite == sprite) return it.Value()->name;
  return nullptr;
}

void SetClickCallback(ClickCallback callback) {
  g_callback = callback;
}

void ClearClickCallback() {
  g_callback = nullptr;
}

void ResetButtons() {
  g_choice_active = false;
  g_link_mode = false;
  g_callback = nullptr;
}

void ResetChoiceGlobals() {
  ResetButtons();
  g_hovered.Release();
  DestroyButtons();
}

bool HasChoice() {
  if (!CurrentLayer().links.empty()) return true;
  return AnyButtonShown();
}

bool BeginChoice() {
  if (g_choice_active) return false;
  g_choice_active = true;
  g_link_mode = PrepareLinkChoice();
  const bool any_button = AnyButtonShown();
  g_hovered.Release();
  UpdateHover();
  return g_link_mode || any_button;
}

void EndChoice() {
  if (!g_choice_active) return;
  g_choice_active = false;
  if (g_link_mode) ClearLinkHighlight();
  g_hovered.Release();
  if (!g_buttons) return;
  for (auto it = g_buttons->Begin(); !(it == g_buttons->End()); it = it.Next()) {
    const int32_t slot = it.Value()->sprite;
    if (IsShownSprite(slot)) sprSetAnimSet(slot, 0);
  }
}

bool ChoiceActive() {
  return g_choice_active;
}

bool LinkModeActive() {
  return g_link_mode;
}

void UpdateHover() {
  if (!g_choice_active) return;
  g_hovered.Release();
  bool changed = false;
  bool link_selected = false;
  if (g_link_mode) {
    changed = UpdateLinkHover();
    link_selected = static_cast<bool>(CurrentLayer().selected_link);
  }
  if (!link_selected && g_buttons) {
    int32_t mx = 0, my = 0;
    g_engine.ovGetMousePos(&mx, &my);
    for (auto it = g_buttons->Begin(); !(it == g_buttons->End()); it = it.Next()) {
      DRef<DButton> b = it.Value();
      if (!IsShownSprite(b->sprite)) continue;
      const DSprite& s = Sprite(b->sprite);
      if (int64_t{mx} < s.x || int64_t{mx} >= int64_t{s.x} + s.w || int64_t{my} < s.y ||
          int64_t{my} >= int64_t{s.y} + s.h)
        continue;
      g_hovered = b;
      break;
    }
  }
  if (g_buttons) {
    // A callback run from here may not touch the list, but hold each button while its sprite
    // changes all the same.
    for (auto it = g_buttons->Begin(); !(it == g_buttons->End()); it = it.Next()) {
      DRef<DButton> b = it.Value();
      if (!IsShownSprite(b->sprite)) continue;
      if (sprSetAnimSet(b->sprite, g_hovered == b && g_hovered ? 1 : 0)) changed = true;
    }
  }
  if (changed) sprRender();
}

bool ClickSelected() {
  if (!g_choice_active || !g_callback) return false;
  if (g_link_mode) {
    if (CurrentLayer().selected_link) {
      // Held here: the callback may clear the page.
      DRef<DTextLink> link = CurrentLayer().selected_link;
      if (g_callback(ButtonEvent{kEventLink, link->target})) return true;
    }
  }
  if (g_hovered) {
    // Held here: the callback may destroy the button's sprite.
    DRef<DButton> button = g_hovered;
    if (g_callback && g_callback(ButtonEvent{kEventButton, button->name})) return true;
  }
  return false;
}

bool IsChoiceSelected() {
  if (!g_choice_active) return false;
  if (g_link_mode) {
    if (CurrentLayer().selected_link) return true;
  }
  return static_cast<bool>(g_hovered);
}

int32_t HoveredButtonSprite() {
  return g_hovered ? g_hovered->sprite : -1;
}

void SelectNextChoice() {
  if (g_choice_active && g_link_mode) SelectLink(true);
}

void SelectPrevChoice() {
  if (g_choice_active && g_link_mode) SelectLink(false);
}

bool FireClickEvent(const char* name) {
  if (!g_callback) return false;
  return g_callback(ButtonEvent{kEventRightClick, name ? name : ""});
}

bool OnLinkClick(const ButtonEvent& event) {
  DScenario* scenario = CurrentScenario();
  const char* name = event.name ? event.name : "";
  if (event.type == kEventLink || event.type == kEventButton) {
    if (name[0] == '\0' || !scenario) return false;
    DStrCopyToCharBoundary(name, scenario->link_target, sizeof(scenario->link_target));
    return true;
  }
  if (event.type == kEventRightClick) {
    if (!scenario || !scenario->right_click_allowed) return false;
    if (DStrCompareNoCase(DString(name), DString("rclick")) != 0) return false;
    scenario->right_click_request = true;
    return true;
  }
  return false;
}

void BeginLinkChoice(bool right_click_allowed) {
  if (DScenario* scenario = CurrentScenario()) {
    scenario->right_click_allowed = right_click_allowed;
    scenario->right_click_request = false;
    scenario->link_target[0] = '\0';
  }
  SetClickCallback(&OnLinkClick);
}

bool IsAdvanceInput(uint32_t choice_only) {
  int32_t kind = 0, x = 0, y = 0;
  while (g_engine.ovGetMouse(&kind, &x, &y)) {
    UpdateHover();
    if (kind == kMouseLeftDown) {
      if (Advance(choice_only)) return true;
    } else if (kind == kMouseRightDown && g_callback) {
      if (g_callback(ButtonEvent{kEventRightClick, "rclick"})) return true;
    }
  }
  int32_t key = 0, state = 0;
  while (g_engine.ovGetKeyEvent(&key, &state)) {
    if (state != 1) continue;
    switch (key) {
      case kKeyF5:
        g_engine.ovSetFullscreen(g_engine.ovIsFullscreen() ? 0 : 1);
        break;
      case kKeyReturn:
      case kKeySpace:
      case kKeyPadEnter:
      case kKeyZ:
        if (Advance(choice_only)) return true;
        break;
      case kKeyTab:
        if (KeyHeld(kKeyLeftShift) || KeyHeld(kKeyRightShift))
          SelectPrevChoice();
        else
          SelectNextChoice();
        break;
      case kKeyLeft:
      case kKeyUp:
        SelectPrevChoice();
        break;
      case kKeyRight:
      case kKeyDown:
        SelectNextChoice();
        break;
      default:
        break;
    }
  }
  if (choice_only == 1) return false;
  return KeyHeld(kKeyLeftControl) || KeyHeld(kKeyRightControl);
}

bool WaitChoice() {
  return WaitFor(kWaitForever, &IsAdvanceInput, 1);
}

void WaitPageClick(int32_t time, int32_t x, int32_t y) {
  if (sprIsValid(kPageCursorSprite)) {
    sprSetPos(kPageCursorSprite, x, y, ParseDisplayStyle("left middle", kStyleLeft | kStyleTop));
    sprShow(kPageCursorSprite, kNoSprite, "none");
  }
  BeginChoice();
  sprRender();
  WaitFor(time <= 0 ? kWaitForever : static_cast<uint32_t>(time), &IsAdvanceInput, 0);
  EndChoice();
  if (sprIsValid(kPageCursorSprite)) sprHide(kPageCursorSprite, "none");
}
