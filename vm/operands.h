// Operand decoding: the slot, stack reference, array element or record member that an operand names.
#pragma once

#include <cstdint>

#include "vm/script_context.h"

// Reads one operand at pc (pc advances past it) and gives the value it selects. An index outside
// the slots, a positive index on an address, a reference pair outside the stack and a slot outside
// the table raise error 1 and give slot 0; a bad name offset or nesting deeper than
// kVmMaxOperandDepth also ends the run (ScriptContext::Fault).
ScriptValue* DecodeOperand(ScriptContext* ctx);

// The value itself, or its member named by the mode's name word (bit 4) or name operand (bit 5);
// a value that is not a record becomes an empty record first.
ScriptValue* ApplyMemberAccess(ScriptContext* ctx, ScriptValue* value, uint32_t mode);
