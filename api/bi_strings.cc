// Strings, math, conversions, type and date.
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "api/api_common.h"
#include "api/api_frame.h"
#include "imaging/dimg_tables.h"
#include "platform/kernel.h"
#include "shell/engine.h"
#include "vm/dispatch.h"
#include "vm/script_value.h"

int32_t RandomRange(int32_t lower, int32_t upper) {
  if (lower > upper) std::swap(lower, upper);
  const int r = NextRandom();
  const double span = static_cast<double>(upper) - static_cast<double>(lower) + 1.0;
  return static_cast<int32_t>(lower - std::trunc(r * span * (-1.0 / 32768.0)));
}

int32_t RandomBetween(int32_t a, int32_t b) {
  const int32_t lo = a < b ? a : b;
  const int32_t hi = a < b ? b : a;
  // hi - 1 in 64 bits: for hi = INT32_MIN the bound is below every int.
  const int64_t upper = static_cast<int64_t>(hi) - 1;
  if (upper < INT32_MIN) return RandomRange(INT32_MIN, lo);
  return RandomRange(lo, static_cast<int32_t>(upper));
}

namespace {

// Byte offset past `n` characters from `from`, or -1 when the text ends first.
int64_t SkipChars(const char* s, size_t len, int64_t n) {
  size_t i = 0;
  for (int64_t c = 0; c < n; ++c) {
    if (i >= len) return -1;
    i += (DIsLeadByte(s[i]) && i + 1 < len) ? 2 : 1;
  }
  return i <= len ? static_cast<int64_t>(i) : -1;
}

// `count` characters (unsigned) from byte `from`.
void TakeChars(ScriptValue* out, const char* s, size_t len, size_t from, uint32_t count) {
  size_t i = from;
  for (uint32_t c = 0; c < count && i < len; ++c) i += (DIsLeadByte(s[i]) && i + 1 < len) ? 2 : 1;
  out->SetString(s + from, i - from);
}

uint32_t CountChars(const char* s, size_t len) {
  uint32_t n = 0;
  for (size_t i = 0; i < len; ++n) i += (DIsLeadByte(s[i]) && i + 1 < len) ? 2 : 1;
  return n;
}

bool BiStrMid(ScriptContext* ctx) {
  const int32_t start = ctx->GetArg(2)->ToInt();
  const uint32_t count = static_cast<uint32_t>(ctx->GetArg(3)->ToInt());
  const std::string text = ctx->GetArg(1)->ToStaticString();
  if (count == 0 || text.empty() || start < 0) return ctx->result()->SetString(""), false;
  const int64_t at = SkipChars(text.data(), text.size(), start);
  if (at < 0 || static_cast<size_t>(at) >= text.size()) return ctx->result()->SetString(""), false;
  TakeChars(ctx->result(), text.data(), text.size(), static_cast<size_t>(at), count);
  return false;
}

bool BiStrMidRight(ScriptContext* ctx) {
  const uint32_t p = static_cast<uint32_t>(ctx->GetArg(2)->ToInt());
  const uint32_t count = static_cast<uint32_t>(ctx->GetArg(3)->ToInt());
  const std::string text = ctx->GetArg(1)->ToStaticString();
  const uint32_t n = CountChars(text.data(), text.size());
  if (count == 0 || text.empty() || n <= p) return ctx->result()->SetString(""), false;
  const int64_t at = SkipChars(text.data(), text.size(), n - p - 1);
  if (at < 0) return ctx->result()->SetString(""), false;
  TakeChars(ctx->result(), text.data(), text.size(), static_cast<size_t>(at), count);
  return false;
}

bool BiStrCharLength(ScriptContext* ctx) {
  const char* s = ctx->GetArg(1)->ToStaticString();
  ctx->result()->SetInt(static_cast<int32_t>(CountChars(s, std::strlen(s))));
  return false;
}

bool BiStrLength(ScriptContext* ctx) {
  ctx->result()->SetInt(static_cast<int32_t>(std::strlen(ctx->GetArg(1)->ToStaticString())));
  return false;
}

bool BiStrCompareNoCase(ScriptContext* ctx) {
  char own[2][256];
  const char* t[2];
  for (uint32_t k = 1; k <= 2; ++k) {
    const ScriptValue* v = ctx->GetArg(k);
    if (v->type() == kScriptString) {
      t[k - 1] = v->text() ? v->text() : "";
    } else {
      DString::CopyTo(DString(v->ToStaticString()), own[k - 1], 256);
      t[k - 1] = own[k - 1];
    }
  }
  const size_t la = std::strlen(t[0]);
  const bool equal = la == std::strlen(t[1]) &&
                     DString::CompareNoCaseN(DString(t[0]), DString(t[1]), static_cast<uint32_t>(la)) == 0;
  ctx->result()->SetInt(equal ? 1 : 0);
  return false;
}

bool BiConvInt(ScriptContext* ctx) {
  ctx->result()->SetInt(ctx->GetArg(1)->ToInt());
  return false;
}
bool BiConvFloat(ScriptContext* ctx) {
  ctx->result()->SetFloat(ctx->GetArg(1)->ToFloat());
  return false;
}
bool BiConvStr(ScriptContext* ctx) {
  ctx->result()->SetString(ctx->GetArg(1)->ToStaticString());
  return false;
}

bool BiStrHex(ScriptContext* ctx) {
  const ScriptValue* v = ctx->GetArg(1);
  char buf[16];
  switch (v->type()) {
    case kScriptInt:
      std::snprintf(buf, sizeof buf, "%x", static_cast<uint32_t>(v->int_value()));
      ctx->result()->SetString(buf);
      break;
    case kScriptFloat:
      std::snprintf(buf, sizeof buf, "%x", std::bit_cast<uint32_t>(v->float_value()));
      ctx->result()->SetString(buf);
      break;
    case kScriptString: {
      const std::string copy = v->text() ? v->text() : "";  // the slot may be the argument itself
      ctx->result()->SetString(copy.c_str());
      break;
    }
    default:
      ctx->result()->SetString("(error)");
  }
  return false;
}

}  // namespace

// The text of StrPad: a number keeps all its digits, a string is cut to the width, and the fill
// repeats while the text is shorter than the width (a double-byte fill character whole or not at all).
std::string PadText(const ScriptValue& value, const char* fill_text, int32_t width) {
  const size_t w = width < 0 ? 0 : static_cast<size_t>(width);
  std::string out;
  char buf[64];
  switch (value.type()) {
    case kScriptInt:
      std::snprintf(buf, sizeof buf, "%d", value.int_value());
      out = buf;
      break;
    case kScriptFloat: {
      const int n = std::snprintf(nullptr, 0, "%f", static_cast<double>(value.float_value()));
      out.resize(static_cast<size_t>(n) + 1);
      std::snprintf(out.data(), out.size(), "%f", static_cast<double>(value.float_value()));
      out.resize(static_cast<size_t>(n));
      break;
    }
    case kScriptString:
      out.assign(value.text() ? value.text() : "", 0, w);
      break;
    default:
      out = "(error)";
  }
  char fill[256];
  DString::CopyTo(DString(fill_text ? fill_text : ""), fill, sizeof fill);
  const size_t fill_len = std::strlen(fill);
  size_t f = 0;
  while (fill_len > 0 && out.size() < w) {
    if (f >= fill_len) f = 0;
    const size_t n = (DIsLeadByte(fill[f]) && f + 1 < fill_len) ? 2 : 1;
    if (out.size() + n > w) break;
    out.append(fill + f, n);
    f += n;
  }
  return out;
}

namespace {

bool BiStrPad(ScriptContext* ctx) {
  const int32_t width = ctx->GetArg(3)->ToInt();
  TextArg<256> fill(ctx, 2);
  const std::string text = PadText(*ctx->GetArg(1), fill.text, width);
  ctx->result()->SetString(text.c_str(), text.size());
  return false;
}

}  // namespace

// Round to nearest, halves to even; NaN and values outside the int range give INT32_MIN.
int32_t RoundToInt(float f) {
  const float r = std::nearbyint(f);
  if (!(r >= -2147483648.0f && r < 2147483648.0f)) return INT32_MIN;
  return static_cast<int32_t>(r);
}

// The table index of an angle: truncation toward zero, wrapped to 0-4095; 0 for NaN and infinities.
uint32_t AngleIndex(float angle) {
  return DimgAngleStep(static_cast<double>(angle));
}

// Sine-table tangent: 0 where the cosine entry is below 1e-6 in magnitude.
float TableTangent(float angle) {
  const uint32_t i = AngleIndex(angle);
  const float c = DimgSinTable[i + 1024];
  if (std::fabs(c) < 9.99999997e-07f) return 0.0f;
  return DimgSinTable[i] / c;
}

// The script-visible type code, or -1 for files, streams, wipes and character sets.
int32_t ScriptTypeCode(uint32_t type) {
  if (type <= kScriptProfile) return static_cast<int32_t>(type);
  switch (type) {
    case kScriptNet:
      return 10;
    case kScriptTask:
      return 11;
    case kScriptPluginFunction:
      return 12;
    default:
      return -1;
  }
}

namespace {

bool BiRound(ScriptContext* ctx) {
  ctx->result()->SetInt(RoundToInt(ctx->GetArg(1)->ToFloat()));
  return false;
}

bool BiGetType(ScriptContext* ctx) {
  ctx->result()->SetInt(ScriptTypeCode(ctx->GetArg(1)->type()));
  return false;
}

bool BiGetDateTime(ScriptContext* ctx) {
  SYSTEMTIME t{};
  GetLocalTime(&t);
  const struct {
    const char* name;
    int32_t value;
  } members[] = {
      {"year", t.wYear}, {"month", t.wMonth},   {"week", t.wDayOfWeek}, {"day", t.wDay},
      {"hour", t.wHour}, {"minute", t.wMinute}, {"second", t.wSecond},  {"millisecond", t.wMilliseconds}};
  ScriptValue* result = ctx->result();
  for (const auto& m : members) {
    ScriptValue* member = result->GetMember(m.name);
    if (member == nullptr) return false;
    member->SetInt(m.value);
  }
  return false;
}

bool BiRandom(ScriptContext* ctx) {
  const int32_t a = ctx->GetArg(1)->ToInt();
  const int32_t b = ctx->GetArg(2)->ToInt();
  ctx->result()->SetInt(RandomBetween(a, b));
  return false;
}

bool BiSin(ScriptContext* ctx) {
  ctx->result()->SetFloat(DimgSinTable[AngleIndex(ctx->GetArg(1)->ToFloat())]);
  return false;
}
bool BiCos(ScriptContext* ctx) {
  ctx->result()->SetFloat(DimgSinTable[AngleIndex(ctx->GetArg(1)->ToFloat()) + 1024]);
  return false;
}
bool BiTan(ScriptContext* ctx) {
  ctx->result()->SetFloat(TableTangent(ctx->GetArg(1)->ToFloat()));
  return false;
}
bool BiAsin(ScriptContext* ctx) {
  ctx->result()->SetFloat(static_cast<float>(std::asin(static_cast<double>(ctx->GetArg(1)->ToFloat()))));
  return false;
}
bool BiAcos(ScriptContext* ctx) {
  ctx->result()->SetFloat(static_cast<float>(std::acos(static_cast<double>(ctx->GetArg(1)->ToFloat()))));
  return false;
}
bool BiAtan(ScriptContext* ctx) {
  ctx->result()->SetFloat(
      static_cast<float>(std::atan2(static_cast<double>(ctx->GetArg(1)->ToFloat()), 1.0)));
  return false;
}
bool BiAtan2(ScriptContext* ctx) {
  const double y = ctx->GetArg(1)->ToFloat();
  const double x = ctx->GetArg(2)->ToFloat();
  ctx->result()->SetFloat(static_cast<float>(std::atan2(y, x)));
  return false;
}
bool BiSqrt(ScriptContext* ctx) {
  ctx->result()->SetFloat(DimgTableSqrt(ctx->GetArg(1)->ToFloat()));
  return false;
}
bool BiDegToRad(ScriptContext* ctx) {
  ctx->result()->SetFloat(ctx->GetArg(1)->ToFloat() * 0.017453292f);
  return false;
}
bool BiRadToDeg(ScriptContext* ctx) {
  ctx->result()->SetFloat(ctx->GetArg(1)->ToFloat() * 57.29578f);
  return false;
}
void AdjustBy(ScriptContext* ctx, float period) {
  float x = ctx->GetArg(1)->ToFloat();
  if (x < 0.0f)
    x += period;
  else if (x > period)
    x -= period;
  ctx->GetArg(1)->SetFloat(x);
}
bool BiAdjustRadian(ScriptContext* ctx) {
  AdjustBy(ctx, 6.2831855f);
  return false;
}
bool BiAdjustHalfRadian(ScriptContext* ctx) {
  AdjustBy(ctx, 3.1415927f);
  return false;
}

}  // namespace

ORVANE_START_CODE void InstallStringBuiltins() {
  const struct {
    uint32_t n;
    VmHandler h;
  } table[] = {
      {106, Guarded<BiStrMid>},
      {107, Guarded<BiStrMidRight>},
      {108, Guarded<BiStrCharLength>},
      {231, Guarded<BiStrLength>},
      {109, Guarded<BiStrCompareNoCase>},
      {110, Guarded<BiConvInt>},
      {111, Guarded<BiConvFloat>},
      {112, Guarded<BiConvStr>},
      {113, Guarded<BiStrHex>},
      {114, Guarded<BiStrPad>},
      {223, Guarded<BiRound>},
      {194, Guarded<BiGetType>},
      {188, Guarded<BiGetDateTime>},
      {21, Guarded<BiRandom>},
      {61, Guarded<BiSin>},
      {62, Guarded<BiCos>},
      {238, Guarded<BiTan>},
      {239, Guarded<BiAsin>},
      {240, Guarded<BiAcos>},
      {241, Guarded<BiAtan>},
      {242, Guarded<BiAtan2>},
      {180, Guarded<BiSqrt>},
      {164, Guarded<BiDegToRad>},
      {165, Guarded<BiRadToDeg>},
      {163, Guarded<BiAdjustRadian>},
      {63, Guarded<BiAdjustHalfRadian>},
  };
  for (const auto& e : table) SetVmBuiltin(e.n, e.h);
}
