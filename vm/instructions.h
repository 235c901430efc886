// Handlers of the 72 instructions, declared from the one instruction list.
#pragma once

#include "vm/opcodes.h"
#include "vm/script_context.h"

// bool OpPushBase(ScriptContext*), ... : each reads its fields at pc and gives true to end the run.
#define ORVANE_VM_DECLARE_HANDLER(num, name, count, fields, doc) bool name(ScriptContext* ctx);
ORVANE_VM_OPCODES(ORVANE_VM_DECLARE_HANDLER)
#undef ORVANE_VM_DECLARE_HANDLER
