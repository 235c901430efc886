// The handler table: which of the game's operations are built.
#include "game/handlers.h"

#include "game/court.h"
#include "game/error_report.h"
#include "game/inquiry.h"
#include "game/message.h"
#include "game/motion.h"
#include "game/resource.h"
#include "game/save.h"
#include "game/sound.h"

GameHandlers BuiltGameHandlers() {
  GameHandlers handlers{};
  handlers.sprLoadMotion = &sprLoadMotion;
  handlers.bgmPlay = &bgmPlay;
  handlers.FindSoundFile = &FindSoundFile;
  handlers.sePlay = &sePlay;
  handlers.ShowMessage = &ShowMessage;
  handlers.textShowMessage = &textShowMessage;
  handlers.textShowScene = &textShowScene;
  handlers.textShowFull = &textShowFull;
  handlers.textShowLoud = &textShowLoud;
  handlers.itemMessage = &itemMessage;
  AddCourtHandlers(handlers);
  handlers.saveGame = &saveGame;
  handlers.inquiryRun = &inquiryRun;
  handlers.inquiryEnableSpeech = &inquiryEnableSpeech;
  handlers.inquiryDisableSpeech = &inquiryDisableSpeech;
  handlers.inquiryExit = &inquiryExit;
  handlers.inquiryRewind = &inquiryRewind;
  return handlers;
}

GameHandlers& Handlers() {
  static GameHandlers handlers = BuiltGameHandlers();
  return handlers;
}

void HandlerMissing(const char* name) {
  ScriptError("%sはまだ組み込まれていません。", name);
}
