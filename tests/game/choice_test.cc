// Buttons, text links and choices: hit tests, hover, keyboard steps, the click callback, the
// advance-input predicate on scripted input, and the page wait.
#include "game/choice.h"

#include <string>
#include <vector>

#include "tests/game/sprite_fixture.h"

namespace orvane_test {
namespace {

constexpr int32_t kTab = 0x0F, kShift = 0x2A, kReturn = 0x1C, kLeft = 0xCB, kDown = 0xD0, kF5 = 0x3F,
                  kCtrl = 0x1D;
constexpr int32_t kLeftDown = 0, kRightDown = 2, kLeftUp = 1;

struct Received {
  int32_t type;
  std::string name;
  bool operator==(const Received& o) const { return type == o.type && name == o.name; }
};

std::vector<Received> g_events;
bool g_answer = true;
int32_t g_destroy_on_click = -1;  // the callback destroys this sprite first

bool Record(const ButtonEvent& e) {
  if (g_destroy_on_click >= 0) sprDestroy(g_destroy_on_click);
  g_events.push_back({e.type, e.name});
  return g_answer;
}

class ChoiceTest : public SpriteTest {
 protected:
  ChoiceTest() {
    g_events.clear();
    g_answer = true;
    g_destroy_on_click = -1;
    Layer().x = 10;
    Layer().y = 20;
    SetScreenSize(800, 600);
    SetErrorPosition("c.scn", 7);
  }
  ~ChoiceTest() override { ResetChoiceGlobals(); }

  // The current text layer, whose page links take part in choices.
  static DTextLayer& Layer() { return TextLayer(CurrentTextLayer()); }

  // A button sprite of w x h at (x, y) with two animation sets (cells 0 and 1).
  void Button(int32_t slot, int32_t x, int32_t y, int32_t w, int32_t h, const char* name) {
    const std::string picture = "button" + std::to_string(slot) + ".png";
    sprCreate(slot, 0, 5, 1, Subs({{picture, 2 * w, h, 0, 0, 2, 1, {{{0, -1}}, {{1, -1}}}}}), 0, 0, 0, 0, 0,
              "none");
    sprSetPos(slot, x, y, kStyleLeft | kStyleTop);
    RegisterButton(slot, name);
  }
  void Link(int32_t left, int32_t top, int32_t right, int32_t bottom, const char* target) {
    DRef<DTextLink> link;
    link.Alloc(1);
    link->left = left;
    link->top = top;
    link->right = right;
    link->bottom = bottom;
    std::snprintf(link->target, sizeof(link->target), "%s", target);
    Layer().links.push_back(link);
  }
  // The highlight as the text layers make it: 1 x 1, hidden.
  void Highlight() {
    sprCreateColor(kLinkHighlightSprite, 1, "#0000ff60", 1, 1, 0, 0, 0, 0, 95, 0, "wipefade hide", "none");
  }
  void MoveMouse(int32_t x, int32_t y) { g_engine.ovSetMousePos(x, y); }
  std::string Selected() { return Layer().selected_link ? Layer().selected_link->target : ""; }
  int32_t CurSet(int32_t slot) { return Sprite(slot).subs[0].cur_set; }

  // Runs a wait with IsAdvanceInput(choice_only) after scripting; returns the ms it took.
  DWORD Wait(uint32_t choice_only, uint32_t limit = kWaitForever) {
    const DWORD start = engine.Now();
    WaitFor(limit, &IsAdvanceInput, choice_only);
    return engine.Now() - start;
  }
};

TEST_F(ChoiceTest, RegisterRenamesUnregisterAndDestroyRemove) {
  RegisterButton(25, "first");
  RegisterButton(25, "second");
  RegisterButton(26, "other");
  EXPECT_EQ(ButtonCount(), 2);
  EXPECT_STREQ(ButtonName(25), "second");
  EXPECT_TRUE(UnregisterButton(26));
  EXPECT_FALSE(UnregisterButton(26));
  EXPECT_EQ(ButtonCount(), 1);
  // A long name is cut to 263 bytes at a character boundary.
  RegisterButton(27, (std::string(262, 'a') + "あ").c_str());
  EXPECT_EQ(std::string(ButtonName(27)), std::string(262, 'a'));
  // Destroying the sprite takes its button.
  Button(28, 0, 0, 10, 10, "gone");
  EXPECT_EQ(ButtonCount(), 3);
  sprDestroy(28);
  EXPECT_EQ(ButtonName(28), nullptr);
  EXPECT_EQ(ButtonCount(), 2);
  ClearButtons();
  EXPECT_EQ(ButtonCount(), 0);

  EXPECT_EQ(Stops([] { RegisterButton(-1, "x"); }),
            Report("c.scn", 7, "スプライト -21 は有効ではありません。"));
  EXPECT_EQ(Stops([] { RegisterButton(120, "x"); }),
            Report("c.scn", 7, "スプライト 100 は有効ではありません。"));
}

TEST_F(ChoiceTest, ButtonHitTestExcludesRightAndBottomEdges) {
  Button(25, 100, 50, 40, 20, "b");
  struct Case {
    int32_t x, y;
    bool hit;
  };
  const Case cases[] = {{100, 50, true},  {139, 69, true}, {140, 50, false},
                        {100, 70, false}, {99, 60, false}, {120, 49, false}};
  for (const Case& c : cases) {
    MoveMouse(c.x, c.y);
    ASSERT_TRUE(BeginChoice());
    EXPECT_EQ(HoveredButtonSprite(), c.hit ? 25 : -1) << c.x << "," << c.y;
    EXPECT_EQ(CurSet(25), c.hit ? 1 : 0);
    EXPECT_EQ(IsChoiceSelected(), c.hit);
    EndChoice();
    EXPECT_EQ(CurSet(25), 0);
    EXPECT_EQ(HoveredButtonSprite(), -1);
  }
  // A hidden button's sprite takes no part.
  sprHide(25, "none");
  EXPECT_FALSE(HasChoice());
  EXPECT_FALSE(BeginChoice());
  EndChoice();
}

TEST_F(ChoiceTest, FirstRegisteredOfOverlappingButtonsWins) {
  Button(26, 0, 0, 50, 50, "under");
  Button(25, 20, 20, 50, 50, "over");
  MoveMouse(30, 30);
  ASSERT_TRUE(BeginChoice());
  EXPECT_FALSE(BeginChoice());  // one choice at a time
  EXPECT_EQ(HoveredButtonSprite(), 26);
  EXPECT_EQ(CurSet(26), 1);
  EXPECT_EQ(CurSet(25), 0);
  // Moving to the part only the other covers moves the hover, with one redraw.
  const size_t frames = engine.Frames().size();
  MoveMouse(60, 60);
  UpdateHover();
  EXPECT_EQ(HoveredButtonSprite(), 25);
  EXPECT_EQ(CurSet(26), 0);
  EXPECT_EQ(CurSet(25), 1);
  EXPECT_EQ(engine.Frames().size(), frames + 1);
  UpdateHover();  // nothing changed: no redraw
  EXPECT_EQ(engine.Frames().size(), frames + 1);
  EndChoice();
}

TEST_F(ChoiceTest, LinkHitTestIncludesEdgesAndPlacesTheHighlight) {
  Highlight();
  Link(0, 0, 29, 9, "a");
  Link(40, 0, 59, 9, "b");
  struct Case {
    int32_t x, y;
    const char* selected;
  };
  // The layer sits at (10, 20).
  const Case cases[] = {{10, 20, "a"}, {39, 29, "a"}, {40, 20, ""},
                        {10, 30, ""},  {69, 29, "b"}, {70, 20, ""}};
  for (const Case& c : cases) {
    MoveMouse(c.x, c.y);
    ASSERT_TRUE(BeginChoice());
    EXPECT_TRUE(LinkModeActive());
    EXPECT_EQ(Selected(), c.selected) << c.x << "," << c.y;
    EXPECT_EQ(sprIsShown(kLinkHighlightSprite), *c.selected != 0);
    if (*c.selected == 'a') {
      EXPECT_EQ(Sprite(kLinkHighlightSprite).x, 10);
      EXPECT_EQ(Sprite(kLinkHighlightSprite).y, 20);
      EXPECT_EQ(Sprite(kLinkHighlightSprite).w, 30);
      EXPECT_EQ(Sprite(kLinkHighlightSprite).h, 10);
    }
    EndChoice();
    EXPECT_FALSE(sprIsShown(kLinkHighlightSprite));
    EXPECT_EQ(Selected(), "");
  }
  // Leaving the link hides the highlight.
  MoveMouse(60, 25);
  BeginChoice();
  EXPECT_EQ(Selected(), "b");
  MoveMouse(0, 0);
  UpdateHover();
  EXPECT_EQ(Selected(), "");
  EXPECT_FALSE(sprIsShown(kLinkHighlightSprite));
  EndChoice();
}

TEST_F(ChoiceTest, ALinkUnderTheMouseHidesButtonsAndAMissingHighlightIsAnError) {
  Highlight();
  Link(0, 0, 100, 100, "a");
  Button(25, 0, 0, 200, 200, "b");
  MoveMouse(20, 30);
  BeginChoice();
  EXPECT_EQ(Selected(), "a");
  EXPECT_EQ(HoveredButtonSprite(), -1);
  MoveMouse(150, 150);
  UpdateHover();
  EXPECT_EQ(HoveredButtonSprite(), 25);
  EndChoice();

  sprDestroy(kLinkHighlightSprite);
  MoveMouse(20, 30);
  EXPECT_EQ(Stops([] { BeginChoice(); }), Report("c.scn", 7, "スプライト -1 は有効ではありません。"));
}

TEST_F(ChoiceTest, KeysStepThroughLinksWithWrapAndCentreTheCursor) {
  Highlight();
  Layer().x = 0;
  Layer().y = 0;
  Link(-3, -5, 0, 0, "a");  // halvings shift: (-3 + 0) >> 1 = -2, (-5 + 0) >> 1 = -3
  Link(10, 10, 20, 20, "b");
  Link(30, 10, 41, 21, "c");
  MoveMouse(500, 500);
  SetClickCallback(&Record);
  ASSERT_TRUE(BeginChoice());
  const DWORD t = engine.Now();
  int step = 0;
  auto key = [&](int32_t code) {
    engine.ScriptKey(t + 10 * ++step, code, true);
    engine.ScriptKey(t + 10 * step + 1, code, false);
  };
  key(kTab);   // first: a
  key(kTab);   // b
  key(kDown);  // c
  key(kTab);   // wraps to a
  engine.ScriptKey(t + 10 * ++step, kShift, true);
  key(kTab);  // Shift+Tab on the first: c
  engine.ScriptKey(t + 10 * ++step, kShift, false);
  key(kLeft);    // b
  key(kReturn);  // chosen
  Wait(1);
  EXPECT_EQ(g_events, (std::vector<Received>{{kEventLink, "b"}}));
  const std::vector<std::pair<int32_t, int32_t>> sets = {{500, 500}, {-2, -3}, {15, 15}, {35, 15},
                                                         {-2, -3},   {35, 15}, {15, 15}};
  EXPECT_EQ(engine.MousePosSets(), sets);
  EXPECT_EQ(Sprite(kLinkHighlightSprite).x, 10);
  EXPECT_EQ(Sprite(kLinkHighlightSprite).w, 11);
  EndChoice();
}

TEST_F(ChoiceTest, ChoiceOnlyWaitIgnoresEmptySpaceAndCtrlButAPageWaitEndsOnThem) {
  Highlight();
  Link(0, 0, 29, 9, "a");
  SetClickCallback(&Record);
  MoveMouse(500, 500);
  ASSERT_TRUE(BeginChoice());
  DWORD t = engine.Now();
  engine.ScriptMouse(t + 10, kLeftDown, 300, 300);  // empty space: nothing
  engine.ScriptMouse(t + 11, kLeftUp, 300, 300);
  engine.ScriptKey(t + 20, kCtrl, true);    // Ctrl held: no end of a choice-only wait
  engine.ScriptKey(t + 30, kReturn, true);  // nothing selected: ignored
  engine.ScriptKey(t + 35, kF5, true);      // full screen on, the wait goes on
  engine.ScriptKey(t + 36, kF5, false);
  engine.ScriptKey(t + 38, kCtrl, false);
  engine.ScriptMouse(t + 40, kLeftDown, 15, 25);  // on the link
  EXPECT_EQ(Wait(1), 40u);
  EXPECT_EQ(g_events, (std::vector<Received>{{kEventLink, "a"}}));
  EXPECT_TRUE(engine.Fullscreen());
  EndChoice();

  // A page wait: a click anywhere ends it, and so does Ctrl held.
  g_events.clear();
  MoveMouse(500, 500);
  BeginChoice();
  t = engine.Now();
  engine.ScriptMouse(t + 10, kLeftDown, 300, 300);
  EXPECT_EQ(Wait(0), 10u);
  EXPECT_TRUE(g_events.empty());
  t = engine.Now();
  engine.ScriptKey(t + 5, kF5, true);
  engine.ScriptKey(t + 6, kF5, false);
  engine.ScriptKey(t + 20, kCtrl, true);
  EXPECT_EQ(Wait(0), 20u);
  EXPECT_FALSE(engine.Fullscreen());
  EndChoice();
}

TEST_F(ChoiceTest, ARefusingCallbackStillEndsTheWaitOnASelection) {
  Button(25, 0, 0, 50, 50, "b");
  g_answer = false;
  SetClickCallback(&Record);
  MoveMouse(500, 500);
  BeginChoice();
  const DWORD t = engine.Now();
  engine.ScriptMouse(t + 10, kLeftDown, 300, 300);  // nothing hovered: goes on
  engine.ScriptMouse(t + 20, kLeftDown, 10, 10);
  EXPECT_EQ(Wait(1), 20u);
  EXPECT_EQ(g_events, (std::vector<Received>{{kEventButton, "b"}}));
  EndChoice();
  // ClickSelected itself says the callback refused.
  MoveMouse(10, 10);
  BeginChoice();
  EXPECT_FALSE(ClickSelected());
  EXPECT_TRUE(IsChoiceSelected());
  EndChoice();
}

TEST_F(ChoiceTest, ACallbackMayDestroyTheHoveredSprite) {
  Button(25, 0, 0, 50, 50, "b");
  Button(26, 100, 0, 50, 50, "c");
  g_destroy_on_click = 25;
  SetClickCallback(&Record);
  MoveMouse(10, 10);
  BeginChoice();
  EXPECT_TRUE(ClickSelected());
  EXPECT_EQ(g_events, (std::vector<Received>{{kEventButton, "b"}}));
  EXPECT_FALSE(sprIsValid(25));
  EXPECT_EQ(ButtonCount(), 1);
  UpdateHover();
  EXPECT_EQ(HoveredButtonSprite(), -1);
  EndChoice();
  EXPECT_EQ(CurSet(26), 0);
}

TEST_F(ChoiceTest, RightClicksGoToTheCallbackAndOnlyAnAllowedOneIsTaken) {
  DScenario scenario;
  CurrentScenarioScope scope(&scenario);
  // Without a callback a right click is ignored.
  BeginChoice();
  DWORD t = engine.Now();
  engine.ScriptMouse(t + 10, kRightDown, 5, 5);
  EXPECT_FALSE(FireClickEvent("rclick"));
  EXPECT_EQ(Wait(1, 50) / 10, 5u);  // the time limit
  EndChoice();
  // Allowed: the wait ends with the request.
  BeginLinkChoice(true);
  BeginChoice();
  t = engine.Now();
  engine.ScriptMouse(t + 10, kRightDown, 5, 5);
  EXPECT_EQ(Wait(1), 10u);
  EXPECT_TRUE(scenario.right_click_request);
  EndChoice();
  // Refused: the wait goes on.
  BeginLinkChoice(false);
  EXPECT_FALSE(scenario.right_click_request);
  BeginChoice();
  t = engine.Now();
  engine.ScriptMouse(t + 10, kRightDown, 5, 5);
  EXPECT_EQ(Wait(1, 50) / 10, 5u);  // the time limit
  EXPECT_FALSE(scenario.right_click_request);
  EndChoice();
  ClearClickCallback();
}

TEST_F(ChoiceTest, OnLinkClickSetsTheScenarioTargets) {
  DScenario scenario;
  CurrentScenarioScope scope(&scenario);
  struct Case {
    bool allowed;
    int32_t type;
    const char* name;
    bool taken;
    const char* target;
    bool right;
  };
  const Case cases[] = {
      {false, kEventLink, "a:b", true, "a:b", false},
      {false, kEventButton, "btn", true, "btn", false},
      {true, kEventLink, "", false, "", false},
      {true, kEventRightClick, "RClick", true, "", true},
      {false, kEventRightClick, "rclick", false, "", false},
      {true, kEventRightClick, "other", false, "", false},
      {true, 5, "a", false, "", false},
  };
  for (const Case& c : cases) {
    BeginLinkChoice(c.allowed);
    EXPECT_EQ(OnLinkClick(ButtonEvent{c.type, c.name}), c.taken) << c.type << c.name;
    EXPECT_STREQ(scenario.link_target, c.target);
    EXPECT_EQ(scenario.right_click_request, c.right);
  }
  // A target is cut to 263 bytes.
  const std::string long_name(400, 'x');
  EXPECT_TRUE(OnLinkClick(ButtonEvent{kEventLink, long_name.c_str()}));
  EXPECT_EQ(std::string(scenario.link_target), std::string(263, 'x'));
}

TEST_F(ChoiceTest, WaitPageClickShowsThePageCursorAndAnyClickEndsIt) {
  Simple(kPageCursorSprite, 10, 8, kStyleHide);
  const DWORD t = engine.Now();
  engine.ScriptMouse(t + 30, kLeftDown, 700, 500);
  WaitPageClick(0, 100, 200);
  EXPECT_EQ(engine.Now() - t, 30u);
  EXPECT_EQ(Sprite(kPageCursorSprite).x, 100);
  EXPECT_EQ(Sprite(kPageCursorSprite).y, 196);  // left middle: 200 - 8 / 2
  EXPECT_FALSE(sprIsShown(kPageCursorSprite));
  EXPECT_FALSE(ChoiceActive());
  // While it waited the cursor was on the screen.
  bool seen = false;
  for (const auto& frame : engine.Frames())
    if (Find(frame, ImageOf(kPageCursorSprite))) seen = true;
  EXPECT_TRUE(seen);
  // A time limit ends it without input; without a cursor sprite it still waits.
  sprDestroy(kPageCursorSprite);
  const DWORD u = engine.Now();
  WaitPageClick(40, 0, 0);
  EXPECT_EQ((engine.Now() - u) / 10, 4u);
}

TEST_F(ChoiceTest, DestroyButtonsEndsTheChoice) {
  Button(25, 0, 0, 50, 50, "b");
  MoveMouse(10, 10);
  BeginChoice();
  EXPECT_EQ(CurSet(25), 1);
  DestroyButtons();
  EXPECT_FALSE(ChoiceActive());
  EXPECT_EQ(CurSet(25), 0);
  EXPECT_EQ(ButtonCount(), 0);
  RegisterButton(26, "again");
  EXPECT_EQ(ButtonCount(), 1);
}

}  // namespace
}  // namespace orvane_test
