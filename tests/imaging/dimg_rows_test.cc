// Draw-image blit modes: the mode table, and the row loops watched through a recording span record.
#include "imaging/blit/dimg_rows.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/hal/dhal.h"

namespace {

// ---- Mode choice --------------------------------------------------------------------------------

// The mode table as rows of (condition, three modes), the first matching row deciding.
std::uint32_t ModelMode(std::int32_t kind, std::uint32_t rec, std::uint32_t level, std::uint32_t call) {
  const int column = !((rec & 1) && (call & 1)) ? 0 : (rec & 2) ? 2 : 1;
  const bool layer = rec & 4;
  struct Row {
    bool match;
    std::uint32_t modes[3];
  };
  const Row rows[] = {
      {!(call & 2) || kind == 0, {0, 1, 2}},
      {kind < 0 || kind > 6, {0, 0, 0}},
      {kind == 1 && level == 0, {0, 1, 2}},
      {kind == 1 && level == 31, {3, 3, 3}},
      {kind == 1 && level == 16, {13, 14, 15}},
      {kind == 1, {11, 6, 7}},
      {kind == 2 && !layer, {0, 1, 2}},
      {kind == 2, {10, 4, 5}},
      {kind == 3 && !layer, {0, 1, 2}},
      {kind == 3, {12, 8, 9}},
      {kind == 4, {13, 14, 15}},
      {kind == 5, {16, 17, 18}},
      {kind == 6, {19, 20, 21}},
  };
  for (const Row& r : rows)
    if (r.match) return r.modes[column];
  return 99;
}

TEST(DimgSelectBltModeTest, EveryKindLevelAndFlagCombination) {
  DimgImageRecord rec;
  const std::int32_t kinds[] = {-1, 0, 1, 2, 3, 4, 5, 6, 7, 1000, INT_MIN};
  for (std::int32_t kind : kinds)
    for (std::uint32_t level : {0u, 1u, 15u, 16u, 17u, 31u})
      for (std::uint32_t flags = 0; flags < 8; ++flags)
        for (std::uint32_t call = 0; call < 4; ++call) {
          rec.flags = flags;
          EXPECT_EQ(DimgSelectBltMode(kind, rec, static_cast<std::uint8_t>(level), call),
                    ModelMode(kind, flags, level, call))
              << "kind " << kind << " level " << level << " flags " << flags << " call " << call;
        }
  rec.flags = 7;
  EXPECT_EQ(DimgSelectBltMode(1, rec, 31, 0), 0u);  // call flags 0: mode 0 even with key and map
  EXPECT_EQ(DimgSelectBltMode(1, rec, 31, 3), 3u);
  EXPECT_EQ(DimgRowLoopFor(3), nullptr);
  EXPECT_EQ(DimgRowLoopFor(22), nullptr);
}

// ---- Row loops through a recording span record ----------------------------------------------------

struct Recorded {
  std::string span;
  const void* dst;
  const void* src;
  std::uint32_t count;  // pixels (Copy: bytes / 2)
  const std::uint8_t* layer;
  std::uint32_t extra;  // key or level byte
};
std::vector<Recorded> g_calls;

void RecCopy(void* d, const void* s, std::uint32_t bytes) {
  g_calls.push_back({"Copy", d, s, bytes / 2, nullptr, bytes % 2});
}
void RecCopyKey(void* d, const void* s, std::uint32_t n, std::uint16_t key) {
  g_calls.push_back({"CopyKey16", d, s, n, nullptr, key});
}
void RecBlend(void* d, const void* s, std::uint32_t n, std::uint8_t w) {
  g_calls.push_back({"Blend16", d, s, n, nullptr, w});
}
void RecBlendMap(void* d, const void* s, std::uint32_t n, const std::uint8_t* layer) {
  g_calls.push_back({"BlendMap16", d, s, n, layer, 0});
}
void RecBlendMapLevel(void* d, const void* s, std::uint32_t n, std::uint8_t level,
                      const std::uint8_t* layer) {
  g_calls.push_back({"BlendMapLevel16", d, s, n, layer, level});
}
void RecHalf(void* d, const void* s, std::uint32_t n) {
  g_calls.push_back({"Half16", d, s, n, nullptr, 0});
}
void RecAdd(void* d, const void* s, std::uint32_t n) {
  g_calls.push_back({"AddSat16", d, s, n, nullptr, 0});
}
void RecSub(void* d, const void* s, std::uint32_t n) {
  g_calls.push_back({"SubSat16", d, s, n, nullptr, 0});
}

class DimgRowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = DHalSpans;
    DHalSpans = DHalSpanRecord{};
    DHalSpans.Copy = &RecCopy;
    DHalSpans.CopyKey16 = &RecCopyKey;
    DHalSpans.Blend16 = &RecBlend;
    DHalSpans.BlendMap16 = &RecBlendMap;
    DHalSpans.BlendMapLevel16 = &RecBlendMapLevel;
    DHalSpans.Half16 = &RecHalf;
    DHalSpans.AddSat16 = &RecAdd;
    DHalSpans.SubSat16 = &RecSub;
    g_calls.clear();
  }
  void TearDown() override { DHalSpans = saved_; }

  // A width x height RGB565 source (bottom-up when asked) from rows of pixel values, with a run
  // map built from them as a draw image builds it, and a layer whose byte is y * 10 + x.
  void MakeSource(const std::vector<std::vector<std::uint16_t>>& rows, bool bottom_up) {
    src_ = bottom_up ? static_cast<DImage*>(&src_dib_) : &src_top_;
    src_->Destroy();
    const auto w = static_cast<std::uint32_t>(rows[0].size()), h = static_cast<std::uint32_t>(rows.size());
    ASSERT_TRUE(src_->Create(w, h, 0, DimgFormat::RGB565));
    run_map_.assign(std::size_t{w} * h, 0);
    layer_.assign(std::size_t{w} * h, 0);
    for (std::uint32_t y = 0; y < h; ++y)
      for (std::uint32_t x = 0; x < w; ++x) {
        std::memcpy(src_->GetPixelPointer(x, y), &rows[y][x], 2);
        std::uint32_t n = 1;
        while (x + n < w && (rows[y][x + n] == kKey) == (rows[y][x] == kKey)) ++n;
        run_map_[y * w + x] = static_cast<std::uint8_t>(n);
        layer_[y * w + x] = static_cast<std::uint8_t>(y * 10 + x);
      }
    dst_ = bottom_up ? static_cast<DImage*>(&dst_dib_) : &dst_top_;
    dst_->Destroy();
    ASSERT_TRUE(dst_->Create(w + 4, h + 4, 0, DimgFormat::RGB565));
  }

  // Runs a mode over the rectangle (sx, sy, w, h) of the source drawn at (dx, dy).
  void Run(std::uint32_t mode, std::int32_t dx, std::int32_t dy, std::int32_t sx, std::int32_t sy,
           std::uint32_t w, std::uint32_t h) {
    DimgRowArgs a;
    a.dst = dst_->GetPixelPointer(dx, dy);
    a.dst_image = dst_;
    a.src = src_->GetPixelPointer(sx, sy);
    a.src_image = src_;
    a.w = w;
    a.h = h;
    a.key = kKey;
    a.level = 9;
    const std::size_t corner = std::size_t(sy) * src_->GetWidth() + std::size_t(sx);
    a.run_map = run_map_.data() + corner;
    a.layer = layer_.data() + corner;
    DimgRunRows(mode, a);
  }

  // (x, y) of a recorded destination address in the destination picture; the source address
  // must be the same pixel offset from (sx0, sy0) as the destination from (dx0, dy0).
  struct Where {
    int x, y;
  };
  Where DstXY(const void* p) const {
    for (std::uint32_t y = 0; y < dst_->GetHeight(); ++y) {
      const auto* row = dst_->GetPixelPointer(0, static_cast<std::int32_t>(y));
      const auto off = static_cast<const std::uint8_t*>(p) - row;
      if (off >= 0 && off < std::int64_t{dst_->GetWidth()} * 2)
        return {static_cast<int>(off / 2), static_cast<int>(y)};
    }
    return {-1, -1};
  }

  static constexpr std::uint16_t kKey = 0xF81F;
  DImage src_top_, dst_top_;
  DImageDib src_dib_, dst_dib_;
  DImage* src_ = nullptr;
  DImage* dst_ = nullptr;
  std::vector<std::uint8_t> run_map_, layer_;
  DHalSpanRecord saved_{};
};

constexpr std::uint16_t K = 0xF81F;

TEST_F(DimgRowsTest, KeyScanCallsOncePerRunOfNonKeyPixels) {
  MakeSource({{K, K, 0x1111, 0x2222, K, 0x3333}}, false);
  Run(14, 1, 2, 0, 0, 6, 1);  // half blend, key scan
  ASSERT_EQ(g_calls.size(), 2u);
  EXPECT_EQ(g_calls[0].span, "Half16");
  EXPECT_EQ(DstXY(g_calls[0].dst).x, 1 + 2);
  EXPECT_EQ(g_calls[0].count, 2u);
  EXPECT_EQ(g_calls[0].src, src_->GetPixelPointer(2, 0));
  EXPECT_EQ(DstXY(g_calls[1].dst).x, 1 + 5);
  EXPECT_EQ(g_calls[1].count, 1u);
  // A row of key pixels makes no call.
  g_calls.clear();
  MakeSource({{K, K, K}}, false);
  Run(17, 0, 0, 0, 0, 3, 1);
  EXPECT_TRUE(g_calls.empty());
}

TEST_F(DimgRowsTest, RunMapStartsInsideARunAndTestsOnlyARunsFirstPixel) {
  MakeSource({{K, K, 0x1111, 0x2222, K, 0x3333}}, false);
  EXPECT_EQ(run_map_, (std::vector<std::uint8_t>{2, 1, 2, 1, 1, 1}));
  Run(2, 0, 0, 1, 0, 4, 1);  // copy with run map, from the second pixel, 4 wide
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0].span, "Copy");
  EXPECT_EQ(DstXY(g_calls[0].dst).x, 1);
  EXPECT_EQ(g_calls[0].count, 2u);
  EXPECT_EQ(g_calls[0].extra, 0u);  // an even number of bytes
  EXPECT_EQ(g_calls[0].src, src_->GetPixelPointer(2, 0));

  // Only the first pixel of a run is compared: a stale map that claims a run of 3 over p, K, q
  // draws all three.
  g_calls.clear();
  MakeSource({{0x1111, K, 0x2222}}, false);
  run_map_ = {3, 2, 1};
  Run(18, 0, 0, 0, 0, 3, 1);
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0].count, 3u);
}

TEST_F(DimgRowsTest, RunsAreCutAtTheRightEdgeAndAZeroByteCountsAsOne) {
  MakeSource({{1, 2, 3, 4, 5, 6}}, false);
  Run(21, 0, 0, 0, 0, 4, 1);
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0].span, "SubSat16");
  EXPECT_EQ(g_calls[0].count, 4u);

  g_calls.clear();
  run_map_ = {0, 0, 0, 0, 0, 0};
  Run(15, 0, 0, 0, 0, 6, 1);
  ASSERT_EQ(g_calls.size(), 6u);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(DstXY(g_calls[i].dst).x, i);
    EXPECT_EQ(g_calls[i].count, 1u);
  }
}

TEST_F(DimgRowsTest, EmptyRectangles) {
  MakeSource({{1, 2, 3}, {4, 5, 6}}, false);
  // Width 0: one count-0 call per row in the whole-row modes, none in the others.
  for (std::uint32_t mode : {0u, 1u, 10u, 11u, 12u, 13u, 16u, 19u}) {
    g_calls.clear();
    Run(mode, 0, 0, 0, 0, 0, 2);
    ASSERT_EQ(g_calls.size(), 2u) << mode;
    EXPECT_EQ(g_calls[0].count, 0u);
    EXPECT_EQ(DstXY(g_calls[1].dst).y, 1);
  }
  for (std::uint32_t mode : {2u, 4u, 5u, 6u, 7u, 8u, 9u, 14u, 15u, 17u, 18u, 20u, 21u}) {
    g_calls.clear();
    Run(mode, 0, 0, 0, 0, 0, 2);
    EXPECT_TRUE(g_calls.empty()) << mode;
  }
  // Height 0, and mode 3 or beyond 21: no call at all.
  for (std::uint32_t mode = 0; mode < 24; ++mode) {
    g_calls.clear();
    Run(mode, 0, 0, 0, 0, 3, 0);
    EXPECT_TRUE(g_calls.empty()) << mode;
  }
  g_calls.clear();
  Run(3, 0, 0, 0, 0, 3, 2);
  Run(22, 0, 0, 0, 0, 3, 2);
  EXPECT_TRUE(g_calls.empty());
}

// Every mode on bottom-up and top-down images: the spans of row y reach destination row dy + y,
// source row sy + y, and the maps' rows sy + y (steps of the source width), in picture order.
TEST_F(DimgRowsTest, RowsAndMapsStepInPictureOrder) {
  const char* spans[22] = {"Copy",
                           "CopyKey16",
                           "Copy",
                           "",
                           "BlendMap16",
                           "BlendMap16",
                           "Blend16",
                           "Blend16",
                           "BlendMapLevel16",
                           "BlendMapLevel16",
                           "BlendMap16",
                           "Blend16",
                           "BlendMapLevel16",
                           "Half16",
                           "Half16",
                           "Half16",
                           "AddSat16",
                           "AddSat16",
                           "AddSat16",
                           "SubSat16",
                           "SubSat16",
                           "SubSat16"};
  for (bool bottom_up : {false, true})
    for (std::uint32_t mode = 0; mode < 22; ++mode) {
      if (mode == 3) continue;
      SCOPED_TRACE(testing::Message() << "mode " << mode << " bottom-up " << bottom_up);
      MakeSource({{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}}, bottom_up);
      g_calls.clear();
      Run(mode, 2, 1, 1, 1, 2, 2);
      ASSERT_EQ(g_calls.size(), 2u);
      for (int y = 0; y < 2; ++y) {
        const Recorded& c = g_calls[y];
        EXPECT_EQ(c.span, spans[mode]);
        EXPECT_EQ(DstXY(c.dst).x, 2);
        EXPECT_EQ(DstXY(c.dst).y, 1 + y);
        EXPECT_EQ(c.src, src_->GetPixelPointer(1, 1 + y));
        EXPECT_EQ(c.count, 2u);
        if (c.layer != nullptr) {
          EXPECT_EQ(*c.layer, (1 + y) * 10 + 1);
        }
        if (c.span == "Blend16" || c.span == "BlendMapLevel16") {
          EXPECT_EQ(c.extra, 9u);
        }
        if (c.span == "CopyKey16") {
          EXPECT_EQ(c.extra, kKey);
        }
      }
    }
}

// With the real HAL: a keyed copy and a level blend change exactly the pixels they should.
TEST(DimgRowsHalTest, DrawsThroughTheInitialisedSpans) {
  ASSERT_TRUE(DHalInit(6));
  DImage src, dst;
  ASSERT_TRUE(src.Create(3, 1, 0, DimgFormat::RGB565));
  ASSERT_TRUE(dst.Create(3, 1, 0, DimgFormat::RGB565));
  const std::uint16_t pixels[3] = {K, 0xFFFF, 0x0000};
  std::memcpy(src.GetBits(), pixels, 6);
  const std::uint16_t before[3] = {0x1234, 0x1234, 0xFFFF};
  std::memcpy(dst.GetBits(), before, 6);
  DimgRowArgs a;
  a.dst = dst.GetBits();
  a.dst_image = &dst;
  a.src = src.GetBits();
  a.src_image = &src;
  a.w = 3;
  a.h = 1;
  a.key = K;
  a.level = 16;
  DimgRunRows(6, a);  // level blend with key scan: pixel 0 kept, 1 and 2 blended at w = 16
  std::uint16_t out[3];
  std::memcpy(out, dst.GetBits(), 6);
  EXPECT_EQ(out[0], 0x1234);
  EXPECT_EQ(out[2] >> 11, 16);  // white destination over black source at 16
  EXPECT_EQ(out[1] & 0x1F, ((16 * (0x14 + 1)) >> 5) + ((15 * 32) >> 5));
  DHalTerm();
}

}  // namespace
