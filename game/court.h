// The court: the stage (background, foreground, characters, name plate and the court
// backgrounds), items and the item definition file, the life gauge, shouts and the verdict, and
// the court record with evidence selection.
#pragma once

#include <cstddef>
#include <cstdint>

#include "game/handlers.h"

// One element that the court puts on the screen: its sprite slot, its drawing level and its
// menu flag (1: the in-game menu hides it while open).
struct CourtElement {
  int32_t slot;
  int32_t level;
  int32_t menu;
};
inline constexpr int32_t kCourtElementCount = 24;
// Rows of the element table.
enum CourtRow : int32_t {
  kRowCharaLeft = 0,
  kRowCharaRight = 1,
  kRowCharaCenter = 2,
  kRowForeground = 3,
  kRowTitle = 4,
  kRowNamePlate = 5,
  kRowRecordPresent = 6,
  kRowRecordClose = 7,
  kRowRecordLeft = 8,
  kRowRecordRight = 9,
  kRowRecordSwitch = 10,
  kRowRecordMagnify = 11,
  kRowInquiryShake = 12,
  kRowInquiryConfront = 13,
  kRowLifeGauge = 14,
  kRowLifeLoss = 15,
  kRowItemPicture = 16,
  kRowMagnified = 17,
  kRowInquiryLeft = 18,
  kRowInquiryRight = 19,
  kRowRecordOpen = 20,
  kRowShout = 21,
  kRowVerdictFirst = 22,
  kRowVerdictSecond = 23,
};
const CourtElement& CourtElementAt(int32_t row);
// The in-game menu's record of whether each element was visible when it opened.
uint8_t& CourtElementWasShown(int32_t row);

// The background's slot of the game sprite table.
inline constexpr int32_t kBackgroundSlot = 3;

// The chapter-or-system lookup: name joined to the chapter folder when "<name>.spr" exists there,
// else joined to "sys"; out holds 264 bytes.
void ChapterOrSystem(const char* name, char* out);

// Stage.
void ResetCourtStage();
bool IsCurrentBackground(const char* name);
void backSet(const char* file, const char* color, int32_t pos, bool noclear, const char* wipe, bool nowipe);
void frontSet(const char* file, int32_t x, int32_t y, bool nowipe);
void backPos(int32_t pos, float speed);
// The pan's length in ms: round(|pos - from| x 100 / speed), saturated at 2^31 - 1.
int32_t BackPanDuration(int32_t from, int32_t pos, float speed);
void PlaceCharaClass(int32_t character_class);
void charaShow(const char* file, int32_t character_class, int32_t x, int32_t y, bool nowipe);
void charaHide(int32_t character_class, bool nowipe);
void textShowName(const char* name);
void courtSetLawyerBack(bool noscr, bool noclear, bool wipe, bool fade);
void courtSetWitnessBack(bool noscr, bool noclear, bool wipe, bool fade);
void courtSetProsecutorBack(bool noscr, bool noclear, bool wipe, bool fade);
void courtSetJudgeBack(bool noclear, bool wipe, bool fade);
void courtSetGuideBack(bool noclear, bool wipe, bool fade);
// Stage state for the save and for tests.
const char* CurrentBackgroundName();
const char* CurrentForegroundName();
int32_t BackgroundPosition();
const char* CharaShownFile(int32_t character_class);

// Items.
struct DItem {
  char name[256] = "";
  char comment[256] = "";
  char image[264] = "";
  char mag[264] = "";
  int32_t kind = 0;  // 0 evidence, 1 person profile
  uint8_t owned = 0;
};
// The highest item number the definition file may use.
inline constexpr int32_t kMaxItemNumber = 65535;
// Empties the table, reads the chapter's "item.txt", then with from_save the owned items of the
// save file's key pt_item (section "save") at save_path.
void LoadItemDefs(bool from_save, const char* save_path);
// Releases the storage and forgets every item.
void ReleaseItemTable();
uint32_t ItemCount();
uint32_t ItemCapacity();
// The record of a number below ItemCount() (undefined records have an empty name); null above.
const DItem* ItemAt(uint32_t n);
// The script error "アイテム番号 %d は不正" unless n is below the count and defined.
void CheckItemNumber(uint32_t n);
// The name of a checked item number.
const char* ItemName(int32_t n);
void itemGet(int32_t n);
void itemLost(int32_t n);
void itemShow(int32_t n, bool right);
void itemHide();
void itemGetShow(int32_t n, int32_t se);
void ShowItemKurae(int32_t n);
void HideItemKurae();
void ShowItemPage(int32_t n);
void SlideItemPageIn();
void SlideItemPageOut();
void HideItemPage();

// Life, shouts and verdict.
void InitLife(bool from_save, const char* save_path);
int32_t CurrentLife();
const char* NolifeTarget();
void courtSetLife(int32_t n);
void courtSetNolifeScenario(const char* target);
void courtShowLife(bool wipe);
void courtHideCourtLife(bool nowipe);
bool courtReduceLife();
void courtShowKakegoe(int32_t item, const char* word, bool right);
void courtShowPlea(bool guilty);

// The court record.
// The record's buttons are registered and removed through these hooks (null: nothing to do); by
// default the choice code's RegisterButton and ClearButtons.
struct CourtButtonHooks {
  void (*register_button)(int32_t sprite, const char* name);
  void (*clear_buttons)();
};
CourtButtonHooks DefaultCourtButtons();
CourtButtonHooks& CourtButtons();
bool CourtRecord(int32_t* selected, bool present, bool close, bool evidence, bool persons);
void itemShowKiroku(const char* target, int32_t x, int32_t y);
void ShowKirokuButton();
void itemHideKiroku();
void GetRecordTarget(char* buffer, size_t capacity);
bool itemSelect(bool charaonly, int32_t item, const char* success, const char* miss, bool kurae,
                char* jump_target, bool* shout_due);
// The record opened by its button: links of the current layer cleared, the button removed, the
// record browsed, and the record target left as the current scenario's link target.
void OpenRecordFromButton();

// Every court global back to its state at the start of the game.
void ResetCourtGlobals();

// Fills the handler entries of the stage, items, court record, life, shouts and verdict commands.
void AddCourtHandlers(GameHandlers& handlers);
