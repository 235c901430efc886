// The dispatch table of the script machine, one turn of a task, synchronous runs and built-in calls.
#pragma once

#include <cstdint>

#include "vm/opcodes.h"
#include "vm/script_context.h"

// Every entry takes the context and returns true to end the run.
using VmHandler = bool (*)(ScriptContext* ctx);

// 356 entries: the 72 instructions, then built-in n at 72 + n. Built-ins not installed do nothing
// and give false.
extern VmHandler VmDispatchTable[kVmDispatchTableSize];

// Marks a function run once while the program starts, such as the installers of built-ins: it is
// placed beside the start-up code the compiler already groups (main, static initialisers), so a
// start touches fewer pages of code.
#define ORVANE_START_CODE __attribute__((section(".text.startup")))

// Installs built-in n's handler (null restores the empty one); false for n >= 284.
bool SetVmBuiltin(uint32_t n, VmHandler handler);

// The native-call hook of ordinary contexts: runs built-in n (entry 72 + n) and gives its bool;
// n >= 284 raises error 1 and gives false.
bool CallBuiltin(ScriptContext* ctx, uint32_t n);

// Run flags of a task (the task record keeps the word; the loops below read and set it).
inline constexpr uint32_t kVmRunYield = 1;
inline constexpr uint32_t kVmRunEnd = 2;

// One turn of a task on its context: runs instructions until the yield or end flag is set (a
// handler giving true sets the end flag), pumping window messages after every 100th instruction
// of the turn, before the flag test. Runs nothing when a flag is already set. Clears the whole
// flags word at the end and gives true when the task is to end; the caller (the task loop's
// DispatchLoop) keeps and restores the current task around this and ends the task on true.
bool RunTaskTurn(ScriptContext* ctx, uint32_t& run_flags);

// The synchronous run of a started context: one instruction at a time until a handler gives true
// or the end flag is set, pumping messages after each instruction that did not end it. The yield
// flag is ignored and no flag is cleared. The caller (CallMethodSync) starts the entry first,
// keeps and restores the current task around this, and stops the context afterwards.
void RunMethodSync(ScriptContext* ctx, const uint32_t& run_flags);
