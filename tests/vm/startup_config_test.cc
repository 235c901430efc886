// Tests of the start-up configuration pass: option words, refused built-ins, errors, the bound, the log.
#include "vm/startup_config.h"

#include <gtest/gtest.h>

#include "base/dfile.h"
#include "base/dlogstream.h"
#include "tests/vm/script_task_fixture.h"

namespace {

// An image whose "startupconfig" leaves `result` (text-form operand source) in slot 0.
std::vector<uint8_t> ConfigImage(const std::string& body) {
  return meiasm::Assemble(".globals 1\n.method main\n OpHalt\n.method StartupConfig\n" + body +
                          "\n OpHalt\n");
}

std::vector<uint8_t> ReturningText(const std::string& quoted) {
  return ConfigImage(" OpSetString g0, \"" + quoted + "\"");
}

TEST_F(TaskTest, ConfigurationWordsSetTheirFlags) {
  struct Case {
    std::string text;
    uint32_t flags;
  };
  const Case cases[] = {
      {"TSS nomenu", kStartupTss | kStartupNoMenu},
      {"sound3D", kStartupSound3d},
      {"tss,nomenu", 0},
      {"tss\\nnomenu", 0},
      {"tss\x81\x40sound3d", kStartupTss | kStartupSound3d},  // full-width space
      {" \t tss   nomenu\t ", kStartupTss | kStartupNoMenu},
      {"tss tss other", kStartupTss},
      {"tsss nomen \x82\x73\x82\x72\x82\x72", 0},    // near misses; full-width letters
      {std::string(254, 'x') + "tss", kStartupTss},  // a run of 254 letters is cut before "tss"
      {std::string(253, 'x') + "tss", 0},
      {"", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    SetStartupFlags(0x80);
    EXPECT_TRUE(RunStartupConfig(ReturningText(c.text)));
    EXPECT_EQ(GetStartupFlags(), c.flags);
  }
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(TaskTest, ConfigurationWithoutAStringOrMethodChoosesNothing) {
  SetStartupFlags(kStartupTss);
  EXPECT_TRUE(RunStartupConfig(ConfigImage(" OpSetInt g0, 1")));
  EXPECT_EQ(GetStartupFlags(), 0u);
  SetStartupFlags(kStartupTss);
  EXPECT_TRUE(RunStartupConfig(meiasm::Assemble(".method main\n OpHalt\n")));
  EXPECT_EQ(GetStartupFlags(), 0u);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(TaskTest, ConfigurationRefusesBuiltinsAndGoesOn) {
  // Through OpCall and as an opcode named directly in the code (72 + 162).
  EXPECT_TRUE(
      RunStartupConfig(ConfigImage(" .builtin 162\n .word 234\n .builtin 64\n OpSetString g0, \"nomenu\"")));
  EXPECT_EQ(GetStartupFlags(), kStartupNoMenu);
  ASSERT_EQ(Boxes().size(), 3u);
  for (const auto& b : Boxes()) {
    EXPECT_EQ(b.text, "起動設定(startupconfig)時はメソッドは使用できません。");
    EXPECT_EQ(b.caption, "Orvane");
    EXPECT_EQ(b.type, 0x10u);
  }
  EXPECT_TRUE(TaskRegistry(kTaskList).IsEmpty());
}

TEST_F(TaskTest, ConfigurationErrorsFailThePass) {
  struct Case {
    std::string body;
    const char* text;
  };
  const Case cases[] = {
      {" .file \"boot.src\"\n .line 12\n OpSetInt g0[5], 1\n OpSetString g0, \"tss\"",
       "起動設定(startupconfig)時にboot.src内の12行目でエラーが発生しました。"},
      {" OpSetInt g0[5], 1\n OpSetString g0, \"tss\"", "起動設定(startupconfig)時にエラーが発生しました。"},
      {"spin: OpJump spin", "起動設定(startupconfig)時にエラーが発生しました。"},  // stopped by the bound
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    Boxes().clear();
    SetStartupFlags(kStartupTss);
    EXPECT_FALSE(RunStartupConfig(ConfigImage(c.body), 1000));
    EXPECT_EQ(GetStartupFlags(), 0u);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, c.text);
    EXPECT_EQ(Boxes()[0].caption, "実行エラー");
    EXPECT_EQ(Boxes()[0].type, 0x10u);
  }
  // Images that are not one fail without a box.
  auto damaged = ReturningText("tss");
  damaged[20] = 0xFF;  // code block past the end
  auto not_an_image = damaged;
  not_an_image[0] = 'M';
  Boxes().clear();
  EXPECT_FALSE(RunStartupConfig(damaged));
  EXPECT_FALSE(RunStartupConfig(not_an_image));
  EXPECT_FALSE(RunStartupConfig({}));
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(TaskTest, ConfigurationIsWrittenToTheLog) {
  struct Case {
    std::vector<uint8_t> image;
    const char* text;
  };
  const Case cases[] = {
      {ReturningText("tss  Sound3d"),
       "Startup Config: \"tss  Sound3d\"\r\n using TSS.\r\n using sound-3d.\r\n"},
      {meiasm::Assemble(".method main\n OpHalt\n"), "Startup Config: \"\"\r\n"},  // no such method
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    DFile log;
    ASSERT_TRUE(log.OpenMemory(4096, DFile::kRead | DFile::kWrite));
    std::vector<char> zeros(4096, 0);
    log.Write(zeros.data(), 4096);
    log.Seek(DFile::kSeekStart, 0);
    DDebugLog().AttachFile(log);
    EXPECT_TRUE(RunStartupConfig(c.image));
    DDebugLog().Close();
    std::vector<char> text(4096);
    log.Seek(DFile::kSeekStart, 0);
    ASSERT_EQ(log.Read(text.data(), 4096), 4096);
    EXPECT_STREQ(text.data(), c.text);
  }
}

TEST(StartupConfigWordsTest, SkipAndCopyWords) {
  EXPECT_EQ(SkipConfigBlanks(nullptr), nullptr);
  EXPECT_EQ(SkipConfigBlanks(" \t\x81\x40"), nullptr);
  const char* text = "\x81\x40 ab\x81\x40\x95\x5C";
  EXPECT_EQ(SkipConfigBlanks(text), text + 3);

  char word[8];
  EXPECT_EQ(NextConfigWord(text + 3, word, sizeof word), text + 5);
  EXPECT_STREQ(word, "ab");
  EXPECT_EQ(NextConfigWord(text + 7, word, sizeof word), nullptr);
  EXPECT_STREQ(word, "\x95\x5C");
  // A word longer than the buffer is cut before a double-byte character is split.
  EXPECT_EQ(NextConfigWord("abcde\x95\x5C", word, 8), nullptr);
  EXPECT_STREQ(word, "abcde\x95\x5C");
  const char* longer = "abcdef\x95\x5C";
  EXPECT_EQ(NextConfigWord(longer, word, 8), longer + 6);
  EXPECT_STREQ(word, "abcdef");
  EXPECT_EQ(NextConfigWord(longer, word, 2), longer);
  EXPECT_STREQ(word, "");
  EXPECT_EQ(NextConfigWord(nullptr, word, 8), nullptr);
}

}  // namespace
