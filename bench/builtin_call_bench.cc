// Built-in calls per second through the machine's built-in call (the native-call hook with the
// arguments pushed as reference pairs, as the call instruction leaves them): Sin, StrMid and a
// select/get pair; beside the same calls in an embedded Lua 5.4 in the same run.
#include <benchmark/benchmark.h>

#include <lua5.4/lua.hpp>

#include "api/api_frame.h"
#include "base/dprofile.h"
#include "imaging/dimg_tables.h"
#include "vm/dispatch.h"
#include "vm/runtime_error.h"

namespace {

struct Frame {
  ScriptContext* ctx = nullptr;
  Frame() {
    static bool tables = DimgInitMathTables();
    (void)tables;
    InstallApiBuiltins();
    DRef<ScriptImageInfo> image;
    image.Alloc(1);
    image->code = {0};
    image->globals = 8;
    image->SetData("", 0);
    ctx = ScriptContext::Create(image, 64, &CallBuiltin, &ReportVmErrorCode);
    ctx->Start(0);
  }
  ~Frame() { ScriptContext::Destroy(ctx); }
  void Call(uint32_t n, std::initializer_list<uint32_t> slots) {
    const uint32_t top = ctx->stack_top();
    for (auto it = std::rbegin(slots); it != std::rend(slots); ++it) ctx->PushSlotRef(*it);
    ctx->Push(0);
    ctx->hook()(ctx, n);
    ctx->Drop(ctx->stack_top() - top);
  }
};

void BM_Builtin_Sin(benchmark::State& state) {
  Frame f;
  f.ctx->SlotOrNull(1)->SetFloat(0.5f);
  for (auto _ : state) {
    f.Call(61, {1});
    benchmark::DoNotOptimize(f.ctx->result()->float_value());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Builtin_Sin);

void BM_Builtin_StrMid(benchmark::State& state) {
  Frame f;
  f.ctx->SlotOrNull(1)->SetString("script text 表示 of some length");
  f.ctx->SlotOrNull(2)->SetInt(7);
  f.ctx->SlotOrNull(3)->SetInt(6);
  for (auto _ : state) {
    f.Call(106, {1, 2, 3});
    benchmark::DoNotOptimize(f.ctx->result()->text());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Builtin_StrMid);

void BM_Builtin_SelectGet(benchmark::State& state) {
  Frame f;
  DRef<DProfile> p;
  p.Alloc(1);
  SetObjectValue(f.ctx->SlotOrNull(1), kScriptProfile, DRef<void>::Convert(p));
  for (auto _ : state) {
    f.Call(117, {1});  // SetProfile
    f.Call(116, {});   // GetProfile
    benchmark::DoNotOptimize(f.ctx->result()->handle());
  }
  state.SetItemsProcessed(state.iterations());
  ClearCurrentObjects();
}
BENCHMARK(BM_Builtin_SelectGet);

// The same calls from Lua: a loop of n calls in one chunk, so the interpreter's call path is measured.
void LuaLoop(benchmark::State& state, const char* body) {
  lua_State* L = luaL_newstate();
  luaL_openlibs(L);
  // select/get: a selection kept in an upvalue-free global table, as a host would keep it.
  luaL_dostring(L, "local cur; function setp(o) cur = o end; function getp() return cur end; obj = {}");
  std::string chunk = std::string("local n = ...; local x; for i = 1, n do ") + body + " end; return x";
  luaL_loadstring(L, chunk.c_str());
  const int ref = luaL_ref(L, LUA_REGISTRYINDEX);
  constexpr lua_Integer kBatch = 1000;
  for (auto _ : state) {
    lua_rawgeti(L, LUA_REGISTRYINDEX, ref);
    lua_pushinteger(L, kBatch);
    lua_call(L, 1, 1);
    lua_pop(L, 1);
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
  lua_close(L);
}

void BM_Lua_Sin(benchmark::State& state) {
  LuaLoop(state, "x = math.sin(0.5)");
}
BENCHMARK(BM_Lua_Sin);

void BM_Lua_StrMid(benchmark::State& state) {
  LuaLoop(state, "x = string.sub('script text of some length', 8, 13)");
}
BENCHMARK(BM_Lua_StrMid);

void BM_Lua_SelectGet(benchmark::State& state) {
  LuaLoop(state, "setp(obj); x = getp()");
}
BENCHMARK(BM_Lua_SelectGet);

}  // namespace
