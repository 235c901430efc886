// Tests of the assembler: text form and builder encode the same words, read back by the image reader.
#include "tools/meiasm/meiasm.h"

#include <gtest/gtest.h>

#include <cstring>

#include "vm/script_image.h"

namespace {

using meiasm::Assemble;
using meiasm::Builder;
using meiasm::G;
using meiasm::L;
using meiasm::Label;
using meiasm::S;
using meiasm::Text;

ScriptImageInfo Load(const std::vector<uint8_t>& image) {
  ScriptImageInfo info;
  const char* reason = LoadScriptImageInfo(image, &info);
  EXPECT_EQ(reason, nullptr) << reason;
  return info;
}

uint32_t DataOffset(const ScriptImageInfo& info, const char* text) {
  for (uint32_t k = 0; k < info.data_length;
       k += static_cast<uint32_t>(std::strlen(info.data.data() + k)) + 1) {
    if (std::strcmp(info.data.data() + k, text) == 0) return k;
  }
  ADD_FAILURE() << "no constant " << text;
  return 0;
}

// The operand encodings, written in the text form; D stands for the data offset of "x".
TEST(MeiasmTest, OperandEncodings) {
  constexpr uint32_t D = 0xD0D0D0D0;
  struct Case {
    const char* text;
    std::vector<uint32_t> words;
  };
  const Case cases[] = {
      {"g5", {0, 5}},
      {"l2", {1, 2}},
      {"l3[4]", {5, 3, 4}},
      {"l3[l7]", {9, 3, 1, 7}},
      {"g6.x", {0x10, 6, D}},
      {"g6.(l2)", {0x20, 6, 1, 2}},
      {"s-2", {2, 0xFFFFFFFE}},
      {"s-2.x", {0x12, 0xFFFFFFFE, D}},
      {"g4[-1]", {4, 4, 0xFFFFFFFF}},
      {"s-2[0x10].\"x\"", {0x16, 0xFFFFFFFE, 16, D}},
      {"l1[g2[l3]].(s-4.x)", {0x29, 1, 8, 2, 1, 3, 0x12, 0xFFFFFFFC, D}},
      {"{4, 10, -11}", {4, 10, 0xFFFFFFF5}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto info = Load(Assemble(std::string("OpPushRef ") + c.text + "\n.word 0x12345678"));
    ASSERT_EQ(info.code.size(), c.words.size() + 3);  // opcode, operand, marker word, OpHalt
    EXPECT_EQ(info.code[0], static_cast<uint32_t>(VmOp::OpPushRef));
    for (size_t i = 0; i < c.words.size(); ++i) {
      const uint32_t want = c.words[i] == D ? DataOffset(info, "x") : c.words[i];
      EXPECT_EQ(info.code[1 + i], want) << "word " << i;
    }
    EXPECT_EQ(info.code[1 + c.words.size()], 0x12345678u);
  }
}

TEST(MeiasmTest, TextFormAndBuilderMakeTheSameImage) {
  const char* text = R"(
; counts down global 1 from 10, calling a subroutine each time
.globals 2
.file "main.src"
.method main
.export 0
        OpAddBase -2
        OpSetInt g1, 10
loop:   .line 7
        opCall 0, sub            ; mnemonics ignore case; the Op prefix is optional
        subConstInt g1, 1
        OpJumpIfNonZero g1, loop
        OpSetFloat l0, 1.5
        OpMulConstFloat l0, bits(0x7FC00000)
        OpSetString g0, "a\"b\\c\x41"
        OpAddConstString g0, "a\"b\\c\x41"
        OpCall 1, 64
        OpReturn
.method Sub
sub:    OpReturn
)";
  Builder b;
  b.Globals(2).File("main.src").Method("main").Export(0);
  b.OpAddBase(-2).OpSetInt(G(1), 10);
  b.Bind("loop").Line(7);
  b.OpCall(0, Label{"sub"}).OpSubConstInt(G(1), 1).OpJumpIfNonZero(G(1), Label{"loop"});
  b.OpSetFloat(L(0), 1.5f).OpMulConstFloat(L(0), meiasm::FloatBits{0x7FC00000});
  b.OpSetString(G(0), Text{"a\"b\\cA"}).OpAddConstString(G(0), Text{"a\"b\\cA"});
  b.OpCall(1, 64).OpReturn();
  b.Method("Sub").Bind("sub").OpReturn();
  const auto image = Assemble(text);
  EXPECT_EQ(image, b.Build());

  const auto info = Load(image);
  EXPECT_EQ(info.globals, 2u);
  ASSERT_EQ(info.methods.size(), 2u);
  EXPECT_EQ(info.methods[1].name, "Sub");
  EXPECT_EQ(info.exports, std::vector<uint32_t>{info.methods[0].entry});
  ASSERT_EQ(info.sources.size(), 1u);
  EXPECT_EQ(info.sources[0], "main.src");
  EXPECT_EQ(info.data_length, 7u);  // one interned constant
  EXPECT_STREQ(info.data.data(), "a\"b\\cA");
  // The call targets the subroutine, the jump goes back to the line marker, R is an appended OpHalt.
  const uint32_t sub = info.methods[1].entry;
  EXPECT_EQ(info.code[sub], static_cast<uint32_t>(VmOp::OpReturn));
  EXPECT_EQ(info.code[10], static_cast<uint32_t>(VmOp::OpCall));
  EXPECT_EQ(info.code[12], sub);
  EXPECT_EQ(info.code[8], static_cast<uint32_t>(VmOp::OpSetLine));
  EXPECT_EQ(info.code[20], 8u);
  EXPECT_EQ(info.code[info.return_address], static_cast<uint32_t>(VmOp::OpHalt));
  float f;
  std::memcpy(&f, &info.code[24], 4);
  EXPECT_EQ(info.code[21], static_cast<uint32_t>(VmOp::OpSetFloat));
  EXPECT_EQ(f, 1.5f);
}

TEST(MeiasmTest, ReturnLabelExportsAndDoubleByteText) {
  // "表" is 95 5C in cp932: its trail byte must not start an escape.
  const std::string text =
      ".method \"\x95\x5C\"\n.return done\n.export 1\nOpHalt\n.export 0\nOpSetString g0, \"\x95\x5C\"\n"
      "done: OpHalt\n";
  const auto info = Load(Assemble(text));
  EXPECT_EQ(info.exports, (std::vector<uint32_t>{1, 0}));
  EXPECT_EQ(info.return_address, 5u);
  EXPECT_EQ(info.code.size(), 6u);  // no OpHalt appended with an explicit return label
  EXPECT_STREQ(info.data.data(), "\x95\x5C");
  EXPECT_EQ(info.methods[0].name, "\x95\x5C");
}

TEST(MeiasmTest, FaultsNameTheirLine) {
  struct Case {
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"OpHalt\nOpFly g1", "line 2: unknown instruction OpFly"},
      {"OpAdd g1, g2", "line 1: expected ','"},
      {"OpJump nowhere", "label nowhere is not bound"},
      {"a: OpHalt\na: OpHalt", "line 2: label a bound twice"},
      {".export 1\nOpHalt", "export 0 is missing"},
      {"OpMove g1, x2", "line 1: expected an operand"},
      {"OpSetString g1, \"abc", "line 1: string without its closing quote"},
      {"OpSetString g1, \"a\\x00\"", "line 1: a string constant holds a NUL"},
      {"OpHalt g1", "line 1: unexpected text after the statement"},
      {"OpPushWord 0x100000000", "line 1: number does not fit in 32 bits"},
      {"OpPushWord 12ab", "line 1: bad number"},
      {".dance", "line 1: unknown directive .dance"},
      {".return end\nOpHalt", "return label end is not bound"},
      {".return end\nOpHalt\nend:", "return label end has no code after it"},
      {".return r\nr: OpHalt\n.method late", "method late has no code after it"},
      {".return r\nr: OpHalt\n.export 0", "export 0 has no code after it"},
      {"OpMove g1.x, {1}", "line 1: a raw operand needs at least its mode and operand words"},
      {"OpPushRef g0[g0[g0[g0[g0[g0[g0[g0[g0[g0[g0[g0[g0[g0[g0[g0[g0[g0[1]]]]]]]]]]]]]]]]]]",
       "operand nested too deeply"},
  };
  for (const auto& c : cases) {
    try {
      Assemble(c.text);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const meiasm::Error& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
  // Builder misuse: a field of the wrong kind.
  Builder b;
  EXPECT_THROW(b.OpJump(G(1)), meiasm::Error);
  EXPECT_THROW(b.OpMove(G(1), 5), meiasm::Error);
  EXPECT_THROW(b.OpSetInt(G(1), 1.5f), meiasm::Error);
  EXPECT_THROW(b.OpAdd(G(1), G(2)), meiasm::Error);
}

TEST(MeiasmTest, BuiltinCallFollowsTheConvention) {
  const auto info = Load(Assemble(".builtin 185, l0, g1\n.builtin 162"));
  const std::vector<uint32_t> want = {5, 0, 1, 5, 1, 0, 4, 0, 7, 1, 185, 3, 5, 4, 0, 7, 1, 162, 3, 1};
  ASSERT_GE(info.code.size(), want.size());
  EXPECT_EQ(std::vector<uint32_t>(info.code.begin(), info.code.begin() + want.size()), want);
}

TEST(MeiasmTest, ExecutableCarriesTheImage) {
  const auto image = Assemble(".method main\nOpHalt");
  const auto exe = meiasm::WrapInExecutable(image);
  ASSERT_GT(exe.size(), image.size());
  EXPECT_EQ(exe[0], 'M');
  MemoryImageFile file(exe);
  EXPECT_EQ(ReadAppendedImage(file), image);
}

}  // namespace
