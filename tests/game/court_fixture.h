// The court tests' fixture: the built handlers on the fake engine, with the message output and
// the sound effects replaced by recorders, the wipes and text layers of a started game, picture
// definitions written into the fake's files, and scenarios run through the real runner.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "game/choice.h"
#include "game/court.h"
#include "game/handlers.h"
#include "game/scenario.h"
#include "game/sprite.h"
#include "game/text_layer.h"
#include "game/timer.h"
#include "game/wipe.h"
#include "tests/game/game_fixture.h"

namespace orvane_test {

// What the game asked of the message output and of the sound effects, in order: "msg:<text>"
// and "se:<path>".
inline std::vector<std::string> g_court_log;
// Clicks for the page waits ("[np]"): each wait takes the next one as the link target; "!exit"
// sets the scenario's exit request and ends the wait with true. Without clicks a page wait ends
// with no link target, and a runaway of page waits ends the scene.
inline std::deque<std::string> g_court_clicks;
inline int g_court_page_waits = 0;
// The flags of every page wait.
inline std::vector<uint32_t> g_court_page_flags;

inline bool CourtShowMessage(const char* text, const char*, uint32_t flags) {
  g_court_log.push_back(std::string("msg:") + text);
  if (std::string(text).find("[np]") == std::string::npos) return false;
  g_court_page_flags.push_back(flags);
  DScenario* current = CurrentScenario();
  if (++g_court_page_waits > 1000 && current) current->exit_request = true;
  if (!g_court_clicks.empty()) {
    const std::string click = g_court_clicks.front();
    g_court_clicks.pop_front();
    if (click == "!exit") {
      if (current) current->exit_request = true;
    } else if (current) {
      std::snprintf(current->link_target, sizeof(current->link_target), "%s", click.c_str());
    }
  }
  return current && current->exit_request;
}

inline void CourtSePlay(const char* path) {
  g_court_log.push_back(std::string("se:") + path);
}

class CourtTest : public GameTest {
 protected:
  CourtTest() {
    g_court_log.clear();
    g_court_clicks.clear();
    g_court_page_waits = 0;
    g_court_page_flags.clear();
    Handlers() = BuiltGameHandlers();
    Handlers().ShowMessage = &CourtShowMessage;
    Handlers().sePlay = &CourtSePlay;
    SetTimerRedraw(&sprRender);
    SetScreenSize(800, 600);
    RegisterWipe("fade", "", 300, 0);
    RegisterWipe("bg", "", 400, 0);
    RegisterWipe("slowwipe", "", 500, 0);
    SetChapterFolder("scn/c1");
    InitTextLayers();
    CreateTextLayer("sub");
    HideTextLayer("sub");
    ResetCourtGlobals();
    ResetChoiceGlobals();
    Def("sys/text_item", 800, 200);
    Def("sys/cursor_np", 16, 16);
    Def("sys/cursor_blank", 16, 16);
  }
  ~CourtTest() override {
    CourtButtons() = DefaultCourtButtons();
    ResetChoiceGlobals();
    ResetCourtGlobals();
  }

  // "<name>.spr" naming a w x h picture beside it, with an optional animation shorthand.
  void Def(const std::string& name, int32_t w, int32_t h, const std::string& anim = "") {
    const std::string picture = name + "_pic";
    std::string line = "@sprite file=" + picture.substr(picture.rfind('/') + 1);
    if (!anim.empty()) line += " anim=\"" + anim + "\"";
    engine.AddFile(name + ".spr", line);
    engine.AddFile(picture + ".png", FakeEngine::PngFile(w, h));
  }

  // Runs the text as the scenario scn/c1/<name>.scn from its start; the scenario stays for
  // inspection.
  void Run(const std::string& text, const std::string& name = "main") {
    engine.AddFile("scn/c1/" + name + ".scn", text);
    scenario.Reset();
    LoadScenarioFile(scenario, name.c_str());
    RunScenario(scenario, 0);
  }

  // The error report of a line of scn/c1/main.scn.
  static std::string At(int line, const std::string& message) {
    return Report("scn/c1/main.scn", line, message);
  }

  // The last frame's entry of a picture (by the start of its path); null when it is not drawn.
  const FakeEngine::FrameSprite* Drawn(const std::string& picture, size_t frame = SIZE_MAX) const {
    if (engine.Frames().empty()) return nullptr;
    const FakeEngine::Frame& f = engine.Frames()[frame == SIZE_MAX ? engine.Frames().size() - 1 : frame];
    for (const auto& s : f.sprites)
      if (s.image_name.rfind(picture, 0) == 0) return &s;
    return nullptr;
  }

  // The frames that drew a picture, with its entry.
  std::vector<FakeEngine::FrameSprite> Seen(const std::string& picture, size_t from = 0) const {
    std::vector<FakeEngine::FrameSprite> seen;
    for (size_t i = from; i < engine.Frames().size(); ++i)
      if (const FakeEngine::FrameSprite* s = Drawn(picture, i)) seen.push_back(*s);
    return seen;
  }

  // The log entries that start with a prefix ("msg:" or "se:"), without it.
  std::vector<std::string> Logged(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& e : g_court_log)
      if (e.rfind(prefix, 0) == 0) out.push_back(e.substr(prefix.size()));
    return out;
  }

  DScenario scenario;
};

}  // namespace orvane_test
