// HAL selection: reference counting, the choice of unit, the span record and the blend tables.
#include "imaging/hal/dhal.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace {

// Leaves the HAL at count 0 and the environment clean whatever a test did.
class DHalTest : public ::testing::Test {
 protected:
  void TearDown() override {
    while (DHalRefCount() > 0) DHalTerm();
    unsetenv("ORVANE_HAL");
  }
};

const std::uint16_t* ChosenA() {
  return DHalHasMmx() ? DHalMmx::TableA() : DHalX86::TableA();
}

TEST_F(DHalTest, LifecycleFollowsTheReferenceCount) {
  DHalTerm();  // before any init: nothing
  EXPECT_EQ(DHalRefCount(), 0);
  EXPECT_FALSE(DHalInit(5));
  EXPECT_EQ(DHalRefCount(), 0);

  ASSERT_TRUE(DHalInit(6));
  ASSERT_TRUE(DHalInit(6));
  EXPECT_EQ(DHalRefCount(), 2);
  const auto add565 = DHalSpans.AddSat16;
  EXPECT_FALSE(DHalInit(4));  // another format while RGB565 is in force
  EXPECT_FALSE(DHalInit(5));
  EXPECT_EQ(DHalRefCount(), 2);
  EXPECT_EQ(DHalSpans.AddSat16, add565);  // the record is untouched
  EXPECT_NE(ChosenA(), nullptr);

  DHalTerm();
  EXPECT_EQ(DHalRefCount(), 1);
  EXPECT_NE(ChosenA(), nullptr);  // the first DHalTerm keeps the tables
  DHalTerm();
  EXPECT_EQ(DHalRefCount(), 0);
  EXPECT_EQ(ChosenA(), nullptr);
  EXPECT_NE(DHalSpans.Copy, nullptr);  // the record stays filled

  ASSERT_TRUE(DHalInit(4));  // from count 0 the other format is fine
  EXPECT_EQ(DHalSpans.WipeMapFlag, 0x8000);
  // The record holds the ARGB1555 versions: bit 15 is XOR in the addition.
  std::uint16_t d = 0x8000, s = 0x8000;
  DHalSpans.AddSat16(&d, &s, 1);
  EXPECT_EQ(d, 0);
}

TEST_F(DHalTest, EnvironmentSwitchesTheVectorUnitOffAtTheNextInit) {
  setenv("ORVANE_HAL", "plain", 1);
  ASSERT_TRUE(DHalInit(6));
  EXPECT_FALSE(DHalHasMmx());
  EXPECT_EQ(DHalSpans.Blend16, DHalX86::Routines(6).Blend16);
  EXPECT_NE(DHalX86::TableA(), nullptr);
  EXPECT_EQ(DHalSpans.WipeMapFlag, 0x8000);
  unsetenv("ORVANE_HAL");
  // DHalTerm terms the unit that was chosen, not a new probe.
  DHalTerm();
  EXPECT_EQ(DHalX86::TableA(), nullptr);

  ASSERT_TRUE(DHalInit(6));
  EXPECT_EQ(DHalHasMmx(), DHalMmx::Available());
  EXPECT_EQ(DHalSpans.WipeMapFlag, 0x8000);
  if (DHalMmx::Available()) {
    EXPECT_EQ(DHalSpans.Blend16, DHalMmx::Routines(6).Blend16);
    EXPECT_NE(DHalMmx::TableA(), nullptr);
    EXPECT_EQ(DHalX86::TableA(), nullptr);
  }
}

// Per-channel value of table A (weight w) or B (weight 31 - w), from the definition.
std::uint16_t TableModel(std::uint32_t w, std::uint32_t p, int rs, int gs) {
  auto ch = [&](int s) { return ((w * (((p >> s) & 31) + 1)) >> 5) << s; };
  return static_cast<std::uint16_t>(ch(rs) | ch(gs) | ch(0));
}

TEST_F(DHalTest, UnitTablesMatchTheirDefinitionInBothFormats) {
  struct Unit {
    bool (*init)(std::uint32_t);
    bool (*term)();
    const std::uint16_t* (*a)();
    const std::uint16_t* (*b)();
  };
  const Unit units[] = {{&DHalX86::Init, &DHalX86::Term, &DHalX86::TableA, &DHalX86::TableB},
                        {&DHalMmx::Init, &DHalMmx::Term, &DHalMmx::TableA, &DHalMmx::TableB}};
  for (const Unit& u : units) {
    EXPECT_FALSE(u.init(5));
    for (std::uint32_t format : {6u, 4u}) {
      SCOPED_TRACE(format);
      ASSERT_TRUE(u.init(format));
      const int rs = format == 6 ? 11 : 10, gs = format == 6 ? 6 : 5;
      const std::uint16_t* a = u.a();
      const std::uint16_t* b = u.b();
      int bad = 0;
      for (std::uint32_t w = 0; w < 32; ++w)
        for (std::uint32_t p = w % 3; p < 65536; p += 3) {
          bad += a[w * 65536 + p] != TableModel(w, p, rs, gs);
          bad += b[w * 65536 + p] != TableModel(31 - w, p, rs, gs);
        }
      EXPECT_EQ(bad, 0);
      if (format == 6) {
        EXPECT_EQ(a[31 * 65536 + 0xFFFF], 0xFFDF);
        EXPECT_EQ(b[0 * 65536 + 0x0020], 0);
        // Asymmetry at w = 16: white destination over black source 16, the reverse 15.
        EXPECT_EQ((a[16 * 65536 + 0xFFFF] + b[16 * 65536 + 0]) >> 11, 16);
        EXPECT_EQ((a[16 * 65536 + 0] + b[16 * 65536 + 0xFFFF]) >> 11, 15);
      } else {
        EXPECT_EQ(a[31 * 65536 + 0x8000], 0);
        EXPECT_EQ(b[0 * 65536 + 0xFFFF], 0x7FFF);
      }
      EXPECT_TRUE(u.term());
      EXPECT_EQ(u.a(), nullptr);
      EXPECT_EQ(u.b(), nullptr);
    }
  }
}

TEST_F(DHalTest, BlendsAfterTheLastTermLeaveTheDestination) {
  for (int unit = 0; unit < 2; ++unit) {
    const DHalSpanRecord r = unit == 0 ? DHalX86::Routines(6) : DHalMmx::Routines(6);
    std::vector<std::uint16_t> d(19, 0x1234), s(19, 0xFFFF);
    std::vector<std::uint8_t> layer(19, 0);
    r.Blend16(d.data(), s.data(), 19, 0);
    r.BlendMap16(d.data(), s.data(), 19, layer.data());
    r.BlendMapLevel16(d.data(), s.data(), 19, 0, layer.data());
    EXPECT_EQ(d, std::vector<std::uint16_t>(19, 0x1234)) << unit;
  }
}

}  // namespace
