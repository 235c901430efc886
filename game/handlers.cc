// The handler table: which of the game's operations are built.
#include "game/handlers.h"

#include "game/court.h"
#include "game/error_report.h"
#include "game/motion.h"

GameHandlers BuiltGameHandlers() {
  GameHandlers handlers{};
  handlers.sprLoadMotion = &sprLoadMotion;
  AddCourtHandlers(handlers);
  return handlers;
}

GameHandlers& Handlers() {
  static GameHandlers handlers = BuiltGameHandlers();
  return handlers;
}

void HandlerMissing(const char* name) {
  ScriptError("%sはまだ組み込まれていません。", name);
}
