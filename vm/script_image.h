// Compiled script images: the header and blocks, the string-block transform, the appended form, checks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/dfile.h"
#include "vm/script_context.h"

// Layout (every number a u32 little-endian word, every offset a byte offset from the magic,
// nothing aligned, blocks in any order):
//
//   header   0 magic "Pwex" | 4 exports | 8 methods | 12 strings | 16 globals | 20 code | 24 sources
//   exports  N, then N code addresses (export k is the k-th)
//   methods  M, then M records {name bytes, NUL, entry address}
//   strings  L, then L transformed data bytes (data offsets count from the first of them)
//   globals  G (number of global slots), R (address the first-started method returns to)
//   code     code words up to the end of the image (addresses count words from here)
//   sources  S, then S NUL-terminated source-file names
//
// Appended form: behind a PE executable at E = PointerToRawData + SizeOfRawData of its last section,
// or behind an ELF file at E = the furthest end of its header tables, sections and segments:
// a u32 L (> 4) and then the L image bytes.

inline constexpr uint32_t kScriptImageMagic = 0x78657750;  // "Pwex" read as one little-endian word
inline constexpr size_t kScriptImageHeaderSize = 28;
// Most global slots an image may ask for; a larger count is taken for a damaged image. Half of
// the slot table (kVmMaxSlots), so the globals always leave room for the frames.
inline constexpr uint32_t kScriptImageMaxGlobals = 1u << 19;
static_assert(kScriptImageMaxGlobals <= kVmMaxSlots / 2, "the globals leave room for the frames");

// Reads a little-endian u32 at any byte address.
inline uint32_t ReadImageWord(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// Applies the load transform of the string block in place to `length` bytes at `data` and returns
// `data`: for each bit pair, plain bit 2k is stored bit 2k+1 and plain bit 2k+1 is NOT stored bit 2k.
uint8_t* UnscrambleBlock(uint32_t length, uint8_t* data);

// Checks `image` completely and fills `info` from it: code words, the plain string block with its
// guard NUL, exports, methods, source names, G and R. Returns nullptr on success, else a short
// reason (a static text) with `info` left empty. Beyond the magic it refuses: a header or block
// reaching past the end, counts larger than their blocks, names without their NUL, an empty code
// block, export and method entries and R not below the code word count, G above
// kScriptImageMaxGlobals. The image is only read.
const char* LoadScriptImageInfo(std::span<const uint8_t> image, ScriptImageInfo* info);

// What ReadAppendedImage needs of an open file. Read delivers exactly n bytes or fails.
class ScriptImageFile {
 public:
  virtual ~ScriptImageFile() = default;
  virtual bool Seek(uint64_t position) = 0;
  virtual bool Read(void* buffer, size_t n) = 0;
  virtual bool Size(uint64_t* size) = 0;
};

// An open host file (a path of this machine) for ReadAppendedImage and whole-file reads.
class HostImageFile : public ScriptImageFile {
 public:
  explicit HostImageFile(const std::string& host_path);
  ~HostImageFile() override;
  HostImageFile(const HostImageFile&) = delete;
  HostImageFile& operator=(const HostImageFile&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  bool Seek(uint64_t position) override;
  bool Read(void* buffer, size_t n) override;
  bool Size(uint64_t* size) override;

 private:
  int fd_ = -1;
};

// Bytes in memory read as a file (tests, and images handed over in memory).
class MemoryImageFile : public ScriptImageFile {
 public:
  explicit MemoryImageFile(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  bool Seek(uint64_t position) override;
  bool Read(void* buffer, size_t n) override;
  bool Size(uint64_t* size) override {
    *size = bytes_.size();
    return true;
  }

 private:
  std::span<const uint8_t> bytes_;
  uint64_t position_ = 0;
};

// Finds an image appended to an executable: behind the last section of a PE file, or behind
// everything an ELF file holds (its header tables, sections and segments). Returns the L image
// bytes, magic first, or an empty vector when the file carries none (not an executable, no
// appended data, a short read, L <= 4, L running past the end of the file, a wrong magic, ELF
// tables reaching past the end). Moves the file position.
std::vector<uint8_t> ReadAppendedImage(ScriptImageFile& file);
// The same on an open DFile (the engine's own program file, a script file).
std::vector<uint8_t> ReadAppendedImage(DFile& file);

// The image a script file carries: the one appended to an executable, else the whole file. Empty
// when neither begins with the magic or a read fails. The first word of a whole file is checked
// before the rest is read, so a large file of another kind is never read into memory.
std::vector<uint8_t> ReadScriptImageFile(ScriptImageFile& file);

// An open DFile seen by the image reader.
class DFileImageFile : public ScriptImageFile {
 public:
  explicit DFileImageFile(DFile& file) : file_(file) {}
  bool Seek(uint64_t position) override;
  bool Read(void* buffer, size_t n) override;
  bool Size(uint64_t* size) override;

 private:
  DFile& file_;
};
