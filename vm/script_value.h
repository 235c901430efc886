// Script values: the type word and payload of every datum a script touches, records, and conversions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/dref.h"

class ScriptContext;

// Value types: 0-3, then the object kinds 4-16. A built-in that needs kind t and gets another value
// raises error code t + 496.
enum ScriptValueType : uint32_t {
  kScriptInt = 0,
  kScriptFloat = 1,
  kScriptString = 2,
  kScriptRecord = 3,
  kScriptImage = 4,
  kScriptInputDevice = 5,
  kScriptTextInfo = 6,
  kScriptSoundData = 7,
  kScriptMovieData = 8,
  kScriptProfile = 9,
  kScriptFile = 10,
  kScriptNet = 11,
  kScriptTask = 12,
  kScriptPluginFunction = 13,
  kScriptStream = 14,
  kScriptWipe = 15,
  kScriptAaCharSet = 16,
};
inline constexpr uint32_t kScriptLastType = 16;
inline constexpr uint32_t kScriptKindErrorBase = 496;

// Release function of an object kind: drops the one reference that a value's handle holds.
using ScriptReleaseFn = void (*)(DRef<void>& ref);

// The payload of a record or object value: one per value, never shared between two values.
struct ScriptObjectHandle {
  ScriptReleaseFn release;  // the kind's release function
  DRef<void> ref;           // one counted reference to the object (none when its block is null)
};

// One datum: a type word and a payload (an int, the bits of a float, or a pointer).
// A value owns what its payload points to: its own heap text, or its own object handle.
// Values are made as int 0; every setter releases the old content first (reading what it needs
// from its source before that, so a value may be assigned from itself or from inside itself).
class ScriptValue {
 public:
  ScriptValue() = default;
  ~ScriptValue() { Release(); }
  ScriptValue(const ScriptValue&) = delete;
  ScriptValue& operator=(const ScriptValue&) = delete;

  uint32_t type() const { return type_; }
  bool IsObjectLike() const { return type_ >= kScriptRecord && type_ <= kScriptLastType; }
  int32_t int_value() const { return u_.i; }           // valid for type int
  float float_value() const { return u_.f; }           // valid for type float
  const char* text() const { return u_.s; }            // valid for type string
  ScriptObjectHandle* handle() const { return u_.h; }  // valid for types 3-16

  // Frees what the value owns; the type word is left as it was and the payload cleared.
  void Release();
  // Release, then int 0.
  void Clear() {
    if (type_ != kScriptInt) Release();
    type_ = kScriptInt;
    u_.h = nullptr;
  }
  // Int 0 for a value known to hold an int: there is nothing to release and the type stays.
  void ClearInt() { u_.h = nullptr; }
  // An int's payload word is zero above the int (every path to an int clears it), so a value that
  // already holds an int takes the new one in a single store.
  void SetInt(int32_t v) {
    if (type_ != kScriptInt) {
      Release();
      type_ = kScriptInt;
      u_.h = nullptr;
    }
    u_.i = v;
  }
  void SetBool(bool v) { SetInt(v ? 1 : 0); }
  void SetFloat(float v);
  // A string holding a new copy of `text` (null counts as the empty text).
  void SetString(const char* text);
  void SetString(const char* text, size_t length);
  // Adds one to the reference's count first, then releases the value and gives it a new handle.
  void SetObject(const DRef<void>& ref, uint32_t type, ScriptReleaseFn release);
  // Takes over `text`, a heap block from AllocText; the value's old content is released first.
  void AdoptText(char* text);
  // For types 3-16 with a control block: one more reference to the object.
  void AddRef();

  // Makes `dest` a copy of `source` (strings duplicated, records and objects shared); gives dest.
  static ScriptValue* Assign(const ScriptValue& source, ScriptValue* dest);

  int32_t ToInt() const;
  float ToFloat() const;
  // Text of the value: numbers are written into the context's text buffer (the shared buffer when
  // `ctx` is null), a string gives its own text, records and objects "(error)".
  const char* ToString(ScriptContext* ctx) const;
  // As ToString with the one buffer shared by the whole program for numbers.
  const char* ToStaticString() const;

  // Finds the member `name` (exact bytes), appending it as int 0 when missing; a value that is not
  // a record first becomes a new empty record. The pointer stays valid while the record lives.
  ScriptValue* GetMember(const char* name);
  // The record behind a type-3 value (null for any other type).
  DRef<void> RecordRef() const;

  // String operations (the value must be a string; `set` is a text whose characters form the set).
  static void SetConcat(const ScriptValue& a, const char* t, ScriptValue* dest);
  static void SplitFirst(ScriptValue* dest, ScriptValue* a, const char* set);
  static void SplitLast(ScriptValue* dest, ScriptValue* a, const char* set);
  void DropFirst(const char* set);
  void CutAtFirst(const char* set);

  // Two values are the same object: the same type 3-16 and the same object behind their handles.
  static bool SameObject(const ScriptValue& a, const ScriptValue& b);

  // A heap block of n + 1 bytes for a string value's text (free with FreeText).
  static char* AllocText(size_t n);
  static void FreeText(char* text);

 private:
  uint32_t type_ = kScriptInt;  // ScriptValueType
  union {
    int32_t i;
    float f;
    char* s;
    ScriptObjectHandle* h;
  } u_{.h = nullptr};
};

// A record member: its exact name and its value.
struct ScriptRecordMember {
  std::unique_ptr<char[]> name;
  size_t length = 0;
  ScriptValue value;
};

// The object behind a record value: members in the order they were first reached, never removed.
// Member values keep their addresses for the record's whole life.
class ScriptRecord : public DObject {
 public:
  ScriptValue* Find(const char* name, size_t length);
  ScriptValue* FindOrAdd(const char* name);
  size_t size() const { return members_.size(); }
  const ScriptRecordMember& member(size_t i) const { return *members_[i]; }

  // Release function of record handles; deep chains of records are freed without deep recursion.
  static void ReleaseHandle(DRef<void>& ref);

 private:
  std::vector<std::unique_ptr<ScriptRecordMember>> members_;
};

// Float to int: truncation toward zero; outside the i32 range, infinities and NaN give INT32_MIN.
int32_t FloatToInt(float f);
// Leading decimal integer of a text (white space, sign, digits mod 2^32; none gives 0).
int32_t TextToInt(const char* text);
// The decimal numeral at the start of the first 32 bytes of the text, read as a double and rounded
// to a float; exponents may be introduced by e, E, d or D; none gives 0.
float StringToFloat(const char* text);
// Writes the 7-significant-digit general form of x into buf (at least 32 bytes); gives buf.
// Infinities and NaN give "inf", "-inf" and "nan".
char* FormatScriptFloat(float x, char* buf, size_t size);
// Float remainder with the dividend's sign; 0 for b == 0.
float FloatMod(float a, float b);
// Tangent from the sine table; 0 where the cosine entry is below 0.000001; NaN and infinite angles
// read entry 0.
float TableTan(float x);
// Copies at most size - 1 bytes of source and a NUL into dest (nothing for size 0); gives dest.
char* CopyStringBounded(char* dest, const char* source, size_t size);

// cp932 character search in a text (MbFindFirstOf / MbFindLastOf): byte position of the first /
// last character that is in `set`, or -1. Double-byte characters are whole characters on both
// sides; a trail byte never matches.
ptrdiff_t ScriptFindFirstOf(const char* text, const char* set);
ptrdiff_t ScriptFindLastOf(const char* text, const char* set);
