// The text form of the assembler: one statement per line, parsed onto the builder.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "tools/meiasm/meiasm.h"

namespace meiasm {
namespace {

bool IsLead(uint8_t c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}
bool IsIdentStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool IsIdent(char c) {
  return IsIdentStart(c) || (c >= '0' && c <= '9') || c == '.';
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

// A cursor over one line of the text form.
class LineParser {
 public:
  explicit LineParser(std::string_view line) : s_(line) {}

  void SkipSpace() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\r')) ++i_;
  }
  bool AtEnd() {
    SkipSpace();
    return i_ >= s_.size() || s_[i_] == ';' || s_[i_] == '#';
  }
  bool Accept(char c) {
    SkipSpace();
    if (i_ < s_.size() && s_[i_] == c) {
      ++i_;
      return true;
    }
    return false;
  }
  void Expect(char c) {
    if (!Accept(c)) throw Error(std::string("expected '") + c + "'");
  }
  char Peek() {
    SkipSpace();
    return i_ < s_.size() ? s_[i_] : '\0';
  }

  std::string Ident() {
    SkipSpace();
    if (i_ >= s_.size() || !IsIdentStart(s_[i_])) throw Error("expected a name");
    const size_t start = i_;
    while (i_ < s_.size() && IsIdent(s_[i_])) ++i_;
    return std::string(s_.substr(start, i_ - start));
  }
  // A name followed by ':' defines a label; gives it and consumes the colon, or gives nothing.
  std::optional<std::string> LabelDefinition() {
    SkipSpace();
    size_t j = i_;
    if (j >= s_.size() || !IsIdentStart(s_[j])) return std::nullopt;
    while (j < s_.size() && IsIdent(s_[j])) ++j;
    if (j >= s_.size() || s_[j] != ':') return std::nullopt;
    std::string name(s_.substr(i_, j - i_));
    i_ = j + 1;
    return name;
  }

  int64_t Integer() {
    SkipSpace();
    size_t j = i_;
    bool negative = false;
    if (j < s_.size() && (s_[j] == '-' || s_[j] == '+')) negative = s_[j++] == '-';
    int base = 10;
    if (j + 1 < s_.size() && s_[j] == '0' && (s_[j + 1] == 'x' || s_[j + 1] == 'X')) {
      base = 16;
      j += 2;
    }
    const size_t digits = j;
    uint64_t v = 0;
    while (j < s_.size()) {
      const char c = s_[j];
      int d;
      if (c >= '0' && c <= '9')
        d = c - '0';
      else if (base == 16 && c >= 'a' && c <= 'f')
        d = c - 'a' + 10;
      else if (base == 16 && c >= 'A' && c <= 'F')
        d = c - 'A' + 10;
      else
        break;
      v = v * base + d;
      if (v > 0xFFFFFFFFull) throw Error("number does not fit in 32 bits");
      ++j;
    }
    if (j == digits) throw Error("expected a number");
    if (j < s_.size() && IsIdentStart(s_[j])) throw Error("bad number");
    i_ = j;
    const int64_t r = negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
    if (r < INT32_MIN) throw Error("number does not fit in 32 bits");
    return r;
  }
  bool AtNumber() {
    const char c = Peek();
    return (c >= '0' && c <= '9') || c == '-' || c == '+';
  }

  // A float: a decimal or hex float text, inf, nan, or bits(0x...) for exact bits.
  Field Float() {
    SkipSpace();
    if (s_.substr(i_).starts_with("bits")) {
      i_ += 4;
      Expect('(');
      const int64_t bits = Integer();
      Expect(')');
      return FloatBits{static_cast<uint32_t>(bits)};
    }
    const std::string rest(s_.substr(i_));
    char* end = nullptr;
    const float v = std::strtof(rest.c_str(), &end);
    if (end == rest.c_str()) throw Error("expected a float");
    i_ += static_cast<size_t>(end - rest.c_str());
    return v;
  }

  // A quoted string with \\ \" \n \r \t \xNN; double-byte characters are copied whole, so a trail
  // byte 0x5C is never taken for a backslash.
  std::string Quoted() {
    SkipSpace();
    if (i_ >= s_.size() || s_[i_] != '"') throw Error("expected a quoted string");
    ++i_;
    std::string out;
    while (true) {
      if (i_ >= s_.size()) throw Error("string without its closing quote");
      const auto c = static_cast<uint8_t>(s_[i_]);
      if (c == '"') {
        ++i_;
        return out;
      }
      if (IsLead(c) && i_ + 1 < s_.size()) {
        out += s_.substr(i_, 2);
        i_ += 2;
        continue;
      }
      if (c != '\\') {
        out += static_cast<char>(c);
        ++i_;
        continue;
      }
      if (++i_ >= s_.size()) throw Error("string without its closing quote");
      const char e = s_[i_++];
      switch (e) {
        case '\\':
          out += '\\';
          break;
        case '"':
          out += '"';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'x': {
          int v = 0;
          for (int k = 0; k < 2; ++k) {
            if (i_ >= s_.size()) throw Error("bad \\x escape");
            const char h = s_[i_++];
            v = v * 16 + (h >= '0' && h <= '9'   ? h - '0'
                          : h >= 'a' && h <= 'f' ? h - 'a' + 10
                          : h >= 'A' && h <= 'F' ? h - 'A' + 10
                                                 : throw Error("bad \\x escape"));
          }
          if (v == 0) throw Error("a string constant holds a NUL");
          out += static_cast<char>(v);
          break;
        }
        default:
          throw Error(std::string("unknown escape \\") + e);
      }
    }
  }

  // g<slot> | l<slot> | s<offset> | {w, w, ...}, then [index] and .member parts.
  Operand ParseOperand(int depth = 0) {
    if (depth > 16) throw Error("operand nested too deeply");
    SkipSpace();
    Operand o = Operand::Global(0);
    if (Accept('{')) {
      std::vector<uint32_t> words;
      do words.push_back(static_cast<uint32_t>(Integer()));
      while (Accept(','));
      Expect('}');
      return Operand::Raw(std::move(words));
    }
    if (i_ >= s_.size()) throw Error("expected an operand");
    const char kind = s_[i_];
    ++i_;
    if (i_ >= s_.size() || !(s_[i_] == '-' || s_[i_] == '+' || (s_[i_] >= '0' && s_[i_] <= '9'))) {
      throw Error("expected an operand: g<slot>, l<slot>, s<offset> or {words}");
    }
    const int64_t n = Integer();
    if (kind == 'g' || kind == 'G')
      o = Operand::Global(static_cast<uint32_t>(n));
    else if (kind == 'l' || kind == 'L')
      o = Operand::Local(static_cast<uint32_t>(n));
    else if (kind == 's' || kind == 'S')
      o = Operand::Stack(static_cast<int32_t>(n));
    else
      throw Error("expected an operand: g<slot>, l<slot>, s<offset> or {words}");
    // Suffixes follow directly, without spaces.
    while (i_ < s_.size() && (s_[i_] == '[' || s_[i_] == '.')) {
      if (s_[i_] == '[') {
        ++i_;
        o = AtNumber() ? o.At(static_cast<int32_t>(Integer())) : o.At(ParseOperand(depth + 1));
        Expect(']');
      } else {
        ++i_;
        if (i_ < s_.size() && s_[i_] == '(') {
          ++i_;
          o = o.Member(ParseOperand(depth + 1));
          Expect(')');
        } else if (i_ < s_.size() && s_[i_] == '"') {
          o = o.Member(Quoted());
        } else {
          o = o.Member(MemberName());
        }
      }
    }
    return o;
  }

 private:
  std::string MemberName() {
    const size_t start = i_;
    while (i_ < s_.size() && (IsIdentStart(s_[i_]) || (s_[i_] >= '0' && s_[i_] <= '9'))) ++i_;
    if (i_ == start) throw Error("expected a member name");
    return std::string(s_.substr(start, i_ - start));
  }

  std::string_view s_;
  size_t i_ = 0;
};

const VmOpInfo* FindOp(std::string_view mnemonic, VmOp* op) {
  for (uint32_t k = 0; k < kVmInstructionCount; ++k) {
    std::string_view name = kVmOpInfo[k].name;
    if (EqualNoCase(name, mnemonic) || EqualNoCase(name.substr(2), mnemonic)) {
      *op = static_cast<VmOp>(k);
      return &kVmOpInfo[k];
    }
  }
  return nullptr;
}

void Statement(LineParser& p, Builder& b) {
  while (auto label = p.LabelDefinition()) b.Bind(*label);
  if (p.AtEnd()) return;
  if (p.Accept('.')) {
    const std::string d = p.Ident();
    if (d == "globals") {
      b.Globals(static_cast<uint32_t>(p.Integer()));
    } else if (d == "method") {
      b.Method(p.Peek() == '"' ? p.Quoted() : p.Ident());
    } else if (d == "export") {
      const int64_t k = p.Integer();
      if (k < 0) throw Error("export numbers start at 0");
      b.Export(static_cast<uint32_t>(k));
    } else if (d == "return") {
      b.ReturnTo(p.Ident());
    } else if (d == "file") {
      b.File(p.Quoted());
    } else if (d == "line") {
      b.Line(static_cast<uint32_t>(p.Integer()));
    } else if (d == "builtin") {
      const int64_t n = p.Integer();
      std::vector<Operand> args;
      while (p.Accept(',')) args.push_back(p.ParseOperand());
      b.CallBuiltin(static_cast<uint32_t>(n), args);
    } else if (d == "word") {
      do b.Word(static_cast<uint32_t>(p.Integer()));
      while (p.Accept(','));
    } else {
      throw Error("unknown directive ." + d);
    }
  } else {
    const std::string mnemonic = p.Ident();
    VmOp op;
    const VmOpInfo* info = FindOp(mnemonic, &op);
    if (info == nullptr) throw Error("unknown instruction " + mnemonic);
    std::vector<Field> fields;
    for (uint32_t k = 0; k < info->count; ++k) {
      if (k > 0) p.Expect(',');
      switch (info->fields[k]) {
        case 'o':
          fields.emplace_back(p.ParseOperand());
          break;
        case 'f':
          fields.push_back(p.Float());
          break;
        case 's':
          if (p.Peek() == '"')
            fields.emplace_back(Text{p.Quoted()});
          else
            fields.emplace_back(p.Integer());
          break;
        case 'a':
        case 't':
          if (p.AtNumber())
            fields.emplace_back(p.Integer());
          else
            fields.emplace_back(Label{p.Ident()});
          break;
        default:
          fields.emplace_back(p.Integer());
          break;
      }
    }
    b.Op(op, std::move(fields));
  }
  if (!p.AtEnd()) throw Error("unexpected text after the statement");
}

}  // namespace

std::vector<uint8_t> Assemble(std::string_view text) {
  Builder b;
  size_t line_no = 0;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    ++line_no;
    LineParser p(text.substr(pos, end - pos));
    try {
      Statement(p, b);
    } catch (const Error& e) {
      throw Error("line " + std::to_string(line_no) + ": " + e.what());
    }
    pos = end + 1;
  }
  return b.Build();
}

}  // namespace meiasm
