// Script values: setters, copies, records, conversions, the float text form and the string operations.
#include "vm/script_value.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "base/dblockpool.h"
#include "base/dstring.h"
#include "vm/script_context.h"
#include "vm/vm_services.h"

namespace {

DGlobalBlockPool g_handle_pool(2048, sizeof(ScriptObjectHandle));

char g_static_text[256];  // the one buffer of ToStaticString

ScriptObjectHandle* NewHandle(ScriptReleaseFn release, const DRef<void>& ref) {
  void* p = DBlockPool::AllocFrom(g_handle_pool.Get(), sizeof(ScriptObjectHandle));
  return new (p) ScriptObjectHandle{release, ref};
}

void DeleteHandle(ScriptObjectHandle* h) {
  h->~ScriptObjectHandle();
  DBlockPool::FreeBlock(h);
}

bool IsBlank(unsigned char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// Length in bytes of the character at p (2 for a lead byte followed by a byte, else 1).
size_t CharLength(const char* p) {
  return (DIsLeadByte(*p) && p[1] != '\0') ? 2 : 1;
}

const char* NumberText(const ScriptValue& v, char* buf) {
  if (v.type() == kScriptInt) {
    std::snprintf(buf, 256, "%d", v.int_value());
    return buf;
  }
  return FormatScriptFloat(v.float_value(), buf, 256);
}

}  // namespace

// ---- Values.

// Running out of heap is the program-wide allocation failure (the bad-allocation exception), never a
// null text that a later copy would write through.
char* ScriptValue::AllocText(size_t n) {
  if (n == SIZE_MAX) throw std::bad_alloc();
  void* text = std::malloc(n + 1);
  if (!text) throw std::bad_alloc();
  return static_cast<char*>(text);
}

void ScriptValue::FreeText(char* text) {
  std::free(text);
}

void ScriptValue::Release() {
  if (type_ == kScriptString) {
    FreeText(u_.s);
  } else if (IsObjectLike() && u_.h) {
    ScriptObjectHandle* h = u_.h;
    u_.h = nullptr;
    if (h->release) {
      h->release(h->ref);
    }
    DeleteHandle(h);
  }
  u_.h = nullptr;
}

void ScriptValue::SetFloat(float v) {
  Release();
  type_ = kScriptFloat;
  u_.h = nullptr;
  u_.f = v;
}

void ScriptValue::SetString(const char* text) {
  SetString(text ? text : "", text ? std::strlen(text) : 0);
}

void ScriptValue::SetString(const char* text, size_t length) {
  char* copy = AllocText(length);
  if (length) std::memcpy(copy, text, length);
  copy[length] = '\0';
  AdoptText(copy);
}

void ScriptValue::AdoptText(char* text) {
  Release();
  type_ = kScriptString;
  u_.s = text;
}

void ScriptValue::SetObject(const DRef<void>& ref, uint32_t type, ScriptReleaseFn release) {
  DRef<void> copy(ref);  // the count rises before the old content goes
  ScriptObjectHandle* h = NewHandle(release, DRef<void>());
  h->ref.Adopt(copy);
  Release();
  type_ = type;
  u_.h = h;
}

void ScriptValue::AddRef() {
  if (IsObjectLike() && u_.h && u_.h->ref.GetBlock()) {
    dref_detail::AddRef(u_.h->ref.GetBlock());
  }
}

ScriptValue* ScriptValue::Assign(const ScriptValue& source, ScriptValue* dest) {
  if (&source == dest) return dest;
  switch (source.type_) {
    case kScriptInt:
      dest->SetInt(source.u_.i);
      break;
    case kScriptFloat:
      dest->SetFloat(source.u_.f);
      break;
    case kScriptString:
      dest->SetString(source.u_.s);
      break;
    default:
      if (source.u_.h) {
        dest->SetObject(source.u_.h->ref, source.type_, source.u_.h->release);
      } else {
        dest->SetInt(0);
      }
      break;
  }
  return dest;
}

int32_t ScriptValue::ToInt() const {
  switch (type_) {
    case kScriptInt:
      return u_.i;
    case kScriptFloat:
      return FloatToInt(u_.f);
    case kScriptString:
      return TextToInt(u_.s);
    default:
      return 0;
  }
}

float ScriptValue::ToFloat() const {
  switch (type_) {
    case kScriptInt:
      return static_cast<float>(u_.i);
    case kScriptFloat:
      return u_.f;
    case kScriptString:
      return StringToFloat(u_.s);
    default:
      return 0.0f;
  }
}

const char* ScriptValue::ToString(ScriptContext* ctx) const {
  switch (type_) {
    case kScriptInt:
    case kScriptFloat:
      return NumberText(*this, ctx ? ctx->text_buffer() : g_static_text);
    case kScriptString:
      return u_.s;
    default:
      return "(error)";
  }
}

const char* ScriptValue::ToStaticString() const {
  return ToString(nullptr);
}

ScriptValue* ScriptValue::GetMember(const char* name) {
  if (type_ != kScriptRecord || !u_.h) {
    DRef<ScriptRecord> record;
    record.Alloc(1);
    SetObject(DRef<void>::Convert(record), kScriptRecord, &ScriptRecord::ReleaseHandle);
  }
  return static_cast<ScriptRecord*>(u_.h->ref.Get())->FindOrAdd(name);
}

DRef<void> ScriptValue::RecordRef() const {
  if (type_ != kScriptRecord || !u_.h) return DRef<void>();
  return u_.h->ref;
}

bool ScriptValue::SameObject(const ScriptValue& a, const ScriptValue& b) {
  if (a.type_ != b.type_ || !a.IsObjectLike() || !a.u_.h || !b.u_.h) return false;
  return a.u_.h->ref.Get() == b.u_.h->ref.Get();
}

// ---- String operations. Each builds its new text before it releases anything, so the operands
// may be the destination or point into it.

void ScriptValue::SetConcat(const ScriptValue& a, const char* t, ScriptValue* dest) {
  const char* at = a.type_ == kScriptString ? a.u_.s : "";
  size_t na = std::strlen(at), nt = std::strlen(t);
  char* text = AllocText(na + nt);
  std::memcpy(text, at, na);
  std::memcpy(text + na, t, nt);
  text[na + nt] = '\0';
  dest->AdoptText(text);
}

void ScriptValue::SplitFirst(ScriptValue* dest, ScriptValue* a, const char* set) {
  // a may be a member of the record that dest holds: keep that record until a is written.
  DRef<void> keep = dest->IsObjectLike() && dest->u_.h ? dest->u_.h->ref : DRef<void>();
  std::string whole = a->type_ == kScriptString ? a->u_.s : "";
  std::string s = set;
  ptrdiff_t p = ScriptFindFirstOf(whole.c_str(), s.c_str());
  if (p < 0) {
    dest->SetString(whole.c_str(), whole.size());
    a->SetString("");
    return;
  }
  size_t after = static_cast<size_t>(p) + CharLength(whole.c_str() + p);
  dest->SetString(whole.c_str(), static_cast<size_t>(p));
  if (a != dest) a->SetString(whole.c_str() + after, whole.size() - after);
}

void ScriptValue::SplitLast(ScriptValue* dest, ScriptValue* a, const char* set) {
  // a may be a member of the record that dest holds: keep that record until a is written.
  DRef<void> keep = dest->IsObjectLike() && dest->u_.h ? dest->u_.h->ref : DRef<void>();
  std::string whole = a->type_ == kScriptString ? a->u_.s : "";
  std::string s = set;
  ptrdiff_t p = ScriptFindLastOf(whole.c_str(), s.c_str());
  if (p < 0) {
    dest->SetString(whole.c_str(), whole.size());
    a->SetString("");
    return;
  }
  size_t after = static_cast<size_t>(p) + CharLength(whole.c_str() + p);
  dest->SetString(whole.c_str() + after, whole.size() - after);
  if (a != dest) a->SetString(whole.c_str(), static_cast<size_t>(p));
}

void ScriptValue::DropFirst(const char* set) {
  if (type_ != kScriptString) return;
  std::string s = set;
  ptrdiff_t p = ScriptFindFirstOf(u_.s, s.c_str());
  if (p < 0) return;
  size_t after = static_cast<size_t>(p) + CharLength(u_.s + p);
  std::memmove(u_.s, u_.s + after, std::strlen(u_.s + after) + 1);
}

void ScriptValue::CutAtFirst(const char* set) {
  if (type_ != kScriptString) return;
  std::string s = set;
  ptrdiff_t p = ScriptFindFirstOf(u_.s, s.c_str());
  if (p >= 0) u_.s[p] = '\0';
}

ptrdiff_t ScriptFindFirstOf(const char* text, const char* set) {
  uint32_t p;
  return MbFindFirstOf(text, set, &p) ? static_cast<ptrdiff_t>(p) : -1;
}

ptrdiff_t ScriptFindLastOf(const char* text, const char* set) {
  uint32_t p;
  return MbFindLastOf(text, set, &p) ? static_cast<ptrdiff_t>(p) : -1;
}

// ---- Records.

ScriptValue* ScriptRecord::Find(const char* name, size_t length) {
  for (auto& m : members_) {
    if (m->length == length && std::memcmp(m->name.get(), name, length) == 0) return &m->value;
  }
  return nullptr;
}

ScriptValue* ScriptRecord::FindOrAdd(const char* name) {
  size_t length = std::strlen(name);
  if (ScriptValue* v = Find(name, length)) return v;
  auto m = std::make_unique<ScriptRecordMember>();
  m->name = std::make_unique<char[]>(length + 1);
  std::memcpy(m->name.get(), name, length + 1);
  m->length = length;
  members_.push_back(std::move(m));
  return &members_.back()->value;
}

void ScriptRecord::ReleaseHandle(DRef<void>& ref) {
  // A record destroyed while another is being destroyed queues its last reference instead of
  // recursing, so a long chain of nested records unwinds in a loop.
  thread_local bool releasing = false;
  thread_local std::vector<DRef<void>> pending;
  if (releasing) {
    pending.push_back(std::move(ref));
    return;
  }
  releasing = true;
  ref.Release();
  while (!pending.empty()) {
    DRef<void> next = std::move(pending.back());
    pending.pop_back();
    next.Release();
  }
  releasing = false;
}

// ---- Conversions.

int32_t FloatToInt(float f) {
  if (!(f >= -2147483648.0f && f < 2147483648.0f)) return INT32_MIN;
  return static_cast<int32_t>(f);
}

int32_t TextToInt(const char* text) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text ? text : "");
  while (IsBlank(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  uint32_t n = 0;
  while (*p >= '0' && *p <= '9') n = n * 10u + static_cast<uint32_t>(*p++ - '0');
  return static_cast<int32_t>(negative ? 0u - n : n);
}

float StringToFloat(const char* text) {
  char buf[33];
  std::strncpy(buf, text ? text : "", 32);
  buf[32] = '\0';
  // Collect the numeral in strtod's own form (exponent letter 'e'), then convert it.
  char numeral[40];
  size_t n = 0;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(buf);
  while (IsBlank(*p)) ++p;
  if (*p == '+' || *p == '-') numeral[n++] = static_cast<char>(*p++);
  size_t digits = 0;
  while (*p >= '0' && *p <= '9') numeral[n++] = static_cast<char>(*p++), ++digits;
  if (*p == '.') {
    numeral[n++] = static_cast<char>(*p++);
    while (*p >= '0' && *p <= '9') numeral[n++] = static_cast<char>(*p++), ++digits;
  }
  if (digits == 0) return 0.0f;
  if (*p == 'e' || *p == 'E' || *p == 'd' || *p == 'D') {
    const unsigned char* q = p + 1;
    size_t mark = n;
    numeral[n++] = 'e';
    if (*q == '+' || *q == '-') numeral[n++] = static_cast<char>(*q++);
    if (*q >= '0' && *q <= '9') {
      while (*q >= '0' && *q <= '9') numeral[n++] = static_cast<char>(*q++);
    } else {
      n = mark;  // a letter without digits is not part of the numeral
    }
  }
  numeral[n] = '\0';
  return static_cast<float>(std::strtod(numeral, nullptr));
}

char* FormatScriptFloat(float x, char* buf, size_t size) {
  if (size == 0) return buf;
  if (std::isnan(x)) {
    std::snprintf(buf, size, "nan");
    return buf;
  }
  if (std::isinf(x)) {
    std::snprintf(buf, size, x < 0 ? "-inf" : "inf");
    return buf;
  }
  double d = x;
  char e_form[48];
  std::snprintf(e_form, sizeof e_form, "%.6e", d);
  const char* epos = std::strchr(e_form, 'e');
  int e = std::atoi(epos + 1);
  if (d == 0.0) e = -1;
  char out[64];
  if (e >= -1 && e <= 6) {
    std::snprintf(out, sizeof out, "%.*f", 6 - e, d);
    if (std::strchr(out, '.')) {
      size_t len = std::strlen(out);
      while (out[len - 1] == '0') out[--len] = '\0';
    }
  } else {
    // Mantissa digits as %e rounded them; trailing zeros of the fraction dropped, point kept.
    std::string mantissa(e_form, static_cast<size_t>(epos - e_form));
    while (mantissa.back() == '0') mantissa.pop_back();
    std::snprintf(out, sizeof out, "%se%c%03d", mantissa.c_str(), e < 0 ? '-' : '+', e < 0 ? -e : e);
  }
  std::snprintf(buf, size, "%s", out);
  return buf;
}

float FloatMod(float a, float b) {
  if (b == 0.0f) return 0.0f;
  float q = std::trunc(a / b);
  return a - b * q;
}

float TableTan(float x) {
  // NaN and infinite angles have no index: they read entry 0.
  int64_t i = 0;
  if (std::isfinite(x)) {
    double scaled = std::trunc(static_cast<double>(x) * 651.8986469044033);
    if (scaled > -9.2e18 && scaled < 9.2e18) i = static_cast<int64_t>(scaled);
  }
  i &= 4095;
  const float* table = VmSinTable();
  float c = table[i + 1024];
  if (std::fabs(c) < 0.000001f) return 0.0f;
  return table[i] / c;
}

char* CopyStringBounded(char* dest, const char* source, size_t size) {
  if (size == 0) return dest;
  size_t i = 0;
  for (; i < size && source[i]; ++i) dest[i] = source[i];
  if (i < size) {
    dest[i] = '\0';
  } else {
    dest[size - 1] = '\0';
  }
  return dest;
}
