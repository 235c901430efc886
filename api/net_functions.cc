// Nets for scripts and plug-ins: listen, accept and connect over TCP, send and receive 32-bit
// numbers, floats, lines and raw bytes, query a net's state, choose blocking, and register a net
// with the event wait. The built-ins act on the current net; the exports take net handles. Both
// faces share the workers below, so a built-in and its export twin move the same bytes.
#include <cstdint>
#include <cstring>
#include <string>

#include "api/api_frame.h"
#include "api/ov_api.h"
#include "base/dstring.h"
#include "shell/ceventwaiter.h"
#include "shell/cnetmanager.h"
#include "vm/dispatch.h"
#include "vm/runtime_error.h"
#include "vm/script_context.h"
#include "vm/script_value.h"

namespace {

// ---- Workers shared by both faces. Every caller holds its own reference to the net for the whole
// call: a wait pumps messages, and a handler run from there may drop the selection or the handle.

// Numbers and floats travel as their 4 bytes, least significant first.
bool SendWord(CNet& net, uint32_t bits) {
  const uint8_t b[4] = {static_cast<uint8_t>(bits), static_cast<uint8_t>(bits >> 8),
                        static_cast<uint8_t>(bits >> 16), static_cast<uint8_t>(bits >> 24)};
  return net.SendData(b, 4);
}
bool RecvWord(CNet& net, uint32_t* bits) {
  uint8_t b[4];
  if (!net.RecvData(b, 4)) return false;
  *bits = uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
  return true;
}
// A float's bits go through unchanged (no trip through double), so NaN payloads survive.
uint32_t FloatBits(float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, 4);
  return bits;
}
float BitsFloat(uint32_t bits) {
  float f;
  std::memcpy(&f, &bits, 4);
  return f;
}

void SetWaitFlag(CNet& net, bool wait) {
  net.SetWaitMode(wait ? (net.WaitMode() | 1u) : (net.WaitMode() & ~1u));
}

// ---- Built-ins.

constexpr char kBindFailed[] = "受信待ちできません。\nそのポートはすでに使われています。";
constexpr char kConnectFailed[] = "ネット接続ができません";

DRef<CNet> Current() {
  return DRef<CNet>::Convert(CurrentObjects().net);
}

bool BiBindNet(ScriptContext* ctx) {
  const int32_t port = ctx->GetArg(1)->ToInt();
  const int32_t backlog = ctx->GetArg(2)->ToInt();
  DRef<CNet> n;
  NetManager().Bind(&n, port, backlog);
  if (!n) {
    ReportRuntimeError(kBindFailed, ctx);
    return false;
  }
  SetObjectValue(ctx->result(), kScriptNet, DRef<void>::Convert(n));
  return false;
}

bool BiAcceptNet(ScriptContext* ctx) {
  DRef<CNet> listener = Current();
  if (!listener) return ctx->result()->SetBool(false), false;
  const bool wait = (ctx->GetArg(2)->ToInt() & 1) != 0;
  DRef<CNet> n;
  NetManager().Accept(*listener, &n, wait);
  if (n) SetObjectValue(ctx->GetArg(1), kScriptNet, DRef<void>::Convert(n));
  ctx->result()->SetBool(static_cast<bool>(n));
  return false;
}

bool BiConnectNet(ScriptContext* ctx) {
  const std::string host(ctx->GetArg(1)->ToStaticString());
  const int32_t port = ctx->GetArg(2)->ToInt();
  const bool wait = (ctx->GetArg(3)->ToInt() & 1) != 0;
  DRef<CNet> n;
  NetManager().Connect(&n, host.c_str(), port, wait);
  if (!n) {
    ReportRuntimeError(kConnectFailed, ctx);
    return false;
  }
  SetObjectValue(ctx->result(), kScriptNet, DRef<void>::Convert(n));
  return false;
}

bool BiIsNetConnect(ScriptContext* ctx) {
  DRef<CNet> n = Current();
  ctx->result()->SetBool(n && n->IsConnected());
  return false;
}
bool BiIsNetError(ScriptContext* ctx) {
  DRef<CNet> n = Current();
  ctx->result()->SetBool(!n || n->IsError());
  return false;
}
bool BiIsNetAccept(ScriptContext* ctx) {
  DRef<CNet> n = Current();
  ctx->result()->SetBool(n && n->IsAcceptWaiting());
  return false;
}

bool BiSetNetModeWait(ScriptContext* ctx) {
  DRef<CNet> n = Current();
  if (n) SetWaitFlag(*n, ctx->GetArg(1)->ToInt() != 0);
  return false;
}

bool BiSendNetString(ScriptContext* ctx) {
  DRef<CNet> n = Current();
  if (!n) return ctx->result()->SetBool(false), false;
  const std::string text(ctx->GetArg(1)->ToStaticString());
  ctx->result()->SetBool(n->SendString(text.c_str()));
  return false;
}
bool BiSendNetNumber(ScriptContext* ctx) {
  DRef<CNet> n = Current();
  if (!n) return ctx->result()->SetBool(false), false;
  ctx->result()->SetBool(SendWord(*n, static_cast<uint32_t>(ctx->GetArg(1)->ToInt())));
  return false;
}
bool BiSendNetFloat(ScriptContext* ctx) {
  DRef<CNet> n = Current();
  if (!n) return ctx->result()->SetBool(false), false;
  ctx->result()->SetBool(SendWord(*n, FloatBits(ctx->GetArg(1)->ToFloat())));
  return false;
}

// The receives fetch their variable only after the wait: the pump may have run other code.
bool BiRecvNetString(ScriptContext* ctx) {
  DRef<CNet> n = Current();
  if (!n) return ctx->result()->SetBool(false), false;
  // The line points into the net's receive buffer: copied before anything else runs.
  const DString line = n->RecvString();
  if (line) ctx->GetArg(1)->SetString(line.Text());
  ctx->result()->SetBool(static_cast<bool>(line));
  return false;
}
bool BiRecvNetNumber(ScriptContext* ctx) {
  DRef<CNet> n = Current();
  uint32_t bits = 0;
  const bool ok = n && RecvWord(*n, &bits);
  if (ok) ctx->GetArg(1)->SetInt(static_cast<int32_t>(bits));
  ctx->result()->SetBool(ok);
  return false;
}
bool BiRecvNetFloat(ScriptContext* ctx) {
  DRef<CNet> n = Current();
  uint32_t bits = 0;
  const bool ok = n && RecvWord(*n, &bits);
  if (ok) ctx->GetArg(1)->SetFloat(BitsFloat(bits));
  ctx->result()->SetBool(ok);
  return false;
}

bool BiWaitNetEvent(ScriptContext* ctx) {
  DRef<CNet> n = ObjectOfValueAs<CNet>(*ctx->GetArg(1), kScriptNet);
  if (!n) {
    ctx->RaiseError(kScriptKindErrorBase + kScriptNet);
    return false;
  }
  EventWaiter().AddNet(n);
  return false;
}

ApiHandle* NewNetHandle(const DRef<CNet>& n) noexcept {
  return n ? NewApiHandle(kScriptNet, DRef<void>::Convert(n)) : nullptr;
}

DRef<CNet> NetOf(ApiHandle* h, const char* name) noexcept {
  return ApiHandleAs<CNet>(h, kScriptNet, name);
}

}  // namespace

ORVANE_START_CODE void InstallNetBuiltins() {
  const struct {
    uint32_t n;
    VmHandler h;
  } table[] = {
      {159, Guarded<BiBindNet>},        {160, Guarded<BiAcceptNet>},     {146, Guarded<BiConnectNet>},
      {149, Guarded<BiIsNetConnect>},   {150, Guarded<BiIsNetError>},    {161, Guarded<BiIsNetAccept>},
      {157, Guarded<BiSetNetModeWait>}, {156, Guarded<BiSendNetString>}, {154, Guarded<BiSendNetNumber>},
      {155, Guarded<BiSendNetFloat>},   {153, Guarded<BiRecvNetString>}, {151, Guarded<BiRecvNetNumber>},
      {152, Guarded<BiRecvNetFloat>},   {158, Guarded<BiWaitNetEvent>},
  };
  for (const auto& e : table) SetVmBuiltin(e.n, e.h);
}

// ---- Exports. A null handle or one of another kind is no net: the queries give 0 (1 for
// ovIsNetError, as the built-in without a current net) and nothing is sent, taken or written.

ApiHandle* ovBindNet(int32_t port, int32_t backlog) noexcept {
  try {
    DRef<CNet> n;
    NetManager().Bind(&n, port, backlog);
    return NewNetHandle(n);
  } catch (...) {
    return nullptr;
  }
}

ApiHandle* ovAcceptNet(ApiHandle* net, int32_t flag) noexcept {
  try {
    DRef<CNet> listener = NetOf(net, "ovAcceptNet");
    if (!listener) return nullptr;
    DRef<CNet> n;
    NetManager().Accept(*listener, &n, (flag & 1) != 0);
    return NewNetHandle(n);
  } catch (...) {
    return nullptr;
  }
}

ApiHandle* ovConnectNet(const char* host, int32_t port, int32_t flag) noexcept {
  try {
    DRef<CNet> n;
    NetManager().Connect(&n, host ? host : "", port, (flag & 1) != 0);
    return NewNetHandle(n);
  } catch (...) {
    return nullptr;
  }
}

void ovDestroyNet(ApiHandle* net) noexcept {
  DestroyApiHandle(net, kScriptNet, "ovDestroyNet");
}

int32_t ovIsNetConnect(ApiHandle* net) noexcept {
  DRef<CNet> n = NetOf(net, "ovIsNetConnect");
  return n && n->IsConnected() ? 1 : 0;
}
int32_t ovIsNetAccept(ApiHandle* net) noexcept {
  DRef<CNet> n = NetOf(net, "ovIsNetAccept");
  return n && n->IsAcceptWaiting() ? 1 : 0;
}
int32_t ovIsNetError(ApiHandle* net) noexcept {
  DRef<CNet> n = NetOf(net, "ovIsNetError");
  return !n || n->IsError() ? 1 : 0;
}

void ovSetNetModeWait(ApiHandle* net, int32_t flag) noexcept {
  DRef<CNet> n = NetOf(net, "ovSetNetModeWait");
  if (n) SetWaitFlag(*n, flag != 0);
}

int32_t ovSendNetData(ApiHandle* net, const void* data, int32_t n) noexcept {
  try {
    if (n < 0 || (data == nullptr && n > 0)) return 0;
    DRef<CNet> c = NetOf(net, "ovSendNetData");
    return c && c->SendData(data, n) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}
int32_t ovSendNetNumber(ApiHandle* net, int32_t value) noexcept {
  try {
    DRef<CNet> c = NetOf(net, "ovSendNetNumber");
    return c && SendWord(*c, static_cast<uint32_t>(value)) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}
int32_t ovSendNetFloat(ApiHandle* net, float value) noexcept {
  try {
    DRef<CNet> c = NetOf(net, "ovSendNetFloat");
    return c && SendWord(*c, FloatBits(value)) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}
int32_t ovSendNetString(ApiHandle* net, const char* text) noexcept {
  try {
    DRef<CNet> c = NetOf(net, "ovSendNetString");
    return c && c->SendString(text ? text : "") ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

int32_t ovRecvNetData(void* buffer, int32_t n, ApiHandle* net) noexcept {
  try {
    if (buffer == nullptr || n < 0) return 0;
    DRef<CNet> c = NetOf(net, "ovRecvNetData");
    return c && c->RecvData(buffer, n) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}
int32_t ovRecvNetNumber(int32_t* out, ApiHandle* net) noexcept {
  try {
    if (out == nullptr) return 0;
    DRef<CNet> c = NetOf(net, "ovRecvNetNumber");
    uint32_t bits = 0;
    if (!c || !RecvWord(*c, &bits)) return 0;
    *out = static_cast<int32_t>(bits);
    return 1;
  } catch (...) {
    return 0;
  }
}
int32_t ovRecvNetFloat(float* out, ApiHandle* net) noexcept {
  try {
    if (out == nullptr) return 0;
    DRef<CNet> c = NetOf(net, "ovRecvNetFloat");
    uint32_t bits = 0;
    if (!c || !RecvWord(*c, &bits)) return 0;
    *out = BitsFloat(bits);
    return 1;
  } catch (...) {
    return 0;
  }
}
// The text stays in the net until its next line is handed out (the net lives until shutdown).
const char* ovRecvNetString(ApiHandle* net) noexcept {
  try {
    DRef<CNet> c = NetOf(net, "ovRecvNetString");
    if (!c) return nullptr;
    DString line = c->RecvString();
    if (!line) return nullptr;
    // The line points into the receive buffer, which the next receive may move: the net keeps a
    // copy of its own.
    const uint32_t length = line.Length();
    DRef<char> copy;
    copy.Alloc(length + 1);
    std::memcpy(copy.Get(), line.Text(), length + 1);
    c->KeptLine() = DString(copy);
    return c->KeptLine().Text();
  } catch (...) {
    return nullptr;
  }
}

void ovWaitNetEvent(ApiHandle* net) noexcept {
  try {
    DRef<CNet> n = NetOf(net, "ovWaitNetEvent");
    if (n) EventWaiter().AddNet(n);
  } catch (...) {
  }
}
