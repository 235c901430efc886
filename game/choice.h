// Buttons, text links and choices: the player's one way of choosing with the mouse or the keys,
// the click callback that receives the choice, the advance-input predicate of every page and
// choice wait, and the page wait with the page cursor.
#pragma once

#include <cstdint>

#include "base/dref.h"
#include "base/dreflist.h"
#include "game/scenario.h"

// A button: a named sprite that takes part in choices while it is shown.
struct DButton {
  int32_t sprite = 0;         // slot 0 to 119
  char name[kPathSize] = "";  // at most 263 bytes kept
};

// What the click callback is told: type 0 a text link (name = its target), 1 a button (its
// name), 2 a right click ("rclick").
struct ButtonEvent {
  int32_t type;
  const char* name;
};
inline constexpr int32_t kEventLink = 0, kEventButton = 1, kEventRightClick = 2;

// True when the event was taken and the wait may end.
using ClickCallback = bool (*)(const ButtonEvent& event);

// The sprite of the link highlight, stretched over the selected link.
inline constexpr int32_t kLinkHighlightSprite = 19;
// The page cursor shown by WaitPageClick.
inline constexpr int32_t kPageCursorSprite = 2;

// Adds the button of a sprite, or renames the one it has. A slot outside 0..119 is the script
// error "スプライト %d は有効ではありません。" (slot - 20).
void RegisterButton(int32_t sprite, const char* name);
// Removes the first button of the sprite; false when it has none.
bool UnregisterButton(int32_t sprite);
// The sprite table's hook: the destroyed sprite's button goes.
void RemoveSpriteButtons(int32_t sprite);
void ClearButtons();
// End of the game: EndChoice when a choice is active, then every button goes.
void DestroyButtons();
int32_t ButtonCount();
// The name of the sprite's button; null when it has none.
const char* ButtonName(int32_t sprite);

void SetClickCallback(ClickCallback callback);
void ClearClickCallback();
// No choice active, link mode off, no click callback.
void ResetButtons();
// ResetButtons and no buttons: the state at each start of the game.
void ResetChoiceGlobals();

// The current layer has links, or some button's sprite is shown.
bool HasChoice();
// Starts a choice; false when one is already active or there is nothing to choose.
bool BeginChoice();
void EndChoice();
bool ChoiceActive();
bool LinkModeActive();
// Recomputes the link and button under the mouse; redraws when something changed.
void UpdateHover();
// Sends the selected link, else the hovered button, to the click callback; true when taken.
bool ClickSelected();
// A link is selected or a button hovered in the active choice.
bool IsChoiceSelected();
// The slot of the hovered button; -1 when none.
int32_t HoveredButtonSprite();
// Keyboard steps through the current layer's links in an active link choice.
void SelectNextChoice();
void SelectPrevChoice();
// Sends {2, name} to the click callback; false when there is none.
bool FireClickEvent(const char* name);

// The click callback of page waits: a link or button name becomes the current scenario's link
// target; a right click is taken only when the scenario allows it.
bool OnLinkClick(const ButtonEvent& event);
// Prepares the current scenario for a page wait (right click allowed as given, no right click
// requested, no link target) and installs OnLinkClick.
void BeginLinkChoice(bool right_click_allowed);

// The predicate of page and choice waits. choice_only 1: only a choice ends the wait.
bool IsAdvanceInput(uint32_t choice_only);
// A wait without time limit that only a choice ends.
bool WaitChoice();
// The page wait: the page cursor at (x, y) anchored left middle, a choice over the page's links
// and buttons, and a wait that any advance input ends (time <= 0: no limit).
void WaitPageClick(int32_t time, int32_t x, int32_t y);
