// Shift-JIS strings: DString handles, character routines, DStringBuffer and DStringRange.
#pragma once

#include <cstdint>

#include "base/dobject.h"
#include "base/dref.h"

// True for a cp932 lead byte (0x81-0x9F, 0xE0-0xFC): it and the byte after it are one character.
// A fixed table, independent of any locale.
constexpr bool DIsLeadByte(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}
constexpr bool DIsLeadByte(char c) {
  return DIsLeadByte(static_cast<unsigned char>(c));
}

// A handle of char over NUL-terminated cp932 text. A handle without a block may point at static
// text; a null pointer reads as the empty text in every routine here.
class DString : public DRef<char> {
 public:
  DString() = default;
  DString(const DRef<char>& r) : DRef<char>(r) {}
  DString(DRef<char>&& r) : DRef<char>(static_cast<DRef<char>&&>(r)) {}
  // A non-owning handle on `text` (which must outlive the handle).
  DString(const char* text) { Attach(const_cast<char*>(text)); }

  // The text pointer, or "" for a null handle.
  const char* Text() const { return Get() ? Get() : ""; }
  // Bytes before the NUL (0 for a null handle).
  uint32_t Length() const;

  // Equality tests (0 equal, 1 different), not orderings.
  // First n bytes equal, or both end together before n.
  static int CompareN(const DString& a, const DString& b, uint32_t n);
  // Same length and same bytes.
  static int Compare(const DString& a, const DString& b);
  // As CompareN, ignoring ASCII letter case; double-byte characters must match exactly.
  static int CompareNoCaseN(const DString& a, const DString& b, uint32_t n);
  // Same length and CompareNoCaseN over it.
  static int CompareNoCase(const DString& a, const DString& b);
  // Copies at most size - 1 bytes of the text and a NUL into `target`; size 0 writes nothing.
  static void CopyTo(const DString& source, char* target, uint32_t size);
  // Copies n bytes from the source's pointer to the target's pointer (callers size both).
  static void CopyBytes(const DString& target, const DString& source, uint32_t n);
  // Moves n bytes inside one array from index `from` to index `to` (overlap allowed).
  static void MoveBytes(const DString& array, uint32_t to, uint32_t from, uint32_t n);
};

// A byte span of a text: start and length in bytes.
struct MbSpan {
  uint32_t start = 0;
  uint32_t length = 0;
  bool operator==(const MbSpan&) const = default;
};

// Character routines on plain NUL-terminated text (null reads as ""). Positions are byte indexes;
// character counts and indexes count a double-byte character once. A lead byte directly before
// the NUL is one character of one byte; nothing reads past the NUL.
uint32_t MbCharCount(const char* text);
// Bytes of up to `count` characters from character index `start`; (0, 0) when count is 0, the
// text is empty or start is at or past the end.
MbSpan MbSubstring(const char* text, uint32_t start, uint32_t count);
// MbSubstring from character (characters - fromEnd - 1): fromEnd 0 starts at the last character.
MbSpan MbSubstringFromEnd(const char* text, uint32_t fromEnd, uint32_t count);
// The first character of the text that is in `set`: true and its position, else false and the
// text's length. Single-byte characters match single-byte set members, double-byte characters
// double-byte members; a trail byte never matches.
bool MbFindFirstOf(const char* text, const char* set, uint32_t* pos);
// As MbFindFirstOf, for the last such character.
bool MbFindLastOf(const char* text, const char* set, uint32_t* pos);

class DStringRange;

// The growable string: a buffer whose capacity is a multiple of 32 bytes, made on first growth.
// Copies never share a buffer; handles from GetBuffer do, and keep the old text when the string
// moves to a larger buffer. Without buffer the string reads as the empty text.
class DStringBuffer : public DObject {
 public:
  DStringBuffer() = default;
  DStringBuffer(const DString& text) { *this = text; }
  DStringBuffer(const char* text) { *this = DString(text); }
  DStringBuffer(const DStringBuffer& o) { Replace(0, 0, o.buffer_, 0, o.length_); }
  DStringBuffer(const DStringRange& r);
  ~DStringBuffer() override = default;

  DStringBuffer& operator=(const DString& text);
  DStringBuffer& operator=(const char* text) { return *this = DString(text); }
  DStringBuffer& operator=(const DStringRange& r);
  DStringBuffer& operator=(const DStringBuffer& o) {
    Assign(o);
    return *this;
  }
  void Assign(const DStringBuffer& o);

  uint32_t GetLength() const { return length_; }
  uint32_t GetCapacity() const { return capacity_; }
  uint32_t GetCharCount() const;
  // The text; a writable static "" without buffer (write nothing into it then). After Reserve a
  // caller may write up to capacity - 1 bytes here and then call UpdateLength.
  char* GetText() const;
  // A handle sharing the buffer (or a non-owning handle on "" without buffer).
  DString GetBuffer() const;
  // Length = bytes before the first NUL of the buffer.
  void UpdateLength();
  static uint32_t AlignCapacity(uint32_t n) { return (n + 31) & ~31u; }
  // Grows the buffer to AlignCapacity(n) bytes keeping the text; never shrinks.
  void Reserve(uint32_t n);
  // Releases the buffer.
  void Clear();
  // Replaces `count` bytes at `pos` with `n` bytes from source + offset (callers keep pos + count
  // within the text). A null source or n = 0 removes the bytes.
  void Replace(uint32_t pos, uint32_t count, const DString& source, uint32_t offset, uint32_t n);
  // Appends the text (nothing for a null pointer).
  void Append(const DString& text);
  DStringBuffer& operator+=(const DString& text) {
    Append(text);
    return *this;
  }
  DStringBuffer& operator+=(const char* text) { return *this += DString(text); }
  DStringBuffer& operator+=(const DStringBuffer& o);

  bool operator==(const DString& text) const;
  bool operator==(const char* text) const { return *this == DString(text); }
  bool operator==(const DStringBuffer& o) const;
  bool operator!=(const DString& text) const { return !(*this == text); }
  bool operator!=(const char* text) const { return !(*this == text); }
  bool operator!=(const DStringBuffer& o) const { return !(*this == o); }

  // Character-indexed ranges (see MbSubstring); (this, 0, 0) without buffer or for count 0.
  DStringRange Mid(uint32_t start, uint32_t count);
  DStringRange CharAt(uint32_t i);
  DStringRange MidFromEnd(uint32_t fromEnd, uint32_t count);

  // Removes the text up to and including the first character in `set`; nothing when none.
  DStringBuffer& DropThroughFirstOf(const DString& set);
  DStringBuffer& DropThroughFirstOf(const char* set) { return DropThroughFirstOf(DString(set)); }
  DStringBuffer& DropThroughFirstOf(const DStringBuffer& set) { return DropThroughFirstOf(set.GetBuffer()); }
  // Cuts the text at the first character in `set`.
  DStringBuffer& TruncateAtFirstOf(const DString& set);
  DStringBuffer& TruncateAtFirstOf(const char* set) { return TruncateAtFirstOf(DString(set)); }
  // Returns the text before the first character in `set` and keeps the text after it; without
  // such a character returns the whole text and keeps "".
  DStringBuffer SplitFront(const DString& set);
  DStringBuffer SplitFront(const char* set) { return SplitFront(DString(set)); }
  DStringBuffer SplitFront(const DStringBuffer& set) { return SplitFront(set.GetBuffer()); }
  // Returns the text after the first character in `set` and keeps the text before it; without
  // such a character returns the whole text and keeps "".
  DStringBuffer SplitBack(const DString& set);
  DStringBuffer SplitBack(const char* set) { return SplitBack(DString(set)); }
  DStringBuffer SplitBack(const DStringBuffer& set) { return SplitBack(set.GetBuffer()); }

  // left bytes [loff, loff + lcount) followed by right bytes [roff, roff + rcount).
  static DStringBuffer Concat(const DString& left, uint32_t loff, uint32_t lcount, const DString& right,
                              uint32_t roff, uint32_t rcount);

 private:
  // Removes n bytes at pos (the text behind moves up).
  void RemoveBytes(uint32_t pos, uint32_t n);

  DString buffer_;         // the character array; empty until the first growth
  uint32_t capacity_ = 0;  // bytes in the array, a multiple of 32
  uint32_t length_ = 0;    // bytes before the NUL
};

// A view of bytes [start, start + length) of a DStringBuffer, valid while the owner lives and
// those bytes stay put; it does not follow later changes of the owner.
class DStringRange : public DObject {
 public:
  DStringRange(DStringBuffer* owner, uint32_t start, uint32_t length)
      : owner_(owner), start_(start), length_(length) {}
  DStringRange(const DStringRange&) = default;
  ~DStringRange() override = default;

  DStringBuffer* GetOwner() const { return owner_; }
  uint32_t GetStart() const { return start_; }
  uint32_t GetLength() const { return length_; }
  // The owner's array (a reference added).
  DString GetBuffer() const { return owner_->GetBuffer(); }

  // Replaces the range's bytes in the owner by n bytes from source + offset; length becomes n.
  void Assign(const DString& source, uint32_t offset, uint32_t n);
  DStringRange& operator=(const DString& text);
  DStringRange& operator=(const char* text) { return *this = DString(text); }
  DStringRange& operator=(const DStringRange& r);
  DStringRange& operator=(const DStringBuffer& s);

  // Against a range: the shorter length's bytes equal (an empty range equals every range).
  bool operator==(const DStringRange& r) const;
  // Against a text: an empty range equals only ""; otherwise the text begins with the range.
  bool operator==(const DString& text) const;
  bool operator==(const char* text) const { return *this == DString(text); }
  bool operator==(const DStringBuffer& s) const;
  bool operator!=(const DStringRange& r) const { return !(*this == r); }
  bool operator!=(const DString& text) const { return !(*this == text); }
  bool operator!=(const char* text) const { return !(*this == text); }
  bool operator!=(const DStringBuffer& s) const { return !(*this == s); }

 private:
  DStringBuffer* owner_;  // the string viewed; not owned
  uint32_t start_;        // byte offset in the owner's text
  uint32_t length_;       // byte length
};

// Concatenations of every pairing of string, range and text except text + text.
DStringBuffer operator+(const DStringBuffer& a, const DStringBuffer& b);
DStringBuffer operator+(const DStringBuffer& a, const DStringRange& b);
DStringBuffer operator+(const DStringBuffer& a, const DString& b);
DStringBuffer operator+(const DStringBuffer& a, const char* b);
DStringBuffer operator+(const DStringRange& a, const DStringBuffer& b);
DStringBuffer operator+(const DStringRange& a, const DStringRange& b);
DStringBuffer operator+(const DStringRange& a, const DString& b);
DStringBuffer operator+(const DStringRange& a, const char* b);
DStringBuffer operator+(const DString& a, const DStringBuffer& b);
DStringBuffer operator+(const char* a, const DStringBuffer& b);
DStringBuffer operator+(const DString& a, const DStringRange& b);
DStringBuffer operator+(const char* a, const DStringRange& b);
