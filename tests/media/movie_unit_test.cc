// The Movie unit on clips made by ffmpeg: frames checked one by one against ffmpeg's own
// conversion while the mixer's manual sink steps the clock; looping, the end, pause, stop,
// suspension, notifications, the sound in the mixer and the movie handles.
#include <gtest/gtest.h>
#include <time.h>

#include <atomic>
#include <cmath>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/movie/movie.h"
#include "media/movie/movie_handle.h"
#include "platform/mixer.h"
#include "tests/display/screen_fixture.h"
#include "tests/support/movie_clip.h"

namespace {

constexpr unsigned kRate = 8000;
constexpr unsigned kFrameStep = kRate / 10;  // clips run at 10 frames per second

void SleepMs(int ms) {
  timespec t{ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&t, nullptr);
}

// The image's pixels, top row first, as little-endian 16-bit values.
std::string ImageBytes(const DrawImage& image) {
  std::string out;
  for (int y = 0; y < image.GetHeight(); ++y) {
    for (int x = 0; x < image.GetWidth(); ++x) {
      std::uint16_t p = image.GetPixel(x, y);
      out.push_back(static_cast<char>(p & 0xFF));
      out.push_back(static_cast<char>(p >> 8));
    }
  }
  return out;
}

class MovieUnitTest : public ScreenFixture {
 protected:
  void SetUp() override {
    ScreenFixture::SetUp();
    orvane::audio::UseManualSink(kRate);
  }
  void TearDown() override {
    movies_.Shutdown();
    orvane::dshow::SetKeepOwnAllocator(false);
    orvane::audio::StopSink();
    ScreenFixture::TearDown();
  }
  void Start(bool rgb555 = false) {
    if (rgb555) {
      orvane::dx::DeviceProfile p;
      p.modes = {{640, 480, 16, true}};
      orvane::dx::SetProfile(p);
    }
    ASSERT_TRUE(screen_.Init(window_));
    ASSERT_TRUE(movies_.Init(window_));
  }
  std::vector<std::int16_t> Step(unsigned frames) {
    std::vector<std::int16_t> out;
    orvane::audio::StepManualSink(frames, &out);
    return out;
  }
  void Pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  }
  // Waits (bounded) until the image shows `frame`.
  static bool WaitFrame(const DrawImage& image, const std::string& frame) {
    for (int i = 0; i < 3000; ++i) {
      if (ImageBytes(image) == frame) return true;
      SleepMs(1);
    }
    return false;
  }
  // Pumps messages (bounded) until the movie stops playing.
  bool WaitEnd(MovieGraph& movie) {
    for (int i = 0; i < 3000 && movie.IsPlaying(); ++i) {
      Pump();
      SleepMs(1);
    }
    return !movie.IsPlaying();
  }
  std::string Frame(const std::string& all, std::size_t i, int w, int h) {
    const std::size_t n = std::size_t(w) * h * 2;
    return all.substr(i * n, n);
  }

  MovieManager movies_;
  orvane_test::ScratchDir clips_{"movie_unit"};
};

TEST_F(MovieUnitTest, LosslessClipsPlayFrameByFrameAsFfmpegConvertsThem) {
  struct Case {
    int w, h;
    bool rgb555;
    bool copy_path;
  };
  const Case cases[] = {
      {64, 48, false, false},
      {60, 44, false, false},  // image pitch 128, video rows 120 bytes
      {64, 48, true, false},
      {60, 44, false, true},  // the graph keeps its own allocator: the renderer copies
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << (c.rgb555 ? " 555" : " 565")
                                    << (c.copy_path ? " copy" : ""));
    Start(c.rgb555);
    orvane::dshow::SetKeepOwnAllocator(c.copy_path);
    const std::string clip = clips_.Path("clip.mkv");
    ASSERT_TRUE(orvane_test::MakeTestClip(clip, c.w, c.h, 10, 0.8, false));
    const std::string ref = orvane_test::ReferenceFrames(clip, c.rgb555 ? "rgb555le" : "rgb565le", clips_);
    ASSERT_EQ(ref.size(), 8u * c.w * c.h * 2);
    {
      DRef<MovieGraph> movie = movies_.Open(clip.c_str(), &screen_);
      ASSERT_TRUE(movie);
      DRef<DrawImage> image = movie->GetImage();
      ASSERT_TRUE(image);
      ASSERT_EQ(image->GetWidth(), c.w);
      ASSERT_TRUE(movie->Play(0));
      for (std::size_t i = 0; i < 8; ++i) {
        ASSERT_TRUE(WaitFrame(*image, Frame(ref, i, c.w, c.h))) << "frame " << i;
        Step(kFrameStep);
      }
      // The end without loop: not playing, stopped at the start; Play starts from frame 0.
      ASSERT_TRUE(WaitEnd(*movie));
      ASSERT_TRUE(movie->Play(0));
      EXPECT_TRUE(WaitFrame(*image, Frame(ref, 0, c.w, c.h)));
      EXPECT_TRUE(movie->IsPlaying());
    }
    EXPECT_EQ(movies_.GetCount(), 0u);
    movies_.Shutdown();
    screen_.Shutdown();
    orvane::dx::Reset();
  }
}

TEST_F(MovieUnitTest, LossyClipStaysWithinAPsnrBound) {
  Start();
  const std::string clip = clips_.Path("lossy.avi");
  ASSERT_TRUE(orvane_test::MakeTestClip(clip, 64, 48, 10, 0.5, false, "-c:v mpeg4 -q:v 4"));
  const std::string ref = orvane_test::ReferenceFrames(clip, "rgb565le", clips_);
  ASSERT_EQ(ref.size(), 5u * 64 * 48 * 2);
  DRef<MovieGraph> movie = movies_.Open(clip.c_str(), &screen_);
  ASSERT_TRUE(movie);
  DRef<DrawImage> image = movie->GetImage();
  ASSERT_TRUE(movie->Play(0));
  SleepMs(50);
  for (std::size_t i = 0; i < 5; ++i) {
    const std::string want = Frame(ref, i, 64, 48);
    // Wait for the frame to settle, then measure (green channel, 6 bits).
    double best = 0;
    for (int tries = 0; tries < 300; ++tries) {
      const std::string got = ImageBytes(*image);
      double se = 0;
      for (std::size_t k = 0; k + 1 < got.size(); k += 2) {
        int a =
            ((static_cast<unsigned char>(got[k]) | static_cast<unsigned char>(got[k + 1]) << 8) >> 5) & 63;
        int b =
            ((static_cast<unsigned char>(want[k]) | static_cast<unsigned char>(want[k + 1]) << 8) >> 5) & 63;
        se += double(a - b) * (a - b);
      }
      const double mse = se / (got.size() / 2);
      best = std::max(best, mse == 0 ? 99.0 : 10 * std::log10(63.0 * 63.0 / mse));
      if (best >= 30) break;
      SleepMs(2);
    }
    EXPECT_GE(best, 30.0) << "frame " << i;
    Step(kFrameStep);
  }
}

TEST_F(MovieUnitTest, LoopPauseStopAndSuspension) {
  Start();
  const std::string clip = clips_.Path("clip.mkv");
  ASSERT_TRUE(orvane_test::MakeTestClip(clip, 32, 24, 10, 0.5, false));
  const std::string ref = orvane_test::ReferenceFrames(clip, "rgb565le", clips_);
  ASSERT_EQ(ref.size(), 5u * 32 * 24 * 2);
  auto frame = [&](std::size_t i) { return Frame(ref, i, 32, 24); };
  DRef<MovieGraph> movie = movies_.Open(clip.c_str(), &screen_);
  ASSERT_TRUE(movie);
  DRef<DrawImage> image = movie->GetImage();

  // A loop rewinds at the end while running; the movie stays playing.
  ASSERT_TRUE(movie->Play(3));  // bit 0 set: loop
  for (std::size_t i = 0; i < 5; ++i) {
    ASSERT_TRUE(WaitFrame(*image, frame(i))) << i;
    Step(kFrameStep);
  }
  for (int i = 0; i < 3000 && ImageBytes(*image) != frame(0); ++i) {
    Pump();
    SleepMs(1);
  }
  EXPECT_TRUE(movie->IsPlaying());
  ASSERT_EQ(ImageBytes(*image), frame(0));

  // Pause keeps the place; Play goes on from there.
  Step(kFrameStep);
  ASSERT_TRUE(WaitFrame(*image, frame(1)));
  ASSERT_TRUE(movie->Pause());
  EXPECT_FALSE(movie->IsPlaying());
  Step(kFrameStep * 3);
  SleepMs(20);
  EXPECT_EQ(ImageBytes(*image), frame(1));
  ASSERT_TRUE(movie->Play(1));
  Step(kFrameStep);
  EXPECT_TRUE(WaitFrame(*image, frame(2)));

  // Stop goes back to the start.
  ASSERT_TRUE(movie->Stop());
  EXPECT_FALSE(movie->IsPlaying());
  ASSERT_TRUE(movie->Play(1));
  EXPECT_TRUE(WaitFrame(*image, frame(0)));
  Step(kFrameStep);
  EXPECT_TRUE(WaitFrame(*image, frame(1)));

  // Suspended with pause-while-inactive: the graph pauses, the flag stays; Resume runs it.
  movies_.Suspend();
  EXPECT_TRUE(movie->IsPlaying());
  Step(kFrameStep * 2);
  SleepMs(20);
  EXPECT_EQ(ImageBytes(*image), frame(1));
  movies_.Resume();
  Step(kFrameStep);
  EXPECT_TRUE(WaitFrame(*image, frame(2)));

  // Play while inactive only sets the flag; SetTimePause(false) runs it at once.
  ASSERT_TRUE(movie->Stop());  // a stopped movie shows nothing new: the image keeps frame 2
  movies_.Suspend();
  ASSERT_TRUE(movie->Play(0));
  EXPECT_TRUE(movie->IsPlaying());
  Step(kFrameStep * 2);
  SleepMs(20);
  EXPECT_EQ(ImageBytes(*image), frame(2));
  movies_.SetTimePause(false);
  ASSERT_TRUE(WaitFrame(*image, frame(0)));
  Step(kFrameStep);
  EXPECT_TRUE(WaitFrame(*image, frame(1)));
  movies_.Resume();

  // An unknown 0x403 is consumed with result 0 and changes nothing.
  EXPECT_EQ(SendMessageA(window_.GetHandle(), 0x403, 0, 12345), 0);
  EXPECT_TRUE(movie->IsPlaying());
}

TEST_F(MovieUnitTest, UnsupportedFilesAndLongPathsFailOpen) {
  Start();
  clips_.Write("garbage.avi", std::string(3000, 'x'));
  EXPECT_FALSE(movies_.Open(clips_.Path("garbage.avi").c_str(), &screen_));
  EXPECT_FALSE(movies_.Open(clips_.Path("missing.avi").c_str(), &screen_));
  EXPECT_FALSE(movies_.Open((clips_.Dir() + "/" + std::string(300, 'a') + ".avi").c_str(), &screen_));
  EXPECT_EQ(movies_.GetCount(), 0u);
  // Sound only: plays, without a frame image.
  ASSERT_TRUE(orvane_test::RunFfmpeg("-f lavfi -i sine=duration=0.2 -c:a pcm_s16le " + clips_.Path("a.wav")));
  DRef<MovieGraph> audio = movies_.Open(clips_.Path("a.wav").c_str(), &screen_);
  ASSERT_TRUE(audio);
  EXPECT_FALSE(audio->GetImage());
  // With no Draw-unit format the video is refused and the sound still plays.
  ASSERT_TRUE(orvane_test::MakeTestClip(clips_.Path("av.mkv"), 32, 24, 10, 0.3, true));
  DRef<MovieGraph> sound_only = movies_.Open(clips_.Path("av.mkv").c_str(), nullptr);
  ASSERT_TRUE(sound_only);
  EXPECT_FALSE(sound_only->GetImage());
  ASSERT_TRUE(sound_only->Play(0));
  for (int i = 0; i < 400 && sound_only->IsPlaying(); ++i) {
    Step(kFrameStep / 2);
    SleepMs(5);
    Pump();
  }
  EXPECT_FALSE(sound_only->IsPlaying());
}

TEST_F(MovieUnitTest, AFrameDrawnOnTheScreenShowsInTheWindow) {
  Start();
  const std::string clip = clips_.Path("clip.mkv");
  ASSERT_TRUE(orvane_test::MakeTestClip(clip, 60, 44, 10, 0.3, false));
  const std::string ref = orvane_test::ReferenceFrames(clip, "rgb565le", clips_);
  DRef<MovieGraph> movie = movies_.Open(clip.c_str(), &screen_);
  ASSERT_TRUE(movie);
  DRef<DrawImage> image = movie->GetImage();
  ASSERT_TRUE(movie->Play(0));
  ASSERT_TRUE(WaitFrame(*image, Frame(ref, 0, 60, 44)));
  ASSERT_TRUE(movie->Pause());
  SpriteList& sprites = screen_.GetSpriteList();
  ASSERT_TRUE(sprites.SetLevelCount(2));
  image->SetPos(10, 20);
  ASSERT_TRUE(sprites.SetImageLevel(*image, 0));
  sprites.Update();
  sprites.Render();
  screen_.SetFlipscreen(true);
  screen_.Present();
  const std::vector<std::uint32_t> shown = Shown(80, 70);
  ASSERT_EQ(shown.size(), 80u * 70);
  for (int y = 0; y < 44; ++y) {
    for (int x = 0; x < 60; ++x) {
      const std::size_t k = (std::size_t(y) * 60 + x) * 2;
      const auto p = static_cast<std::uint16_t>(static_cast<unsigned char>(ref[k]) |
                                                static_cast<unsigned char>(ref[k + 1]) << 8);
      ASSERT_EQ(shown[std::size_t(y + 20) * 80 + x + 10], Expand(p, 6)) << x << "," << y;
    }
  }
  sprites.RemoveImage(*image);
}

TEST_F(MovieUnitTest, FramesAreWrittenAndBlittedUnderTheFrameLock) {
  Start();
  const std::string clip = clips_.Path("clip.mkv");
  ASSERT_TRUE(orvane_test::MakeTestClip(clip, 32, 24, 10, 0.5, false));
  const std::string ref = orvane_test::ReferenceFrames(clip, "rgb565le", clips_);
  DRef<MovieGraph> movie = movies_.Open(clip.c_str(), &screen_);
  ASSERT_TRUE(movie);
  DRef<DrawImage> image = movie->GetImage();
  ASSERT_TRUE(image->GetRecord()->frame_lock);
  std::mutex& lock = *image->GetRecord()->frame_lock;
  ASSERT_TRUE(movie->Play(0));
  ASSERT_TRUE(WaitFrame(*image, Frame(ref, 0, 32, 24)));

  // While a reader holds the lock, the due frame is not written.
  lock.lock();
  Step(kFrameStep);
  SleepMs(40);
  EXPECT_EQ(ImageBytes(*image), Frame(ref, 0, 32, 24));
  lock.unlock();
  ASSERT_TRUE(WaitFrame(*image, Frame(ref, 1, 32, 24)));

  // While the writer holds it, a blit from the frame waits.
  ASSERT_TRUE(movie->Pause());
  DRef<DrawImage> target = screen_.CreateImage(32, 24);
  std::atomic<bool> held{false}, release{false};
  std::thread writer([&] {
    std::lock_guard<std::mutex> g(lock);
    held = true;
    while (!release) SleepMs(1);
  });
  while (!held) SleepMs(1);
  auto blit = std::async(std::launch::async, [&] { target->Blt(0, 0, 32, 24, *image, 0, 0, 0); });
  EXPECT_EQ(blit.wait_for(std::chrono::milliseconds(40)), std::future_status::timeout);
  release = true;
  writer.join();
  blit.wait();
  EXPECT_EQ(ImageBytes(*target), Frame(ref, 1, 32, 24));
}

class MovieHandleTest : public MovieUnitTest {
 protected:
  void SetUp() override {
    MovieUnitTest::SetUp();
    ASSERT_TRUE(DrawScreen().Init(window_));
    ASSERT_TRUE(MovieUnit().Init(window_));
  }
  void TearDown() override {
    MovieUnit().Shutdown();
    DrawScreen().Shutdown();
    MovieUnitTest::TearDown();
  }
  static double Energy(const std::vector<std::int16_t>& pcm) {
    double e = 0;
    for (std::int16_t s : pcm) e += double(s) * s;
    return pcm.empty() ? 0 : e / pcm.size();
  }
};

TEST_F(MovieHandleTest, SoundPlaysAndTheLastHandleStopsPictureAndSoundAtOnce) {
  const std::string clip = clips_.Path("av.mkv");
  ASSERT_TRUE(orvane_test::MakeTestClip(clip, 32, 24, 10, 2.0, true));
  const std::string ref = orvane_test::ReferenceFrames(clip, "rgb565le", clips_);
  auto handle = std::make_unique<MovieHandle>();
  EXPECT_FALSE(handle->Load(clips_.Path("missing.mkv").c_str()));
  EXPECT_FALSE(handle->GetImage());
  ASSERT_TRUE(handle->Load(clip.c_str()));
  DRef<ImageHandle> script_image = handle->GetImage();
  ASSERT_TRUE(script_image);
  ASSERT_TRUE(script_image->image);
  auto* frame_image = static_cast<DrawImage*>(script_image->image.Get());
  EXPECT_EQ(script_image->text_box.width, 32);

  // Play(2) does not loop (only bit 0 counts).
  ASSERT_TRUE(handle->Play(2));
  EXPECT_TRUE(handle->IsPlaying());
  SleepMs(300);  // the sound is decoded ahead (one second)
  std::vector<std::int16_t> pcm;
  for (int i = 0; i < 5; ++i) {
    auto part = Step(kFrameStep);
    pcm.insert(pcm.end(), part.begin(), part.end());
    SleepMs(30);
  }
  // The sine is in the output: loud, and crossing zero about 440 times a second.
  EXPECT_GT(Energy(pcm), 1e6);
  int crossings = 0;
  for (std::size_t k = 2; k < pcm.size(); k += 2) crossings += (pcm[k - 2] < 0) != (pcm[k] < 0);
  const double seconds = double(pcm.size() / 2) / kRate;
  EXPECT_NEAR(crossings / seconds / 2, 440, 40);
  EXPECT_TRUE(WaitFrame(*frame_image, Frame(ref, 5, 32, 24)));

  ASSERT_TRUE(handle->Pause());
  EXPECT_FALSE(handle->IsPlaying());
  EXPECT_LT(Energy(Step(kFrameStep)), 1.0);
  ASSERT_TRUE(handle->Play(0));
  EXPECT_GT(Energy(Step(kFrameStep)), 0.0);

  // A second handle while the Draw unit is down (TSS mode): sound only, no frame image.
  DrawScreen().Shutdown();
  MovieHandle tss;
  ASSERT_TRUE(tss.Load(clip.c_str()));
  EXPECT_FALSE(tss.GetImage());
  EXPECT_TRUE(tss.Play(0));
  tss.Release();

  // The last handle goes: silence at once; the script's image handle keeps the last frame. The
  // clip plays until then, so the frame is read once the release (which joins the streaming
  // thread) has returned.
  handle.reset();
  const std::string last = ImageBytes(*frame_image);
  EXPECT_EQ(MovieUnit().GetCount(), 0u);
  EXPECT_LT(Energy(Step(kFrameStep * 3)), 1.0);
  SleepMs(20);
  EXPECT_EQ(ImageBytes(*frame_image), last);
  EXPECT_EQ(frame_image->GetWidth(), 32);
  EXPECT_EQ(ImageBytes(*frame_image).size(), 32u * 24 * 2);
}

}  // namespace
