// The filter graph over the media module: connection of a renderer, frames paced by the mixer's
// manual sink, completion events, and damaged or unsupported files.
#include <gtest/gtest.h>
#include <time.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dshow.h"
#include "platform/mixer.h"
#include "tests/support/movie_clip.h"
#include "tests/support/scratch_dir.h"

namespace {

constexpr unsigned kRate = 8000;

void SleepMs(int ms) {
  timespec t{ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&t, nullptr);
}

// A renderer that accepts one subtype and keeps a top-down copy of every frame it is given.
class RecordingRenderer : public CBaseVideoRenderer {
 public:
  explicit RecordingRenderer(GUID accept)
      : CBaseVideoRenderer(GUID{}, "test", nullptr, nullptr), accept_(accept) {}
  HRESULT CheckMediaType(const CMediaType* type) override {
    if (type->formattype != FORMAT_VideoInfo) return E_INVALIDARG;
    return type->majortype == MEDIATYPE_Video && type->subtype == accept_ ? S_OK : E_FAIL;
  }
  HRESULT SetMediaType(const CMediaType* type) override {
    auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
    width_ = vih->bmiHeader.biWidth;
    height_ = vih->bmiHeader.biHeight;
    return S_OK;
  }
  HRESULT DoRenderSample(IMediaSample* sample) override {
    BYTE* p = nullptr;
    sample->GetPointer(&p);
    const int stride = (width_ * 2 + 3) & ~3;
    std::string frame;
    for (int y = 0; y < height_; ++y) {  // bottom-up: the top row is the last in memory
      frame.append(reinterpret_cast<const char*>(p + std::size_t(height_ - 1 - y) * stride),
                   std::size_t(width_) * 2);
    }
    std::lock_guard<std::mutex> lock(m_);
    frames_.push_back(frame);
    return S_OK;
  }
  std::size_t Count() {
    std::lock_guard<std::mutex> lock(m_);
    return frames_.size();
  }
  std::string Frame(std::size_t i) {
    std::lock_guard<std::mutex> lock(m_);
    return i < frames_.size() ? frames_[i] : std::string();
  }
  int width_ = 0, height_ = 0;

 private:
  GUID accept_;
  std::mutex m_;
  std::vector<std::string> frames_;
};

struct Graph {
  IGraphBuilder* graph = nullptr;
  IMediaControl* control = nullptr;
  IMediaEventEx* events = nullptr;
  RecordingRenderer* renderer = nullptr;

  explicit Graph(GUID accept) {
    EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                               reinterpret_cast<void**>(&graph)),
              S_OK);
    renderer = new RecordingRenderer(accept);
    renderer->AddRef();
    graph->AddFilter(renderer, u"Renderer");
    graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
    graph->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void**>(&events));
  }
  ~Graph() {
    events->Release();
    control->Release();
    graph->Release();
    renderer->Release();
  }
  HRESULT Render(const std::string& path) {
    std::u16string wide(path.begin(), path.end());
    return graph->RenderFile(wide.c_str(), nullptr);
  }
  // Waits (bounded) for n frames.
  bool WaitFrames(std::size_t n) {
    for (int i = 0; i < 2000 && renderer->Count() < n; ++i) SleepMs(1);
    return renderer->Count() >= n;
  }
  bool WaitEvent(LONG want) {
    for (int i = 0; i < 2000; ++i) {
      LONG code;
      LONG_PTR p1, p2;
      while (events->GetEvent(&code, &p1, &p2, 0) == S_OK) {
        events->FreeEventParams(code, p1, p2);
        if (code == want) return true;
      }
      SleepMs(1);
    }
    return false;
  }
};

class DshowGraphTest : public ::testing::Test {
 protected:
  void SetUp() override { orvane::audio::UseManualSink(kRate); }
  void TearDown() override { orvane::audio::StopSink(); }
  void Step(unsigned frames) {
    std::vector<std::int16_t> out;
    orvane::audio::StepManualSink(frames, &out);
  }
  orvane_test::ScratchDir dir_{"dshow_graph"};
};

TEST_F(DshowGraphTest, FramesArriveWhenTheClockReachesThemAndEqualFfmpegsConversion) {
  const std::string clip = dir_.Path("clip.mkv");
  ASSERT_TRUE(orvane_test::MakeTestClip(clip, 64, 48, 10, 1.0, false));
  const std::string reference = orvane_test::ReferenceFrames(clip, "rgb565le", dir_);
  const std::size_t frame_bytes = 64 * 48 * 2;
  ASSERT_EQ(reference.size(), 10 * frame_bytes);

  Graph g(MEDIASUBTYPE_RGB565);
  ASSERT_EQ(g.Render(clip), S_OK);
  EXPECT_EQ(g.renderer->width_, 64);
  EXPECT_EQ(g.renderer->height_, 48);  // bottom-up
  ASSERT_EQ(g.control->Run(), S_OK);
  for (std::size_t i = 0; i < 10; ++i) {
    ASSERT_TRUE(g.WaitFrames(i + 1)) << "frame " << i;
    SleepMs(5);
    EXPECT_EQ(g.renderer->Count(), i + 1) << "frame " << i + 1 << " came before its time";
    EXPECT_TRUE(g.renderer->Frame(i) == reference.substr(i * frame_bytes, frame_bytes)) << "frame " << i;
    Step(kRate / 10);
  }
  EXPECT_TRUE(g.WaitEvent(EC_COMPLETE));
}

TEST_F(DshowGraphTest, SeekingToTheStartReplaysTheFirstFrame) {
  const std::string clip = dir_.Path("clip.mkv");
  ASSERT_TRUE(orvane_test::MakeTestClip(clip, 32, 24, 10, 0.5, false));
  Graph g(MEDIASUBTYPE_RGB565);
  ASSERT_EQ(g.Render(clip), S_OK);
  IMediaSeeking* seeking = nullptr;
  ASSERT_EQ(g.graph->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking)), S_OK);
  ASSERT_EQ(g.control->Run(), S_OK);
  ASSERT_TRUE(g.WaitFrames(1));
  Step(kRate / 10 * 3);
  ASSERT_TRUE(g.WaitFrames(4));
  LONGLONG zero = 0;
  ASSERT_EQ(g.control->Stop(), S_OK);
  ASSERT_EQ(seeking->SetPositions(&zero, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning),
            S_OK);
  const std::size_t before = g.renderer->Count();
  ASSERT_EQ(g.control->Run(), S_OK);
  ASSERT_TRUE(g.WaitFrames(before + 1));
  EXPECT_TRUE(g.renderer->Frame(before) == g.renderer->Frame(0));
  seeking->Release();
}

TEST_F(DshowGraphTest, DamagedAndUnsupportedFiles) {
  ASSERT_TRUE(orvane_test::MakeTestClip(dir_.Path("clip.mkv"), 32, 24, 10, 1.0, true));
  ASSERT_TRUE(
      orvane_test::RunFfmpeg("-f lavfi -i sine=duration=0.3 -c:a pcm_s16le " + dir_.Path("audio.wav")));
  ASSERT_TRUE(orvane_test::RunFfmpeg("-f lavfi -i testsrc=size=32x24:duration=0.3 -c:v ffv1 " +
                                     dir_.Path("video.mkv")));
  const std::string whole = dir_.Read("clip.mkv");
  dir_.Write("empty.avi", "");
  dir_.Write("garbage.mpg", std::string(4096, '\x5a'));
  dir_.Write("truncated.mkv", whole.substr(0, whole.size() / 2));
  // An unknown codec: the clip's codec name in its header bytes overwritten.
  std::string unknown = whole;
  std::size_t at = unknown.find("FFV1");
  ASSERT_NE(at, std::string::npos);
  unknown.replace(at, 4, "ZZZZ");
  dir_.Write("unknown.mkv", unknown);

  struct Case {
    const char* file;
    GUID accept;
    bool succeeds;
    HRESULT exact;  // checked when not 0
  };
  const Case cases[] = {
      {"missing.avi", MEDIASUBTYPE_RGB565, false, 0},
      {"empty.avi", MEDIASUBTYPE_RGB565, false, 0},
      {"garbage.mpg", MEDIASUBTYPE_RGB565, false, 0},
      {"truncated.mkv", MEDIASUBTYPE_RGB565, true, 0},
      {"unknown.mkv", MEDIASUBTYPE_RGB565, true, VFW_S_PARTIAL_RENDER},  // the sound still plays
      {"audio.wav", MEDIASUBTYPE_RGB565, true, S_OK},
      {"clip.mkv", MEDIASUBTYPE_YUY2, true, VFW_S_PARTIAL_RENDER},  // video refused, sound kept
      {"video.mkv", MEDIASUBTYPE_YUY2, false, VFW_E_CANNOT_RENDER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    Graph g(c.accept);
    HRESULT hr = g.Render(dir_.Path(c.file));
    EXPECT_EQ(SUCCEEDED(hr), c.succeeds) << std::hex << hr;
    if (c.exact) {
      EXPECT_EQ(hr, c.exact);
    }
    if (SUCCEEDED(hr)) {
      // Whatever renders plays to its end without harm (the clock steps until the end is reported).
      g.control->Run();
      bool ended = false;
      for (int i = 0; i < 400 && !ended; ++i) {
        Step(kRate / 20);
        SleepMs(5);
        LONG code;
        LONG_PTR p1, p2;
        while (g.events->GetEvent(&code, &p1, &p2, 0) == S_OK) ended = ended || code == EC_COMPLETE;
      }
      EXPECT_TRUE(ended);
    }
  }
}

TEST(MultiByteToWideChar, ConvertsCp932AndRefusesAShortBuffer) {
  const char path[] = "\x83\x80\x81\x5b\x83\x72\x81\x5b/a.avi";  // ムービー/a.avi in cp932
  WCHAR wide[32];
  int n = MultiByteToWideChar(CP_ACP, 0, path, -1, wide, 32);
  ASSERT_EQ(n, 11);
  EXPECT_EQ(std::u16string(wide), u"ムービー/a.avi");
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0), 11);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, path, -1, wide, 5), 0);
}

}  // namespace
