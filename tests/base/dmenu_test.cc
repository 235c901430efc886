// Tests of DMenu: loading by name and id through the application's instance, ownership, items.
#include "base/dmenu.h"

#include <gtest/gtest.h>

#include "base/dapplication.h"

namespace {

const OrvaneMenuItem kFile[] = {{"終了", 40002, 0, nullptr, 0}};
const OrvaneMenuItem kBar[] = {{"ファイル", 0, MF_POPUP, kFile, 1}};

class DMenuTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    OrvaneRegisterMenu(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(7), kBar, 1);
    OrvaneRegisterMenu(GetModuleHandleA(nullptr), "MAINMENU", kBar, 1);
  }
  void SetUp() override {
    app_.Startup(GetModuleHandleA(nullptr), SW_SHOWNORMAL, nullptr);
    DSetApplication(&app_);
  }
  DApplication app_;
};

TEST_F(DMenuTest, LoadsWithTheApplicationsInstanceAndRefusesASecondLoad) {
  DMenu byId, byName;
  ASSERT_TRUE(byId.Load(7));
  ASSERT_TRUE(byName.Load("MainMenu"));
  EXPECT_FALSE(byId.Load(7));
  EXPECT_FALSE(byId.Create());
  DMenu missing;
  EXPECT_FALSE(missing.Load(8));
  EXPECT_EQ(missing.GetHandle(), nullptr);
  DMenu file = byId.GetSubMenu(0);
  ASSERT_NE(file.GetHandle(), nullptr);
  EXPECT_EQ(byId.GetSubMenu(5).GetHandle(), nullptr);
}

TEST_F(DMenuTest, ItemResultsFollowThePreviousState) {
  DMenu m;
  ASSERT_TRUE(m.Load(7));
  EXPECT_FALSE(m.EnableItem(40002, MF_GRAYED));  // was enabled: 0
  EXPECT_TRUE(m.EnableItem(40002, MF_ENABLED));  // was grayed
  EXPECT_TRUE(m.CheckItem(49999, MF_CHECKED));   // no such item: -1
  EXPECT_FALSE(m.CheckItem(40002, MF_CHECKED));
}

TEST_F(DMenuTest, OnlyTheOwnerDestroysTheMenu) {
  DMenu owner;
  ASSERT_TRUE(owner.Create());
  HMENU h = owner.GetHandle();
  {
    DMenu copy(owner);
    DMenu over(h);
  }
  DMenu& same = owner;
  owner = same;                       // assigning itself keeps the menu
  EXPECT_EQ(GetMenuItemCount(h), 0);  // still alive
  owner.Release();
  EXPECT_EQ(GetMenuItemCount(h), -1);
  DMenu none;
  EXPECT_FALSE(none.Destroy());
}

}  // namespace
