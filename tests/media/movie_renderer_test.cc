// The movie renderer on synthetic media types: what it accepts on each screen format, the frame
// images it makes, its one-sample allocator over the image, and the copy path.
#include "media/movie/movie_renderer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/display/screen_fixture.h"

namespace {

struct VideoType {
  VIDEOINFOHEADER vih{};
  AM_MEDIA_TYPE mt{};
  VideoType(GUID major, GUID subtype, GUID format, LONG width, LONG height) {
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = width;
    vih.bmiHeader.biHeight = height;
    vih.bmiHeader.biBitCount = 16;
    mt.majortype = major;
    mt.subtype = subtype;
    mt.formattype = format;
    mt.cbFormat = sizeof vih;
    mt.pbFormat = reinterpret_cast<BYTE*>(&vih);
  }
};

// A renderer with one reference; the pin's allocator is dropped before the last release.
struct Renderer {
  MovieRenderer* r;
  explicit Renderer(Screen* factory) {
    HRESULT hr = E_FAIL;
    r = new MovieRenderer(factory, &hr);
    EXPECT_EQ(hr, S_OK);
    r->AddRef();
  }
  ~Renderer() {
    r->GetPin(0)->Disconnect();
    r->Release();
  }
  MovieRenderer* operator->() { return r; }
};

class MovieRendererTest : public ScreenFixture {
 protected:
  void StartScreen(bool rgb555) {
    if (rgb555) {
      orvane::dx::DeviceProfile p;
      p.modes = {{640, 480, 16, true}};
      orvane::dx::SetProfile(p);
    }
    ASSERT_TRUE(screen_.Init(window_));
    ASSERT_EQ(screen_.GetPixelFormat(), rgb555 ? 4u : 6u);
  }
};

TEST_F(MovieRendererTest, AcceptsOnlyTheScreensOwnSixteenBitFormat) {
  struct Case {
    GUID major, subtype, format;
    HRESULT on6, on4, without_screen;
  };
  const Case cases[] = {
      {MEDIATYPE_Video, MEDIASUBTYPE_RGB565, FORMAT_VideoInfo, S_OK, E_FAIL, E_FAIL},
      {MEDIATYPE_Video, MEDIASUBTYPE_RGB555, FORMAT_VideoInfo, E_FAIL, S_OK, E_FAIL},
      {MEDIATYPE_Video, MEDIASUBTYPE_YUY2, FORMAT_VideoInfo, E_FAIL, E_FAIL, E_FAIL},
      {MEDIATYPE_Video, MEDIASUBTYPE_UYVY, FORMAT_VideoInfo, E_FAIL, E_FAIL, E_FAIL},
      {MEDIATYPE_Video, MEDIASUBTYPE_RGB32, FORMAT_VideoInfo, E_FAIL, E_FAIL, E_FAIL},
      // The format type is checked before the major type.
      {MEDIATYPE_Audio, MEDIASUBTYPE_RGB565, FORMAT_WaveFormatEx, E_INVALIDARG, E_INVALIDARG, E_INVALIDARG},
      {MEDIATYPE_Video, MEDIASUBTYPE_RGB565, FORMAT_WaveFormatEx, E_INVALIDARG, E_INVALIDARG, E_INVALIDARG},
      {MEDIATYPE_Audio, MEDIASUBTYPE_RGB565, FORMAT_VideoInfo, E_FAIL, E_FAIL, E_FAIL},
  };
  for (bool rgb555 : {false, true}) {
    StartScreen(rgb555);
    Renderer on_screen(&screen_);
    Renderer without(nullptr);
    for (const Case& c : cases) {
      VideoType t(c.major, c.subtype, c.format, 32, 16);
      EXPECT_EQ(on_screen->CheckMediaType(&t.mt), rgb555 ? c.on4 : c.on6) << rgb555;
      EXPECT_EQ(without->CheckMediaType(&t.mt), c.without_screen);
    }
    screen_.Shutdown();
  }
}

TEST_F(MovieRendererTest, OwnAllocatorGivesOneSampleOverTheFrameImage) {
  StartScreen(false);
  for (LONG height : {240, -240}) {
    SCOPED_TRACE(height);
    Renderer r(&screen_);
    VideoType t(MEDIATYPE_Video, MEDIASUBTYPE_RGB565, FORMAT_VideoInfo, 320, height);
    IPin* pin = nullptr;
    ASSERT_EQ(r->GetPinAt(0, &pin), S_OK);
    EXPECT_EQ(pin, static_cast<IPin*>(r->GetPin(0)));
    pin->Release();
    EXPECT_EQ(r->GetPinAt(1, &pin), VFW_E_NOT_FOUND);
    pin = r->GetPin(0);
    IMemAllocator* allocator = nullptr;
    ALLOCATOR_PROPERTIES request{4, 1000, 1, 0}, actual{};
    // Before a type is set there is no image to size the buffer by.
    ASSERT_EQ(r->GetPin(0)->GetAllocator(&allocator), S_OK);
    EXPECT_EQ(allocator, static_cast<IMemAllocator*>(&r->GetAllocator()));
    EXPECT_EQ(allocator->SetProperties(&request, &actual), VFW_E_SIZENOTSET);
    ASSERT_EQ(pin->ReceiveConnection(nullptr, &t.mt), S_OK);
    ALLOCATOR_PROPERTIES prefixed{1, 1000, 1, 8};
    EXPECT_EQ(allocator->SetProperties(&prefixed, &actual), E_INVALIDARG);
    ASSERT_EQ(allocator->SetProperties(&request, &actual), S_OK);
    ASSERT_EQ(allocator->Commit(), S_OK);
    ASSERT_EQ(r->GetPin(0)->NotifyAllocator(allocator, FALSE), S_OK);
    EXPECT_TRUE(r->OwnAllocatorInUse());

    DRef<DrawImage> image = r->GetFrameImage();
    ASSERT_TRUE(image);
    EXPECT_EQ(image->GetWidth(), 320);
    EXPECT_EQ(image->GetHeight(), 240);
    DImage* pixels = image->GetImage();
    EXPECT_EQ(dynamic_cast<DImageDib*>(pixels) != nullptr, height > 0);  // bottom-up rows for bottom-up video
    EXPECT_EQ(actual.cbBuffer, static_cast<LONG>(pixels->GetPitch() * 240));

    IMediaSample* sample = nullptr;
    ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
    BYTE* p = nullptr;
    sample->GetPointer(&p);
    EXPECT_EQ(p, pixels->GetBits());  // no copy: the sample is the image
    // The decoder's write shows in the image at once; rendering copies nothing.
    std::memset(p, 0x11, static_cast<std::size_t>(sample->GetSize()));
    EXPECT_EQ(r->GetPin(0)->Receive(sample), S_OK);
    EXPECT_EQ(image->GetPixel(319, 0), 0x1111);
    sample->Release();
    allocator->Decommit();
    allocator->Release();
  }
}

TEST_F(MovieRendererTest, CopyPathCopiesRowByRowAndNeverReadsPastAShortSample) {
  StartScreen(false);
  const LONG w = 61, h = 9;  // sample rows of 124 bytes, image rows of 128
  const std::size_t stride = 124;
  for (LONG height : {h, -h}) {
    for (std::size_t rows_given : {std::size_t(h), std::size_t(4)}) {
      SCOPED_TRACE(testing::Message() << height << " " << rows_given);
      Renderer r(&screen_);
      VideoType t(MEDIATYPE_Video, MEDIASUBTYPE_RGB565, FORMAT_VideoInfo, w, height);
      ASSERT_EQ(r->GetPin(0)->ReceiveConnection(nullptr, &t.mt), S_OK);
      HRESULT hr;
      auto* other = new CMemAllocator("other", nullptr, &hr);
      other->AddRef();
      ALLOCATOR_PROPERTIES request{1, static_cast<LONG>(stride * rows_given), 1, 0}, actual{};
      ASSERT_EQ(other->SetProperties(&request, &actual), S_OK);
      ASSERT_EQ(other->Commit(), S_OK);
      ASSERT_EQ(r->GetPin(0)->NotifyAllocator(other, FALSE), S_OK);
      EXPECT_FALSE(r->OwnAllocatorInUse());
      DRef<DrawImage> image = r->GetFrameImage();
      ASSERT_TRUE(image);
      image->Fill(0);

      IMediaSample* sample = nullptr;
      ASSERT_EQ(other->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
      BYTE* p = nullptr;
      sample->GetPointer(&p);
      // Memory row m, pixel x holds m * 100 + x; the padding bytes hold 0xFFFF.
      for (std::size_t m = 0; m < rows_given; ++m) {
        auto* row = reinterpret_cast<std::uint16_t*>(p + m * stride);
        for (std::size_t x = 0; x < stride / 2; ++x)
          row[x] = x < std::size_t(w) ? std::uint16_t(m * 100 + x) : 0xFFFF;
      }
      ASSERT_EQ(r->GetPin(0)->Receive(sample), S_OK);
      sample->Release();
      for (LONG y = 0; y < h; ++y) {
        // Bottom-up video: memory row m is picture row h - 1 - m (the image stores it the same way).
        const std::size_t m = height > 0 ? std::size_t(h - 1 - y) : std::size_t(y);
        for (LONG x = 0; x < w; ++x) {
          const std::uint16_t want = m < rows_given ? std::uint16_t(m * 100 + x) : 0;
          ASSERT_EQ(image->GetPixel(x, y), want) << x << "," << y;
        }
      }
      other->Decommit();
      other->Release();
    }
  }
}

TEST_F(MovieRendererTest, AFrameSizeTheFactoryRefusesLeavesNoImage) {
  StartScreen(false);
  Renderer r(&screen_);
  VideoType t(MEDIATYPE_Video, MEDIASUBTYPE_RGB565, FORMAT_VideoInfo, 0x7fffffff, 0x7fffffff);
  ASSERT_EQ(r->GetPin(0)->ReceiveConnection(nullptr, &t.mt), S_OK);
  IMemAllocator* allocator = nullptr;
  ASSERT_EQ(r->GetPin(0)->GetAllocator(&allocator), S_OK);
  ALLOCATOR_PROPERTIES request{1, 1000, 1, 0}, actual{};
  EXPECT_EQ(allocator->SetProperties(&request, &actual), VFW_E_SIZENOTSET);
  EXPECT_EQ(allocator->Commit(), VFW_E_SIZENOTSET);
  EXPECT_FALSE(r->GetFrameImage());
  allocator->Release();
}

}  // namespace
