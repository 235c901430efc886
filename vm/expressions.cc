// Expression instructions: d = op s and d = a op b, the rule chosen by the type of s or a.
#include <cstring>

#include "vm/instructions.h"
#include "vm/operands.h"
#include "vm/vm_arith.h"

namespace {

enum class Bin { kMul, kDiv, kMod, kAdd, kSub, kShl, kShr, kLt, kGt, kLe, kGe, kEq, kNe, kAnd, kXor, kOr };

int32_t IntOp(Bin op, int32_t a, int32_t b) {
  switch (op) {
    case Bin::kMul:
      return VmIntMul(a, b);
    case Bin::kDiv:
      return VmIntDiv(a, b);
    case Bin::kMod:
      return VmIntMod(a, b);
    case Bin::kAdd:
      return VmIntAdd(a, b);
    case Bin::kSub:
      return VmIntSub(a, b);
    case Bin::kShl:
      return VmIntShl(a, b);
    case Bin::kShr:
      return VmIntShr(a, b);
    case Bin::kLt:
      return a < b;
    case Bin::kGt:
      return a > b;
    case Bin::kLe:
      return a <= b;
    case Bin::kGe:
      return a >= b;
    case Bin::kEq:
      return a == b;
    case Bin::kNe:
      return a != b;
    case Bin::kAnd:
      return a & b;
    case Bin::kXor:
      return a ^ b;
    case Bin::kOr:
      return a | b;
  }
  return 0;
}

void FloatRow(Bin op, float a, const ScriptValue& b, ScriptValue* d) {
  switch (op) {
    case Bin::kMul:
      return d->SetFloat(a * b.ToFloat());
    case Bin::kDiv:
      return d->SetFloat(a / b.ToFloat());
    case Bin::kMod:
      return d->SetFloat(FloatMod(a, b.ToFloat()));
    case Bin::kAdd:
      return d->SetFloat(a + b.ToFloat());
    case Bin::kSub:
      return d->SetFloat(a - b.ToFloat());
    case Bin::kLt:
      return d->SetBool(a < b.ToFloat());
    case Bin::kGt:
      return d->SetBool(a > b.ToFloat());
    case Bin::kLe:
      return d->SetBool(a <= b.ToFloat());
    case Bin::kGe:
      return d->SetBool(a >= b.ToFloat());
    case Bin::kEq:
      return d->SetBool(a == b.ToFloat());
    case Bin::kNe:
      return d->SetBool(a != b.ToFloat());
    default:
      return d->SetInt(0);  // shifts and bit operations on a float
  }
}

void StringRow(ScriptContext* ctx, Bin op, ScriptValue* a, const ScriptValue& b, ScriptValue* d) {
  switch (op) {
    case Bin::kMul:
    case Bin::kMod:
    case Bin::kLt:
    case Bin::kGt:
    case Bin::kLe:
    case Bin::kGe:
      return d->SetInt(IntOp(op, a->ToInt(), b.ToInt()));
    case Bin::kDiv:
      return ScriptValue::SplitLast(d, a, b.ToString(ctx));
    case Bin::kAdd:
      return ScriptValue::SetConcat(*a, b.ToString(ctx), d);
    case Bin::kSub:
      return ScriptValue::SplitFirst(d, a, b.ToString(ctx));
    case Bin::kEq:
    case Bin::kNe: {
      bool same = std::strcmp(a->text(), b.ToString(ctx)) == 0;
      return d->SetBool(op == Bin::kEq ? same : !same);
    }
    default:
      return d->SetInt(0);
  }
}

void ObjectRow(Bin op, const ScriptValue& a, const ScriptValue& b, ScriptValue* d) {
  switch (op) {
    case Bin::kLt:
    case Bin::kGt:
      return d->SetInt(0);
    case Bin::kLe:
    case Bin::kGe:
    case Bin::kEq:
      return d->SetBool(ScriptValue::SameObject(a, b));
    case Bin::kNe:
      return d->SetBool(!ScriptValue::SameObject(a, b));
    default:
      ScriptValue::Assign(a, d);
      return;
  }
}

bool Binary(ScriptContext* ctx, Bin op) {
  ScriptValue* d = DecodeOperand(ctx);
  ScriptValue* a = DecodeOperand(ctx);
  ScriptValue* b = DecodeOperand(ctx);
  switch (a->type()) {
    case kScriptInt: {
      int32_t r = IntOp(op, a->int_value(), b->ToInt());
      d->SetInt(r);
      break;
    }
    case kScriptFloat:
      FloatRow(op, a->float_value(), *b, d);
      break;
    case kScriptString:
      StringRow(ctx, op, a, *b, d);
      break;
    default:
      ObjectRow(op, *a, *b, d);
      break;
  }
  return false;
}

}  // namespace

bool OpPlus(ScriptContext* ctx) {
  ScriptValue* d = DecodeOperand(ctx);
  ScriptValue* s = DecodeOperand(ctx);
  if (s->type() == kScriptString) {
    d->SetInt(s->ToInt());
  } else {
    ScriptValue::Assign(*s, d);
  }
  return false;
}

bool OpNeg(ScriptContext* ctx) {
  ScriptValue* d = DecodeOperand(ctx);
  ScriptValue* s = DecodeOperand(ctx);
  switch (s->type()) {
    case kScriptInt:
      d->SetInt(VmIntNeg(s->int_value()));
      break;
    case kScriptFloat:
      d->SetFloat(-s->float_value());
      break;
    case kScriptString:
      d->SetInt(VmIntNeg(s->ToInt()));
      break;
    default:
      ScriptValue::Assign(*s, d);
      break;
  }
  return false;
}

bool OpNot(ScriptContext* ctx) {
  ScriptValue* d = DecodeOperand(ctx);
  ScriptValue* s = DecodeOperand(ctx);
  switch (s->type()) {
    case kScriptInt:
      d->SetBool(s->int_value() == 0);
      break;
    case kScriptFloat:
      d->SetBool(s->float_value() == 0.0f);
      break;
    case kScriptString:
      d->SetBool(s->ToInt() == 0);
      break;
    default:
      ScriptValue::Assign(*s, d);
      break;
  }
  return false;
}

bool OpBitNot(ScriptContext* ctx) {
  ScriptValue* d = DecodeOperand(ctx);
  ScriptValue* s = DecodeOperand(ctx);
  switch (s->type()) {
    case kScriptInt:
      d->SetInt(~s->int_value());
      break;
    case kScriptFloat:
    case kScriptString:
      d->SetInt(0);
      break;
    default:
      ScriptValue::Assign(*s, d);
      break;
  }
  return false;
}

bool OpMul(ScriptContext* ctx) {
  return Binary(ctx, Bin::kMul);
}
bool OpDiv(ScriptContext* ctx) {
  return Binary(ctx, Bin::kDiv);
}
bool OpMod(ScriptContext* ctx) {
  return Binary(ctx, Bin::kMod);
}
bool OpAdd(ScriptContext* ctx) {
  return Binary(ctx, Bin::kAdd);
}
bool OpSub(ScriptContext* ctx) {
  return Binary(ctx, Bin::kSub);
}
bool OpShl(ScriptContext* ctx) {
  return Binary(ctx, Bin::kShl);
}
bool OpShr(ScriptContext* ctx) {
  return Binary(ctx, Bin::kShr);
}
bool OpLt(ScriptContext* ctx) {
  return Binary(ctx, Bin::kLt);
}
bool OpGt(ScriptContext* ctx) {
  return Binary(ctx, Bin::kGt);
}
bool OpLe(ScriptContext* ctx) {
  return Binary(ctx, Bin::kLe);
}
bool OpGe(ScriptContext* ctx) {
  return Binary(ctx, Bin::kGe);
}
bool OpEq(ScriptContext* ctx) {
  return Binary(ctx, Bin::kEq);
}
bool OpNe(ScriptContext* ctx) {
  return Binary(ctx, Bin::kNe);
}
bool OpAnd(ScriptContext* ctx) {
  return Binary(ctx, Bin::kAnd);
}
bool OpXor(ScriptContext* ctx) {
  return Binary(ctx, Bin::kXor);
}
bool OpOr(ScriptContext* ctx) {
  return Binary(ctx, Bin::kOr);
}
