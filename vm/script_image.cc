// Reading and checking compiled script images, and finding one appended to an executable.
#include "vm/script_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

uint8_t UnscrambleByte(uint8_t s) {
  return static_cast<uint8_t>(((s >> 1) & 0x55) | ((~s << 1) & 0xAA));
}

// A forward reader over the image that refuses every read past its end.
class Cursor {
 public:
  Cursor(std::span<const uint8_t> image, uint64_t pos) : image_(image), pos_(pos) {}
  bool Word(uint32_t* out) {
    if (pos_ > image_.size() || image_.size() - pos_ < 4) return false;
    *out = ReadImageWord(image_.data() + pos_);
    pos_ += 4;
    return true;
  }
  // A NUL-terminated text lying wholly inside the image.
  bool Text(std::string* out) {
    if (pos_ >= image_.size()) return false;
    const auto* start = image_.data() + pos_;
    const void* nul = std::memchr(start, 0, image_.size() - pos_);
    if (nul == nullptr) return false;
    const size_t n = static_cast<const uint8_t*>(nul) - start;
    out->assign(reinterpret_cast<const char*>(start), n);
    pos_ += n + 1;
    return true;
  }
  uint64_t remaining() const { return pos_ > image_.size() ? 0 : image_.size() - pos_; }
  uint64_t pos() const { return pos_; }

 private:
  std::span<const uint8_t> image_;
  uint64_t pos_;
};

}  // namespace

uint8_t* UnscrambleBlock(uint32_t length, uint8_t* data) {
  uint32_t i = 0;
  // Whole words first; a bit pair never crosses a byte, so this equals the byte rule.
  for (; length - i >= 4; i += 4) {
    uint32_t w;
    std::memcpy(&w, data + i, 4);
    w = ((w >> 1) & 0x55555555u) | ((~w << 1) & 0xAAAAAAAAu);
    std::memcpy(data + i, &w, 4);
  }
  for (; i < length; ++i) data[i] = UnscrambleByte(data[i]);
  return data;
}

const char* LoadScriptImageInfo(std::span<const uint8_t> image, ScriptImageInfo* info) {
  ScriptImageInfo& r = *info;
  r = ScriptImageInfo();
  auto fail = [&](const char* why) {
    r = ScriptImageInfo();
    return why;
  };
  if (image.size() < kScriptImageHeaderSize) return fail("image shorter than its header");
  if (ReadImageWord(image.data()) != kScriptImageMagic) return fail("wrong magic");
  if (image.size() > UINT32_MAX) return fail("image larger than 4 GiB");
  const uint8_t* h = image.data();
  const uint64_t size = image.size();

  // Code block first: the other blocks' addresses are checked against its word count.
  const uint32_t code_off = ReadImageWord(h + 20);
  if (code_off > size || (size - code_off) / 4 == 0) return fail("code block outside the image or empty");
  const uint64_t code_words = (size - code_off) / 4;
  r.code.resize(code_words);
  for (uint64_t k = 0; k < code_words; ++k) r.code[k] = ReadImageWord(h + code_off + 4 * k);

  Cursor exp(image, ReadImageWord(h + 4));
  uint32_t n;
  if (!exp.Word(&n)) return fail("export table outside the image");
  if (n > exp.remaining() / 4) return fail("export count larger than its table");
  r.exports.resize(n);
  for (auto& e : r.exports) {
    exp.Word(&e);
    if (e >= code_words) return fail("export entry outside the code");
  }

  Cursor met(image, ReadImageWord(h + 8));
  if (!met.Word(&n)) return fail("method table outside the image");
  if (n > met.remaining() / 5) return fail("method count larger than its table");
  r.methods.resize(n);
  for (auto& m : r.methods) {
    if (!met.Text(&m.name)) return fail("method name without its NUL");
    if (!met.Word(&m.entry)) return fail("method entry outside the image");
    if (m.entry >= code_words) return fail("method entry outside the code");
  }

  Cursor str(image, ReadImageWord(h + 12));
  uint32_t length;
  if (!str.Word(&length)) return fail("string block outside the image");
  if (length > str.remaining()) return fail("string block longer than the image");
  r.data.assign(h + str.pos(), h + str.pos() + length);
  r.data.push_back(0);  // guard: the last text ends inside the buffer even without its own NUL
  r.data_length = length;
  UnscrambleBlock(length, reinterpret_cast<uint8_t*>(r.data.data()));

  Cursor glob(image, ReadImageWord(h + 16));
  if (!glob.Word(&r.globals) || !glob.Word(&r.return_address))
    return fail("globals record outside the image");
  if (r.globals > kScriptImageMaxGlobals) return fail("global count too large");
  if (r.return_address >= code_words) return fail("return address outside the code");

  Cursor src(image, ReadImageWord(h + 24));
  if (!src.Word(&n)) return fail("source table outside the image");
  if (n > src.remaining()) return fail("source count larger than its table");
  r.sources.resize(n);
  for (auto& s : r.sources) {
    if (!src.Text(&s)) return fail("source name without its NUL");
  }
  return nullptr;
}

HostImageFile::HostImageFile(const std::string& host_path) {
  fd_ = ::open(host_path.c_str(), O_RDONLY | O_CLOEXEC);
}

HostImageFile::~HostImageFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool HostImageFile::Seek(uint64_t position) {
  if (fd_ < 0 || position > static_cast<uint64_t>(INT64_MAX)) return false;
  return ::lseek(fd_, static_cast<off_t>(position), SEEK_SET) >= 0;
}

bool HostImageFile::Read(void* buffer, size_t n) {
  if (fd_ < 0) return false;
  auto* p = static_cast<uint8_t*>(buffer);
  while (n > 0) {
    const ssize_t got = ::read(fd_, p, n);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    n -= static_cast<size_t>(got);
  }
  return true;
}

bool HostImageFile::Size(uint64_t* size) {
  struct stat st;
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return false;
  *size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool MemoryImageFile::Seek(uint64_t position) {
  if (position > bytes_.size()) return false;
  position_ = position;
  return true;
}

bool MemoryImageFile::Read(void* buffer, size_t n) {
  if (n > bytes_.size() - position_) return false;
  if (n > 0) std::memcpy(buffer, bytes_.data() + position_, n);
  position_ += n;
  return true;
}

namespace {

uint16_t Half(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint64_t Xword(const uint8_t* p) {
  return uint64_t{ReadImageWord(p)} | uint64_t{ReadImageWord(p + 4)} << 32;
}

// E of a PE executable: the end of the section whose raw data lies furthest into the file.
bool PeEnd(ScriptImageFile& file, const uint8_t* dos, uint64_t* end) {
  if (!file.Seek(ReadImageWord(dos + 60))) return false;
  uint8_t sig[4];
  if (!file.Read(sig, 4) || std::memcmp(sig, "PE\0\0", 4) != 0) return false;
  uint8_t fh[20];
  if (!file.Read(fh, sizeof fh)) return false;
  const uint32_t sections = fh[2] | fh[3] << 8;
  const uint32_t optional_size = fh[16] | fh[17] << 8;
  // Skip the optional header by reading it, so a file cut inside it is refused like a short read.
  std::vector<uint8_t> optional(optional_size);
  if (optional_size > 0 && !file.Read(optional.data(), optional_size)) return false;
  if (sections == 0) return false;

  uint32_t best_ptr = 0, best_size = 0;
  for (uint32_t i = 0; i < sections; ++i) {
    uint8_t sh[40];
    if (!file.Read(sh, sizeof sh)) return false;
    const uint32_t raw_size = ReadImageWord(sh + 16);
    const uint32_t raw_ptr = ReadImageWord(sh + 20);
    if (raw_ptr == 0 || raw_size == 0) continue;
    if (raw_ptr > best_ptr || (raw_ptr == best_ptr && raw_size > best_size)) {
      best_ptr = raw_ptr;
      best_size = raw_size;
    }
  }
  if (best_ptr == 0) return false;
  *end = uint64_t{best_ptr} + best_size;  // 64 bits: the sum may pass 4 GiB
  return true;
}

// Adds a + b into *sum, false when it does not fit 64 bits.
bool Add(uint64_t a, uint64_t b, uint64_t* sum) {
  return !__builtin_add_overflow(a, b, sum);
}

// E of an ELF file (32 or 64 bits, little-endian): the furthest end of the section header
// table, the sections that occupy file space and the segments' file images. Every sum is
// checked in 64 bits.
bool ElfEnd(ScriptImageFile& file, const uint8_t* id, uint64_t file_size, uint64_t* end) {
  const bool is64 = id[4] == 2;
  if ((id[4] != 1 && id[4] != 2) || id[5] != 1) return false;  // class, little-endian
  uint8_t h[64];
  const size_t header_size = is64 ? 64 : 52;
  if (!file.Seek(0) || !file.Read(h, header_size)) return false;
  const uint64_t phoff = is64 ? Xword(h + 32) : ReadImageWord(h + 28);
  const uint64_t shoff = is64 ? Xword(h + 40) : ReadImageWord(h + 32);
  const uint16_t phentsize = Half(h + (is64 ? 54 : 42));
  const uint16_t phnum = Half(h + (is64 ? 56 : 44));
  const uint16_t shentsize = Half(h + (is64 ? 58 : 46));
  const uint16_t shnum = Half(h + (is64 ? 60 : 48));
  const uint16_t min_ph = is64 ? 56 : 32;
  const uint16_t min_sh = is64 ? 64 : 40;
  uint64_t e = header_size;
  uint64_t x;
  if (phnum > 0) {
    if (phentsize < min_ph || !Add(phoff, uint64_t{phnum} * phentsize, &x) || x > file_size) return false;
    e = std::max(e, x);
    for (uint32_t i = 0; i < phnum; ++i) {
      uint8_t ph[56];
      if (!file.Seek(phoff + uint64_t{i} * phentsize) || !file.Read(ph, min_ph)) return false;
      const uint64_t offset = is64 ? Xword(ph + 8) : ReadImageWord(ph + 4);
      const uint64_t filesz = is64 ? Xword(ph + 32) : ReadImageWord(ph + 16);
      if (!Add(offset, filesz, &x)) return false;
      e = std::max(e, x);
    }
  }
  if (shnum > 0) {
    if (shentsize < min_sh || !Add(shoff, uint64_t{shnum} * shentsize, &x) || x > file_size) return false;
    e = std::max(e, x);
    for (uint32_t i = 0; i < shnum; ++i) {
      uint8_t sh[64];
      if (!file.Seek(shoff + uint64_t{i} * shentsize) || !file.Read(sh, min_sh)) return false;
      const uint32_t type = ReadImageWord(sh + 4);
      if (type == 8) continue;  // SHT_NOBITS: no file space
      const uint64_t offset = is64 ? Xword(sh + 24) : ReadImageWord(sh + 16);
      const uint64_t size = is64 ? Xword(sh + 32) : ReadImageWord(sh + 20);
      if (!Add(offset, size, &x)) return false;
      e = std::max(e, x);
    }
  }
  *end = e;
  return true;
}

}  // namespace

std::vector<uint8_t> ReadAppendedImage(ScriptImageFile& file) {
  uint8_t dos[64];
  uint64_t file_size;
  if (!file.Size(&file_size) || !file.Seek(0) || !file.Read(dos, sizeof dos)) return {};
  uint64_t e;
  if (dos[0] == 'M' && dos[1] == 'Z') {
    if (!PeEnd(file, dos, &e)) return {};
  } else if (std::memcmp(dos, "\177ELF", 4) == 0) {
    if (!ElfEnd(file, dos, file_size, &e)) return {};
  } else {
    return {};
  }
  if (file_size <= e || file_size - e < 8) return {};
  uint8_t head[8];
  if (!file.Seek(e) || !file.Read(head, sizeof head)) return {};
  const uint32_t length = ReadImageWord(head);
  if (length <= 4 || ReadImageWord(head + 4) != kScriptImageMagic) return {};
  if (uint64_t{length} > file_size - e - 4) return {};  // checked before allocating

  std::vector<uint8_t> image(length);
  std::memcpy(image.data(), head + 4, 4);
  if (!file.Read(image.data() + 4, length - 4)) return {};
  return image;
}

std::vector<uint8_t> ReadScriptImageFile(ScriptImageFile& file) {
  std::vector<uint8_t> image = ReadAppendedImage(file);
  if (!image.empty()) return image;
  uint64_t size;
  uint8_t magic[4];
  if (!file.Seek(0) || !file.Size(&size) || size < 4 || size > UINT32_MAX || !file.Read(magic, 4) ||
      ReadImageWord(magic) != kScriptImageMagic)
    return {};
  image.resize(size);
  std::memcpy(image.data(), magic, 4);
  if (!file.Read(image.data() + 4, image.size() - 4)) return {};
  return image;
}

bool DFileImageFile::Seek(uint64_t position) {
  return position <= INT64_MAX && file_.Seek(DFile::kSeekStart, static_cast<int64_t>(position));
}

bool DFileImageFile::Read(void* buffer, size_t n) {
  auto* p = static_cast<uint8_t*>(buffer);
  while (n > 0) {
    const uint32_t chunk = n > 0x40000000 ? 0x40000000 : static_cast<uint32_t>(n);
    if (file_.Read(p, chunk) != chunk) return false;
    p += chunk;
    n -= chunk;
  }
  return true;
}

bool DFileImageFile::Size(uint64_t* size) {
  const int64_t s = file_.GetSize();
  if (s < 0) return false;
  *size = static_cast<uint64_t>(s);
  return true;
}

std::vector<uint8_t> ReadAppendedImage(DFile& file) {
  DFileImageFile reader(file);
  return ReadAppendedImage(reader);
}
