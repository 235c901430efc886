// Tests of DFileDialog: the initial name, cancels, scripted answers and copies.
#include "base/dfiledialog.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/host.h"

namespace {

const char kFilter[] = "Orvane Script Image File(*.mei)\0*.mei\0";

TEST(DFileDialogTest, CancelKeepsTheInitialNameAndAnAnswerReplacesIt) {
  orvane::host::ResetHeadless();
  DFileDialog d(DWindow(), kFilter, 1, "start.mei", "", "mei", OFN_FILEMUSTEXIST);
  EXPECT_EQ(d.GetOfn()->nMaxFile, 264u);
  EXPECT_EQ(d.GetOfn()->lpstrFilter, kFilter);
  EXPECT_FALSE(d.Open());
  EXPECT_EQ(d.GetFileName(), "start.mei");
  orvane::host::PushFileDialogAnswer("/games/chapter1.mei");
  ASSERT_TRUE(d.Open());
  EXPECT_EQ(d.GetFileName(), "/games/chapter1.mei");
  orvane::host::PushFileDialogAnswer("");  // a scripted cancel
  EXPECT_FALSE(d.Save());
  EXPECT_EQ(d.GetFileName(), "/games/chapter1.mei");
}

TEST(DFileDialogTest, LongInitialNameIsCutAtACharacterBoundary) {
  struct Case {
    std::string name;
    size_t kept;
  } cases[] = {{std::string(300, 'a'), 263},
               {std::string(262, 'a') + "表", 262},  // the double-byte character would straddle byte 263
               {std::string(261, 'a') + "表", 263}};
  for (const Case& c : cases) {
    DFileDialog d;
    d.Init(DWindow(), kFilter, 1, c.name.c_str(), "", "", 0);
    std::string got = d.GetFileName().GetText();
    EXPECT_EQ(got.size(), c.kept);
    EXPECT_EQ(got, c.name.substr(0, c.kept));
  }
}

TEST(DFileDialogTest, CopyPointsAtItsOwnBuffer) {
  DFileDialog a(DWindow(), kFilter, 1, "a.mei", "", "", 0);
  DFileDialog b(a);
  EXPECT_STREQ(b.GetOfn()->lpstrFile, "a.mei");
  EXPECT_NE(b.GetOfn()->lpstrFile, a.GetOfn()->lpstrFile);
  EXPECT_EQ(b.GetFileName(), "a.mei");
}

}  // namespace
