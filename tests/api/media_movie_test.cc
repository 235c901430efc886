// Movie built-ins and exports on clips made by ffmpeg: the frame image against ffmpeg's own
// conversion while the manual sink steps the clock, pause, stop, loop and the end, the image
// after the movie is gone, the disk-only rule, handles of another kind and the sprite-system mode.
#include <time.h>

#include <string>

#include "draw_fixture.h"
#include "media/movie/movie.h"
#include "media/movie/movie_handle.h"
#include "platform/dshow.h"
#include "platform/mixer.h"
#include "shell/engine.h"
#include "tests/support/movie_clip.h"
#include "vm/script_loader.h"

namespace {

using namespace draw_test;

constexpr unsigned kRate = 8000;
constexpr unsigned kFrameStep = kRate / 10;  // clips run at 10 frames per second
constexpr int kW = 32, kH = 24;
enum : uint32_t {
  kLoad = 95,
  kGet = 96,
  kSet = 97,
  kPlay = 98,
  kPause = 99,
  kStop = 100,
  kImage = 101,
  kIsPlay = 143
};

void SleepMs(int ms) {
  timespec t{ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&t, nullptr);
}

std::string ImageBytes(const DrawImage& image) {
  std::string out;
  for (int y = 0; y < image.GetHeight(); ++y)
    for (int x = 0; x < image.GetWidth(); ++x) {
      const uint16_t p = image.GetPixel(x, y);
      out.push_back(static_cast<char>(p & 0xFF));
      out.push_back(static_cast<char>(p >> 8));
    }
  return out;
}

class MovieApiTest : public DrawFrame {
 protected:
  uint32_t Format() const override { return 6; }
  void SetUp() override {
    DrawFrame::SetUp();
    SetProgramDirectory((scratch_.Dir() + "/").c_str());
    orvane::audio::UseManualSink(kRate);
    ASSERT_TRUE(MovieUnit().Init(window_));
    clip_ = scratch_.Dir() + "/clip.mkv";
    ASSERT_TRUE(orvane_test::MakeTestClip(clip_, kW, kH, 10, 0.5, false));
    ref_ = orvane_test::ReferenceFrames(clip_, "rgb565le", scratch_);
    ASSERT_EQ(ref_.size(), 5u * kW * kH * 2);
  }
  void TearDown() override {
    orvane::dshow::SetRunFails(false);
    MountedDataFile().Release();
    for (uint32_t i = 0; i < 32; ++i) Slot(i)->SetInt(0);
    Result()->SetInt(0);
    ClearCurrentObjects();
    MovieUnit().Shutdown();
    orvane::audio::StopSink();
    DrawFrame::TearDown();
  }
  std::string Frame(size_t i) const { return ref_.substr(i * kW * kH * 2, size_t(kW) * kH * 2); }
  static bool WaitFrame(const DrawImage& image, const std::string& frame) {
    for (int i = 0; i < 3000; ++i) {
      if (ImageBytes(image) == frame) return true;
      SleepMs(1);
    }
    return false;
  }
  void Pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  }
  // Steps the clock through the clip and pumps (bounded) until `playing` says it ended.
  template <class F>
  bool RunToEnd(F playing) {
    for (int i = 0; i < 3000 && playing(); ++i) {
      if (i % 10 == 0) orvane::audio::StepManualSink(kFrameStep, nullptr);
      Pump();
      SleepMs(1);
    }
    return !playing();
  }
  bool Bool() { return Result()->type() == kScriptInt && Result()->ToInt() == 1; }

  std::string clip_, ref_;
};

// The built-ins on the current movie: the frame image shows the due frame, pause keeps it, stop
// goes back to the start, the end clears the flag of a non-looping movie only, and the image
// outlives the movie.
TEST_F(MovieApiTest, BuiltinsPlayPauseStopLoopAndTheImageOutlivesTheMovie) {
  Str(1, "clip.mkv");
  Call(kLoad, {1});
  ASSERT_EQ(Result()->type(), kScriptMovieData) << (Boxes().empty() ? "" : Boxes().back().text);
  ScriptValue::Assign(*Result(), Slot(2));
  Call(kSet, {2});
  Call(kGet);
  EXPECT_EQ(Result()->type(), kScriptMovieData);
  Call(kImage);
  ASSERT_EQ(Result()->type(), kScriptImage);
  ScriptValue::Assign(*Result(), Slot(3));
  Call(kImage);  // a second value of the same image
  EXPECT_EQ(Img(3), DrawOf(ObjectOfValueAs<ImageHandle>(*Result(), kScriptImage)));
  DrawImage* image = Img(3);
  ASSERT_NE(image, nullptr);
  ASSERT_EQ(image->GetWidth(), kW);

  Call(kIsPlay);
  EXPECT_FALSE(Bool());
  Int(4, 2);  // only bit 0 loops
  Call(kPlay, {4});
  EXPECT_TRUE(Bool());
  Call(kIsPlay);
  EXPECT_TRUE(Bool());
  for (size_t i = 0; i < 3; ++i) {
    ASSERT_TRUE(WaitFrame(*image, Frame(i))) << "frame " << i;
    orvane::audio::StepManualSink(kFrameStep, nullptr);
  }
  Call(kPause);
  EXPECT_TRUE(Bool());
  Call(kIsPlay);
  EXPECT_FALSE(Bool());
  Call(kStop);
  EXPECT_TRUE(Bool());
  Call(kIsPlay);
  EXPECT_FALSE(Bool());

  // Not looping: the end clears the flag once messages are pumped.
  Call(kPlay, {4});
  EXPECT_TRUE(WaitFrame(*image, Frame(0)));
  EXPECT_TRUE(RunToEnd([&] { return Call(kIsPlay), Bool(); }));
  // Looping (3): past the end it plays on from the start.
  Int(4, 3);
  Call(kPlay, {4});
  for (int i = 0; i < 200; ++i) {
    orvane::audio::StepManualSink(kFrameStep, nullptr);
    Pump();
    SleepMs(2);
  }
  Call(kIsPlay);
  EXPECT_TRUE(Bool());

  // The last reference goes: the movie leaves the unit, the image value keeps its last frame.
  Int(5, 0);
  Call(kSet, {5});  // an int clears the selection without an error
  Slot(2)->SetInt(0);
  Result()->SetInt(0);
  EXPECT_EQ(MovieUnit().GetCount(), 0u);
  const std::string last = ImageBytes(*image);
  SleepMs(20);
  EXPECT_EQ(ImageBytes(*Img(3)), last);
  EXPECT_TRUE(Boxes().empty());

  // Without a current movie: the bool built-ins give false, GetMovie int 0, the others nothing.
  for (uint32_t n : {kPlay, kPause, kStop, kIsPlay}) {
    Result()->SetInt(7);
    Call(n, {4});
    EXPECT_EQ(Result()->ToInt(), 0) << n;
  }
  Call(kGet);
  EXPECT_EQ(Result()->type(), kScriptInt);
  Result()->SetInt(7);
  Call(kImage);
  EXPECT_EQ(Result()->ToInt(), 7);
}

// The exports: the same operations, the image as a kind-4 handle freed by ovDestroyImage after the
// movie, handles of another kind refused, and null paths and handles.
TEST_F(MovieApiTest, ExportsAndHandlesOfAnotherKind) {
  ApiHandle* movie = ovLoadMovie("clip.mkv");
  ASSERT_NE(movie, nullptr);
  ApiHandle* image = ovGetMovieImage(movie);
  ASSERT_NE(image, nullptr);
  DrawImage* frame = DrawOf(ExportImage(image, "test"));
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(ovPlayMovie(movie, 0), 1);
  EXPECT_EQ(ovIsMoviePlay(movie), 1);
  EXPECT_TRUE(WaitFrame(*frame, Frame(0)));
  EXPECT_EQ(ovPauseMovie(movie), 1);
  EXPECT_EQ(ovIsMoviePlay(movie), 0);
  EXPECT_EQ(ovPlayMovie(movie, 0), 1);
  EXPECT_EQ(ovStopMovie(movie), 1);
  EXPECT_EQ(ovIsMoviePlay(movie), 0);

  // A handle of another kind (the image) and null give the failure value and change nothing.
  EXPECT_EQ(ovPlayMovie(image, 1), 0);
  EXPECT_EQ(ovPauseMovie(image), 0);
  EXPECT_EQ(ovStopMovie(image), 0);
  EXPECT_EQ(ovIsMoviePlay(image), 0);
  EXPECT_EQ(ovGetMovieImage(image), nullptr);
  ovDestroyMovie(image);  // logged and left alone
  EXPECT_EQ(ovPlayMovie(nullptr, 0), 0);
  EXPECT_EQ(ovGetMovieImage(nullptr), nullptr);
  EXPECT_EQ(ovLoadMovie(nullptr), nullptr);
  EXPECT_EQ(ovLoadMovie(std::string(300, 'a').c_str()), nullptr);
  EXPECT_EQ(ovLoadMovie("missing.mkv"), nullptr);

  ovDestroyMovie(movie);
  EXPECT_EQ(MovieUnit().GetCount(), 0u);
  EXPECT_EQ(frame->GetWidth(), kW);  // the image handle still holds the frame
  ovDestroyImage(image);
}

// A graph that refuses to run: the export says so, the built-in stays true, and both faces of
// IsMoviePlay tell that nothing plays; once the graph runs again the same movies play.
TEST_F(MovieApiTest, AGraphThatRefusesToRun) {
  Str(1, "clip.mkv");
  Call(kLoad, {1});
  ASSERT_EQ(Result()->type(), kScriptMovieData);
  ScriptValue::Assign(*Result(), Slot(2));
  Call(kSet, {2});
  ApiHandle* movie = ovLoadMovie("clip.mkv");
  ASSERT_NE(movie, nullptr);
  const struct {
    bool fails;
    int loop, playing;
  } cases[] = {{true, 0, 0}, {true, 1, 0}, {false, 0, 1}};
  for (const auto& c : cases) {
    orvane::dshow::SetRunFails(c.fails);
    Int(4, c.loop);
    Call(kPlay, {4});
    EXPECT_TRUE(Bool()) << c.fails << c.loop;
    Call(kIsPlay);
    EXPECT_EQ(Bool(), c.playing == 1) << c.fails << c.loop;
    EXPECT_EQ(ovPlayMovie(movie, c.loop), c.playing) << c.fails << c.loop;
    EXPECT_EQ(ovIsMoviePlay(movie), c.playing) << c.fails << c.loop;
    Pump();
  }
  ovDestroyMovie(movie);
}

// A movie reads only the disk: with an archive mounted, a movie only in the archive fails with
// the message quoting the script's path, and one on disk loads.
TEST_F(MovieApiTest, MoviesReadOnlyTheDisk) {
  const std::string bytes = ReadAll(clip_);
  const std::string archive = "KMF " + std::string("\1\0\0\0", 4) + std::string("\x08\0\0\0", 4) +
                              "only.mkv" + std::string("\x1c\0\0\0", 4);
  std::string size(4, '\0');
  for (int i = 0; i < 4; ++i) size[i] = static_cast<char>(bytes.size() >> (8 * i));
  {
    std::ofstream out(File("data.dat"), std::ios::binary);
    out << archive << size << bytes;
  }
  MountedDataFile().Alloc(1);
  ASSERT_TRUE(MountedDataFile()->MountFile(DString(File("data.dat").c_str())));
  Str(1, "only.mkv");
  Call(kLoad, {1});
  ASSERT_FALSE(Boxes().empty());
  EXPECT_EQ(Boxes().back().text.substr(Boxes().back().text.find("ムービー")),
            "ムービーファイルを読み込めません。\n\"only.mkv\"");
  EXPECT_EQ(ovLoadMovie("only.mkv"), nullptr);
  ApiHandle* movie = ovLoadMovie("clip.mkv");
  EXPECT_NE(movie, nullptr);
  ovDestroyMovie(movie);
}

// The sprite-system mode has no Draw-unit screen: movies play their sound only and have no frame
// image (int 0 from the built-in, 0 from the export).
TEST_F(MovieApiTest, WithoutADrawScreenMoviesHaveNoFrameImage) {
  ASSERT_TRUE(orvane_test::MakeTestClip(scratch_.Dir() + "/av.mkv", kW, kH, 10, 0.5, true));
  DrawScreen().Shutdown();
  SetStartupFlags(1);
  ApiHandle* movie = ovLoadMovie("av.mkv");
  ASSERT_NE(movie, nullptr);
  EXPECT_EQ(ovGetMovieImage(movie), nullptr);
  EXPECT_EQ(ovPlayMovie(movie, 0), 1);
  ovDestroyMovie(movie);
  Str(1, "av.mkv");
  Call(kLoad, {1});
  ASSERT_EQ(Result()->type(), kScriptMovieData);
  ScriptValue::Assign(*Result(), Slot(2));
  Call(kSet, {2});
  Call(kImage);
  EXPECT_EQ(Result()->type(), kScriptInt);
  EXPECT_EQ(Result()->ToInt(), 0);
}

}  // namespace
