// HAL span routines of both units against per-element models written from their definitions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "imaging/hal/dhal.h"

namespace {

// ---- Models -------------------------------------------------------------------------------------

struct Channels {
  std::uint32_t r, g, b;
};
int RedShift(std::uint32_t f) {
  return f == 4 ? 10 : 11;
}
int GreenShift(std::uint32_t f) {
  return f == 4 ? 5 : 6;
}
Channels Unpack(std::uint16_t p, std::uint32_t f) {
  return {(p >> RedShift(f)) & 31u, (p >> GreenShift(f)) & 31u, p & 31u};
}
std::uint16_t Pack(Channels c, std::uint32_t f) {
  return static_cast<std::uint16_t>((c.r << RedShift(f)) | (c.g << GreenShift(f)) | c.b);
}
template <typename Op>
std::uint16_t PerChannel(std::uint16_t d, std::uint16_t s, std::uint32_t f, Op op) {
  const Channels a = Unpack(d, f), b = Unpack(s, f);
  return Pack({op(a.r, b.r), op(a.g, b.g), op(a.b, b.b)}, f);
}
std::uint16_t XorTop(std::uint16_t d, std::uint16_t s, std::uint32_t f) {
  return f == 4 ? (d ^ s) & 0x8000 : 0;
}
std::uint16_t ModelAdd(std::uint16_t d, std::uint16_t s, std::uint32_t f) {
  return PerChannel(d, s, f, [](std::uint32_t x, std::uint32_t y) { return std::min(x + y, 31u); }) |
         XorTop(d, s, f);
}
std::uint16_t ModelSub(std::uint16_t d, std::uint16_t s, std::uint32_t f) {
  return PerChannel(d, s, f, [](std::uint32_t x, std::uint32_t y) { return x > y ? x - y : 0u; }) |
         XorTop(d, s, f);
}
std::uint16_t ModelHalf(std::uint16_t d, std::uint16_t s, std::uint32_t f) {
  return PerChannel(d, s, f, [](std::uint32_t x, std::uint32_t y) { return (x >> 1) + (y >> 1); });
}
std::uint16_t ModelBlend(std::uint16_t d, std::uint16_t s, std::uint32_t w, std::uint32_t f) {
  w = std::min(w, 31u);
  return PerChannel(d, s, f, [w](std::uint32_t x, std::uint32_t y) {
    return ((w * (x + 1)) >> 5) + (((31 - w) * (y + 1)) >> 5);
  });
}
std::uint32_t ModelLevelWeight(std::uint32_t m, std::uint32_t level) {
  m = std::min(m, 31u);
  level = std::min(level, 31u);
  return 31 - (((31 - m) * (32 - level)) >> 5);
}
// Copy: front to back, 8-byte blocks, one 4-byte block, single bytes; each block read first.
void ModelCopy(std::uint8_t* d, const std::uint8_t* s, std::uint32_t n) {
  while (n > 0) {
    const std::uint32_t block = n >= 8 ? 8 : n >= 4 ? 4 : 1;
    std::uint8_t t[8];
    std::memcpy(t, s, block);
    std::memcpy(d, t, block);
    d += block, s += block, n -= block;
  }
}
bool ModelTakes(std::uint16_t entry, std::uint16_t t, bool rev) {
  const std::uint32_t level = entry & 0x7FFFu, tc = std::min<std::uint32_t>(t, 0x7FFF);
  return rev ? level >= tc : level <= tc;
}

// ---- One harness over all twenty routines --------------------------------------------------------

enum Routine {
  kFill32,
  kFill8,
  kFillMask16,
  kAddSat16,
  kCopyKey16,
  kFill16,
  kThresholdCopy8,
  kThresholdFill8,
  kThresholdFill8Rev,
  kSubSat16,
  kCopyKey32,
  kCopyMirror16,
  kThresholdCopy16,
  kThresholdCopy16Rev,
  kHalf16,
  kCopy,
  kThresholdCopy8Rev,
  kBlend16,
  kBlendMap16,
  kBlendMapLevel16,
  kRoutineCount
};

constexpr std::size_t kGuard = 32;
constexpr std::uint32_t kMaxCount = 67;

// Buffers with guard areas; every routine gets pointers `offset` bytes into them.
struct Case {
  std::vector<std::uint8_t> dst, src, layer;
  std::vector<std::uint16_t> map;
  std::uint32_t count = 0, offset = 0;
  std::uint32_t value = 0;  // fill value, key, weight or threshold
  std::uint8_t a = 0, b = 0, level = 0;

  std::uint8_t* D() { return dst.data() + kGuard + offset; }
  std::uint8_t* S() { return src.data() + kGuard + offset; }
  const std::uint8_t* L() { return layer.data() + kGuard + offset; }
  const std::uint16_t* M() { return map.data() + kGuard; }
};

std::uint16_t Get16(const std::uint8_t* p, std::size_t i) {
  std::uint16_t v;
  std::memcpy(&v, p + 2 * i, 2);
  return v;
}
void Put16(std::uint8_t* p, std::size_t i, std::uint16_t v) {
  std::memcpy(p + 2 * i, &v, 2);
}
std::uint32_t Get32(const std::uint8_t* p, std::size_t i) {
  std::uint32_t v;
  std::memcpy(&v, p + 4 * i, 4);
  return v;
}
void Put32(std::uint8_t* p, std::size_t i, std::uint32_t v) {
  std::memcpy(p + 4 * i, &v, 4);
}

void RunUnit(const DHalSpanRecord& r, Routine k, Case& c) {
  const std::uint32_t n = c.count;
  const auto v16 = static_cast<std::uint16_t>(c.value);
  switch (k) {
    case kFill32:
      return r.Fill32(c.D(), n, c.value);
    case kFill8:
      return r.Fill8(c.D(), n, static_cast<std::uint8_t>(c.value));
    case kFillMask16:
      return r.FillMask16(c.D(), c.S(), n, v16);
    case kAddSat16:
      return r.AddSat16(c.D(), c.S(), n);
    case kCopyKey16:
      return r.CopyKey16(c.D(), c.S(), n, v16);
    case kFill16:
      return r.Fill16(c.D(), n, v16);
    case kThresholdCopy8:
      return r.ThresholdCopy8(c.D(), c.S(), n, c.M(), v16);
    case kThresholdFill8:
      return r.ThresholdFill8(c.D(), c.a, c.b, n, c.M(), v16);
    case kThresholdFill8Rev:
      return r.ThresholdFill8Rev(c.D(), c.a, c.b, n, c.M(), v16);
    case kSubSat16:
      return r.SubSat16(c.D(), c.S(), n);
    case kCopyKey32:
      return r.CopyKey32(c.D(), c.S(), n, c.value);
    case kCopyMirror16:
      return r.CopyMirror16(c.D(), c.S(), n);
    case kThresholdCopy16:
      return r.ThresholdCopy16(c.D(), c.S(), n, c.M(), v16);
    case kThresholdCopy16Rev:
      return r.ThresholdCopy16Rev(c.D(), c.S(), n, c.M(), v16);
    case kHalf16:
      return r.Half16(c.D(), c.S(), n);
    case kCopy:
      return r.Copy(c.D(), c.S(), n);
    case kThresholdCopy8Rev:
      return r.ThresholdCopy8Rev(c.D(), c.S(), n, c.M(), v16);
    case kBlend16:
      return r.Blend16(c.D(), c.S(), n, static_cast<std::uint8_t>(c.value));
    case kBlendMap16:
      return r.BlendMap16(c.D(), c.S(), n, c.L());
    case kBlendMapLevel16:
      return r.BlendMapLevel16(c.D(), c.S(), n, c.level, c.L());
    default:
      return;
  }
}

void RunModel(Routine k, Case& c, std::uint32_t f) {
  std::uint8_t* d = c.D();
  const std::uint8_t* s = c.S();
  const std::uint16_t* m = c.M();
  const auto v16 = static_cast<std::uint16_t>(c.value);
  for (std::uint32_t i = 0; i < c.count; ++i) {
    switch (k) {
      case kFill32:
        Put32(d, i, c.value);
        break;
      case kFill8:
        d[i] = static_cast<std::uint8_t>(c.value);
        break;
      case kFillMask16:
        if (Get16(s, i) != 0) Put16(d, i, v16);
        break;
      case kAddSat16:
        Put16(d, i, ModelAdd(Get16(d, i), Get16(s, i), f));
        break;
      case kSubSat16:
        Put16(d, i, ModelSub(Get16(d, i), Get16(s, i), f));
        break;
      case kHalf16:
        Put16(d, i, ModelHalf(Get16(d, i), Get16(s, i), f));
        break;
      case kCopyKey16:
        if (Get16(s, i) != v16) Put16(d, i, Get16(s, i));
        break;
      case kCopyKey32:
        if (Get32(s, i) != c.value) Put32(d, i, Get32(s, i));
        break;
      case kFill16:
        Put16(d, i, v16);
        break;
      case kCopyMirror16:
        Put16(d, c.count - 1 - i, Get16(s, i));
        break;
      case kThresholdCopy8:
        if (ModelTakes(m[i], v16, false)) d[i] = s[i];
        break;
      case kThresholdCopy8Rev:
        if (ModelTakes(m[i], v16, true)) d[i] = s[i];
        break;
      case kThresholdCopy16:
        if (ModelTakes(m[i], v16, false)) Put16(d, i, Get16(s, i));
        break;
      case kThresholdCopy16Rev:
        if (ModelTakes(m[i], v16, true)) Put16(d, i, Get16(s, i));
        break;
      case kThresholdFill8:
        d[i] = ModelTakes(m[i], v16, false) ? c.a : c.b;
        break;
      case kThresholdFill8Rev:
        d[i] = ModelTakes(m[i], v16, true) ? c.a : c.b;
        break;
      case kBlend16:
        Put16(d, i, ModelBlend(Get16(d, i), Get16(s, i), c.value & 0xFF, f));
        break;
      case kBlendMap16:
        Put16(d, i, ModelBlend(Get16(d, i), Get16(s, i), c.L()[i], f));
        break;
      case kBlendMapLevel16:
        Put16(d, i, ModelBlend(Get16(d, i), Get16(s, i), ModelLevelWeight(c.L()[i], c.level), f));
        break;
      case kCopy:
        break;
      default:
        break;
    }
  }
  if (k == kCopy) ModelCopy(d, s, c.count);
}

// A random case: words that often repeat the key, map entries with and without the flag, and
// thresholds near the levels of the map.
Case RandomCase(std::mt19937& rng, Routine k, std::uint32_t count, std::uint32_t offset) {
  Case c;
  c.count = count;
  c.offset = offset;
  const std::size_t bytes = 2 * kGuard + 4 * kMaxCount + 16;
  c.dst.resize(bytes);
  c.src.resize(bytes);
  c.layer.resize(bytes);
  c.map.resize(2 * kGuard + kMaxCount + 16);
  for (auto& x : c.dst) x = static_cast<std::uint8_t>(rng());
  for (auto& x : c.src) x = static_cast<std::uint8_t>(rng());
  for (auto& x : c.layer) x = static_cast<std::uint8_t>(rng() % 4 == 0 ? rng() : rng() % 32);
  for (auto& x : c.map) x = static_cast<std::uint16_t>(rng() % 4 == 0 ? rng() : 0x8000u | (rng() % 64));
  c.a = static_cast<std::uint8_t>(rng());
  c.b = static_cast<std::uint8_t>(rng());
  c.level = static_cast<std::uint8_t>(rng() % 4 == 0 ? rng() : rng() % 32);
  switch (rng() % 6) {
    case 0:
      c.value = 0;
      break;
    case 1:
      c.value = 0x7FFF;
      break;
    case 2:
      c.value = rng();
      break;
    default:
      c.value = rng() % 66;
      break;
  }
  if (k == kBlend16 && rng() % 2 == 0) c.value %= 32;
  if (k == kCopyKey16 || k == kCopyKey32) {
    // Half the source elements equal the key.
    const std::size_t elem = k == kCopyKey16 ? 2 : 4;
    std::memcpy(&c.value, c.S(), 4);
    if (elem == 2) c.value &= 0xFFFF;
    for (std::uint32_t i = 0; i < count; ++i)
      if (rng() % 2 == 0) std::memcpy(c.S() + elem * i, &c.value, elem);
  }
  if (k == kFillMask16)
    for (std::uint32_t i = 0; i < count; ++i)
      if (rng() % 2 == 0) std::memset(c.S() + 2 * i, 0, 2);
  return c;
}

class DHalSpansTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {}
  void Init(std::uint32_t format) {
    ASSERT_TRUE(DHalX86::Init(format));
    ASSERT_TRUE(DHalMmx::Init(format));
  }
  void TearDown() override {
    DHalX86::Term();
    DHalMmx::Term();
  }
};

// Every routine of both units at counts 0 to 67 and every byte alignment, guard bytes around the
// run, against the models; so the units also agree with each other on these random inputs.
TEST_F(DHalSpansTest, EveryRoutineMatchesItsModelAtEveryCountAndAlignment) {
  std::mt19937 rng(1234);
  for (std::uint32_t format : {6u, 4u}) {
    Init(format);
    const DHalSpanRecord units[2] = {DHalX86::Routines(format), DHalMmx::Routines(format)};
    for (int k = 0; k < kRoutineCount; ++k) {
      int failures = 0;
      for (std::uint32_t count = 0; count <= kMaxCount; ++count)
        for (std::uint32_t offset = 0; offset < 16; ++offset)
          for (int u = 0; u < 2; ++u) {
            Case model = RandomCase(rng, static_cast<Routine>(k), count, offset);
            Case unit = model;
            RunModel(static_cast<Routine>(k), model, format);
            RunUnit(units[u], static_cast<Routine>(k), unit);
            if (unit.dst != model.dst && ++failures <= 3)
              ADD_FAILURE() << "format " << format << " routine " << k << " unit " << u << " count " << count
                            << " offset " << offset;
          }
      EXPECT_EQ(failures, 0) << "routine " << k;
    }
  }
}

// Copy inside one buffer, destination -16 to +16 bytes from the source, against the block model.
TEST_F(DHalSpansTest, CopyOverlapsFollowTheBlockModel) {
  const DHalSpanRecord units[2] = {DHalX86::Routines(6), DHalMmx::Routines(6)};
  for (int delta = -16; delta <= 16; ++delta)
    for (std::uint32_t n = 0; n <= kMaxCount; ++n)
      for (int u = 0; u < 2; ++u) {
        std::vector<std::uint8_t> model(160), unit;
        for (std::size_t i = 0; i < model.size(); ++i) model[i] = static_cast<std::uint8_t>(i * 7 + 1);
        unit = model;
        ModelCopy(model.data() + 40 + delta, model.data() + 40, n);
        units[u].Copy(unit.data() + 40 + delta, unit.data() + 40, n);
        ASSERT_EQ(unit, model) << "delta " << delta << " count " << n << " unit " << u;
      }
}

// Exhaustive per channel: every pair of 5-bit values in all three channels, bits that are no
// channel set and clear, in both formats; add, subtract, half and the 32 blend weights.
TEST_F(DHalSpansTest, ChannelArithmeticIsExactForEveryPairOfValues) {
  for (std::uint32_t f : {6u, 4u}) {
    Init(f);
    std::vector<std::uint16_t> d, s;
    for (std::uint32_t x = 0; x < 32; ++x)
      for (std::uint32_t y = 0; y < 32; ++y)
        for (std::uint32_t extra = 0; extra < 4; ++extra) {
          const std::uint16_t spare = f == 6 ? 0x20 : 0x8000;
          d.push_back(Pack({x, y, x}, f) | ((extra & 1) ? spare : 0));
          s.push_back(Pack({y, x, y}, f) | ((extra & 2) ? spare : 0));
        }
    const auto n = static_cast<std::uint32_t>(d.size());
    for (int u = 0; u < 2; ++u) {
      const DHalSpanRecord r = u == 0 ? DHalX86::Routines(f) : DHalMmx::Routines(f);
      struct Op {
        void (*run)(void*, const void*, std::uint32_t);
        std::uint16_t (*model)(std::uint16_t, std::uint16_t, std::uint32_t);
      };
      for (const Op& op : {Op{r.AddSat16, &ModelAdd}, Op{r.SubSat16, &ModelSub}, Op{r.Half16, &ModelHalf}}) {
        std::vector<std::uint16_t> out = d;
        op.run(out.data(), s.data(), n);
        int bad = 0;
        for (std::uint32_t i = 0; i < n; ++i) bad += out[i] != op.model(d[i], s[i], f);
        EXPECT_EQ(bad, 0) << "format " << f << " unit " << u;
      }
      for (std::uint32_t w = 0; w < 32; ++w) {
        std::vector<std::uint16_t> b16 = d, map = d, lvl = d;
        std::vector<std::uint8_t> layer(n, static_cast<std::uint8_t>(w));
        r.Blend16(b16.data(), s.data(), n, static_cast<std::uint8_t>(w));
        r.BlendMap16(map.data(), s.data(), n, layer.data());
        r.BlendMapLevel16(lvl.data(), s.data(), n, static_cast<std::uint8_t>((w * 7) % 32), layer.data());
        int bad = 0;
        for (std::uint32_t i = 0; i < n; ++i) {
          bad += b16[i] != ModelBlend(d[i], s[i], w, f);
          bad += map[i] != ModelBlend(d[i], s[i], w, f);
          bad += lvl[i] != ModelBlend(d[i], s[i], ModelLevelWeight(w, (w * 7) % 32), f);
        }
        EXPECT_EQ(bad, 0) << "format " << f << " unit " << u << " weight " << w;
      }
    }
  }
}

// The worked examples, each through both units.
TEST_F(DHalSpansTest, WorkedExamples) {
  struct Example {
    std::uint32_t format;
    Routine routine;
    std::uint16_t d, s, want;
  };
  const Example examples[] = {
      {6, kAddSat16, 0x7BEF, 0x0861, 0x8410}, {6, kAddSat16, 0xF800, 0x0800, 0xF800},
      {6, kSubSat16, 0x1234, 0x4321, 0x0013}, {6, kSubSat16, 0x0020, 0x0000, 0x0000},
      {4, kHalf16, 0xFFFF, 0xFFFF, 0x7BDE},   {6, kHalf16, 0xFFFF, 0x0000, 0x7BCF},
      {6, kHalf16, 0xFFFF, 0xFFFF, 0xF79E},  // 31 and 31 give 30
      {4, kAddSat16, 0x8000, 0x8000, 0x0000}, {4, kAddSat16, 0x7FFF, 0x0421, 0x7FFF},
      {4, kSubSat16, 0x0000, 0x8000, 0x8000},
  };
  for (const Example& e : examples) {
    for (int u = 0; u < 2; ++u) {
      const DHalSpanRecord r = u == 0 ? DHalX86::Routines(e.format) : DHalMmx::Routines(e.format);
      // Nine copies so the vector unit's blocks see the example too.
      std::vector<std::uint16_t> d(9, e.d), s(9, e.s);
      auto fn = e.routine == kAddSat16 ? r.AddSat16 : e.routine == kSubSat16 ? r.SubSat16 : r.Half16;
      fn(d.data(), s.data(), 9);
      EXPECT_EQ(d, std::vector<std::uint16_t>(9, e.want)) << std::hex << e.d << " " << e.s << " unit " << u;
    }
  }
  Init(6);
  for (int u = 0; u < 2; ++u) {
    const DHalSpanRecord r = u == 0 ? DHalX86::Routines(6) : DHalMmx::Routines(6);
    // CopyKey16 compares all 16 bits.
    std::uint16_t d = 0, s = 0xF81F | 0x20;
    r.CopyKey16(&d, &s, 1, 0xF81F);
    EXPECT_EQ(d, s);
    // BlendMapLevel16, L = 16, layer byte 0: weight 16 (white destination over black: 16).
    std::uint16_t bd = 0xFFFF, bs = 0;
    const std::uint8_t layer0 = 0;
    r.BlendMapLevel16(&bd, &bs, 1, 16, &layer0);
    EXPECT_EQ(bd >> 11, 16);
    // Weights above 31 count as 31: the destination is kept.
    std::vector<std::uint16_t> keep(9, 0x1234), src(9, 0xFFFF);
    r.Blend16(keep.data(), src.data(), 9, 200);
    EXPECT_EQ(keep, std::vector<std::uint16_t>(9, 0x1234 & ~0x20));
    // CopyMirror16 with counts 1 and 2.
    std::uint16_t m1 = 0, m2[2] = {0, 0};
    const std::uint16_t one = 7, two[2] = {1, 2};
    r.CopyMirror16(&m1, &one, 1);
    r.CopyMirror16(m2, two, 2);
    EXPECT_EQ(m1, 7);
    EXPECT_EQ(m2[0], 2);
    EXPECT_EQ(m2[1], 1);
  }
}

// Thresholds at a level of 5 and T = 4, 5, 6; the whole-run values read no map at all.
TEST_F(DHalSpansTest, ThresholdsAroundALevelAndWithoutAMap) {
  struct Row {
    std::uint16_t t;
    bool plain_takes, rev_takes;
  };
  const Row rows[] = {{4, false, true}, {5, true, true}, {6, true, false}};
  for (int u = 0; u < 2; ++u) {
    const DHalSpanRecord r = u == 0 ? DHalX86::Routines(6) : DHalMmx::Routines(6);
    const std::vector<std::uint16_t> map(9, 0x8000 | 5);
    const std::vector<std::uint16_t> src16(9, 0xABCD);
    const std::vector<std::uint8_t> src8(9, 0xEE);
    for (const Row& row : rows) {
      std::vector<std::uint16_t> p16(9, 1), r16(9, 1);
      std::vector<std::uint8_t> p8(9, 1), r8(9, 1), f8(9, 0), fr8(9, 0);
      r.ThresholdCopy16(p16.data(), src16.data(), 9, map.data(), row.t);
      r.ThresholdCopy16Rev(r16.data(), src16.data(), 9, map.data(), row.t);
      r.ThresholdCopy8(p8.data(), src8.data(), 9, map.data(), row.t);
      r.ThresholdCopy8Rev(r8.data(), src8.data(), 9, map.data(), row.t);
      r.ThresholdFill8(f8.data(), 0xAA, 0xBB, 9, map.data(), row.t);
      r.ThresholdFill8Rev(fr8.data(), 0xAA, 0xBB, 9, map.data(), row.t);
      EXPECT_EQ(p16[8], row.plain_takes ? 0xABCD : 1) << row.t;
      EXPECT_EQ(r16[8], row.rev_takes ? 0xABCD : 1) << row.t;
      EXPECT_EQ(p8[8], row.plain_takes ? 0xEE : 1) << row.t;
      EXPECT_EQ(r8[8], row.rev_takes ? 0xEE : 1) << row.t;
      EXPECT_EQ(f8[8], row.plain_takes ? 0xAA : 0xBB) << row.t;
      EXPECT_EQ(fr8[8], row.rev_takes ? 0xAA : 0xBB) << row.t;
    }
    std::vector<std::uint16_t> all16(9, 0);
    r.ThresholdCopy16(all16.data(), src16.data(), 9, nullptr, 0x7FFF);
    EXPECT_EQ(all16, src16);
    std::vector<std::uint16_t> rev16(9, 0);
    r.ThresholdCopy16Rev(rev16.data(), src16.data(), 9, nullptr, 0);
    EXPECT_EQ(rev16, src16);
    std::vector<std::uint8_t> fill(9, 0), fill_rev(9, 0);
    r.ThresholdFill8(fill.data(), 0xAA, 0xBB, 9, nullptr, 0x7FFF);
    r.ThresholdFill8Rev(fill_rev.data(), 0xAA, 0xBB, 9, nullptr, 0);
    EXPECT_EQ(fill, std::vector<std::uint8_t>(9, 0xAA));
    EXPECT_EQ(fill_rev, std::vector<std::uint8_t>(9, 0xAA));
    std::vector<std::uint8_t> c8(9, 0);
    r.ThresholdCopy8(c8.data(), src8.data(), 9, nullptr, 0xFFFF);  // above 0x7FFF: as 0x7FFF
    EXPECT_EQ(c8, src8);
  }
}

}  // namespace
