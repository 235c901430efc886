// Tests of the script image reader: the string transform, the checks of damaged images, the appended form.
#include "vm/script_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "tools/meiasm/meiasm.h"

namespace {

using meiasm::Builder;
using meiasm::G;
using meiasm::Label;
using meiasm::Text;

void PutWord(std::vector<uint8_t>& v, size_t at, uint32_t w) {
  for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(w >> (8 * i));
}
void AppendWord(std::vector<uint8_t>& v, uint32_t w) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(w >> (8 * i)));
}

TEST(UnscrambleBlockTest, EveryByteSurvivesTheProducerRule) {
  std::vector<uint8_t> stored(256);
  for (int p = 0; p < 256; ++p) stored[p] = meiasm::ScrambleByte(static_cast<uint8_t>(p));
  UnscrambleBlock(256, stored.data());
  for (int p = 0; p < 256; ++p) EXPECT_EQ(stored[p], p) << p;
}

TEST(UnscrambleBlockTest, KnownBytesAndWordOrByteWalkAgree) {
  uint8_t abc[] = {0xC7, 0xC4, 0xC6};
  EXPECT_EQ(UnscrambleBlock(3, abc), abc);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(abc), 3), "abc");

  // Lengths with and without a word part give the byte-by-byte result; bytes past the length stay.
  for (uint32_t n : {0u, 1u, 2u, 3u, 4u, 5u, 9u}) {
    uint8_t block[10], bytewise[10];
    for (int i = 0; i < 10; ++i) block[i] = bytewise[i] = static_cast<uint8_t>(0x3D * i + 7);
    UnscrambleBlock(n, block);
    for (uint32_t i = 0; i < n; ++i) UnscrambleBlock(1, bytewise + i);
    EXPECT_EQ(std::memcmp(block, bytewise, 10), 0) << n;
  }
}

// A small image with every block in use: two exports, two methods, strings, globals, two sources.
std::vector<uint8_t> GoodImage() {
  Builder b;
  b.Globals(3).File("a.txt").File("b.txt");
  b.Method("main").Export(0).OpSetString(G(1), Text{"hello"}).OpJump(Label{"end"});
  b.Method("sub").Export(1).Bind("end").OpHalt();
  return b.Build();
}

TEST(LoadScriptImageInfoTest, GoodImageFillsEveryField) {
  const auto image = GoodImage();
  ScriptImageInfo info;
  ASSERT_EQ(LoadScriptImageInfo(image, &info), nullptr);
  EXPECT_EQ(info.globals, 3u);
  ASSERT_EQ(info.exports.size(), 2u);
  ASSERT_EQ(info.methods.size(), 2u);
  EXPECT_EQ(info.methods[0].name, "main");
  EXPECT_EQ(info.methods[1].name, "sub");
  EXPECT_EQ(info.methods[1].entry, info.exports[1]);
  ASSERT_EQ(info.sources.size(), 2u);
  EXPECT_EQ(info.sources[1], "b.txt");
  EXPECT_EQ(info.data_length, 6u);
  ASSERT_EQ(info.data.size(), 7u);  // the plain block and the guard NUL
  EXPECT_STREQ(info.data.data(), "hello");
  EXPECT_EQ(info.code[0], static_cast<uint32_t>(VmOp::OpSetFile));
  EXPECT_EQ(info.code[info.return_address], static_cast<uint32_t>(VmOp::OpHalt));
}

TEST(LoadScriptImageInfoTest, EmptyTablesAndUnterminatedLastTextAreAccepted) {
  Builder b;
  b.OpHalt();
  auto image = b.Build();
  ScriptImageInfo info;
  ASSERT_EQ(LoadScriptImageInfo(image, &info), nullptr);
  EXPECT_TRUE(info.exports.empty());
  EXPECT_TRUE(info.methods.empty());
  EXPECT_TRUE(info.sources.empty());
  EXPECT_EQ(info.data_length, 0u);

  // A string block whose last text lacks its NUL still ends inside the loaded copy.
  Builder c;
  const uint8_t raw[] = {'x', 'y'};
  c.Data(raw);
  c.OpHalt();
  image = c.Build();
  ASSERT_EQ(LoadScriptImageInfo(image, &info), nullptr);
  EXPECT_EQ(info.data_length, 2u);
  EXPECT_STREQ(info.data.data(), "xy");
}

// Header fields: 4 exports, 8 methods, 12 strings, 16 globals, 20 code, 24 sources.
uint32_t Header(const std::vector<uint8_t>& v, int at) {
  return ReadImageWord(v.data() + at);
}

// Appends a block at the end of the image and points header field `at` to it; the code still runs
// to the end, so its word count only grows.
void AppendBlock(std::vector<uint8_t>& v, int at, std::vector<uint8_t> block) {
  PutWord(v, at, static_cast<uint32_t>(v.size()));
  v.insert(v.end(), block.begin(), block.end());
}

TEST(LoadScriptImageInfoTest, DamagedImagesAreRefusedWithTheirReason) {
  struct Case {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> damage;
    const char* reason;
  };
  const auto code_words = [](const std::vector<uint8_t>& v) { return (v.size() - Header(v, 20)) / 4; };
  const Case cases[] = {
      {"truncated header", [](auto& v) { v.resize(27); }, "shorter than its header"},
      {"wrong magic", [](auto& v) { v[0] = 'Q'; }, "wrong magic"},
      {"export table past the end", [](auto& v) { PutWord(v, 4, v.size() - 3); }, "export table outside"},
      {"export offset near 4 GiB", [](auto& v) { PutWord(v, 4, 0xFFFFFFFE); }, "export table outside"},
      {"huge export count", [](auto& v) { PutWord(v, Header(v, 4), 0x40000000); }, "export count larger"},
      {"export entry past the code", [&](auto& v) { PutWord(v, Header(v, 4) + 4, code_words(v)); },
       "export entry outside the code"},
      {"method table past the end", [](auto& v) { PutWord(v, 8, 0xFFFFFFFF); }, "method table outside"},
      {"huge method count", [](auto& v) { PutWord(v, Header(v, 8), 0xFFFFFFFF); }, "method count larger"},
      {"method name without NUL",
       [](auto& v) {
         AppendBlock(v, 8, {1, 0, 0, 0, 'a', 'b', 'c', 'd', 'e'});
       },
       "method name without its NUL"},
      {"method entry cut short",
       [](auto& v) {
         AppendBlock(v, 8, {1, 0, 0, 0, 'm', 'm', 'm', 0, 1, 0});
       },
       "method entry outside the image"},
      {"method entry past the code", [&](auto& v) { PutWord(v, Header(v, 8) + 9, code_words(v)); },
       "method entry outside the code"},
      {"string block past the end", [](auto& v) { PutWord(v, 12, v.size()); }, "string block outside"},
      {"huge string length", [](auto& v) { PutWord(v, Header(v, 12), 0xFFFFFFF0); }, "string block longer"},
      {"globals record past the end", [](auto& v) { PutWord(v, 16, v.size() - 7); },
       "globals record outside"},
      {"huge global count", [](auto& v) { PutWord(v, Header(v, 16), kScriptImageMaxGlobals + 1); },
       "global count too large"},
      {"return address past the code", [&](auto& v) { PutWord(v, Header(v, 16) + 4, code_words(v)); },
       "return address outside the code"},
      {"code block past the end", [](auto& v) { PutWord(v, 20, v.size() + 1); }, "code block outside"},
      {"code block under one word", [](auto& v) { PutWord(v, 20, v.size() - 3); }, "code block outside"},
      {"source table past the end", [](auto& v) { PutWord(v, 24, 0xFFFFFFFC); }, "source table outside"},
      {"huge source count", [](auto& v) { PutWord(v, Header(v, 24), 0x7FFFFFFF); }, "source count larger"},
      {"source name without NUL",
       [](auto& v) {
         AppendBlock(v, 24, {2, 0, 0, 0, 'a', 0, 'b', 'c'});
       },
       "source name without its NUL"},
  };
  for (const auto& c : cases) {
    auto image = GoodImage();
    c.damage(image);
    ScriptImageInfo info;
    info.globals = 99;
    const char* reason = LoadScriptImageInfo(image, &info);
    ASSERT_NE(reason, nullptr) << c.name;
    EXPECT_NE(std::strstr(reason, c.reason), nullptr) << c.name << ": " << reason;
    EXPECT_TRUE(info.code.empty() && info.methods.empty() && info.globals == 0) << c.name;
  }
}

// Appended form: a file made of an executable whose sections end at E, then `tail`.
std::vector<uint8_t> ReadAppended(const std::vector<uint8_t>& file) {
  MemoryImageFile f(file);
  return ReadAppendedImage(f);
}

std::vector<uint8_t> Tail(uint32_t length, std::span<const uint8_t> image) {
  std::vector<uint8_t> t;
  AppendWord(t, length);
  t.insert(t.end(), image.begin(), image.end());
  return t;
}

TEST(ReadAppendedImageTest, FindsTheImageBehindTheLastSection) {
  const auto image = GoodImage();
  EXPECT_EQ(ReadAppended(meiasm::WrapInExecutable(image)), image);

  // A section with SizeOfRawData 0 never decides E, even with the greatest PointerToRawData;
  // sections with equal PointerToRawData give E from the larger size.
  const meiasm::PeSection sections[] = {{0x400, 0x100}, {0x500, 0}, {0x400, 0x200}, {0x200, 0x100}};
  EXPECT_EQ(ReadAppended(meiasm::BuildExecutable(sections, Tail(image.size(), image))), image);
}

TEST(ReadAppendedImageTest, FilesWithoutAnImageGiveNothing) {
  const auto image = GoodImage();
  const meiasm::PeSection one[] = {{0x200, 0x200}};
  std::vector<uint8_t> bad_magic = Tail(image.size(), image);
  bad_magic[4] = 'X';
  std::vector<uint8_t> cut = Tail(image.size(), image);
  cut.pop_back();
  struct Case {
    const char* name;
    std::vector<uint8_t> file;
  };
  const std::vector<uint8_t> no_tail;
  const Case cases[] = {
      {"plain image file", image},
      {"size equal to E", meiasm::BuildExecutable(one, no_tail)},
      {"L = 0", meiasm::BuildExecutable(one, Tail(0, image))},
      {"L = 4", meiasm::BuildExecutable(one, Tail(4, image))},
      {"image cut short", meiasm::BuildExecutable(one, cut)},
      {"L past the end of the file", meiasm::BuildExecutable(one, Tail(0xFFFFFFFF, image))},
      {"length word cut short", meiasm::BuildExecutable(one, std::vector<uint8_t>{8, 0})},
      {"wrong magic", meiasm::BuildExecutable(one, bad_magic)},
      {"no sections", meiasm::BuildExecutable({}, Tail(image.size(), image))},
      {"only empty sections", meiasm::BuildExecutable(std::vector<meiasm::PeSection>{{0, 0x200}, {0x200, 0}},
                                                      Tail(image.size(), image))},
  };
  for (const auto& c : cases) EXPECT_TRUE(ReadAppended(c.file).empty()) << c.name;

  // E = PointerToRawData + SizeOfRawData passes 4 GiB: computed without wrapping, so no image.
  auto far = meiasm::WrapInExecutable(image);
  const size_t section = 64 + 4 + 20 + 224;
  PutWord(far, section + 16, 0x500);  // wrapped to 32 bits, E would be 0x400: the real tail
  PutWord(far, section + 20, 0xFFFFFF00);
  EXPECT_TRUE(ReadAppended(far).empty());

  // Headers cut short at every length up to the first section header refuse cleanly.
  const auto full = meiasm::WrapInExecutable(image);
  for (size_t n = 0; n < 64 + 4 + 20 + 224 + 40; n += 7) {
    EXPECT_TRUE(ReadAppended(std::vector<uint8_t>(full.begin(), full.begin() + n)).empty()) << n;
  }
}

// A small ELF file: header, one segment, a section header table; `section_end` is where its
// one data section ends; then `tail`.
struct ElfLayout {
  bool is64 = true;
  uint64_t segment_end = 0x100;
  uint64_t section_offset = 0x80;
  uint64_t section_size = 0x100;
  uint64_t nobits_size = 0x100000;  // a section without file space never decides E
  uint16_t shentsize = 64;
  uint64_t shoff = 0x180;
};

void Put64(std::vector<uint8_t>& v, size_t at, uint64_t x) {
  PutWord(v, at, static_cast<uint32_t>(x));
  PutWord(v, at + 4, static_cast<uint32_t>(x >> 32));
}
void Put16(std::vector<uint8_t>& v, size_t at, uint16_t x) {
  v[at] = static_cast<uint8_t>(x);
  v[at + 1] = static_cast<uint8_t>(x >> 8);
}

std::vector<uint8_t> BuildElf(const ElfLayout& l, std::span<const uint8_t> tail) {
  const bool w = l.is64;
  const size_t sh_size = w ? 64 : 40;
  std::vector<uint8_t> f(l.shoff + 3 * sh_size, 0);
  std::memcpy(f.data(), "\177ELF", 4);
  f[4] = w ? 2 : 1;
  f[5] = 1;
  f[6] = 1;
  if (w) {
    Put64(f, 32, 64);       // e_phoff
    Put64(f, 40, l.shoff);  // e_shoff
    Put16(f, 54, 56);
    Put16(f, 56, 1);
    Put16(f, 58, l.shentsize);
    Put16(f, 60, 3);
    Put64(f, 64 + 8, 0);  // p_offset
    Put64(f, 64 + 32, l.segment_end);
  } else {
    PutWord(f, 28, 52);
    PutWord(f, 32, static_cast<uint32_t>(l.shoff));
    Put16(f, 42, 32);
    Put16(f, 44, 1);
    Put16(f, 46, l.shentsize);
    Put16(f, 48, 3);
    PutWord(f, 52 + 4, 0);
    PutWord(f, 52 + 16, static_cast<uint32_t>(l.segment_end));
  }
  auto section = [&](int i, uint32_t type, uint64_t offset, uint64_t size) {
    size_t at = l.shoff + i * sh_size;
    PutWord(f, at + 4, type);
    if (w) {
      Put64(f, at + 24, offset);
      Put64(f, at + 32, size);
    } else {
      PutWord(f, at + 16, static_cast<uint32_t>(offset));
      PutWord(f, at + 20, static_cast<uint32_t>(size));
    }
  };
  section(1, 1, l.section_offset, l.section_size);
  section(2, 8, 0x40, l.nobits_size);
  uint64_t end = std::max<uint64_t>(f.size(), std::max(l.segment_end, l.section_offset + l.section_size));
  if (end < (uint64_t{1} << 20)) f.resize(end, 0);
  f.insert(f.end(), tail.begin(), tail.end());
  return f;
}

TEST(ReadAppendedImageTest, FindsTheImageBehindAnElfFile) {
  const auto image = GoodImage();
  const auto tail = Tail(image.size(), image);
  ElfLayout plain;
  EXPECT_EQ(ReadAppended(BuildElf(plain, tail)), image);
  ElfLayout elf32;
  elf32.is64 = false;
  elf32.shentsize = 40;
  EXPECT_EQ(ReadAppended(BuildElf(elf32, tail)), image);
  ElfLayout section_last;  // a section ending behind the header table decides E
  section_last.section_offset = 0x200;
  section_last.section_size = 0x80;
  EXPECT_EQ(ReadAppended(BuildElf(section_last, tail)), image);
  ElfLayout segment_last;
  segment_last.segment_end = 0x300;
  EXPECT_EQ(ReadAppended(BuildElf(segment_last, tail)), image);
}

TEST(ReadAppendedImageTest, DamagedElfFilesGiveNothing) {
  const auto image = GoodImage();
  const auto tail = Tail(image.size(), image);
  ElfLayout overflow;  // offset + size wraps 64 bits
  overflow.section_offset = ~uint64_t{0} - 8;
  overflow.section_size = 0x100;
  ElfLayout table_past_end;
  table_past_end.shoff = uint64_t{1} << 40;
  ElfLayout small_entries;
  small_entries.shentsize = 16;
  ElfLayout beyond;  // a section said to end far past the file
  beyond.section_size = uint64_t{1} << 40;
  for (const ElfLayout& l : {overflow, small_entries, beyond})
    EXPECT_TRUE(ReadAppended(BuildElf(l, tail)).empty());
  // The header table's offset cannot be laid out in memory: write the header by hand.
  auto f = BuildElf(ElfLayout(), tail);
  Put64(f, 40, table_past_end.shoff);
  EXPECT_TRUE(ReadAppended(f).empty());
  auto big_endian = BuildElf(ElfLayout(), tail);
  big_endian[5] = 2;
  EXPECT_TRUE(ReadAppended(big_endian).empty());
  EXPECT_TRUE(ReadAppended(BuildElf(ElfLayout(), {})).empty());  // nothing appended
  const auto full = BuildElf(ElfLayout(), tail);
  for (size_t n = 0; n < 0x200; n += 13)
    EXPECT_TRUE(ReadAppended(std::vector<uint8_t>(full.begin(), full.begin() + n)).empty()) << n;
}

// A file whose reported size may exceed its bytes, recording the largest read asked of it.
class ProbeFile : public ScriptImageFile {
 public:
  ProbeFile(std::span<const uint8_t> bytes, uint64_t size) : inner_(bytes), size_(size) {}
  bool Seek(uint64_t position) override { return inner_.Seek(position); }
  bool Read(void* buffer, size_t n) override {
    largest_read = std::max(largest_read, n);
    return inner_.Read(buffer, n);
  }
  bool Size(uint64_t* size) override {
    *size = size_;
    return true;
  }
  size_t largest_read = 0;

 private:
  MemoryImageFile inner_;
  uint64_t size_;
};

TEST(ReadScriptImageFileTest, TakesTheAppendedImageElseAWholeFileThatBeginsWithTheMagic) {
  const auto image = GoodImage();
  const auto exe = meiasm::WrapInExecutable(image);
  const std::vector<uint8_t> riff = {'R', 'I', 'F', 'F', 0, 0, 0, 0};
  struct Case {
    const char* name;
    std::span<const uint8_t> bytes;
    uint64_t size;
    bool found;
  };
  const Case cases[] = {
      {"plain image", image, image.size(), true},
      {"executable", exe, exe.size(), true},
      // A large file of another kind is refused after its first word, without a large read.
      {"3 GiB of something else", riff, 3ull << 30, false},
      {"image cut short", image, image.size() + 1, false},
      {"shorter than a word", std::span(image).first(3), 3, false},
  };
  for (const auto& c : cases) {
    ProbeFile file(c.bytes, c.size);
    const auto got = ReadScriptImageFile(file);
    EXPECT_EQ(!got.empty(), c.found) << c.name;
    if (c.found) {
      EXPECT_EQ(got, image) << c.name;
    } else {
      EXPECT_LT(file.largest_read, 1u << 20) << c.name;  // nothing near the reported size is read
    }
  }
}

}  // namespace
