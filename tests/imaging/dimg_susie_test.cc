// Tests of the Susie plug-in loader with small test plug-ins, the DIB converter and local memory.
#include "imaging/dimg_susie.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "imaging/dimg_format.h"
#include "tests/imaging/dimg_test_files.h"

namespace {

const std::string kSpiDir = ORVANE_TEST_SPI_DIR;

// A BITMAPINFO block: a header of header_size bytes, then extra (masks, palette).
Bytes DibInfo(std::int32_t width, std::int32_t height, std::uint16_t bits, std::uint32_t compression = 0,
              std::uint32_t colours_used = 0, const Bytes& extra = {}, std::uint32_t header_size = 40) {
  Bytes b;
  Put32(b, header_size), Put32(b, static_cast<std::uint32_t>(width)),
      Put32(b, static_cast<std::uint32_t>(height));
  Put16(b, 1), Put16(b, bits), Put32(b, compression);
  for (int i = 0; i < 3; ++i) Put32(b, 0);
  Put32(b, colours_used), Put32(b, 0);
  b.resize(header_size, 0);
  b.insert(b.end(), extra.begin(), extra.end());
  return b;
}

Bytes Masks(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
  Bytes m;
  Put32(m, r), Put32(m, g), Put32(m, b);
  return m;
}

// A file for the test plug-ins: their tag, the info block's size, the block, the rows.
Bytes PluginFile(const char* tag, const Bytes& info, const Bytes& rows) {
  Bytes b(tag, tag + 4);
  Put32(b, static_cast<std::uint32_t>(info.size()));
  b.insert(b.end(), info.begin(), info.end());
  b.insert(b.end(), rows.begin(), rows.end());
  return b;
}

// Converts through DimgParseDibInfo and DimgDibToBgr888 into packed top-down BGR rows.
bool Convert(const Bytes& info, const Bytes& bits, Bytes* out, std::uint32_t* width) {
  DimgDibLayout layout;
  if (!DimgParseDibInfo(info.data(), info.size(), &layout)) return false;
  const std::size_t pitch = (static_cast<std::size_t>(layout.width) * 3 + 3) / 4 * 4;
  Bytes rows(pitch * layout.rows, 0xEE);
  DimgDibToBgr888(layout, bits.data(), bits.size(), rows.data(), pitch);
  out->clear();
  for (std::uint32_t y = 0; y < layout.rows; ++y) {
    for (std::size_t i = static_cast<std::size_t>(layout.width) * 3; i < pitch; ++i)
      EXPECT_EQ(rows[y * pitch + i], 0) << "padding";
    out->insert(out->end(), rows.begin() + y * pitch, rows.begin() + y * pitch + layout.width * 3);
  }
  *width = static_cast<std::uint32_t>(layout.width);
  return true;
}

TEST(DimgSusieDibTest, ConvertsEveryDepthAndRowOrder) {
  const Bytes pal = {10, 20, 30, 0, 40, 50, 60, 0, 70, 80, 90, 0};  // 3 entries
  // 3 x 2 pictures; rows in file order, padded to 4 bytes.
  const struct {
    const char* name;
    Bytes info;
    Bytes bits;
    Bytes expected;  // top-down B, G, R
  } cases[] = {
      {"1-bit bottom-up",
       DibInfo(3, 2, 1, 0, 2, Bytes(pal.begin(), pal.begin() + 8)),
       {0b10100000, 0, 0, 0, 0b01000000, 0, 0, 0},
       {10, 20, 30, 40, 50, 60, 10, 20, 30, 40, 50, 60, 10, 20, 30, 40, 50, 60}},
      {"4-bit top-down, index past the palette black",
       DibInfo(3, -2, 4, 0, 3, pal),
       {0x01, 0x20, 0, 0, 0x9F, 0x10, 0, 0},
       {10, 20, 30, 40, 50, 60, 70, 80, 90, 0, 0, 0, 0, 0, 0, 40, 50, 60}},
      {"8-bit", DibInfo(3, -1, 8, 0, 3, pal), {2, 1, 0, 0}, {70, 80, 90, 40, 50, 60, 10, 20, 30}},
      {"16-bit 555",
       DibInfo(3, -1, 16),
       {0x1F, 0x00, 0xE0, 0x03, 0x00, 0x7C, 0, 0},
       {248, 0, 0, 0, 248, 0, 0, 0, 248}},
      {"16-bit 565 bitfields",
       DibInfo(3, -1, 16, 3, 0, Masks(0xF800, 0x07E0, 0x001F)),
       {0x1F, 0x00, 0xE0, 0x07, 0x00, 0xF8, 0, 0},
       {248, 0, 0, 0, 252, 0, 0, 0, 248}},
      {"24-bit bottom-up",
       DibInfo(3, 2, 24),
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0, 11, 12, 13, 14, 15, 16, 17, 18, 19, 0, 0, 0},
       {11, 12, 13, 14, 15, 16, 17, 18, 19, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
      {"32-bit", DibInfo(3, -1, 32), {1, 2, 3, 99, 4, 5, 6, 99, 7, 8, 9, 99}, {1, 2, 3, 4, 5, 6, 7, 8, 9}},
      {"32-bit bitfields inside a V5 header",
       DibInfo(3, -1, 32, 3, 0, {}, 124),
       {0, 1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9},
       {3, 2, 1, 6, 5, 4, 9, 8, 7}},
      {"rows missing read as zero",
       DibInfo(3, -2, 24),
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0},
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes info = c.info;
    if (std::string(c.name).find("V5") != std::string::npos) {
      // Masks of a V5 header live at offset 40: red 0xFF00, green 0xFF0000, blue 0xFF000000.
      const Bytes m = Masks(0xFF00, 0xFF0000, 0xFF000000u);
      std::copy(m.begin(), m.end(), info.begin() + 40);
    }
    Bytes out;
    std::uint32_t width = 0;
    ASSERT_TRUE(Convert(info, c.bits, &out, &width));
    EXPECT_EQ(out, c.expected);
  }
}

TEST(DimgSusieDibTest, RefusesUnusableDescriptions) {
  const struct {
    const char* name;
    Bytes info;
  } cases[] = {
      {"block shorter than a header", Bytes(39, 0)},
      {"header size 12",
       [] {
         Bytes b = DibInfo(3, 2, 24);
         b[0] = 12;
         return b;
       }()},
      {"header larger than the block",
       [] {
         Bytes b = DibInfo(3, 2, 24);
         b[0] = 41;
         return b;
       }()},
      {"width 0", DibInfo(0, 2, 24)},
      {"negative width", DibInfo(-3, 2, 24)},
      {"height 0", DibInfo(3, 0, 24)},
      {"height INT_MIN", DibInfo(3, INT_MIN, 24)},
      {"bit count 2", DibInfo(3, 2, 2)},
      {"run-length", DibInfo(3, 2, 8, 1, 1, {0, 0, 0, 0})},
      {"bitfields at 24 bits", DibInfo(3, 2, 24, 3, 0, Masks(1, 2, 4))},
      {"bitfields without masks", DibInfo(3, 2, 32, 3)},
      {"palette past the block", DibInfo(3, 2, 8, 0, 3, Bytes(8, 0))},
      {"full palette past the block", DibInfo(3, 2, 4)},
      {"over the size cap", DibInfo(1 << 16, 1 << 15, 24)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DimgDibLayout layout;
    EXPECT_FALSE(DimgParseDibInfo(c.info.data(), c.info.size(), &layout));
  }
}

TEST(DimgLocalMemTest, BlocksAreTrackedByHandle) {
  HLOCAL fixed = LocalAlloc(LPTR, 10);
  ASSERT_NE(fixed, nullptr);
  EXPECT_EQ(LocalLock(fixed), fixed);
  EXPECT_EQ(LocalSize(fixed), 10u);
  EXPECT_EQ(static_cast<std::uint8_t*>(fixed)[9], 0);
  EXPECT_FALSE(LocalUnlock(fixed));
  HLOCAL moveable = LocalAlloc(LMEM_MOVEABLE, 5);
  ASSERT_NE(moveable, nullptr);
  void* p = LocalLock(moveable);
  ASSERT_NE(p, nullptr);
  EXPECT_NE(p, moveable);
  EXPECT_EQ(LocalLock(moveable), p);
  EXPECT_TRUE(LocalUnlock(moveable));
  EXPECT_FALSE(LocalUnlock(moveable));
  EXPECT_FALSE(LocalUnlock(moveable));
  EXPECT_EQ(LocalFree(moveable), nullptr);
  EXPECT_EQ(LocalFree(fixed), nullptr);
  // Freed and unknown handles are refused, not dereferenced.
  int local = 0;
  EXPECT_EQ(LocalFree(fixed), fixed);
  EXPECT_EQ(LocalLock(moveable), nullptr);
  EXPECT_EQ(LocalSize(&local), 0u);
  EXPECT_EQ(LocalAlloc(0x1000, 4), nullptr);
}

// Each test gets a directory of its own with links to the built plug-ins it wants.
class DimgSusieTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/dimg_susie_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    _DSusieTerm();
    std::system(("rm -rf '" + dir_ + "'").c_str());
  }
  void Link(const char* name) {
    ASSERT_EQ(symlink((kSpiDir + "/" + name).c_str(), (dir_ + "/" + name).c_str()), 0);
  }
  void LinkGood() {
    Link("a_first.spi");
    Link("B_second.spi");
  }
  // A function of a loaded plug-in, found through the already loaded module.
  template <class Fn>
  Fn Probe(const char* plugin, const char* symbol) {
    void* module = dlopen((dir_ + "/" + plugin).c_str(), RTLD_NOW | RTLD_NOLOAD);
    EXPECT_NE(module, nullptr);
    if (module == nullptr) return nullptr;
    Fn fn = reinterpret_cast<Fn>(dlsym(module, symbol));
    dlclose(module);
    return fn;
  }
  int PictureCalls(const char* plugin) { return Probe<int (*)()>(plugin, "TestPictureCalls")(); }

  std::string dir_;
};

TEST_F(DimgSusieTest, InitLogsEveryCandidate) {
  for (const char* name : {"a_first.spi", "B_second.spi", "c_badver.spi", "d_noinfo.spi", "e_nopicture.spi"})
    Link(name);
  WriteDiskFile(dir_ + "/junk.spi", {'n', 'o', 't', ' ', 'e', 'l', 'f'});
  ASSERT_EQ(mkdir((dir_ + "/dir.spi").c_str(), 0700), 0);
  WriteDiskFile(dir_ + "/readme.txt", {'x'});
  LogCapture log;
  _DSusieInitDirectory(dir_);
  const std::string d = "\"" + dir_ + "/";
  EXPECT_EQ(log.Text(), "[_DSusieInit] " + d + "a_first.spi\": loaded.\n" + "[_DSusieInit] " + d +
                            "B_second.spi\": loaded.\n" + "[_DSusieInit] " + d +
                            "c_badver.spi\": version error.\n" +
                            "[_DSusieInit] can't get \"GetPluginInfo\" in " + d + "d_noinfo.spi\"\n" +
                            "[_DSusieInit] " + d + "e_nopicture.spi\": can't find functions.\n");
  EXPECT_EQ(DSusiePluginCount(), 2u);
  _DSusieInitDirectory(dir_);
  EXPECT_EQ(DSusiePluginCount(), 2u);
  _DSusieTerm();
  EXPECT_EQ(DSusiePluginCount(), 0u);
}

TEST_F(DimgSusieTest, NoPluginsNoClaims) {
  LogCapture log;
  _DSusieInitDirectory(dir_);
  EXPECT_TRUE(DimgInitialize());  // the test program's own directory holds no plug-in
  EXPECT_EQ(log.Text(), "");
  EXPECT_EQ(DSusiePluginCount(), 0u);
  auto file = MemoryFile(PluginFile("APIC", DibInfo(1, 1, 24), {1, 2, 3, 0}));
  DImage image;
  ASSERT_TRUE(file->Seek(DFile::kSeekStart, 3));
  EXPECT_FALSE(DimgLoadSusie(image, *file));
  EXPECT_EQ(file->Tell(), 3);  // with nobody to ask, the file is not even read
}

TEST_F(DimgSusieTest, OnlyTheHeadIsReadUntilAPluginClaims) {
  LinkGood();
  _DSusieInitDirectory(dir_);
  Bytes unknown(20000, 'u');
  auto file = MemoryFile(unknown);
  DImage image;
  EXPECT_FALSE(DimgLoadSusie(image, *file));
  EXPECT_EQ(file->Tell(), 4096 + 128);
  // A file over 2^31 - 1 bytes (sparse on disk) is refused before a byte is read.
  const std::string path = dir_ + "/huge.apc";
  WriteDiskFile(path, PluginFile("APIC", DibInfo(1, 1, 24), {1, 2, 3, 0}));
  ASSERT_EQ(truncate(path.c_str(), std::int64_t{1} << 31), 0);
  DFile huge;
  ASSERT_TRUE(huge.Open(DString(path.c_str()), DFile::kRead));
  EXPECT_FALSE(DimgLoadSusie(image, huge));
  EXPECT_EQ(huge.Tell(), 0);
  EXPECT_EQ(PictureCalls("a_first.spi"), 0);
  EXPECT_EQ(image.GetBits(), nullptr);
}

TEST_F(DimgSusieTest, FirstClaimingPluginDecodes) {
  LinkGood();
  _DSusieInitDirectory(dir_);
  const Bytes info = DibInfo(5, 2, 8, 0, 2, {1, 2, 3, 0, 4, 5, 6, 0});
  auto file =
      MemoryFile(PluginFile("APIC", info, {0, 1, 0, 1, 0, 0, 0, 0, 1, 1, 1, 1, 1, 0, 0, 0}), "pic.apc");
  DImage image;
  ASSERT_TRUE(DimgLoadSusie(image, *file));
  EXPECT_EQ(image.GetFormat(), DimgFormat::BGR888);
  EXPECT_EQ(image.GetWidth(), 5u);
  EXPECT_EQ(image.GetPitch(), 16u);
  EXPECT_EQ(Pixel(image, 0, 0), (std::vector<std::uint8_t>{4, 5, 6}));  // bottom-up: file row 1 on top
  EXPECT_EQ(Pixel(image, 1, 1), (std::vector<std::uint8_t>{4, 5, 6}));
  EXPECT_EQ(Pixel(image, 0, 1), (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_EQ(std::string(Probe<const char* (*)()>("a_first.spi", "TestLastName")()), "pic.apc");
  EXPECT_EQ(PictureCalls("a_first.spi"), 1);
  EXPECT_EQ(PictureCalls("B_second.spi"), 0);
}

TEST_F(DimgSusieTest, FailingClaimantEndsTheSearch) {
  LinkGood();
  _DSusieInitDirectory(dir_);
  // Both plug-ins claim "FAIL"; the first in case-insensitive order fails and no other is tried.
  auto file = MemoryFile(PluginFile("FAIL", DibInfo(1, 1, 24), {1, 2, 3, 0}));
  DImage image;
  EXPECT_FALSE(DimgLoadSusie(image, *file));
  EXPECT_EQ(PictureCalls("a_first.spi"), 1);
  EXPECT_EQ(PictureCalls("B_second.spi"), 0);
  EXPECT_EQ(image.GetBits(), nullptr);
}

TEST_F(DimgSusieTest, SecondChanceAtOffset128) {
  LinkGood();
  _DSusieInitDirectory(dir_);
  Bytes bytes(128, 'j');
  const Bytes pic = PluginFile("BPIC", DibInfo(1, 1, 24), {7, 8, 9, 0});
  bytes.insert(bytes.end(), pic.begin(), pic.end());
  auto file = MemoryFile(bytes);
  DImage image;
  ASSERT_TRUE(DimgLoadSusie(image, *file));
  EXPECT_EQ(Pixel(image, 0, 0), (std::vector<std::uint8_t>{7, 8, 9}));
  EXPECT_EQ(Probe<long (*)()>("B_second.spi", "TestLastLength")(), static_cast<long>(pic.size()));
}

TEST_F(DimgSusieTest, ShortFilesGetAZeroFilledHead) {
  Link("a_first.spi");
  _DSusieInitDirectory(dir_);
  auto file = MemoryFile({'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'});
  DImage image;
  EXPECT_FALSE(DimgLoadSusie(image, *file));
  const std::uint8_t* head = Probe<const std::uint8_t* (*)()>("a_first.spi", "TestPreviousHead")();
  EXPECT_EQ(Bytes(head, head + 10), (Bytes{'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'}));
  EXPECT_EQ(Bytes(head + 10, head + 4096), Bytes(4086, 0));
}

TEST_F(DimgSusieTest, RefusedFilesAndPictures) {
  LinkGood();
  _DSusieInitDirectory(dir_);
  // An empty disk file is refused before any plug-in sees it.
  const std::string path = dir_ + "/empty.apc";
  WriteDiskFile(path, {});
  DFile empty;
  ASSERT_TRUE(empty.Open(DString(path.c_str()), DFile::kRead));
  DImage image;
  EXPECT_FALSE(DimgLoadSusie(image, empty));
  EXPECT_EQ(PictureCalls("a_first.spi"), 0);
  // A picture description the converter cannot use: the blocks are freed, the image not made.
  auto file = MemoryFile(PluginFile("APIC", DibInfo(3, 2, 8, 0, 300), {}));
  EXPECT_FALSE(DimgLoadSusie(image, *file));
  EXPECT_EQ(PictureCalls("a_first.spi"), 1);
  EXPECT_EQ(image.GetBits(), nullptr);
}

}  // namespace
