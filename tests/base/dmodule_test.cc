// Tests of DModule: loading by a path with slashes, ownership, functions and file names.
#include "base/dmodule.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kModule = std::string(ORVANE_BINARY_DIR) + "/bin/modules/test_module.so";

TEST(DModuleTest, LoadsByPathWithSlashesAndFindsFunctions) {
  DModule m;
  ASSERT_TRUE(m.Load(kModule.c_str(), 0));
  auto answer = reinterpret_cast<int (*)()>(m.GetProcAddress("OrvaneTestModuleAnswer"));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);
  EXPECT_EQ(m.GetProcAddress("NoSuchFunction"), nullptr);
  EXPECT_EQ(std::string(m.GetFileName().GetText()), kModule);
  HMODULE held = m.GetHandle();
  EXPECT_FALSE(m.Load(kModule.c_str(), 0));  // one is held: the old one stays
  EXPECT_EQ(m.GetHandle(), held);
  EXPECT_TRUE(m.Free());
  EXPECT_EQ(m.GetHandle(), nullptr);
  EXPECT_FALSE(m.Load("no/such/module.so", 0));
}

TEST(DModuleTest, CopiesShareAndOnlyTheOwnerFrees) {
  DModule owner;
  ASSERT_TRUE(owner.Load(kModule.c_str(), 0));
  {
    DModule copy(owner);
    DModule assigned;
    assigned = owner;
    EXPECT_EQ(copy.GetHandle(), owner.GetHandle());
  }
  DModule& same = owner;
  owner = same;                                                        // assigning itself keeps the module
  EXPECT_NE(owner.GetProcAddress("OrvaneTestModuleAnswer"), nullptr);  // still loaded
}

TEST(DModuleTest, EmptyWrapperAndTheProgramItself) {
  DModule none;
  EXPECT_FALSE(none.Free());
  EXPECT_FALSE(none.FreeAndExitThread(0));
  // Handle 0 is the running program: its path, and names of the libraries it runs with.
  std::string self = none.GetFileName().GetText();
  EXPECT_NE(self.find("base_dmodule_test"), std::string::npos);
  EXPECT_NE(none.GetProcAddress("OrvanePlatformName"), nullptr);
  DModule program;
  ASSERT_TRUE(program.Load(self.c_str(), 0));  // the program's own path gives the program
  EXPECT_NE(program.GetProcAddress("OrvanePlatformName"), nullptr);
  DModule empty_record{static_cast<HMODULE>(nullptr)};
  EXPECT_TRUE(empty_record.FreeAndExitThread(0));  // an empty record is only cleared
}

}  // namespace
