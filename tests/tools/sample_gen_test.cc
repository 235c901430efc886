// Tests of the sample-data generator: the manifest's forms and faults, the drawn pixels read back
// through the PNG loader, the tones, the cp932 copy of the data tree, and identical bytes per run.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "base/dfile.h"
#include "imaging/dimage.h"
#include "imaging/dimg_png.h"
#include "tests/support/scratch_dir.h"
#include "tools/sample-gen/generate.h"
#include "tools/sample-gen/manifest.h"
#include "tools/sample-gen/picture.h"
#include "tools/sample-gen/sound.h"

namespace {

namespace fs = std::filesystem;
using namespace samplegen;
using orvane_test::ScratchDir;

// UTF-8 text whatever the execution character set (plain literals become cp932 here).
std::string U8(const char8_t* s) {
  return reinterpret_cast<const char*>(s);
}

std::vector<Asset> Parse(const std::string& text) {
  std::vector<Asset> assets;
  std::string error;
  EXPECT_TRUE(ParseManifest(text, &assets, &error)) << error;
  return assets;
}

void WriteTree(const ScratchDir& dir, const std::string& rel, const std::string& bytes) {
  fs::create_directories(fs::path(dir.Path(rel)).parent_path());
  dir.Write(rel, bytes);
}

// Every file below root, by relative path.
std::map<std::string, std::string> ReadTree(const std::string& root) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file())
      files[fs::relative(e.path(), root).generic_string()] = ScratchDir::ReadPath(e.path().string());
  return files;
}

TEST(SampleGenTest, ManifestForms) {
  const std::vector<Asset> a =
      Parse(U8(u8"# pictures first\n"
               u8"\n"
               u8"png bg/court.png 64 32 rgb\n"
               u8"  fill #102030\n"
               u8"  rect -4 2 10 6 #FFeeDD80\n"
               u8"  frame 0 0 64 32 2 #ffffff\n"
               u8"  vgrad 0 0 64 16 #000000 #ffffff\n"
               u8"  hgrad 0 16 64 16 #ff000000 #00ff00ff\n"
               u8"  ellipse 32 16 10 5 #00ff00\n"
               u8"  figure 20 0 30 #000000\n"
               u8"\ttext 1 2 12 #ffffff 証言 台  \n"
               u8"  ctext 0 0 64 32 10 #ffffff はじめから\n"
               u8"  ramp 0 0 8 8 radial\n"
               u8"png sys/b.png 2 2 rgba\n"
               u8"  ramp 0 0 2 2 v\n"
               u8"wav sys/se/文字表示.wav 100\n"
               u8"  tone 0 50 440 80\n"
               u8"ogg bgm/a.ogg 1000 44100\n"));
  ASSERT_EQ(a.size(), 4u);
  EXPECT_EQ(a[0].path, "bg/court.png");
  EXPECT_EQ(a[0].width, 64);
  EXPECT_FALSE(a[0].alpha);
  EXPECT_TRUE(a[1].alpha);
  EXPECT_EQ(a[1].ops[0].ramp, RampShape::kVertical);
  EXPECT_EQ(a[2].kind, AssetKind::kWav);
  EXPECT_EQ(a[2].path, U8(u8"sys/se/文字表示.wav"));
  EXPECT_EQ(a[2].rate, 22050);
  EXPECT_EQ(a[3].kind, AssetKind::kOgg);
  EXPECT_EQ(a[3].rate, 44100);
  EXPECT_EQ(a[3].ms, 1000);

  const std::vector<Op>& ops = a[0].ops;
  ASSERT_EQ(ops.size(), 10u);
  const OpKind kinds[] = {OpKind::kFill,    OpKind::kRect,   OpKind::kFrame, OpKind::kVGrad, OpKind::kHGrad,
                          OpKind::kEllipse, OpKind::kFigure, OpKind::kText,  OpKind::kCText, OpKind::kRamp};
  for (size_t i = 0; i < ops.size(); ++i) EXPECT_EQ(ops[i].kind, kinds[i]) << i;
  EXPECT_EQ(ops[1].n, (std::vector<std::int64_t>{-4, 2, 10, 6}));
  EXPECT_EQ(ops[1].c1.r, 0xFF);
  EXPECT_EQ(ops[1].c1.b, 0xDD);
  EXPECT_EQ(ops[1].c1.a, 0x80);
  EXPECT_EQ(ops[1].line, 5);
  EXPECT_EQ(ops[4].c1.a, 0);
  EXPECT_EQ(ops[4].c2.g, 0xFF);
  EXPECT_EQ(ops[0].c1.a, 255);
  EXPECT_EQ(ops[7].text, U8(u8"証言 台"));
  EXPECT_EQ(ops[8].n, (std::vector<std::int64_t>{0, 0, 64, 32, 10}));
  EXPECT_EQ(ops[9].ramp, RampShape::kRadial);
}

TEST(SampleGenTest, ManifestFaultsNameTheirLine) {
  const std::string pic = "png a.png 10 10 rgb\n";
  const std::string snd = "wav a.wav 100\n";
  struct Case {
    std::string text;
    std::string error;
  } cases[] = {
      {"jpg a.jpg 1 1 rgb\n", "line 1: unknown asset \"jpg\""},
      {"  fill #000000\n", "line 1: operation before the first asset"},
      {"png a.png 0 10 rgb\n", "line 1: bad picture size \"0\""},
      {"png a.png 4097 10 rgb\n", "line 1: bad picture size \"4097\""},
      {"png a.png 10 10 cmyk\n", "line 1: bad pixel format \"cmyk\""},
      {"png a.png 10 10\n", "line 1: png needs PATH W H rgb|rgba"},
      {"png\n", "line 1: missing path"},
      {"png ../a.png 1 1 rgb\n", "line 1: bad path \"../a.png\""},
      {"png a//b.png 1 1 rgb\n", "line 1: bad path \"a//b.png\""},
      {"png a\\b.png 1 1 rgb\n", "line 1: bad path \"a\\b.png\""},
      {"png /a.png 1 1 rgb\n", "line 1: bad path"},
      {U8(u8"png \U0001F600.png 1 1 rgb\n"),
       U8(u8"line 1: path \"\U0001F600.png\" has a character cp932 lacks")},
      {pic + "png a.png 2 2 rgb\n", "line 2: \"a.png\" is made twice"},
      {pic + "  blur 1\n", "line 2: unknown operation \"blur\""},
      {pic + "  rect 1 2 x 4 #ffffff\n", "line 2: bad number \"x\""},
      {pic + "  rect 1 2 99999999999 4 #ffffff\n", "line 2: bad number \"99999999999\""},
      {pic + "  fill #12345\n", "line 2: bad colour \"#12345\""},
      {pic + "  fill #GG0000\n", "line 2: bad colour \"#GG0000\""},
      {pic + "  fill 123456\n", "line 2: bad colour \"123456\""},
      {pic + "  rect 0 0 5 5\n", "line 2: missing field of \"rect\""},
      {pic + "  fill #ffffff extra\n", "line 2: extra field after \"fill\""},
      {pic + "  text 0 0 12 #ffffff   \n", "line 2: missing text"},
      {pic + "  ramp 0 0 5 5 diag\n", "line 2: bad ramp \"diag\""},
      {pic + "  tone 0 10 440 50\n", "line 2: \"tone\" does not belong in a picture"},
      {snd + "  fill #000000\n", "line 2: \"fill\" does not belong in a sound"},
      {"# note\n\n" + pic + "  rect 10 0 5 5 #ffffff\n", "line 4: outside the picture"},
      {pic + "  rect -5 0 5 5 #ffffff\n", "line 2: outside the picture"},
      {pic + "  rect 0 0 0 5 #ffffff\n", "line 2: width and height must be at least 1"},
      {pic + "  frame 0 0 5 5 0 #ffffff\n", "line 2: thickness must be at least 1"},
      {pic + "  ellipse 30 5 5 5 #ffffff\n", "line 2: outside the picture"},
      {pic + "  ellipse 5 5 0 5 #ffffff\n", "line 2: radii must be at least 1"},
      {pic + "  figure 0 10 20 #ffffff\n", "line 2: outside the picture"},
      {pic + "  figure 0 0 4 #ffffff\n", "line 2: figure height must be at least 8"},
      {pic + "  text 10 0 12 #ffffff A\n", "line 2: outside the picture"},
      {pic + "  text 0 0 2 #ffffff A\n", "line 2: text size must be 4 to 512"},
      {pic + "  ctext 0 -20 10 20 12 #ffffff A\n", "line 2: outside the picture"},
      {pic + "  ramp 0 10 5 5 h\n", "line 2: outside the picture"},
      {"wav a.wav 0\n", "line 1: bad length \"0\""},
      {"wav a.wav 100 4000\n", "line 1: bad rate \"4000\""},
      {"ogg a.ogg\n", "line 1: a sound needs PATH MS [RATE]"},
      {snd + "  tone 50 60 440 50\n", "line 2: outside the sound"},
      {snd + "  tone -1 10 440 50\n", "line 2: start must be at least 0 and length at least 1"},
      {snd + "  tone 0 10 11026 50\n", "line 2: frequency must be 1 to half the rate"},
      {snd + "  tone 0 10 440 101\n", "line 2: volume must be 0 to 100"},
  };
  for (const Case& c : cases) {
    std::vector<Asset> assets;
    std::string error;
    EXPECT_FALSE(ParseManifest(c.text, &assets, &error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
  }
}

// Draws a one-picture manifest and reads the PNG back through the loader; pixels as R, G, B, A
// with A = 255 opaque.
class Drawn {
 public:
  explicit Drawn(const std::string& manifest) {
    const std::vector<Asset> a = Parse(manifest);
    if (a.size() != 1) return;
    Canvas canvas(a[0].width, a[0].height, a[0].alpha);
    std::string error, png;
    EXPECT_TRUE(DrawPicture(a[0], &canvas, &error)) << error;
    EXPECT_TRUE(EncodePng(canvas, &png));
    DFile file;
    EXPECT_TRUE(file.OpenMemory(static_cast<std::uint32_t>(png.size()), DFile::kRead | DFile::kWrite));
    file.Write(png.data(), static_cast<std::uint32_t>(png.size()));
    file.Seek(DFile::kSeekStart, 0);
    EXPECT_TRUE(DimgLoadPNG(image_, file));
    alpha_ = image_.GetFormat() == DimgFormat::RGBA8888;
  }
  std::string Pixel(int x, int y) const {
    const std::uint8_t* p = image_.GetPixelPointer(x, y);
    char buf[16];
    snprintf(buf, sizeof buf, "%02x%02x%02x%02x", p[0], p[1], p[2], alpha_ ? 255 - p[3] : 255);
    return buf;
  }
  // The box holding every pixel that differs from (0, 0)'s colour: x0, y0, x1, y1 (exclusive).
  std::vector<int> InkBox() const {
    std::vector<int> box = {1 << 30, 1 << 30, -1, -1};
    const std::string ground = Pixel(0, 0);
    for (int y = 0; y < static_cast<int>(image_.GetHeight()); ++y)
      for (int x = 0; x < static_cast<int>(image_.GetWidth()); ++x)
        if (Pixel(x, y) != ground)
          box = {std::min(box[0], x), std::min(box[1], y), std::max(box[2], x + 1), std::max(box[3], y + 1)};
    return box;
  }

 private:
  DImage image_;
  bool alpha_ = false;
};

TEST(SampleGenTest, DrawnPixels) {
  const std::string rgb = "png p.png 16 16 rgb\n", rgba = "png p.png 16 16 rgba\n";
  struct Case {
    std::string manifest;
    int x, y;
    const char* rgba;
  } cases[] = {
      {rgb, 3, 3, "000000ff"},
      {rgba, 3, 3, "00000000"},
      {rgba + "  fill #11223344\n", 15, 15, "11223344"},
      {rgb + "  fill #11223344\n", 0, 0, "112233ff"},
      {rgb + "  rect 2 2 4 4 #ff000080\n", 2, 2, "800000ff"},
      {rgb + "  rect 2 2 4 4 #ff000080\n", 6, 6, "000000ff"},
      {rgba + "  rect -2 -2 4 4 #ff000080\n", 1, 1, "ff000080"},
      {rgba + "  rect -2 -2 4 4 #ff000080\n", 2, 2, "00000000"},
      {rgba + "  fill #0000ff80\n  rect 0 0 4 4 #ff000080\n", 0, 0, "aa0055c0"},
      {rgb + "  frame 0 0 16 16 2 #ffffff\n", 1, 8, "ffffffff"},
      {rgb + "  frame 0 0 16 16 2 #ffffff\n", 14, 14, "ffffffff"},
      {rgb + "  frame 0 0 16 16 2 #ffffff\n", 2, 2, "000000ff"},
      {rgb + "  vgrad 0 0 16 16 #000000 #ff0000\n", 5, 0, "000000ff"},
      {rgb + "  vgrad 0 0 16 16 #000000 #ff0000\n", 5, 15, "ff0000ff"},
      {rgb + "  vgrad 0 0 16 16 #000000 #ff0000\n", 5, 5, "550000ff"},
      {rgba + "  fill #ffffff\n  hgrad 0 0 16 16 #00000000 #0000ffff\n", 0, 9, "00000000"},
      {rgba + "  hgrad 0 0 16 16 #00000000 #0000ffff\n", 15, 9, "0000ffff"},
      {rgba + "  ramp 0 0 16 16 h\n", 15, 4, "ffffffff"},
      {rgba + "  ramp 0 0 16 16 v\n", 4, 0, "000000ff"},
      {rgb + "  ramp 0 0 17 17 radial\n", 8, 8, "000000ff"},
      {rgb + "  ramp 0 0 16 16 radial\n", 0, 15, "ffffffff"},
      {rgb + "  ellipse 8 8 4 4 #ffffff\n", 8, 8, "ffffffff"},
      {rgb + "  ellipse 8 8 4 4 #ffffff\n", 4, 4, "000000ff"},
      {rgb + "  ellipse 8 8 4 4 #ffffff\n", 8, 13, "000000ff"},
      {"png p.png 100 100 rgb\n  figure 0 0 100 #ffffff\n", 22, 10, "ffffffff"},
      {"png p.png 100 100 rgb\n  figure 0 0 100 #ffffff\n", 22, 90, "ffffffff"},
      {"png p.png 100 100 rgb\n  figure 0 0 100 #ffffff\n", 2, 10, "000000ff"},
      {"png p.png 100 100 rgb\n  figure 0 0 100 #ffffff\n", 50, 50, "000000ff"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Drawn(c.manifest).Pixel(c.x, c.y), c.rgba) << c.manifest << c.x << "," << c.y;
}

// Labels: left-aligned text starts at its x and hangs below its y; centred text sits in the middle.
TEST(SampleGenTest, TextPlacement) {
  const std::vector<int> left = Drawn(U8(u8"png t.png 200 60 rgb\n  text 10 20 24 #ffffff 表示\n")).InkBox();
  EXPECT_GE(left[0], 10);
  EXPECT_LE(left[0], 14);
  EXPECT_GE(left[1], 20);
  EXPECT_LE(left[3], 20 + 30);
  EXPECT_GT(left[2] - left[0], 36);  // two full-width characters

  const std::vector<int> mid =
      Drawn(U8(u8"png t.png 200 60 rgb\n  ctext 0 0 200 60 20 #ffffff はじめから\n")).InkBox();
  EXPECT_NEAR((mid[0] + mid[2]) / 2.0, 100, 3);
  EXPECT_NEAR((mid[1] + mid[3]) / 2.0, 30, 4);

  // Smoothed edges: some pixel is neither ground nor ink.
  Drawn smooth(U8(u8"png t.png 40 40 rgb\n  text 0 0 30 #ffffff あ\n"));
  bool partial = false;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x)
      partial |= smooth.Pixel(x, y) != "000000ff" && smooth.Pixel(x, y) != "ffffffff";
  EXPECT_TRUE(partial);
}

TEST(SampleGenTest, Tones) {
  const std::vector<Asset> a = Parse("wav s.wav 100 8000\n  tone 20 50 1000 100\n  tone 60 10 1000 100\n");
  const std::vector<std::int16_t> s = MixTones(a[0]);
  ASSERT_EQ(s.size(), 800u);
  EXPECT_EQ(s[159], 0);  // before the first tone
  EXPECT_EQ(s[160], 0);  // its fade starts from silence
  EXPECT_EQ(s[600], 0);  // after both
  const auto peak = [&](size_t from, size_t to) {
    int m = 0;
    for (size_t i = from; i < to; ++i) m = std::max(m, std::abs(static_cast<int>(s[i])));
    return m;
  };
  EXPECT_GT(peak(240, 400), 32000);  // full volume in the middle
  EXPECT_GE(peak(490, 500), 32767);  // the overlap is clipped, not wrapped

  const std::string wav = EncodeWav(s, 8000);
  ASSERT_EQ(wav.size(), 44u + 1600u);
  EXPECT_EQ(wav.substr(0, 4), "RIFF");
  EXPECT_EQ(wav.substr(8, 8), "WAVEfmt ");
  EXPECT_EQ(wav.substr(36, 4), "data");
  const auto u32 = [&](size_t at) {
    return static_cast<std::uint32_t>(
        static_cast<std::uint8_t>(wav[at]) | static_cast<std::uint8_t>(wav[at + 1]) << 8 |
        static_cast<std::uint8_t>(wav[at + 2]) << 16 | static_cast<std::uint8_t>(wav[at + 3]) << 24);
  };
  EXPECT_EQ(u32(4), wav.size() - 8);
  EXPECT_EQ(u32(20), 0x00010001u);  // PCM, mono
  EXPECT_EQ(u32(24), 8000u);
  EXPECT_EQ(u32(34) & 0xFFFF, 16u);
  EXPECT_EQ(u32(40), 1600u);

  // Ogg: pages of one stream with a fixed serial; the last ends the stream at the last sample.
  std::string ogg;
  ASSERT_TRUE(EncodeOgg(s, 8000, &ogg));
  size_t at = 0, pages = 0;
  std::uint64_t granule = 0;
  bool eos = false;
  std::uint32_t serial = 0;
  while (at + 27 <= ogg.size()) {
    ASSERT_EQ(ogg.substr(at, 4), "OggS") << at;
    const auto* p = reinterpret_cast<const std::uint8_t*>(ogg.data() + at);
    std::uint32_t page_serial = p[14] | p[15] << 8 | p[16] << 16 | static_cast<std::uint32_t>(p[17]) << 24;
    if (pages++ == 0) serial = page_serial;
    EXPECT_EQ(page_serial, serial);
    granule = 0;
    for (int k = 7; k >= 0; --k) granule = granule << 8 | p[6 + k];
    eos = (p[5] & 4) != 0;
    size_t body = 0;
    for (int k = 0; k < p[26]; ++k) body += p[27 + k];
    at += 27 + p[26] + body;
  }
  EXPECT_EQ(at, ogg.size());
  EXPECT_GE(pages, 2u);
  EXPECT_TRUE(eos);
  EXPECT_EQ(granule, 800u);
  std::string again;
  ASSERT_TRUE(EncodeOgg(s, 8000, &again));
  EXPECT_EQ(again, ogg);
}

const char8_t kManifest[] =
    u8"png bg/a.png 120 40 rgba\n"
    u8"  vgrad 0 0 120 40 #203040 #8090a0c0\n"
    u8"  rect 4 4 20 20 #ff000080\n"
    u8"  frame 0 0 120 40 1 #ffffff\n"
    u8"  hgrad 0 30 120 10 #000000 #ffffff\n"
    u8"  ellipse 60 20 10 8 #00ff0080\n"
    u8"  figure 90 2 36 #000000\n"
    u8"  text 2 2 12 #ffffff 証言台\n"
    u8"  ctext 0 0 120 40 14 #ffff00 はじめから\n"
    u8"png sys/wipe.png 32 32 rgb\n"
    u8"  ramp 0 0 32 32 radial\n"
    u8"wav sys/se/文字表示.wav 60\n"
    u8"  tone 0 60 880 40\n"
    u8"ogg bgm/loop.ogg 300\n"
    u8"  tone 0 300 440 50\n";

TEST(SampleGenTest, GeneratesTheSameBytesEveryRun) {
  ScratchDir dir("sample_gen_");
  dir.Write("assets.txt", U8(kManifest));
  WriteTree(dir, U8(u8"data/scn/maid/start.scn"), U8(u8"表示する\r\n次の行\n"));
  WriteTree(dir, "data/item.txt", "plain\n");
  std::string error;
  ASSERT_TRUE(Generate(dir.Path("assets.txt"), dir.Path("data"), dir.Path("one"), &error)) << error;
  ASSERT_TRUE(Generate(dir.Path("assets.txt"), dir.Path("data"), dir.Path("two"), &error)) << error;
  const auto one = ReadTree(dir.Path("one")), two = ReadTree(dir.Path("two"));
  std::vector<std::string> names;
  for (const auto& [name, bytes] : one) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"bg/a.png", "bgm/loop.ogg", "item.txt", "scn/maid/start.scn",
                                             "sys/se/" + U8(u8"文字表示.wav"), "sys/wipe.png"}));
  EXPECT_EQ(one, two);
  // The data text is cp932, line ends kept; 表 ends in the byte 0x5C.
  EXPECT_EQ(one.at("scn/maid/start.scn"), "\x95\x5C\x8E\xA6\x82\xB7\x82\xE9\r\n\x8E\x9F\x82\xCC\x8D\x73\n");
  EXPECT_EQ(one.at("item.txt"), "plain\n");
}

TEST(SampleGenTest, GenerateFaultsNameFileAndLine) {
  struct Case {
    std::string manifest;
    std::string data_name, data_text;
    std::string error;  // after the scratch folder's path
  } cases[] = {
      {"png a.png 4 4 rgb\n", "scn/x.scn", U8(u8"一行目\n二行目\n\U0001F600\n"),
       "/data/scn/x.scn: line 3: not UTF-8 or a character cp932 lacks"},
      {"png a.png 4 4 rgb\n", "x.txt", "ok\n\xFF\xFE\n",
       "/data/x.txt: line 2: not UTF-8 or a character cp932 lacks"},
      {"# a\npng x.txt 4 4 rgb\n", "x.txt", "ok\n", "/assets.txt: line 2: \"x.txt\" is also a data file"},
      {"png a.png 4 4 rgb\n  fill #000\n", "x.txt", "ok\n", "/assets.txt: line 2: bad colour \"#000\""},
      {"png a.png 40 40 rgb\n\n  text 0 0 20 #ffffff \xEE\x80\x80\n", "x.txt", "ok\n",
       "/assets.txt: line 3: no glyph for U+E000"},
      {"png a.png 40 40 rgb\n  text 0 -40 20 #ffffff A\n", "x.txt", "ok\n",
       "/assets.txt: line 2: outside the picture"},
  };
  for (const Case& c : cases) {
    ScratchDir dir("sample_gen_");
    dir.Write("assets.txt", c.manifest);
    WriteTree(dir, "data/" + c.data_name, c.data_text);
    std::string error;
    EXPECT_FALSE(Generate(dir.Path("assets.txt"), dir.Path("data"), dir.Path("out"), &error)) << c.error;
    EXPECT_EQ(error, dir.Dir() + c.error);
  }
}

}  // namespace
