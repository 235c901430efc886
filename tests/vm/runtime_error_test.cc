// Tests of run-time error reports: the box text with file and line, the codes' messages, ending tasks.
#include "vm/runtime_error.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/vm/vm_fixture.h"

namespace {

class RuntimeErrorTest : public VmFixture {
 protected:
  static inline std::vector<std::string> events;  // boxes and exits, in order

  RuntimeErrorTest() {
    events.clear();
    VmServices fake;
    fake.message_box = [](const char* text, const char* caption, uint32_t type) {
      events.push_back(std::string("box ") + caption + " " + std::to_string(type) + " " + text);
      return 1;
    };
    fake.exit_all_tasks = [] { events.push_back("exit"); };
    saved_ = SetVmServices(fake);
  }
  ~RuntimeErrorTest() override { SetVmServices(saved_); }

  void LoadWithSources(const std::vector<std::string>& sources) {
    meiasm::Builder prog;
    for (const std::string& s : sources) prog.SourceIndex(s);
    prog.OpHalt();
    Load(prog);
  }

  VmServices saved_;
};

TEST_F(RuntimeErrorTest, BoxTextNamesFileAndLine) {
  LoadWithSources({"main.txt"});
  ctx->SetSourceLine(12);
  EXPECT_EQ(FormatRuntimeError("指定された変数はネットではありません。", ctx),
            "指定された変数はネットではありません。\n　main.txt内の12行目で発生");
  // The full-width space is the cp932 pair 0x81 0x40.
  std::string text = FormatRuntimeError("m", ctx);
  EXPECT_EQ(text.substr(0, 4), "m\n\x81\x40");
  ctx->SetSourceFile(1);
  ctx->SetSourceLine(static_cast<uint32_t>(-3));
  EXPECT_EQ(FormatRuntimeError("m", ctx), "m\n　(error)内の-3行目で発生");
  EXPECT_EQ(FormatRuntimeError("m", nullptr), "m");
  LoadWithSources({});
  EXPECT_EQ(FormatRuntimeError("m", ctx), "m");
}

TEST_F(RuntimeErrorTest, LongFileNamesAreCut) {
  std::string name(300, 'n');
  LoadWithSources({name});
  std::string text = FormatRuntimeError("m", ctx);
  EXPECT_EQ(text, "m\n　" + std::string(263, 'n') + "内の0行目で発生");
}

TEST_F(RuntimeErrorTest, CodesMapToMessages) {
  struct Case {
    uint32_t code;
    const char* message;
  } cases[] = {
      {1, "メモリアクセスエラー"},
      {500, "指定された変数はイメージではありません。"},
      {501, "指定された変数は入力デバイスではありません。"},
      {502, "指定された変数はテキスト情報ではありません。"},
      {503, "指定された変数はサウンドデーターではありません。"},
      {504, "指定された変数は映像データーではありません。"},
      {505, "指定された変数はプロファイルではありません。"},
      {506, "指定された変数はファイルではありません。"},
      {507, "指定された変数はネットではありません。"},
      {508, "指定された変数はタスクではありません。"},
      {509, "指定された変数はプラグインではありません。"},
      {510, "指定された変数はストリームではありません。"},
      {511, "指定された変数はワイプではありません。"},
      {512, "指定された変数はアンチエイリアス文字ではありません。"},
      {0, "未知のエラー[0]"},
      {499, "未知のエラー[499]"},
      {513, "未知のエラー[513]"},
      {0xFFFFFFFF, "未知のエラー[-1]"},
  };
  for (const Case& c : cases) EXPECT_EQ(VmErrorMessage(c.code), c.message) << c.code;
}

TEST_F(RuntimeErrorTest, ReportShowsTheBoxThenEndsTheTasks) {
  ReportRuntimeError("msg", nullptr);
  EXPECT_EQ(events, (std::vector<std::string>{"box 実行エラー 16 msg", "exit"}));
}

// A script's bad index reaches the box through the task callback, with the recorded position.
TEST_F(RuntimeErrorTest, ScriptFaultReportsItsPosition) {
  meiasm::Builder prog;
  prog.Globals(1);
  prog.File("game.txt");
  prog.Line(7);
  prog.OpSetInt(G(0).At(-1), 1);  // slot -1
  prog.OpSetInt(G(0), 2);         // runs: the instruction finished on slot 0
  prog.OpHalt();
  Load(prog);
  ctx->SetErrorCallback(&ReportVmErrorCode);
  ASSERT_TRUE(ctx->Start(0));
  RunStarted();
  EXPECT_EQ(events, (std::vector<std::string>{
                        "box 実行エラー 16 メモリアクセスエラー\n　game.txt内の7行目で発生", "exit"}));
  EXPECT_EQ(Show(Slot(0)), "i:2");
}

}  // namespace
