// Shift-JIS strings: compares, character walking, and the growable string with its ranges.
#include "base/dstring.h"

#include <cstring>
#include <vector>

namespace {

// The text every string without buffer reads as. Writable so GetText can hand it out; nothing
// may be written into it but its NUL.
char g_empty_text[1] = {0};

const unsigned char* Bytes(const char* s) {
  return reinterpret_cast<const unsigned char*>(s ? s : "");
}

// Byte length of the character at s (s[0] not NUL): 2 for a lead byte with a trail, else 1.
uint32_t CharLen(const unsigned char* s) {
  return (DIsLeadByte(s[0]) && s[1] != 0) ? 2 : 1;
}

// Whether the character at t (length k) is a member of the set, matched as whole characters.
bool InSet(const unsigned char* t, uint32_t k, const unsigned char* set) {
  for (uint32_t j = 0; set[j] != 0;) {
    const uint32_t m = CharLen(set + j);
    if (m == k && set[j] == t[0] && (k == 1 || set[j + 1] == t[1])) return true;
    j += m;
  }
  return false;
}

// A byte span of an array: the handle, the offset of its first byte and the byte count.
struct Span {
  DString array;
  uint32_t offset;
  uint32_t count;
};

// The bytes a range names, kept inside its owner's array: a range taken before the owner was
// cleared or moved to another array never reads outside the array it now has.
Span Of(const DStringRange& r) {
  const DStringBuffer* owner = r.GetOwner();
  const uint32_t cap = owner->GetCapacity();
  const uint32_t start = r.GetStart();
  if (start >= cap) return {owner->GetBuffer(), 0, 0};
  return {owner->GetBuffer(), start, r.GetLength() < cap - start ? r.GetLength() : cap - start};
}

}  // namespace

// ---- DString routines.

uint32_t DString::Length() const {
  return Get() ? static_cast<uint32_t>(std::strlen(Get())) : 0;
}

int DString::CompareN(const DString& a, const DString& b, uint32_t n) {
  const unsigned char* x = Bytes(a.Get());
  const unsigned char* y = Bytes(b.Get());
  for (uint32_t i = 0; i < n; ++i) {
    if (x[i] == 0) return y[i] == 0 ? 0 : 1;
    if (y[i] == 0 || x[i] != y[i]) return 1;
  }
  return 0;
}

int DString::Compare(const DString& a, const DString& b) {
  const uint32_t n = a.Length();
  if (n != b.Length()) return 1;
  return CompareN(a, b, n);
}

int DString::CompareNoCaseN(const DString& a, const DString& b, uint32_t n) {
  const unsigned char* x = Bytes(a.Get());
  const unsigned char* y = Bytes(b.Get());
  for (uint32_t i = 0; i < n;) {
    if (x[i] == 0) return y[i] == 0 ? 0 : 1;
    if (y[i] == 0) return 1;
    if (DIsLeadByte(x[i])) {
      // The trail bytes are compared exactly; a NUL trail ends both texts together or differs.
      if (!DIsLeadByte(y[i]) || x[i] != y[i] || x[i + 1] != y[i + 1]) return 1;
      if (x[i + 1] == 0) return 0;
      i += 2;
      continue;
    }
    if (DIsLeadByte(y[i])) return 1;
    if (x[i] != y[i]) {
      const unsigned char c = x[i];
      const bool folded =
          (c >= 0x41 && c <= 0x5A && y[i] == c + 0x20) || (c >= 0x61 && c <= 0x7A && y[i] == c - 0x20);
      if (!folded) return 1;
    }
    ++i;
  }
  return 0;
}

int DString::CompareNoCase(const DString& a, const DString& b) {
  const uint32_t n = a.Length();
  if (n != b.Length()) return 1;
  return CompareNoCaseN(a, b, n);
}

void DString::CopyTo(const DString& source, char* target, uint32_t size) {
  if (size == 0) return;
  const char* s = source.Text();
  uint32_t i = 0;
  while (i < size - 1 && s[i] != 0) {
    target[i] = s[i];
    ++i;
  }
  target[i] = 0;
}

void DString::CopyBytes(const DString& target, const DString& source, uint32_t n) {
  if (n != 0) std::memcpy(target.Get(), source.Get(), n);
}

void DString::MoveBytes(const DString& array, uint32_t to, uint32_t from, uint32_t n) {
  if (n != 0) std::memmove(array.Get() + to, array.Get() + from, n);
}

// ---- Character routines.

uint32_t MbCharCount(const char* text) {
  const unsigned char* s = Bytes(text);
  uint32_t n = 0;
  for (uint32_t i = 0; s[i] != 0; i += CharLen(s + i)) ++n;
  return n;
}

MbSpan MbSubstring(const char* text, uint32_t start, uint32_t count) {
  const unsigned char* s = Bytes(text);
  if (count == 0) return {};
  uint32_t i = 0;
  for (uint32_t c = 0; c < start; ++c) {
    if (s[i] == 0) return {};
    i += CharLen(s + i);
  }
  if (s[i] == 0) return {};
  uint32_t j = i;
  for (uint32_t c = 0; c < count && s[j] != 0; ++c) j += CharLen(s + j);
  return {i, j - i};
}

MbSpan MbSubstringFromEnd(const char* text, uint32_t fromEnd, uint32_t count) {
  if (!text) return {};
  const uint32_t chars = MbCharCount(text);
  if (chars <= fromEnd) return {};
  return MbSubstring(text, chars - fromEnd - 1, count);
}

bool MbFindFirstOf(const char* text, const char* set, uint32_t* pos) {
  const unsigned char* s = Bytes(text);
  const unsigned char* m = Bytes(set);
  uint32_t i = 0;
  while (s[i] != 0) {
    const uint32_t k = CharLen(s + i);
    if (InSet(s + i, k, m)) {
      *pos = i;
      return true;
    }
    i += k;
  }
  *pos = i;
  return false;
}

bool MbFindLastOf(const char* text, const char* set, uint32_t* pos) {
  // Walks by characters, so a trail byte is never taken for a single-byte member of the set.
  const unsigned char* s = Bytes(text);
  const unsigned char* m = Bytes(set);
  bool found = false;
  uint32_t last = 0;
  uint32_t i = 0;
  while (s[i] != 0) {
    const uint32_t k = CharLen(s + i);
    if (InSet(s + i, k, m)) {
      found = true;
      last = i;
    }
    i += k;
  }
  *pos = found ? last : i;
  return found;
}

// ---- DStringBuffer.

DStringBuffer::DStringBuffer(const DStringRange& r) {
  *this = r;
}

DStringBuffer& DStringBuffer::operator=(const DString& text) {
  const DString keep = text;  // the text may be this string's own buffer
  Replace(0, length_, keep, 0, keep.Length());
  return *this;
}

DStringBuffer& DStringBuffer::operator=(const DStringRange& r) {
  const Span src = Of(r);
  Replace(0, length_, src.array, src.offset, src.count);
  return *this;
}

void DStringBuffer::Assign(const DStringBuffer& o) {
  if (this == &o) return;
  Replace(0, length_, o.buffer_, 0, o.length_);
}

uint32_t DStringBuffer::GetCharCount() const {
  return buffer_ ? MbCharCount(buffer_.Get()) : 0;
}

char* DStringBuffer::GetText() const {
  return buffer_ ? buffer_.Get() : g_empty_text;
}

DString DStringBuffer::GetBuffer() const {
  if (buffer_) return buffer_;
  return DString(g_empty_text);
}

void DStringBuffer::UpdateLength() {
  if (!buffer_) return;
  // Bounded by the capacity: a caller that filled the whole buffer gets it cut at capacity - 1.
  const void* nul = std::memchr(buffer_.Get(), 0, capacity_);
  if (nul) {
    length_ = static_cast<uint32_t>(static_cast<const char*>(nul) - buffer_.Get());
  } else {
    length_ = capacity_ - 1;
    buffer_[length_] = 0;
  }
}

void DStringBuffer::Reserve(uint32_t n) {
  if (n > UINT32_MAX - 31) throw DBadAlloc();
  const uint32_t c = AlignCapacity(n);
  if (c <= capacity_) return;
  DString grown;
  grown.Alloc(c);
  if (length_ != 0) std::memcpy(grown.Get(), buffer_.Get(), length_);
  grown[length_] = 0;
  buffer_ = static_cast<DString&&>(grown);
  capacity_ = c;
}

void DStringBuffer::Clear() {
  buffer_.Release();
  capacity_ = 0;
  length_ = 0;
}

void DStringBuffer::RemoveBytes(uint32_t pos, uint32_t n) {
  if (!buffer_) return;
  // A stale position (the text has shrunk since it was taken) is kept inside the text.
  if (pos > length_) pos = length_;
  if (n > length_ - pos) n = length_ - pos;
  if (n == 0) return;
  DString::MoveBytes(buffer_, pos, pos + n, length_ - pos - n);
  length_ -= n;
  buffer_[length_] = 0;
}

void DStringBuffer::Replace(uint32_t pos, uint32_t count, const DString& source, uint32_t offset,
                            uint32_t n) {
  if (!source.Get() || n == 0) {
    RemoveBytes(pos, count);
    return;
  }
  // A stale position or count (the text has shrunk since they were taken) is kept inside the
  // text, so the tail move never runs outside the array.
  if (pos > length_) pos = length_;
  if (count > length_ - pos) count = length_ - pos;
  // Copy the source bytes first when they lie in this string's own array: moving the tail or
  // growing would otherwise change them before they are copied.
  const char* src = source.Get() + offset;
  std::vector<char> own;
  if (buffer_ && src < buffer_.Get() + capacity_ && src + n > buffer_.Get()) {
    own.assign(src, src + n);
    src = own.data();
  }
  const DString keep = source;  // holds the source's array while this one is replaced
  if (n > UINT32_MAX - 2 - length_) throw DBadAlloc();
  if (count < n) Reserve(length_ - count + n + 1);
  if (count != n) DString::MoveBytes(buffer_, pos + n, pos + count, length_ - pos - count);
  std::memcpy(buffer_.Get() + pos, src, n);
  length_ = length_ + n - count;
  buffer_[length_] = 0;
}

void DStringBuffer::Append(const DString& text) {
  if (!text.Get()) return;
  const DString keep = text;  // appending a string to itself must survive the growth
  const uint32_t n = keep.Length();
  if (n > UINT32_MAX - 2 - length_) throw DBadAlloc();
  // A text that points into this string's own array without holding it (a plain pointer from
  // GetText) would be freed by the growth: copy its bytes first.
  const char* src = keep.Get();
  std::vector<char> own;
  if (buffer_ && src >= buffer_.Get() && src < buffer_.Get() + capacity_) {
    own.assign(src, src + n);
    src = own.data();
  }
  Reserve(length_ + n + 1);
  std::memmove(buffer_.Get() + length_, src, n);
  length_ += n;
  buffer_[length_] = 0;
}

DStringBuffer& DStringBuffer::operator+=(const DStringBuffer& o) {
  if (o.buffer_) Append(o.buffer_);
  return *this;
}

bool DStringBuffer::operator==(const DString& text) const {
  if (!buffer_) return text.Length() == 0;
  return DString::Compare(buffer_, text) == 0;
}

bool DStringBuffer::operator==(const DStringBuffer& o) const {
  return *this == o.GetBuffer();
}

DStringRange DStringBuffer::Mid(uint32_t start, uint32_t count) {
  if (!buffer_ || count == 0) return DStringRange(this, 0, 0);
  const MbSpan s = MbSubstring(buffer_.Get(), start, count);
  return DStringRange(this, s.start, s.length);
}

DStringRange DStringBuffer::CharAt(uint32_t i) {
  return Mid(i, 1);
}

DStringRange DStringBuffer::MidFromEnd(uint32_t fromEnd, uint32_t count) {
  if (!buffer_ || count == 0) return DStringRange(this, 0, 0);
  const MbSpan s = MbSubstringFromEnd(buffer_.Get(), fromEnd, count);
  return DStringRange(this, s.start, s.length);
}

DStringBuffer& DStringBuffer::DropThroughFirstOf(const DString& set) {
  if (!buffer_ || !set.Get()) return *this;
  uint32_t p = 0;
  if (!MbFindFirstOf(buffer_.Get(), set.Get(), &p)) return *this;
  RemoveBytes(0, p + CharLen(Bytes(buffer_.Get()) + p));
  return *this;
}

DStringBuffer& DStringBuffer::TruncateAtFirstOf(const DString& set) {
  if (!buffer_ || !set.Get()) return *this;
  uint32_t p = 0;
  if (MbFindFirstOf(buffer_.Get(), set.Get(), &p)) {
    buffer_[p] = 0;
    length_ = p;
  }
  return *this;
}

DStringBuffer DStringBuffer::SplitFront(const DString& set) {
  DStringBuffer r;
  if (!buffer_ || !set.Get()) return r;
  uint32_t p = 0;
  if (!MbFindFirstOf(buffer_.Get(), set.Get(), &p)) {
    r.Replace(0, 0, buffer_, 0, length_);
    buffer_[0] = 0;
    length_ = 0;
    return r;
  }
  r.Replace(0, 0, buffer_, 0, p);
  RemoveBytes(0, p + CharLen(Bytes(buffer_.Get()) + p));
  return r;
}

DStringBuffer DStringBuffer::SplitBack(const DString& set) {
  DStringBuffer r;
  if (!buffer_ || !set.Get()) return r;
  uint32_t p = 0;
  if (!MbFindFirstOf(buffer_.Get(), set.Get(), &p)) {
    r.Replace(0, 0, buffer_, 0, length_);
    buffer_[0] = 0;
    length_ = 0;
    return r;
  }
  const uint32_t after = p + CharLen(Bytes(buffer_.Get()) + p);
  r.Replace(0, 0, buffer_, after, length_ - after);
  buffer_[p] = 0;
  length_ = p;
  return r;
}

DStringBuffer DStringBuffer::Concat(const DString& left, uint32_t loff, uint32_t lcount, const DString& right,
                                    uint32_t roff, uint32_t rcount) {
  DStringBuffer t;
  if (lcount > UINT32_MAX - 2 - rcount) throw DBadAlloc();
  const uint32_t total = lcount + rcount;
  if (total == 0) return t;
  t.Reserve(total + 1);
  if (lcount) std::memcpy(t.buffer_.Get(), left.Get() + loff, lcount);
  if (rcount) std::memcpy(t.buffer_.Get() + lcount, right.Get() + roff, rcount);
  t.buffer_[total] = 0;
  t.length_ = total;
  return t;
}

// ---- DStringRange.

void DStringRange::Assign(const DString& source, uint32_t offset, uint32_t n) {
  owner_->Replace(start_, length_, source, offset, n);
  // A null source inserts nothing: the range must not claim bytes that were never written.
  length_ = source.Get() ? n : 0;
}

DStringRange& DStringRange::operator=(const DString& text) {
  Assign(text, 0, text.Length());
  return *this;
}

DStringRange& DStringRange::operator=(const DStringRange& r) {
  if (this == &r) return *this;
  const Span src = Of(r);
  Assign(src.array, src.offset, src.count);
  return *this;
}

DStringRange& DStringRange::operator=(const DStringBuffer& s) {
  if (s.GetLength() == 0 && s.GetCapacity() == 0) return *this;  // a string without buffer: nothing
  Assign(s.GetBuffer(), 0, s.GetLength());
  return *this;
}

bool DStringRange::operator==(const DStringRange& r) const {
  const Span a = Of(*this);
  const Span b = Of(r);
  const uint32_t m = a.count < b.count ? a.count : b.count;
  if (m == 0) return true;
  return DString::CompareN(DString(a.array.Get() + a.offset), DString(b.array.Get() + b.offset), m) == 0;
}

bool DStringRange::operator==(const DString& text) const {
  const Span a = Of(*this);
  if (a.count == 0) return text.Length() == 0;
  return DString::CompareN(DString(a.array.Get() + a.offset), text, a.count) == 0;
}

bool DStringRange::operator==(const DStringBuffer& s) const {
  return *this == DString(s.GetText());
}

// ---- Concatenation.

namespace {
Span Of(const DStringBuffer& s) {
  return {s.GetBuffer(), 0, s.GetLength()};
}
Span Of(const DString& t) {
  return {t, 0, t.Length()};
}
DStringBuffer Join(const Span& a, const Span& b) {
  return DStringBuffer::Concat(a.array, a.offset, a.count, b.array, b.offset, b.count);
}
}  // namespace

DStringBuffer operator+(const DStringBuffer& a, const DStringBuffer& b) {
  return Join(Of(a), Of(b));
}
DStringBuffer operator+(const DStringBuffer& a, const DStringRange& b) {
  return Join(Of(a), Of(b));
}
DStringBuffer operator+(const DStringBuffer& a, const DString& b) {
  return Join(Of(a), Of(b));
}
DStringBuffer operator+(const DStringBuffer& a, const char* b) {
  return Join(Of(a), Of(DString(b)));
}
DStringBuffer operator+(const DStringRange& a, const DStringBuffer& b) {
  return Join(Of(a), Of(b));
}
DStringBuffer operator+(const DStringRange& a, const DStringRange& b) {
  return Join(Of(a), Of(b));
}
DStringBuffer operator+(const DStringRange& a, const DString& b) {
  return Join(Of(a), Of(b));
}
DStringBuffer operator+(const DStringRange& a, const char* b) {
  return Join(Of(a), Of(DString(b)));
}
DStringBuffer operator+(const DString& a, const DStringBuffer& b) {
  return Join(Of(a), Of(b));
}
DStringBuffer operator+(const char* a, const DStringBuffer& b) {
  return Join(Of(DString(a)), Of(b));
}
DStringBuffer operator+(const DString& a, const DStringRange& b) {
  return Join(Of(a), Of(b));
}
DStringBuffer operator+(const char* a, const DStringRange& b) {
  return Join(Of(DString(a)), Of(b));
}
