// Text infos and text output through the built-ins and the exports on a headless Draw screen in
// both 16-bit formats: the layout byte, colours, the alpha key, a new image's attributes, output
// and its last rectangle, measuring, font weights, the default text info and the TSS refusals.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "display/text/text_unit.h"
#include "tests/api/draw_fixture.h"
#include "tools/meiasm/meiasm.h"
#include "vm/script_loader.h"

namespace {

using namespace draw_test;

enum : uint32_t {
  kGetTextRect = 10,
  kSetTextRect = 11,
  kSetTextMode = 12,
  kSetImageAlphaKey = 37,
  kOutputText = 71,
  kGetTextColor = 72,
  kSetTextColor = 73,
  kGetTextPos = 74,
  kSetTextPos = 75,
  kCreateText = 79,
  kGetText = 81,
  kSetText = 82,
  kSetTextLayout = 87,
  kOutputTextPos = 88,
  kGetTextOutSize = 139,
  kGetTextExtent = 140,
};

// The stored layout of a script's layout byte, bit by bit: horizontal right (4) for 0x01, centre
// (8) for 0x02, left (2) without either; vertical bottom (0x20) for 0x04, centre (0x40) for 0x08,
// top (0x10) without either; then the first present of 0x20, 0x40, 0x10 adds 0x80, 0x100, 0x200.
uint32_t LayoutModel(uint32_t value) {
  const uint32_t b = value % 256;
  uint32_t out = 0;
  const struct {
    uint32_t bit, flag;
  } horizontal[] = {{0x01, 0x04}, {0x02, 0x08}, {0x00, 0x02}},
    vertical[] = {{0x04, 0x20}, {0x08, 0x40}, {0x00, 0x10}},
    extra[] = {{0x20, 0x80}, {0x40, 0x100}, {0x10, 0x200}};
  for (const auto* group : {horizontal, vertical})
    for (int k = 0; k < 3; ++k)
      if (group[k].bit == 0 || (b & group[k].bit)) {
        out |= group[k].flag;
        break;
      }
  for (const auto& e : extra)
    if (b & e.bit) {
      out |= e.flag;
      break;
    }
  return out;
}

class TextOutput : public DrawFrame, public ::testing::WithParamInterface<uint32_t> {
 protected:
  uint32_t Format() const override { return GetParam(); }
  void SetUp() override {
    DrawFrame::SetUp();
    ASSERT_TRUE(StartTextUnit());
    ASSERT_TRUE(InitDefaultTextFont());
    CurrentObjects().text = DRef<void>::Convert(DefaultTextFont());
  }
  void TearDown() override {
    DrawFrame::TearDown();
    TermDefaultTextFont();
    StopTextUnit();
  }

  ImageHandle* HandleOf(uint32_t slot) {
    return ObjectOfValueAs<ImageHandle>(*Slot(slot), kScriptImage).Get();
  }
  ApiHandle* ExportHandle(uint32_t slot) {
    return NewApiHandle(kScriptImage, ObjectOfValue(*Slot(slot), kScriptImage));
  }
  // Slot 3 becomes a text info of that height and weight index, selected.
  void MakeText(int height = 16, int weight = 3) {
    Int(20, height), Int(21, weight);
    Call(kCreateText, {20, 21});
    ScriptValue::Assign(*Result(), Slot(3));
    Result()->SetInt(0);
    Call(kSetText, {3});
  }
  TextFont* Font() { return ObjectOfValueAs<TextFont>(*Slot(3), kScriptTextInfo).Get(); }
  int Output(const std::string& text) {
    Str(9, text);
    Call(kOutputText, {9});
    return Result()->ToInt();
  }
  std::vector<uint16_t> Pixels(uint32_t slot) {
    DrawImage* i = Img(slot);
    std::vector<uint16_t> out;
    for (int y = 0; y < i->GetHeight(); ++y)
      for (int x = 0; x < i->GetWidth(); ++x) out.push_back(i->GetPixel(x, y));
    return out;
  }
  std::vector<int> Array(uint32_t first, int n) {
    std::vector<int> out;
    for (int k = 0; k < n; ++k) out.push_back(Slot(first + k)->ToInt());
    return out;
  }
};

TEST_P(TextOutput, LayoutByteMapsAsTheModelOverEveryByte) {
  Create(1, 32, 16);
  Select(1);
  ApiHandle* h = ExportHandle(1);
  for (uint32_t b = 0; b < 256; ++b) {
    Int(5, static_cast<int>(b | 0x300));  // only the low byte counts
    Call(kSetTextLayout, {5});
    ASSERT_EQ(HandleOf(1)->layout, LayoutModel(b)) << b;
    HandleOf(1)->layout = 0;
    ovSetTextLayout(h, static_cast<uint8_t>(b));
    ASSERT_EQ(HandleOf(1)->layout, LayoutModel(b)) << b;
  }
  EXPECT_EQ(LayoutModel(0x10), 0x212u);  // the default
  EXPECT_EQ(LayoutModel(3), 0x14u);      // right wins over centre, no wrapping
  EXPECT_EQ(LayoutModel(0x30), 0x92u);   // overflow-right wins over wrapping
  ovDestroyImage(h);
}

TEST_P(TextOutput, ColoursPackByFormatAndClamp) {
  Create(1, 8, 8);
  Select(1);
  ApiHandle* h = ExportHandle(1);
  const struct {
    int r, g, b;
    int wr, wg, wb;
  } cases[] = {
      {0, 0, 0, 0, 0, 0},      {31, 31, 31, 31, 31, 31},   {1, 2, 3, 1, 2, 3},    {31, 0, 16, 31, 0, 16},
      {40, -3, 31, 31, 0, 31}, {255, 32, 300, 31, 31, 31}, {-1, 0, 64, 0, 0, 31},
  };
  for (const auto& c : cases) {
    Int(5, c.r), Int(6, c.g), Int(7, c.b);
    Call(kSetTextColor, {5, 6, 7});
    EXPECT_EQ(HandleOf(1)->text_color, Pack(c.wr, c.wg, c.wb)) << c.r << "," << c.g << "," << c.b;
    for (uint32_t i = 24; i < 27; ++i) Int(i, -9);
    Call(kGetTextColor, {24});
    EXPECT_EQ(Array(24, 3), (std::vector<int>{c.wr, c.wg, c.wb}));
    if (c.r >= 0 && c.g >= 0 && c.b >= 0 && c.r < 256 && c.g < 256 && c.b < 256) {
      HandleOf(1)->text_color = 0;
      ovSetTextColor(h, static_cast<uint8_t>(c.r), static_cast<uint8_t>(c.g), static_cast<uint8_t>(c.b));
      EXPECT_EQ(HandleOf(1)->text_color, Pack(c.wr, c.wg, c.wb));
      uint8_t rgb[3] = {99, 99, 99};
      ovGetTextColor(rgb, h);
      EXPECT_EQ(std::vector<int>(rgb, rgb + 3), (std::vector<int>{c.wr, c.wg, c.wb}));
    }
  }
  // A stored pixel splits by the format (RGB565 keeps green's upper five bits of six).
  HandleOf(1)->text_color = 0xFFFF;
  uint8_t rgb[3] = {};
  ovGetTextColor(rgb, h);
  EXPECT_EQ(std::vector<int>(rgb, rgb + 3), (std::vector<int>{31, 31, 31}));
  ovGetTextColor(nullptr, h);  // nothing written, no fault
  ovDestroyImage(h);
}

TEST_P(TextOutput, AlphaKeyTakesTheLowByteUpTo31) {
  Create(1, 8, 8);
  Select(1);
  ApiHandle* h = ExportHandle(1);
  const struct {
    int value, want;
  } cases[] = {{0, 0},    {5, 5},   {31, 31},  {32, 31}, {40, 31},
               {255, 31}, {256, 0}, {300, 31}, {263, 7}, {-1, 31}};
  for (const auto& c : cases) {
    Img(1)->SetFlags(Img(1)->GetFlags() & ~kImageUpdate);
    Int(5, c.value);
    Call(kSetImageAlphaKey, {5});
    EXPECT_EQ(Img(1)->GetAlphaKey(), c.want) << c.value;
    EXPECT_NE(Img(1)->GetFlags() & kImageUpdate, 0u);
    Img(1)->SetAlphaKey(17);
    ovSetImageAlphaKey(h, static_cast<uint8_t>(c.value));
    EXPECT_EQ(Img(1)->GetAlphaKey(), c.want) << c.value;
  }
  ovDestroyImage(h);
}

TEST_P(TextOutput, ANewImageStartsWithTheDefaultAttributes) {
  Create(1, 120, 40);
  Select(1);
  ApiHandle* h = ExportHandle(1);
  for (uint32_t i = 24; i < 30; ++i) Int(i, -5);
  Call(kGetTextPos, {24});
  EXPECT_EQ(Array(24, 2), (std::vector<int>{0, 0}));
  Call(kGetTextRect, {24});
  EXPECT_EQ(Array(24, 4), (std::vector<int>{0, 0, 120, 40}));
  Call(kGetTextColor, {24});
  EXPECT_EQ(Array(24, 3), (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(HandleOf(1)->layout, 0x212u);
  EXPECT_EQ(HandleOf(1)->text_mode, 0u);
  const OvEdges e = ovGetTextRect(h);
  EXPECT_EQ(std::vector<int>({e.left, e.top, e.right, e.bottom}), (std::vector<int>{0, 0, 120, 40}));
  // Set and read back through both sides.
  Int(5, -3), Int(6, 7);
  Call(kSetTextPos, {5, 6});
  EXPECT_EQ(ovGetTextPos(h).x, -3);
  EXPECT_EQ(ovGetTextPos(h).y, 7);
  ovSetTextRect(h, 1, 2, 3, 4);
  Call(kGetTextRect, {24});
  EXPECT_EQ(Array(24, 4), (std::vector<int>{1, 2, 3, 4}));
  Int(5, 12345);
  Call(kSetTextMode, {5});
  EXPECT_EQ(HandleOf(1)->text_mode, 12345u);
  ovSetTextMode(h, -1);
  EXPECT_EQ(HandleOf(1)->text_mode, 0xFFFFFFFFu);
  ovDestroyImage(h);
}

TEST_P(TextOutput, OutputMatchesTheTextUnitCalledDirectly) {
  MakeText(18, 6);
  const std::string text = "日本語 text\nline two";
  Create(1, 160, 60);
  Create(2, 160, 60);
  Create(4, 160, 60);
  Select(1);
  Int(5, 6), Int(6, 4);
  Call(kSetTextPos, {5, 6});
  Int(5, 31), Int(6, 12), Int(7, 3);
  Call(kSetTextColor, {5, 6, 7});
  Int(5, 1);
  Call(kSetTextLayout, {5});
  const int by_builtin = Output(text);
  EXPECT_GT(by_builtin, 0);

  ImageHandle* direct = HandleOf(2);
  direct->text_pos = DPoint(6, 4);
  direct->text_color = Pack(31, 12, 3);
  direct->layout = LayoutModel(1);
  const int by_unit = OutputTextToImage(*direct, *TextCanvas(), *Font(), DString(text.c_str()));

  ApiHandle* e = ExportHandle(4);
  ApiHandle* font = NewApiHandle(kScriptTextInfo, ObjectOfValue(*Slot(3), kScriptTextInfo));
  ovSetTextColor(e, 31, 12, 3);
  ovSetTextLayout(e, 1);
  const int by_export = ovOutputTextPos(e, 6, 4, font, text.c_str());

  EXPECT_EQ(by_builtin, by_unit);
  EXPECT_EQ(by_export, by_unit);
  EXPECT_EQ(Pixels(1), Pixels(2));
  EXPECT_EQ(Pixels(4), Pixels(2));
  EXPECT_NE(Pixels(1), std::vector<uint16_t>(160 * 60, 0));
  // OutputTextPos keeps the position it was given.
  EXPECT_EQ(ovGetTextPos(e).x, 6);
  EXPECT_EQ(ovGetTextPos(e).y, 4);
  EXPECT_EQ(ovGetTextOutSize(font).height, by_unit);
  ovDestroyText(font);
  ovDestroyImage(e);
}

TEST_P(TextOutput, ModeOneStacksOutputsAndModeZeroDoesNot) {
  MakeText(16, 3);
  Create(1, 200, 100);
  Create(2, 200, 100);
  Select(1);
  Int(5, 1);
  Call(kSetTextMode, {5});
  const int first = Output("AB");
  const int second = Output("CD");
  ASSERT_GT(first, 0);
  Call(kGetTextPos, {24});
  EXPECT_EQ(Array(24, 2), (std::vector<int>{0, first + second}));

  // The same two lines placed by hand in mode 0: the same pixels; the position stays.
  Select(2);
  Int(5, 0), Int(6, 0), Str(9, "AB");
  Call(kOutputTextPos, {5, 6, 9});
  Int(5, 0), Int(6, first), Str(9, "CD");
  Call(kOutputTextPos, {5, 6, 9});
  Call(kGetTextPos, {24});
  EXPECT_EQ(Array(24, 2), (std::vector<int>{0, first}));
  EXPECT_EQ(Pixels(1), Pixels(2));
}

TEST_P(TextOutput, AnOversizedRectangleLaysOutInTheImage) {
  MakeText(20, 3);
  std::string text;
  for (int i = 0; i < 120; ++i) text += "W";
  Create(1, 640, 480);
  Create(2, 640, 480);
  Select(1);
  Int(5, 0), Int(6, 0), Int(7, 10000), Int(8, 10000);
  Call(kSetTextRect, {5, 6, 7, 8});
  const int big = Output(text);
  Select(2);
  const int own = Output(text);
  EXPECT_EQ(big, own);
  EXPECT_GT(own, 20);  // wrapped at the image's edge
  EXPECT_EQ(Pixels(1), Pixels(2));
  Select(1);
  Call(kGetTextRect, {24});
  EXPECT_EQ(Array(24, 4), (std::vector<int>{0, 0, 10000, 10000}));
}

TEST_P(TextOutput, LastOutputAndExtent) {
  MakeText(16, 3);
  ApiHandle* font = NewApiHandle(kScriptTextInfo, ObjectOfValue(*Slot(3), kScriptTextInfo));
  for (uint32_t i = 24; i < 28; ++i) Int(i, 9);
  Call(kGetTextOutSize, {24});
  EXPECT_EQ(Array(24, 2), (std::vector<int>{0, 0}));
  Str(9, "abc\nde");
  Call(kGetTextExtent, {26, 9});
  const std::vector<int> extent = Array(26, 2);
  EXPECT_GT(extent[0], 0);
  EXPECT_GT(extent[1], 0);
  const OvSize e = ovGetTextExtent(font, "abc\nde");
  EXPECT_EQ(std::vector<int>({e.width, e.height}), extent);
  Call(kGetTextOutSize, {24});
  EXPECT_EQ(Array(24, 2), (std::vector<int>{0, 0}));
  EXPECT_EQ(ovGetTextOutSize(font).width, 0);

  Create(1, 200, 80);
  Select(1);
  const int bottom = Output("abc\nde");
  Call(kGetTextOutSize, {24});
  EXPECT_EQ(Array(24, 2), (std::vector<int>{extent[0], bottom}));
  EXPECT_EQ(bottom, extent[1]);
  EXPECT_EQ(ovGetTextExtent(font, nullptr).width, 0);
  ovDestroyText(font);
}

TEST_P(TextOutput, WeightIndexesReachTheFontRecord) {
  const struct {
    int index, weight;
  } cases[] = {{-1, 400}, {0, 100}, {3, 400}, {8, 900}, {9, 400}, {INT32_MIN, 400}};
  for (const auto& c : cases) {
    ApiHandle* h = ovCreateText(20, c.index);
    ASSERT_NE(h, nullptr);
    DRef<TextFont> f = ApiHandleAs<TextFont>(h, kScriptTextInfo, "test");
    LOGFONTA lf{};
    ASSERT_NE(GetObjectA(f->font->GetHandle(), sizeof lf, &lf), 0);
    EXPECT_EQ(lf.lfWeight, c.weight) << c.index;
    EXPECT_EQ(lf.lfHeight, 20);
    ovDestroyText(h);
  }
  MakeText(22, 8);
  LOGFONTA lf{};
  ASSERT_NE(GetObjectA(Font()->font->GetHandle(), sizeof lf, &lf), 0);
  EXPECT_EQ(lf.lfWeight, 900);
  Call(kGetText);
  EXPECT_EQ(ObjectOfValue(*Result(), kScriptTextInfo).Get(), static_cast<void*>(Font()));
}

TEST_P(TextOutput, PluginFaultsAndOtherKindsGetTheFailureValue) {
  Create(1, 64, 32);
  ApiHandle* image = ExportHandle(1);
  ApiHandle* font = ovCreateText(16, 3);
  ASSERT_NE(font, nullptr);
  EXPECT_EQ(ovOutputText(image, font, nullptr), 0);
  EXPECT_EQ(ovOutputText(font, image, "a"), 0);
  EXPECT_EQ(ovOutputTextPos(image, 1, 2, image, "a"), 0);
  EXPECT_EQ(ovGetTextPos(image).x, 0);  // a refused call moved nothing
  EXPECT_EQ(ovGetTextOutSize(image).width, 0);
  EXPECT_EQ(ovGetTextExtent(image, "a").width, 0);
  EXPECT_EQ(ovGetTextRect(font).right, 0);
  ovSetTextPos(font, 1, 2);
  ovSetImageAlphaKey(font, 4);
  uint8_t rgb[3] = {7, 7, 7};
  ovGetTextColor(rgb, font);
  EXPECT_EQ(std::vector<int>(rgb, rgb + 3), (std::vector<int>{7, 7, 7}));
  ovDestroyText(image);  // another kind: kept
  EXPECT_EQ(ovGetTextRect(image).right, 64);
  EXPECT_GT(ovOutputText(image, font, "a"), 0);
  ovDestroyText(font);
  ovDestroyImage(image);
}

TEST_P(TextOutput, TssModeRefusesEveryTextBuiltinAndExport) {
  Create(1, 64, 32);
  ApiHandle* image = ExportHandle(1);
  ApiHandle* font = ovCreateText(16, 3);
  SetStartupFlags(kStartupTss);
  const uint32_t builtins[] = {kCreateText,    kGetText,        kSetText,       kSetTextPos,
                               kGetTextPos,    kSetTextRect,    kGetTextRect,   kSetTextColor,
                               kGetTextColor,  kSetTextMode,    kSetTextLayout, kOutputText,
                               kOutputTextPos, kGetTextOutSize, kGetTextExtent, kSetImageAlphaKey};
  for (uint32_t n : builtins) {
    Boxes().clear();
    Result()->SetInt(77);
    Call(n, {});  // no argument is read
    ASSERT_EQ(Boxes().size(), 1u) << n;
    EXPECT_EQ(Boxes()[0].text.rfind("TSSモード時はこの関数を使用できません。", 0), 0u) << n;
    EXPECT_EQ(Result()->ToInt(), 77) << n;
  }
  EXPECT_EQ(ovCreateText(16, 3), nullptr);
  EXPECT_EQ(ovOutputText(image, font, "a"), 0);
  EXPECT_EQ(ovOutputTextPos(image, 3, 3, font, "a"), 0);
  EXPECT_EQ(ovGetTextExtent(font, "a").width, 0);
  uint8_t rgb[3] = {7, 7, 7};
  ovGetTextColor(rgb, image);
  EXPECT_EQ(rgb[0], 7);
  ovSetTextPos(image, 5, 5);
  ovDestroyText(font);  // kept in this mode
  SetStartupFlags(0);
  EXPECT_EQ(ovGetTextPos(image).x, 0);
  EXPECT_GT(ovGetTextExtent(font, "a").width, 0);
  ovDestroyText(font);
  ovDestroyImage(image);
}

TEST_P(TextOutput, ResetSelectsTheDefaultTextInfo) {
  InstallApiUnitHooks();
  MakeText(30, 1);
  ASSERT_NE(CurrentObjects().text.Get(), static_cast<void*>(DefaultTextFont().Get()));
  ResetEngineState();
  EXPECT_EQ(CurrentObjects().text.Get(), static_cast<void*>(DefaultTextFont().Get()));
  LOGFONTA lf{};
  ASSERT_NE(GetObjectA(DefaultTextFont()->font->GetHandle(), sizeof lf, &lf), 0);
  EXPECT_EQ(lf.lfHeight, 20);
  EXPECT_EQ(lf.lfWeight, 400);
}

INSTANTIATE_TEST_SUITE_P(Formats, TextOutput, ::testing::Values(6u, 4u));

// The real program: a script writes a line with the default text info into a shown image; the
// captured window equals the same output made here, widened as the window shows 16-bit pixels.
class TextEndToEnd : public TextOutput {
 protected:
  uint32_t Format() const override { return 6; }  // the program's default screen
};

TEST_F(TextEndToEnd, AScriptsLineWithTheDefaultTextInfoReachesTheWindow) {
  const std::string text = "あいう Text 123";
  const auto image = meiasm::Assemble(
      ".globals 8\n.method main\n.export 0\n"
      " OpSetInt g1, 1\n .builtin 1, g1\n"  // SetSpriteLevel 1
      " OpSetInt g1, 200\n OpSetInt g2, 40\n OpSetInt g3, 0\n OpSetInt g4, 0\n"
      " .builtin 33, g1, g2, g3, g4\n OpMove g5, g0\n .builtin 77, g5\n"  // CreateImage, SetImage
      " OpSetInt g1, 31\n OpSetInt g2, 31\n OpSetInt g3, 0\n .builtin 73, g1, g2, g3\n"  // SetTextColor
      " OpSetInt g1, 6\n OpSetInt g2, 9\n OpSetString g3, \"" +
      text +
      "\"\n .builtin 88, g1, g2, g3\n"           // OutputTextPos
      " .builtin 46\n .builtin 64\n OpHalt\n");  // RenderSpriteScreen, Exit
  std::ofstream(File("text.mei"), std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
  const std::string command = "cd '" + scratch_.Dir() + "' && ORVANE_BACKEND=headless ORVANE_CAPTURE='" +
                              File("shot.ppm") + "' '" ORVANE_BINARY_DIR "/bin/orvane' '" + File("text.mei") +
                              "' >out.txt 2>err.txt";
  ASSERT_EQ(std::system(command.c_str()), 0) << ReadAll(File("err.txt"));
  std::FILE* f = std::fopen(File("shot.ppm").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  int w = 0, h = 0, maxval = 0;
  ASSERT_EQ(std::fscanf(f, "P6 %d %d %d", &w, &h, &maxval), 3);
  std::fgetc(f);
  std::vector<unsigned char> rgb(static_cast<size_t>(w) * h * 3);
  ASSERT_EQ(std::fread(rgb.data(), 1, rgb.size(), f), rgb.size());
  std::fclose(f);
  ASSERT_EQ(w, 640);
  ASSERT_EQ(h, 480);

  Create(1, 200, 40);
  Select(1);
  Int(5, 31), Int(6, 31), Int(7, 0);
  Call(kSetTextColor, {5, 6, 7});
  Int(5, 6), Int(6, 9), Str(9, text);
  Call(kOutputTextPos, {5, 6, 9});
  int inked = 0;
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 240; ++x) {
      uint32_t want = 0;
      if (x < 200 && y < 40) {
        const uint16_t p = Img(1)->GetPixel(x, y);
        const uint32_t r = p >> 11, g = (p >> 5) & 63, b = p & 31;
        want = ((r << 3 | r >> 2) << 16) | ((g << 2 | g >> 4) << 8) | (b << 3 | b >> 2);
      }
      const unsigned char* s = &rgb[(static_cast<size_t>(y) * w + x) * 3];
      const uint32_t shown = uint32_t{s[0]} << 16 | uint32_t{s[1]} << 8 | s[2];
      ASSERT_EQ(shown, want) << x << "," << y;
      inked += want != 0;
    }
  EXPECT_GT(inked, 50);
}

}  // namespace
