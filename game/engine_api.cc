// The engine table and its binding by name in the master list's order.
#include "game/engine_api.h"

EngineApi g_engine;

namespace {
bool g_bound = false;
}  // namespace

bool BindEngineApi(EngineLookup lookup, void* context) {
  g_bound = false;
#define OV_EXPORT(position, name, return_type, params)      \
  {                                                         \
    void* address = lookup(context, #name);                 \
    if (!address) return false;                             \
    g_engine.name = reinterpret_cast<OvFn_##name>(address); \
  }
#include "api/export_list.h"
#undef OV_EXPORT
  g_bound = true;
  return true;
}

bool EngineApiBound() {
  return g_bound;
}

void ClearEngineApi() {
  g_engine = EngineApi{};
  g_bound = false;
}
