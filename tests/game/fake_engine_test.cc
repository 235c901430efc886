// The fake engine itself: the engine's line rules, and the faults it must catch in game code.
#include "tests/support/fake_engine.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/mmsystem.h"

namespace orvane_test {
namespace {

std::vector<std::string> ReadAll(FakeEngine& engine, const std::string& bytes) {
  engine.AddFile("f", bytes);
  ApiHandle* file = engine.Exports().ovCreateFile("f", 1);
  std::vector<std::string> lines;
  while (const char* line = engine.Exports().ovReadFileLine(file)) lines.push_back(line);
  EXPECT_EQ(engine.Exports().ovReadFileLine(file), nullptr);  // after the end every read fails
  engine.Exports().ovDestroyFile(file);
  return lines;
}

TEST(FakeEngine, LinesFollowTheEnginesRules) {
  FakeEngine engine;
  using L = std::vector<std::string>;
  EXPECT_EQ(ReadAll(engine, "a\r\nb"), (L{"a", "b"}));
  EXPECT_EQ(ReadAll(engine, "a\n\nb\n"), (L{"a", "", "b"}));
  EXPECT_EQ(ReadAll(engine, std::string("x\0y", 3)), (L{"x", "y"}));
  EXPECT_EQ(ReadAll(engine,
                    "t\ta\x01"
                    "b"),
            (L{"t\tab"}));
  EXPECT_EQ(ReadAll(engine, "ab\x82"), (L{"ab"}));
  EXPECT_EQ(ReadAll(engine, "\x82\n\x82\xa0"), (L{"\x82\n\x82\xa0"}));  // a lead byte takes the next byte
  EXPECT_EQ(ReadAll(engine, ""), (L{}));
  L pieces = ReadAll(engine, std::string(2500, 'x'));
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces[0].size(), 1023u);
  EXPECT_EQ(pieces[1].size(), 1023u);
  EXPECT_EQ(pieces[2].size(), 454u);
  EXPECT_EQ(ReadAll(engine, std::string(1023, 'y') + "\nz"), (L{std::string(1023, 'y'), "z"}));
  L kanji = ReadAll(engine, std::string(1022, 'k') + "\x82\xa0");
  ASSERT_EQ(kanji.size(), 2u);
  EXPECT_EQ(kanji[0].size(), 1022u);
  EXPECT_EQ(kanji[1], "\x82\xa0");
}

TEST(FakeEngine, FilesOpenOnlyWhenTheyExist) {
  FakeEngine engine;
  engine.AddFile("there", "x");
  EXPECT_EQ(engine.Exports().ovCreateFile("missing", 1), nullptr);
  EXPECT_EQ(engine.Exports().ovCreateFile("", 1), nullptr);
  EXPECT_EQ(engine.Exports().ovIsFileExist("there"), 1);
  EXPECT_EQ(engine.Exports().ovIsFileExist("There"), 0);
  EXPECT_NONFATAL_FAILURE(engine.Exports().ovCreateFile("there", 3), "mode 3 is not modelled");
  char path[264];
  engine.Exports().ovMargePath(path, "scn\\a", "b", "scn");
  EXPECT_STREQ(path, "scn/a/b.scn");
}

TEST(FakeEngine, CatchesHandleFaults) {
  FakeEngine engine;
  engine.AddFile("f", "x");
  ApiHandle* file = engine.Exports().ovCreateFile("f", 1);
  ApiHandle* other = engine.NewHandle("sound");
  EXPECT_NONFATAL_FAILURE(engine.Exports().ovReadFileLine(other),
                          "a sound handle where a file handle belongs");
  EXPECT_NONFATAL_FAILURE(engine.Exports().ovDestroyFile(other),
                          "a sound handle where a file handle belongs");
  engine.Destroy(other, "sound", "test");
  engine.Exports().ovDestroyFile(file);
  EXPECT_NONFATAL_FAILURE(engine.Exports().ovDestroyFile(file), "destroyed file handle");
  EXPECT_NONFATAL_FAILURE(engine.Exports().ovReadFileLine(file), "destroyed file handle");
  int stranger = 0;
  EXPECT_NONFATAL_FAILURE(engine.Exports().ovDestroyFile(reinterpret_cast<ApiHandle*>(&stranger)),
                          "never made");
  EXPECT_EQ(engine.OpenFileCount(), 0);
}

TEST(FakeEngine, CatchesLeaksAndUnmodelledExports) {
  EXPECT_NONFATAL_FAILURE(
      {
        FakeEngine engine;
        engine.AddFile("f", "x");
        engine.Exports().ovCreateFile("f", 1);
      },
      "a file handle was never destroyed");
  FakeEngine engine;
  EXPECT_NONFATAL_FAILURE(engine.Exports().ovtsPresent(),
                          "ovtsPresent, which the fake engine does not model");
  EXPECT_EQ(engine.Calls(), (std::vector<std::string>{"ovtsPresent"}));
}

TEST(FakeEngine, BindsEveryNameOfTheList) {
  FakeEngine engine;
  int found = 0;
#define OV_EXPORT(position, name, return_type, params) \
  found += FakeEngine::Lookup(nullptr, #name) == reinterpret_cast<void*>(engine.Exports().name);
#include "api/export_list.h"
#undef OV_EXPORT
  EXPECT_EQ(found, kOvExportCount);
  EXPECT_EQ(FakeEngine::Lookup(nullptr, "ovNothing"), nullptr);
}

TEST(FakeEngine, RecordsMessagesAndAnswers) {
  FakeEngine engine;
  engine.SetMessageAnswer(1);
  EXPECT_EQ(engine.Exports().ovMessage("text", "caption", 4), 1);
  ASSERT_EQ(engine.Messages().size(), 1u);
  EXPECT_EQ(engine.Messages()[0].text, "text");
  EXPECT_EQ(engine.Messages()[0].caption, "caption");
  EXPECT_EQ(engine.Messages()[0].flag, 4);
  EXPECT_EQ(engine.Exports().ovIsExit(), 0);
  engine.SetExit(true);
  EXPECT_EQ(engine.Exports().ovIsExit(), 1);
}

TEST(FakeEngine, WaitsRunOnTheVirtualClock) {
  FakeEngine engine;
  FakeExports& x = engine.Exports();
  const DWORD t = engine.Now();
  EXPECT_EQ(timeGetTime(), t);
  EXPECT_EQ(x.ovGetKeyState(0x1C), 0);  // the first read takes a batch
  EXPECT_EQ(x.ovWaitEvent(0), 0);       // a poll takes 1 ms
  EXPECT_EQ(engine.Now(), t + 1);
  EXPECT_EQ(x.ovWaitEvent(250), 0);
  EXPECT_EQ(engine.Now(), t + 251);
  // A key wakes only a wait that watches keys, at its time.
  engine.ScriptKey(t + 300, 0x1C, true);
  engine.ScriptKey(t + 400, 0x1C, false);
  EXPECT_EQ(x.ovWaitEvent(100), 0);
  EXPECT_EQ(engine.Now(), t + 351);
  EXPECT_EQ(x.ovGetKeyState(0x1C), 0);  // no refresh yet: the old batch
  x.ovClearKey();
  EXPECT_EQ(x.ovGetKeyState(0x1C), 1);
  x.ovWaitKeyEvent(1);
  EXPECT_EQ(x.ovWaitEvent(1000), 1);
  EXPECT_EQ(engine.Now(), t + 400);
  int32_t key = -1, state = -1;
  // The press was never read: the pass that ended the wait refreshed the batch and lost it.
  EXPECT_EQ(x.ovGetKeyEvent(&key, &state), 1);
  EXPECT_EQ(key, 0x1C);
  EXPECT_EQ(state, 2);
  EXPECT_EQ(x.ovGetKeyEvent(&key, &state), 0);
  EXPECT_EQ(x.ovGetKeyState(0x1C), 0);
  x.ovClearEvent();
  engine.ScriptKey(t + 450, 0x2C, true);
  EXPECT_EQ(x.ovWaitEvent(100), 0);  // keys no longer wake it
  EXPECT_EQ(engine.Now(), t + 500);
  // The close request wakes every wait, at its time.
  engine.SetExitAt(t + 520);
  EXPECT_EQ(x.ovIsExit(), 0);
  EXPECT_EQ(x.ovWaitEvent(-1), 1);
  EXPECT_EQ(engine.Now(), t + 520);
  EXPECT_EQ(x.ovIsExit(), 1);
  const std::vector<std::string> tail(engine.Calls().end() - 3, engine.Calls().end());
  EXPECT_EQ(tail, (std::vector<std::string>{"ovIsExit", "ovWaitEvent(-1)", "ovIsExit"}));
}

TEST(FakeEngine, MouseQueuesMoveIntoTheSnapshotEachPass) {
  FakeEngine engine;
  FakeExports& x = engine.Exports();
  const DWORD t = engine.Now();
  engine.ScriptMouse(t + 10, 0, 5, 6);
  engine.ScriptMouse(t + 10, 3, 7, 8);
  engine.ScriptMouse(t + 10, 3, 9, 10);  // moves share one record
  engine.ScriptMousePos(t + 20, 30, 40);
  x.ovWaitMouseEvent(1);
  EXPECT_EQ(x.ovWaitEvent(100), 1);
  EXPECT_EQ(engine.Now(), t + 10);
  int32_t kind, mx, my;
  ASSERT_EQ(x.ovGetMouse(&kind, &mx, &my), 1);
  EXPECT_EQ((std::vector<int32_t>{kind, mx, my}), (std::vector<int32_t>{0, 5, 6}));
  ASSERT_EQ(x.ovGetMouse(&kind, &mx, &my), 1);
  EXPECT_EQ((std::vector<int32_t>{kind, mx, my}), (std::vector<int32_t>{3, 9, 10}));
  EXPECT_EQ(x.ovGetMouse(&kind, &mx, &my), 0);
  EXPECT_EQ(x.ovWaitEvent(50), 0);  // a position alone is no event
  x.ovGetMousePos(&mx, &my);
  EXPECT_EQ((std::vector<int32_t>{mx, my}), (std::vector<int32_t>{30, 40}));
  for (int i = 0; i < 70; ++i) engine.ScriptMouse(engine.Now(), i % 2 ? 4 : 0, i, 0);
  x.ovWaitEvent(0);
  int n = 0;
  while (x.ovGetMouse(&kind, &mx, &my)) ++n;
  EXPECT_EQ(n, 64);  // later events are dropped
  x.ovSetMousePos(1, 2);
  x.ovGetMousePos(&mx, &my);
  EXPECT_EQ((std::vector<int32_t>{mx, my}), (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(engine.MousePosSets(), (std::vector<std::pair<int32_t, int32_t>>{{1, 2}}));
  EXPECT_EQ(engine.Calls().back(), "ovGetMousePos");
  EXPECT_EQ(engine.Calls()[engine.Calls().size() - 2], "ovSetMousePos(1, 2)");
}

TEST(FakeEngine, EndsRunawayWaits) {
  FakeEngine engine;
  EXPECT_NONFATAL_FAILURE(engine.Exports().ovWaitEvent(-1), "nothing scripted");
  EXPECT_NONFATAL_FAILURE(
      {
        for (int i = 0; i <= FakeEngine::kRunawayWaits; ++i) engine.Exports().ovWaitEvent(0);
      },
      "waited more than");
  EXPECT_EQ(engine.Exports().ovIsExit(), 1);
}

TEST(FakeEngine, ImagesTakeTheirSizeFromThePictureHeader) {
  FakeEngine engine;
  FakeExports& x = engine.Exports();
  engine.AddFile("a.png", FakeEngine::PngFile(256, 64));
  engine.AddFile("b.bmp", FakeEngine::BmpFile(200, -50));
  engine.AddFile("c.jpg", FakeEngine::JpegFile(30, 20));
  engine.AddFile("d.txt", "text");
  struct Case {
    int32_t w, h;
    const char* path;
    int32_t flags;
    int32_t source_w, source_h, window_w, window_h;
  };
  const Case cases[] = {
      {0, 0, "a.png", 0, 256, 64, 256, 64},  {-4, 0, "a.png", 0, 256, 64, 64, 64},
      {10, -3, "a.png", 1, 256, 64, 10, 21}, {0, 0, "b.bmp", 2, 100, 50, 100, 50},
      {-1, -1, "c.jpg", 0, 30, 20, 30, 20},
  };
  for (const Case& c : cases) {
    ApiHandle* image = x.ovtsLoadImage(c.w, c.h, c.path, c.flags);
    const FakeEngine::Handle* h = engine.Inspect(image);
    ASSERT_NE(h, nullptr) << c.path;
    EXPECT_EQ((std::vector<int32_t>{h->source_w, h->source_h, h->window_w, h->window_h, h->flags}),
              (std::vector<int32_t>{c.source_w, c.source_h, c.window_w, c.window_h, c.flags}))
        << c.path << " " << c.w << "x" << c.h;
    x.ovtsDestroyImage(image);
  }
  EXPECT_EQ(x.ovtsLoadImage(0, 0, "d.txt", 0), nullptr);
  EXPECT_EQ(x.ovtsLoadImage(0, 0, "none.png", 0), nullptr);
  engine.Refuse("ovtsLoadImage");
  EXPECT_EQ(x.ovtsLoadImage(0, 0, "a.png", 0), nullptr);
  ApiHandle* image = x.ovtsLoadImage(0, 0, "a.png", 0);
  EXPECT_NE(image, nullptr);
  x.ovtsDestroyImage(image);
  EXPECT_NONFATAL_FAILURE(x.ovtsDestroyImage(image), "destroyed image handle");
}

}  // namespace
}  // namespace orvane_test
