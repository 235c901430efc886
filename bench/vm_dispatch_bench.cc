// Instructions per second of the script machine's dispatch loop on a tight integer loop and on a
// method-call-heavy loop, beside a native loop doing the same counting.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "vm/dispatch.h"
#include "vm/opcodes.h"
#include "vm/script_context.h"

namespace {

constexpr int32_t kIterations = 100000;

// Code words by hand: opcode, then fields; operands here are global slots {0, n}.
struct Code {
  std::vector<uint32_t> words;
  Code& Op(VmOp op, std::initializer_list<uint32_t> fields) {
    words.push_back(static_cast<uint32_t>(op));
    words.insert(words.end(), fields);
    return *this;
  }
  uint32_t Here() const { return static_cast<uint32_t>(words.size()); }
};

// G0 counts to G2 = kIterations; with_call adds a call of a small method to every iteration.
DRef<ScriptImageInfo> CountingLoop(bool with_call) {
  Code c;
  c.Op(VmOp::OpAddBase, {static_cast<uint32_t>(-2)});  // frame base = G: frames stay off the globals
  c.Op(VmOp::OpSetInt, {0, 0, 0}).Op(VmOp::OpSetInt, {0, 2, static_cast<uint32_t>(kIterations)});
  uint32_t loop = c.Here();
  uint32_t call_at = 0;
  if (with_call) {
    call_at = c.Here();
    c.Op(VmOp::OpCall, {0, 0});  // target patched below
  }
  c.Op(VmOp::OpAddConstInt, {0, 0, 1});
  c.Op(VmOp::OpLt, {0, 1, 0, 0, 0, 2});
  c.Op(VmOp::OpJumpIfNonZero, {0, 1, loop});
  uint32_t halt = c.Here();
  c.Op(VmOp::OpHalt, {});
  if (with_call) {
    // A method with a frame of two slots: save the base, open, touch a local, close, return.
    c.words[call_at + 2] = c.Here();
    c.Op(VmOp::OpPushBase, {});
    c.Op(VmOp::OpEnter, {2});
    c.Op(VmOp::OpAddConstInt, {1, 1, 3});
    c.Op(VmOp::OpLeave, {2});
    c.Op(VmOp::OpPopBase, {});
    c.Op(VmOp::OpReturn, {});
  }
  DRef<ScriptImageInfo> info;
  info.Alloc(1);
  info->code = c.words;
  info->SetData("", 0);
  info->globals = 3;
  info->return_address = halt;
  return info;
}

void RunLoop(benchmark::State& state, bool with_call) {
  DRef<ScriptImageInfo> info = CountingLoop(with_call);
  ScriptContext* ctx = ScriptContext::Create(info, 1024, &CallBuiltin, nullptr);
  uint64_t instructions = 0;
  for (auto _ : state) {
    ctx->Stop();
    ctx->Start(0);
    while (!ctx->Step()) ++instructions;
    ++instructions;
  }
  state.counters["instr/s"] =
      benchmark::Counter(static_cast<double>(instructions), benchmark::Counter::kIsRate);
  ScriptContext::Destroy(ctx);
}

void BM_VmIntegerLoop(benchmark::State& state) {
  RunLoop(state, false);
}
BENCHMARK(BM_VmIntegerLoop);

void BM_VmCallLoop(benchmark::State& state) {
  RunLoop(state, true);
}
BENCHMARK(BM_VmCallLoop);

// The turn loop itself (pump test every 100 instructions) on the integer loop.
void BM_VmTaskTurn(benchmark::State& state) {
  DRef<ScriptImageInfo> info = CountingLoop(false);
  ScriptContext* ctx = ScriptContext::Create(info, 1024, &CallBuiltin, nullptr);
  for (auto _ : state) {
    ctx->Stop();
    ctx->Start(0);
    uint32_t flags = 0;
    RunTaskTurn(ctx, flags);
  }
  state.counters["instr/s"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * (3.0 * kIterations + 4), benchmark::Counter::kIsRate);
  ScriptContext::Destroy(ctx);
}
BENCHMARK(BM_VmTaskTurn);

// Anchor: the same counting as native code through a volatile counter (3 "instructions" a turn).
void BM_NativeCountingLoop(benchmark::State& state) {
  for (auto _ : state) {
    volatile int32_t counter = 0;
    volatile int32_t less = 1;
    while (less) {
      counter = counter + 1;
      less = counter < kIterations;
    }
  }
  state.counters["instr/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * 3.0 * kIterations,
                                                 benchmark::Counter::kIsRate);
}
BENCHMARK(BM_NativeCountingLoop);

// A context made and freed, as each new task makes one: its slot table of G + 1024 values.
void BM_VmContextCreate(benchmark::State& state) {
  DRef<ScriptImageInfo> info = CountingLoop(false);
  for (auto _ : state) {
    ScriptContext* ctx = ScriptContext::Create(info, 1024, &CallBuiltin, nullptr);
    benchmark::DoNotOptimize(ctx);
    ScriptContext::Destroy(ctx);
  }
}
BENCHMARK(BM_VmContextCreate);

}  // namespace
