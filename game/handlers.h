// The table through which the scenario runner and the command interpreter reach the work of the
// game's other parts (stage, sprites, messages, court, items, sound, save).
#pragma once

#include <cstdint>

// One entry per operation; an entry that is null is not built yet, and a command or text line
// that needs it stops the play with a script error naming it.
struct GameHandlers {
  // Message output: types a text line; true when it stopped because the scenario is exiting or
  // returning.
  bool (*ShowMessage)(const char* text, const char* sound, uint32_t flags);

  // Redraw and scenes.
  void (*sprRender)();
  void (*sprBeginScene)();
  void (*sprEndScene)();
  void (*sprLoadMotion)(int32_t base_slot, const char* file, bool wait);

  // Stage pictures and characters.
  void (*backSet)(const char* file, const char* color, int32_t pos, bool noclear, const char* wipe,
                  bool nowipe);
  void (*frontSet)(const char* file, int32_t x, int32_t y, bool nowipe);
  void (*backPos)(int32_t pos, float speed);
  void (*charaShow)(const char* file, int32_t character_class, int32_t x, int32_t y, bool nowipe);
  void (*charaHide)(int32_t character_class, bool nowipe);
  void (*textShowName)(const char* name);
  void (*courtSetLawyerBack)(bool noscr, bool noclear, bool wipe, bool fade);
  void (*courtSetWitnessBack)(bool noscr, bool noclear, bool wipe, bool fade);
  void (*courtSetProsecutorBack)(bool noscr, bool noclear, bool wipe, bool fade);
  void (*courtSetJudgeBack)(bool noclear, bool wipe, bool fade);
  void (*courtSetGuideBack)(bool noclear, bool wipe, bool fade);

  // Message windows.
  void (*textShowMessage)();
  void (*textShowScene)(const char* line1, const char* line2);
  void (*textShowFull)();
  void (*textShowLoud)(const char* value);
  void (*itemMessage)(int32_t item, bool right, const char* before, const char* after);

  // Items and the court record.
  void (*itemShow)(int32_t item, bool right);
  void (*itemHide)();
  void (*itemGetShow)(int32_t item, int32_t se);
  void (*itemGet)(int32_t item);
  void (*itemLost)(int32_t item);
  void (*itemShowKiroku)(const char* target, int32_t x, int32_t y);
  void (*itemHideKiroku)();
  // Presents from the court record; stores success or miss in jump_target (264 bytes) and
  // reports whether the shout is due. True when the scene must end.
  bool (*itemSelect)(bool charaonly, int32_t item, const char* success, const char* miss, bool kurae,
                     char* jump_target, bool* shout_due);

  // Cross-examination.
  bool (*inquiryRun)(const char* file, const char* bgm, bool testimony);
  void (*inquiryDisableSpeech)(int32_t no);
  void (*inquiryEnableSpeech)(int32_t no);
  void (*inquiryExit)();
  void (*inquiryRewind)();

  // Court: shouts, life, plea.
  void (*courtShowKakegoe)(int32_t item, const char* shout, bool right);
  void (*courtHideCourtLife)(bool nowipe);
  void (*courtShowLife)(bool wipe);
  bool (*courtReduceLife)();
  void (*courtSetLife)(int32_t value);
  void (*courtSetNolifeScenario)(const char* target);
  void (*courtShowPlea)(bool guilty);

  // Sound and music.
  void (*bgmPlay)(const char* file);
  bool (*FindSoundFile)(const char* path);
  void (*sePlay)(const char* path);

  // Save.
  void (*saveGame)(const char* target);
};

// The handlers that are built, in one place; every other entry is null.
GameHandlers BuiltGameHandlers();

// The table in use: BuiltGameHandlers() at each start of the game.
GameHandlers& Handlers();

// Stops the play with the script error for an operation that is not built yet.
[[noreturn]] void HandlerMissing(const char* name);

// The entry, or the script error naming it when it is not built yet.
template <class F>
F Need(F handler, const char* name) {
  if (!handler) HandlerMissing(name);
  return handler;
}
