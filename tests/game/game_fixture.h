// The game's test fixture: the engine table bound to a fake engine, empty handlers, and helpers
// that run game code until its play ends.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "game/choice.h"
#include "game/engine_api.h"
#include "game/error_report.h"
#include "game/handlers.h"
#include "game/resource.h"
#include "game/scenario.h"
#include "game/sound.h"
#include "game/sprite.h"
#include "game/text_layer.h"
#include "game/timer.h"
#include "game/wipe.h"
#include "tests/support/fake_engine.h"

namespace orvane_test {

class GameTest : public ::testing::Test {
 protected:
  GameTest() {
    EXPECT_TRUE(BindEngineApi(&FakeEngine::Lookup, nullptr));
    Handlers() = GameHandlers{};
    ResetScenarioGlobals();
    ResetTimerGlobals();
    SetTimerRedraw(nullptr);
    ResetResourceDefaults();
    ResetSpriteGlobals();
    ResetTextLayerGlobals();
    ResetChoiceGlobals();
  }
  // What the game still holds goes back to the engine before the fake checks for leaks.
  ~GameTest() override {
    try {
      sprClearAll();
    } catch (...) {
    }
    ResetTextLayerGlobals();
    ResetSpriteGlobals();
    ResetChoiceGlobals();
    ReleaseSe();
    ReleaseBgm();
    ClearWipes();
    ReleaseCaches();
    ClearEngineApi();
  }

  // Runs f, which must end the play with exactly one box; returns the box's text.
  template <class F>
  std::string Stops(F&& f) {
    const size_t before = engine.Messages().size();
    bool thrown = false;
    try {
      std::forward<F>(f)();
    } catch (const DExceptGame&) {
      thrown = true;
    }
    EXPECT_TRUE(thrown) << "the play went on";
    EXPECT_EQ(engine.Messages().size(), before + 1);
    if (engine.Messages().size() != before + 1) return "";
    EXPECT_EQ(engine.Messages().back().caption, "Tale Frame");
    EXPECT_EQ(engine.Messages().back().flag, 0);
    return engine.Messages().back().text;
  }

  // The report text of a script error with the given position and message.
  static std::string Report(const std::string& file, int line, const std::string& message) {
    return "ファイル \"" + file + "\"\n行数 " + std::to_string(line) + "\n\n" + message;
  }

  FakeEngine engine;
};

}  // namespace orvane_test
