// The image builder, the encoding of operands and instructions, and the minimal PE executable.
#include "tools/meiasm/meiasm.h"

#include <algorithm>
#include <cstring>

#include "vm/script_image.h"

namespace meiasm {

uint8_t ScrambleByte(uint8_t p) {
  return static_cast<uint8_t>(((p << 1) & 0xAA) | ((~p >> 1) & 0x55));
}

Operand Operand::Global(uint32_t slot) {
  Operand o;
  o.x_ = slot;
  return o;
}

Operand Operand::Local(uint32_t slot) {
  Operand o;
  o.mode_ = kVmModeFrame;
  o.x_ = slot;
  return o;
}

Operand Operand::Stack(int32_t offset) {
  Operand o;
  o.mode_ = kVmModeStackRef;
  o.x_ = static_cast<uint32_t>(offset);
  return o;
}

Operand Operand::Raw(std::vector<uint32_t> words) {
  if (words.size() < 2) throw Error("a raw operand needs at least its mode and operand words");
  Operand o;
  o.raw_ = std::move(words);
  return o;
}

Operand Operand::At(int32_t index) const {
  if (raw_) throw Error("a raw operand takes no index");
  Operand o = *this;
  o.mode_ |= kVmModeIndexWord;
  o.index_word_ = index;
  o.index_operand_.reset();
  return o;
}

Operand Operand::At(const Operand& index) const {
  if (raw_) throw Error("a raw operand takes no index");
  Operand o = *this;
  o.mode_ = (o.mode_ & ~kVmModeIndexWord) | kVmModeIndexOperand;
  o.index_word_.reset();
  o.index_operand_ = std::make_shared<const Operand>(index);
  return o;
}

Operand Operand::Member(std::string name) const {
  if (raw_) throw Error("a raw operand takes no member");
  Operand o = *this;
  o.mode_ |= kVmModeNameWord;
  o.name_ = std::move(name);
  o.name_operand_.reset();
  return o;
}

Operand Operand::Member(const Operand& name) const {
  if (raw_) throw Error("a raw operand takes no member");
  Operand o = *this;
  o.mode_ = (o.mode_ & ~kVmModeNameWord) | kVmModeNameOperand;
  o.name_.reset();
  o.name_operand_ = std::make_shared<const Operand>(name);
  return o;
}

void Builder::EmitOperand(const Operand& o) {
  if (o.raw_) {
    code_.insert(code_.end(), o.raw_->begin(), o.raw_->end());
    return;
  }
  code_.push_back(o.mode_);
  code_.push_back(o.x_);
  if (o.index_word_) code_.push_back(static_cast<uint32_t>(*o.index_word_));
  if (o.index_operand_) EmitOperand(*o.index_operand_);
  if (o.name_) code_.push_back(Intern(*o.name_));
  if (o.name_operand_) EmitOperand(*o.name_operand_);
}

Builder& Builder::Op(VmOp op, std::vector<Field> fields) {
  const VmOpInfo& info = kVmOpInfo[static_cast<uint32_t>(op)];
  if (fields.size() != info.count) {
    throw Error(std::string(info.name) + " takes " + std::to_string(info.count) + " fields, not " +
                std::to_string(fields.size()));
  }
  code_.push_back(static_cast<uint32_t>(op));
  for (size_t i = 0; i < fields.size(); ++i) {
    const char kind = info.fields[i];
    const Field& f = fields[i];
    const std::string where = std::string(info.name) + " field " + std::to_string(i + 1);
    if (kind == 'o') {
      if (!std::holds_alternative<Operand>(f)) throw Error(where + " must be an operand");
      EmitOperand(std::get<Operand>(f));
    } else if (const auto* n = std::get_if<int64_t>(&f)) {
      if (*n < INT32_MIN || *n > UINT32_MAX) throw Error(where + " does not fit in 32 bits");
      if (kind == 'f') {
        const float v = static_cast<float>(*n);
        uint32_t bits;
        std::memcpy(&bits, &v, 4);
        code_.push_back(bits);
      } else {
        code_.push_back(static_cast<uint32_t>(*n));
      }
    } else if (const auto* v = std::get_if<float>(&f)) {
      if (kind != 'f') throw Error(where + " takes no float");
      uint32_t bits;
      std::memcpy(&bits, v, 4);
      code_.push_back(bits);
    } else if (const auto* b = std::get_if<FloatBits>(&f)) {
      if (kind != 'f') throw Error(where + " takes no float");
      code_.push_back(b->bits);
    } else if (const auto* l = std::get_if<Label>(&f)) {
      if (kind != 'a' && kind != 't') throw Error(where + " takes no label");
      fixups_.emplace_back(Here(), l->name);
      code_.push_back(0);
    } else if (const auto* t = std::get_if<Text>(&f)) {
      if (kind != 's') throw Error(where + " takes no string");
      code_.push_back(Intern(t->bytes));
    } else {
      throw Error(where + " must not be an operand");
    }
  }
  return *this;
}

Builder& Builder::CallBuiltin(uint32_t n, const std::vector<Operand>& args) {
  for (auto it = args.rbegin(); it != args.rend(); ++it) OpPushRef(*it);
  OpPushWord(0);
  OpCall(kVmCallBuiltin, n);
  return OpDrop(2 * args.size() + 1);
}

Builder& Builder::Word(uint32_t w) {
  code_.push_back(w);
  return *this;
}

Builder& Builder::Bind(const std::string& label) {
  if (!labels_.emplace(label, Here()).second) throw Error("label " + label + " bound twice");
  return *this;
}

Builder& Builder::Method(const std::string& name) {
  methods_.emplace_back(name, Here());
  return *this;
}

Builder& Builder::Export(uint32_t k) {
  if (k > 0xFFFFF) throw Error("export number too large");
  if (!exports_.emplace(k, Here()).second) throw Error("export " + std::to_string(k) + " given twice");
  return *this;
}

Builder& Builder::Globals(uint32_t count) {
  globals_ = count;
  return *this;
}

Builder& Builder::ReturnTo(const std::string& label) {
  return_label_ = label;
  return *this;
}

Builder& Builder::File(const std::string& name) {
  return OpSetFile(SourceIndex(name));
}

Builder& Builder::Line(uint32_t line) {
  return OpSetLine(line);
}

uint32_t Builder::Intern(const std::string& text) {
  if (text.find('\0') != std::string::npos) throw Error("a string constant holds a NUL");
  auto it = interned_.find(text);
  if (it != interned_.end()) return it->second;
  const auto offset = static_cast<uint32_t>(data_.size());
  data_.insert(data_.end(), text.begin(), text.end());
  data_.push_back(0);
  interned_.emplace(text, offset);
  return offset;
}

uint32_t Builder::Data(std::span<const uint8_t> bytes) {
  const auto offset = static_cast<uint32_t>(data_.size());
  data_.insert(data_.end(), bytes.begin(), bytes.end());
  return offset;
}

uint32_t Builder::SourceIndex(const std::string& name) {
  if (name.find('\0') != std::string::npos) throw Error("a source name holds a NUL");
  auto it = std::find(sources_.begin(), sources_.end(), name);
  if (it != sources_.end()) return static_cast<uint32_t>(it - sources_.begin());
  sources_.push_back(name);
  return static_cast<uint32_t>(sources_.size() - 1);
}

namespace {

void PutWord(std::vector<uint8_t>& out, uint32_t w) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(w >> (8 * i)));
}

void SetWord(std::vector<uint8_t>& out, size_t at, uint32_t w) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(w >> (8 * i));
}

}  // namespace

std::vector<uint8_t> Builder::Build() const {
  std::vector<uint32_t> code = code_;
  auto labels = labels_;
  uint32_t return_address;
  if (return_label_) {
    auto it = labels.find(*return_label_);
    if (it == labels.end()) throw Error("return label " + *return_label_ + " is not bound");
    return_address = it->second;
  } else {
    return_address = static_cast<uint32_t>(code.size());
    code.push_back(static_cast<uint32_t>(VmOp::OpHalt));
  }
  for (const auto& [at, name] : fixups_) {
    auto it = labels.find(name);
    if (it == labels.end()) throw Error("label " + name + " is not bound");
    code[at] = it->second;
  }
  if (code.empty()) code.push_back(static_cast<uint32_t>(VmOp::OpHalt));
  // Entries must name a code word, or the image reader refuses the image.
  for (const auto& [name, entry] : methods_) {
    if (entry >= code.size()) throw Error("method " + name + " has no code after it");
  }
  for (const auto& [k, entry] : exports_) {
    if (entry >= code.size()) throw Error("export " + std::to_string(k) + " has no code after it");
  }
  if (return_address >= code.size()) throw Error("return label " + *return_label_ + " has no code after it");

  std::vector<uint8_t> out(kScriptImageHeaderSize, 0);
  SetWord(out, 0, kScriptImageMagic);

  SetWord(out, 4, static_cast<uint32_t>(out.size()));
  const uint32_t export_count = exports_.empty() ? 0 : exports_.rbegin()->first + 1;
  PutWord(out, export_count);
  for (uint32_t k = 0; k < export_count; ++k) {
    auto it = exports_.find(k);
    if (it == exports_.end()) throw Error("export " + std::to_string(k) + " is missing");
    PutWord(out, it->second);
  }

  SetWord(out, 8, static_cast<uint32_t>(out.size()));
  PutWord(out, static_cast<uint32_t>(methods_.size()));
  for (const auto& [name, entry] : methods_) {
    out.insert(out.end(), name.begin(), name.end());
    out.push_back(0);
    PutWord(out, entry);
  }

  SetWord(out, 12, static_cast<uint32_t>(out.size()));
  PutWord(out, static_cast<uint32_t>(data_.size()));
  for (uint8_t b : data_) out.push_back(ScrambleByte(b));

  SetWord(out, 16, static_cast<uint32_t>(out.size()));
  PutWord(out, globals_);
  PutWord(out, return_address);

  SetWord(out, 24, static_cast<uint32_t>(out.size()));
  PutWord(out, static_cast<uint32_t>(sources_.size()));
  for (const auto& s : sources_) {
    out.insert(out.end(), s.begin(), s.end());
    out.push_back(0);
  }

  SetWord(out, 20, static_cast<uint32_t>(out.size()));
  for (uint32_t w : code) PutWord(out, w);
  return out;
}

std::vector<uint8_t> BuildExecutable(std::span<const PeSection> sections, std::span<const uint8_t> appended,
                                     uint16_t optional_size) {
  if (sections.size() > 0xFFFF) throw Error("too many sections");
  const size_t headers = 64 + 4 + 20 + optional_size + 40 * sections.size();
  uint64_t end = headers;
  for (const auto& s : sections) end = std::max<uint64_t>(end, uint64_t{s.raw_pointer} + s.raw_size);
  if (end > (1u << 28)) throw Error("sections reach too far for a test executable");
  std::vector<uint8_t> out(end, 0);
  out[0] = 'M';
  out[1] = 'Z';
  SetWord(out, 60, 64);  // e_lfanew
  std::memcpy(out.data() + 64, "PE\0\0", 4);
  uint8_t* fh = out.data() + 68;
  fh[0] = 0x4C;  // machine: i386
  fh[1] = 0x01;
  fh[2] = static_cast<uint8_t>(sections.size());
  fh[3] = static_cast<uint8_t>(sections.size() >> 8);
  fh[16] = static_cast<uint8_t>(optional_size);
  fh[17] = static_cast<uint8_t>(optional_size >> 8);
  fh[18] = 0x02;  // characteristics: executable image
  if (optional_size >= 2) {
    out[88] = 0x0B;  // PE32 optional-header magic
    out[89] = 0x01;
  }
  size_t at = 88 + optional_size;
  for (size_t i = 0; i < sections.size(); ++i, at += 40) {
    std::memcpy(out.data() + at, ".text", 5);
    SetWord(out, at + 16, sections[i].raw_size);
    SetWord(out, at + 20, sections[i].raw_pointer);
  }
  out.insert(out.end(), appended.begin(), appended.end());
  return out;
}

std::vector<uint8_t> WrapInExecutable(std::span<const uint8_t> image) {
  std::vector<uint8_t> tail;
  PutWord(tail, static_cast<uint32_t>(image.size()));
  tail.insert(tail.end(), image.begin(), image.end());
  const PeSection text{0x200, 0x200};
  return BuildExecutable(std::span(&text, 1), tail);
}

}  // namespace meiasm
