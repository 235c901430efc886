// Assignment instructions: d = s, d op= s and the forms with an int, float or string constant;
// the rule is chosen by the type d holds.
#include <bit>
#include <cstdio>

#include "vm/instructions.h"
#include "vm/operands.h"
#include "vm/vm_arith.h"

namespace {

enum class Asg { kMul, kDiv, kMod, kAdd, kSub, kShl, kShr, kAnd, kXor, kOr };

// The right side of an assignment, converted only as far as the rule needs it.
class Rhs {
 public:
  static Rhs Value(ScriptContext* ctx, const ScriptValue* v) { return Rhs(ctx, kValue, v, 0, nullptr); }
  static Rhs Int(ScriptContext* ctx, uint32_t w) { return Rhs(ctx, kInt, nullptr, w, nullptr); }
  static Rhs Float(ScriptContext* ctx, uint32_t w) { return Rhs(ctx, kFloat, nullptr, w, nullptr); }
  static Rhs Text(ScriptContext* ctx, const char* c) { return Rhs(ctx, kText, nullptr, 0, c); }

  int32_t AsInt() const {
    switch (kind_) {
      case kValue:
        return value_->ToInt();
      case kInt:
        return static_cast<int32_t>(word_);
      case kFloat:
        return FloatToInt(std::bit_cast<float>(word_));
      default:
        return TextToInt(text_);
    }
  }
  float AsFloat() const {
    switch (kind_) {
      case kValue:
        return value_->ToFloat();
      case kInt:
        return static_cast<float>(static_cast<int32_t>(word_));
      case kFloat:
        return std::bit_cast<float>(word_);
      default:
        return StringToFloat(text_);
    }
  }
  // Numbers are written into the context's text buffer.
  const char* AsText() const {
    switch (kind_) {
      case kValue:
        return value_->ToString(ctx_);
      case kInt:
        std::snprintf(ctx_->text_buffer(), 256, "%d", static_cast<int32_t>(word_));
        return ctx_->text_buffer();
      case kFloat:
        return FormatScriptFloat(std::bit_cast<float>(word_), ctx_->text_buffer(), 256);
      default:
        return text_;
    }
  }

 private:
  enum Kind { kValue, kInt, kFloat, kText };
  Rhs(ScriptContext* ctx, Kind kind, const ScriptValue* v, uint32_t w, const char* t)
      : ctx_(ctx), kind_(kind), value_(v), word_(w), text_(t) {}

  ScriptContext* ctx_;
  Kind kind_;
  const ScriptValue* value_;
  uint32_t word_;
  const char* text_;
};

int32_t IntOp(Asg op, int32_t a, int32_t b) {
  switch (op) {
    case Asg::kMul:
      return VmIntMul(a, b);
    case Asg::kDiv:
      return VmIntDiv(a, b);
    case Asg::kMod:
      return VmIntMod(a, b);
    case Asg::kAdd:
      return VmIntAdd(a, b);
    case Asg::kSub:
      return VmIntSub(a, b);
    case Asg::kShl:
      return VmIntShl(a, b);
    case Asg::kShr:
      return VmIntShr(a, b);
    case Asg::kAnd:
      return a & b;
    case Asg::kXor:
      return a ^ b;
    case Asg::kOr:
      return a | b;
  }
  return 0;
}

void Compound(Asg op, ScriptValue* d, const Rhs& r) {
  switch (d->type()) {
    case kScriptInt:
      return d->SetInt(IntOp(op, d->int_value(), r.AsInt()));
    case kScriptFloat: {
      float f = d->float_value();
      switch (op) {
        case Asg::kMul:
          return d->SetFloat(f * r.AsFloat());
        case Asg::kDiv:
          return d->SetFloat(f / r.AsFloat());
        case Asg::kMod:
          return d->SetFloat(FloatMod(f, r.AsFloat()));
        case Asg::kAdd:
          return d->SetFloat(f + r.AsFloat());
        case Asg::kSub:
          return d->SetFloat(f - r.AsFloat());
        default:
          return d->SetInt(0);
      }
    }
    case kScriptString:
      switch (op) {
        case Asg::kMul:
        case Asg::kMod:
          return d->SetInt(IntOp(op, d->ToInt(), r.AsInt()));
        case Asg::kDiv:
          return d->DropFirst(r.AsText());
        case Asg::kAdd:
          return ScriptValue::SetConcat(*d, r.AsText(), d);
        case Asg::kSub:
          return d->CutAtFirst(r.AsText());
        default:
          return d->SetInt(0);
      }
    default:
      return d->SetInt(0);  // a record or object loses that reference
  }
}

bool WithOperand(ScriptContext* ctx, Asg op) {
  ScriptValue* d = DecodeOperand(ctx);
  ScriptValue* s = DecodeOperand(ctx);
  Compound(op, d, Rhs::Value(ctx, s));
  return false;
}

bool WithInt(ScriptContext* ctx, Asg op) {
  ScriptValue* d = DecodeOperand(ctx);
  uint32_t w = ctx->Fetch();
  if (!ctx->faulted()) Compound(op, d, Rhs::Int(ctx, w));
  return false;
}

bool WithFloat(ScriptContext* ctx, Asg op) {
  ScriptValue* d = DecodeOperand(ctx);
  uint32_t w = ctx->Fetch();
  if (!ctx->faulted()) Compound(op, d, Rhs::Float(ctx, w));
  return false;
}

bool WithText(ScriptContext* ctx, Asg op) {
  ScriptValue* d = DecodeOperand(ctx);
  const char* c = ctx->DataText(ctx->Fetch());
  if (c && !ctx->faulted()) Compound(op, d, Rhs::Text(ctx, c));
  return false;
}

}  // namespace

bool OpMove(ScriptContext* ctx) {
  ScriptValue* d = DecodeOperand(ctx);
  ScriptValue* s = DecodeOperand(ctx);
  ScriptValue::Assign(*s, d);
  return false;
}

bool OpMulAssign(ScriptContext* ctx) {
  return WithOperand(ctx, Asg::kMul);
}
bool OpDivAssign(ScriptContext* ctx) {
  return WithOperand(ctx, Asg::kDiv);
}
bool OpModAssign(ScriptContext* ctx) {
  return WithOperand(ctx, Asg::kMod);
}
bool OpAddAssign(ScriptContext* ctx) {
  return WithOperand(ctx, Asg::kAdd);
}
bool OpSubAssign(ScriptContext* ctx) {
  return WithOperand(ctx, Asg::kSub);
}
bool OpShlAssign(ScriptContext* ctx) {
  return WithOperand(ctx, Asg::kShl);
}
bool OpShrAssign(ScriptContext* ctx) {
  return WithOperand(ctx, Asg::kShr);
}
bool OpAndAssign(ScriptContext* ctx) {
  return WithOperand(ctx, Asg::kAnd);
}
bool OpXorAssign(ScriptContext* ctx) {
  return WithOperand(ctx, Asg::kXor);
}
bool OpOrAssign(ScriptContext* ctx) {
  return WithOperand(ctx, Asg::kOr);
}

bool OpSetInt(ScriptContext* ctx) {
  ScriptValue* d = DecodeOperand(ctx);
  uint32_t w = ctx->Fetch();
  if (!ctx->faulted()) d->SetInt(static_cast<int32_t>(w));
  return false;
}

bool OpMulConstInt(ScriptContext* ctx) {
  return WithInt(ctx, Asg::kMul);
}
bool OpDivConstInt(ScriptContext* ctx) {
  return WithInt(ctx, Asg::kDiv);
}
bool OpModConstInt(ScriptContext* ctx) {
  return WithInt(ctx, Asg::kMod);
}
bool OpAddConstInt(ScriptContext* ctx) {
  return WithInt(ctx, Asg::kAdd);
}
bool OpSubConstInt(ScriptContext* ctx) {
  return WithInt(ctx, Asg::kSub);
}
bool OpShlConstInt(ScriptContext* ctx) {
  return WithInt(ctx, Asg::kShl);
}
bool OpShrConstInt(ScriptContext* ctx) {
  return WithInt(ctx, Asg::kShr);
}
bool OpAndConstInt(ScriptContext* ctx) {
  return WithInt(ctx, Asg::kAnd);
}
bool OpXorConstInt(ScriptContext* ctx) {
  return WithInt(ctx, Asg::kXor);
}
bool OpOrConstInt(ScriptContext* ctx) {
  return WithInt(ctx, Asg::kOr);
}

bool OpSetFloat(ScriptContext* ctx) {
  ScriptValue* d = DecodeOperand(ctx);
  uint32_t w = ctx->Fetch();
  if (!ctx->faulted()) d->SetFloat(std::bit_cast<float>(w));
  return false;
}

bool OpMulConstFloat(ScriptContext* ctx) {
  return WithFloat(ctx, Asg::kMul);
}
bool OpDivConstFloat(ScriptContext* ctx) {
  return WithFloat(ctx, Asg::kDiv);
}
bool OpModConstFloat(ScriptContext* ctx) {
  return WithFloat(ctx, Asg::kMod);
}
bool OpAddConstFloat(ScriptContext* ctx) {
  return WithFloat(ctx, Asg::kAdd);
}
bool OpSubConstFloat(ScriptContext* ctx) {
  return WithFloat(ctx, Asg::kSub);
}

bool OpSetString(ScriptContext* ctx) {
  ScriptValue* d = DecodeOperand(ctx);
  const char* c = ctx->DataText(ctx->Fetch());
  if (c && !ctx->faulted()) d->SetString(c);
  return false;
}

bool OpMulConstString(ScriptContext* ctx) {
  return WithText(ctx, Asg::kMul);
}
bool OpDivConstString(ScriptContext* ctx) {
  return WithText(ctx, Asg::kDiv);
}
bool OpModConstString(ScriptContext* ctx) {
  return WithText(ctx, Asg::kMod);
}
bool OpAddConstString(ScriptContext* ctx) {
  return WithText(ctx, Asg::kAdd);
}
bool OpSubConstString(ScriptContext* ctx) {
  return WithText(ctx, Asg::kSub);
}
