// The script machine beside an embedded Lua 5.4 on the same three programs, timed in the same run:
// an integer counting loop, recursive fib through the machine's calling convention (frames,
// reference-pair arguments, OpAddBase), and a loop that builds a string. Each benchmark runs both
// and reports the script machine's time, Lua's, and their ratio (ours / Lua).
#include <benchmark/benchmark.h>
#include <time.h>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/meiasm/meiasm.h"
#include "vm/dispatch.h"
#include "vm/script_context.h"
#include "vm/script_image.h"

namespace {

using meiasm::G;
using meiasm::L;
using meiasm::Label;
using meiasm::S;

constexpr int32_t kLoopCount = 1000000;
constexpr int32_t kFibN = 24;
constexpr int32_t kStringCount = 4000;

double Now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// i = 0; repeat i += 1 until not (i < n): the test at the bottom, as both compilers place it.
meiasm::Builder IntLoop() {
  meiasm::Builder b;
  b.Globals(3);
  b.OpSetInt(G(0), 0);
  b.OpSetInt(G(2), kLoopCount);
  b.Bind("loop");
  b.OpAddConstInt(G(0), 1);
  b.OpLt(G(1), G(0), G(2));
  b.OpJumpIfNonZero(G(1), Label{"loop"});
  b.OpHalt();
  return b;
}

// fib(n, result): arguments are reference pairs below the caller's frame size word; the callee
// saves the frame base, moves it past the caller's frame and opens three locals.
meiasm::Builder Fib() {
  meiasm::Builder b;
  b.Globals(2);
  b.OpAddBase(-2);  // frame base = G
  b.OpSetInt(G(0), 2);
  b.OpEnter(1);
  b.OpSetInt(L(0), kFibN);
  b.OpPushRef(L(0));  // result
  b.OpPushRef(L(0));  // n
  b.OpPushWord(1);    // the caller's frame size
  b.OpCall(0, Label{"fib"});
  b.OpDrop(5);
  b.OpMove(G(1), L(0));
  b.OpHalt();
  b.Bind("fib");
  b.OpPushBase();
  b.OpAddBase(-3);
  b.OpEnter(3);
  b.OpMove(L(0), S(-4));
  b.OpLt(L(1), L(0), G(0));
  b.OpJumpIfZero(L(1), Label{"rec"});
  b.OpMove(S(-6), L(0));
  b.OpJump(Label{"out"});
  b.Bind("rec");
  b.OpSub(L(2), L(0), G(0));  // n - 2 first, kept in L2
  b.OpAddConstInt(L(2), 1);   // n - 1
  b.OpPushRef(L(1));
  b.OpPushRef(L(2));
  b.OpPushWord(3);
  b.OpCall(0, Label{"fib"});
  b.OpDrop(5);
  b.OpSub(L(2), L(0), G(0));
  b.OpPushRef(L(2));
  b.OpPushRef(L(2));
  b.OpPushWord(3);
  b.OpCall(0, Label{"fib"});
  b.OpDrop(5);
  b.OpAdd(S(-6), L(1), L(2));
  b.Bind("out");
  b.OpLeave(3);
  b.OpPopBase();
  b.OpReturn();
  return b;
}

// s = ""; i = 0; repeat s += "abc"; i += 1 until not (i < n)
meiasm::Builder StringLoop() {
  meiasm::Builder b;
  b.Globals(4);
  b.OpSetString(G(3), meiasm::Text{""});
  b.OpSetInt(G(0), 0);
  b.OpSetInt(G(2), kStringCount);
  b.Bind("loop");
  b.OpAddConstString(G(3), meiasm::Text{"abc"});
  b.OpAddConstInt(G(0), 1);
  b.OpLt(G(1), G(0), G(2));
  b.OpJumpIfNonZero(G(1), Label{"loop"});
  b.OpHalt();
  return b;
}

const char* const kLuaIntLoop = "local i, n = 0, ... repeat i = i + 1 until not (i < n) return i";
const char* const kLuaFib =
    "local function fib(n) if n < 2 then return n end return fib(n - 1) + fib(n - 2) end return fib(...)";
const char* const kLuaStringLoop =
    "local s, i, n = '', 0, ... repeat s = s .. 'abc'; i = i + 1 until not (i < n) return #s";

struct Pair {
  DRef<ScriptImageInfo> info;
  ScriptContext* ctx = nullptr;
  lua_State* lua = nullptr;
  int chunk = LUA_NOREF;
  int32_t lua_arg = 0;

  Pair(const meiasm::Builder& b, const char* lua_source, int32_t arg) : lua_arg(arg) {
    std::vector<uint8_t> bytes = b.Build();
    info.Alloc(1);
    if (const char* why = LoadScriptImageInfo(bytes, info.Get())) std::fprintf(stderr, "image: %s\n", why);
    ctx = ScriptContext::Create(info, 1024, &CallBuiltin, nullptr);
    lua = luaL_newstate();
    luaL_openlibs(lua);
    if (luaL_loadstring(lua, lua_source) != LUA_OK) std::fprintf(stderr, "lua: %s\n", lua_tostring(lua, -1));
    chunk = luaL_ref(lua, LUA_REGISTRYINDEX);
  }
  ~Pair() {
    ScriptContext::Destroy(ctx);
    lua_close(lua);
  }

  // One run of the script to its end, as a task's turns run it.
  void RunOurs() {
    ctx->Stop();
    ctx->Start(0);
    uint32_t flags = 0;
    while (!RunTaskTurn(ctx, flags)) {
    }
  }
  int64_t RunLua() {
    lua_rawgeti(lua, LUA_REGISTRYINDEX, chunk);
    lua_pushinteger(lua, lua_arg);
    lua_call(lua, 1, 1);
    int64_t r = lua_tointeger(lua, -1);
    lua_pop(lua, 1);
    return r;
  }
};

void Compare(benchmark::State& state, const meiasm::Builder& b, const char* lua_source, int32_t arg,
             uint32_t result_slot, int64_t expected) {
  Pair p(b, lua_source, arg);
  double ours = 0, lua = 0;
  for (auto _ : state) {
    double t0 = Now();
    p.RunOurs();
    double t1 = Now();
    int64_t r = p.RunLua();
    double t2 = Now();
    benchmark::DoNotOptimize(r);
    ours += t1 - t0;
    lua += t2 - t1;
  }
  ScriptValue* v = p.ctx->SlotOrNull(result_slot);
  int64_t got = v->type() == kScriptString ? static_cast<int64_t>(std::string(v->text()).size()) : v->ToInt();
  if (got != expected) state.SkipWithError("the script gave a wrong result");
  const double n = static_cast<double>(state.iterations());
  state.counters["ours_ms"] = ours / n * 1e3;
  state.counters["lua_ms"] = lua / n * 1e3;
  state.counters["ours/lua"] = lua > 0 ? ours / lua : 0;
}

void BM_IntegerLoopVsLua(benchmark::State& state) {
  Compare(state, IntLoop(), kLuaIntLoop, kLoopCount, 0, kLoopCount);
}
BENCHMARK(BM_IntegerLoopVsLua)->Unit(benchmark::kMillisecond);

void BM_FibVsLua(benchmark::State& state) {
  Compare(state, Fib(), kLuaFib, kFibN, 1, 46368);  // fib(24)
}
BENCHMARK(BM_FibVsLua)->Unit(benchmark::kMillisecond);

void BM_StringBuildingVsLua(benchmark::State& state) {
  Compare(state, StringLoop(), kLuaStringLoop, kStringCount, 3, 3 * kStringCount);
}
BENCHMARK(BM_StringBuildingVsLua)->Unit(benchmark::kMillisecond);

}  // namespace
