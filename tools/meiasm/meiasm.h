// Script-image assembler: a C++ builder for .mei images, the text form parsed onto it, and PE wrapping.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "vm/opcodes.h"

namespace meiasm {

// Misuse of the builder or a fault in the text form; the message names the line for text input.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The stored form of a plain string-block byte (the inverse of the loader's transform).
uint8_t ScrambleByte(uint8_t plain);

// One operand: mode word, operand word, then the index and member parts the mode asks for.
class Operand {
 public:
  static Operand Global(uint32_t slot);  // mode 0
  static Operand Local(uint32_t slot);   // mode 1: frame base + slot
  static Operand Stack(int32_t offset);  // mode 2: reference pair at stack top + offset (e.g. -2)
  // Exactly these words, for encodings the helpers do not make.
  static Operand Raw(std::vector<uint32_t> words);

  Operand At(int32_t index) const;            // + index word (bit 2)
  Operand At(const Operand& index) const;     // + nested index operand (bit 3)
  Operand Member(std::string name) const;     // + name word: data offset of `name` (bit 4)
  Operand Member(const Operand& name) const;  // + nested name operand (bit 5)

 private:
  friend class Builder;
  uint32_t mode_ = 0;
  uint32_t x_ = 0;
  std::optional<int32_t> index_word_;
  std::shared_ptr<const Operand> index_operand_;
  std::optional<std::string> name_;
  std::shared_ptr<const Operand> name_operand_;
  std::optional<std::vector<uint32_t>> raw_;
};

inline Operand G(uint32_t slot) {
  return Operand::Global(slot);
}
inline Operand L(uint32_t slot) {
  return Operand::Local(slot);
}
inline Operand S(int32_t offset) {
  return Operand::Stack(offset);
}

// A code address by label name (fields 'a' and 't').
struct Label {
  std::string name;
};
// A string constant, stored NUL-terminated in the string block (field 's').
struct Text {
  std::string bytes;
};

// One field of an instruction. Integers fit 'w', 'n', 'm', 't', 'a', 's' (a raw data offset) and
// 'f' (converted); floats fit 'f'; an f32 given by its bits is a FloatBits.
struct FloatBits {
  uint32_t bits;
};
using Field = std::variant<Operand, int64_t, float, FloatBits, Label, Text>;

// Builds one image. Instructions are appended at the current code address; labels, methods and
// exports bind to the address where the next word will go. Build lays out the blocks as
// header, exports, methods, strings, globals, sources, code.
class Builder {
 public:
  // Appends an instruction with its fields in table order; a field of the wrong kind or a wrong
  // number of fields throws Error.
  Builder& Op(VmOp op, std::vector<Field> fields);

#define MEIASM_OP_METHOD(num, name, count, fields, doc)      \
  template <class... A>                                      \
  Builder& name(A&&... a) {                                  \
    return Op(VmOp::name, {ToField(std::forward<A>(a))...}); \
  }
  ORVANE_VM_OPCODES(MEIASM_OP_METHOD)
#undef MEIASM_OP_METHOD

  // Calls built-in n with the arguments in the built-ins' convention: a reference pair per argument,
  // the last argument pushed first, one spare word on top, OpCall 1 n, then OpDrop of them all.
  Builder& CallBuiltin(uint32_t n, const std::vector<Operand>& args = {});

  Builder& Word(uint32_t w);  // one raw code word
  Builder& Bind(const std::string& label);
  Builder& Method(const std::string& name);     // method record with the current address
  Builder& Export(uint32_t k);                  // export k is the current address
  Builder& Globals(uint32_t count);             // G
  Builder& ReturnTo(const std::string& label);  // R; without it Build appends OpHalt and uses that
  Builder& File(const std::string& name);       // OpSetFile with the index of `name` in the source table
  Builder& Line(uint32_t line);                 // OpSetLine

  uint32_t Here() const {
    return static_cast<uint32_t>(code_.size());
  }
  uint32_t Intern(const std::string& text);       // data offset of a NUL-terminated string constant
  uint32_t Data(std::span<const uint8_t> bytes);  // data offset of raw constant bytes
  uint32_t SourceIndex(const std::string& name);  // index in the source table, added when new

  // Resolves labels and gives the image bytes; an unbound label or a missing export throws Error.
  std::vector<uint8_t> Build() const;

 private:
  static Field ToField(Operand o) {
    return o;
  }
  static Field ToField(Label l) {
    return l;
  }
  static Field ToField(Text t) {
    return t;
  }
  static Field ToField(FloatBits f) {
    return f;
  }
  static Field ToField(float f) {
    return f;
  }
  static Field ToField(double f) {
    return static_cast<float>(f);
  }
  template <class I>
  requires std::is_integral_v<std::remove_cvref_t<I>>
  static Field ToField(I i) {
    return static_cast<int64_t>(i);
  }

  void EmitOperand(const Operand& o);

  std::vector<uint32_t> code_;
  std::vector<std::pair<uint32_t, std::string>> fixups_;  // code index, label
  std::map<std::string, uint32_t> labels_;
  std::vector<std::pair<std::string, uint32_t>> methods_;
  std::map<uint32_t, uint32_t> exports_;
  std::vector<uint8_t> data_;  // plain string block
  std::map<std::string, uint32_t> interned_;
  std::vector<std::string> sources_;
  uint32_t globals_ = 0;
  std::optional<std::string> return_label_;
};

// Assembles the text form (see tools/README.md); `text` is cp932 bytes. Throws Error with
// "line N: reason" on a fault.
std::vector<uint8_t> Assemble(std::string_view text);

// A minimal PE executable: a DOS header, the PE signature, a file header, an optional header of
// `optional_size` bytes and one section header per entry; the file is as long as the greatest
// PointerToRawData + SizeOfRawData (at least the headers), then `appended` follows.
struct PeSection {
  uint32_t raw_pointer;
  uint32_t raw_size;
};
std::vector<uint8_t> BuildExecutable(std::span<const PeSection> sections, std::span<const uint8_t> appended,
                                     uint16_t optional_size = 224);

// An executable that carries `image` in the appended form (length word, then the image).
std::vector<uint8_t> WrapInExecutable(std::span<const uint8_t> image);

}  // namespace meiasm
