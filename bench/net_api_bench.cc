// A million numbers taken by an assembled script's RecvNetNumber loop beside the same count
// through CNet::RecvData in a plain loop, over loopback in the same run.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "api/api_frame.h"
#include "base/dapplication.h"
#include "base/dpump.h"
#include "shell/cmainwindow.h"
#include "shell/cnetmanager.h"
#include "tools/meiasm/meiasm.h"
#include "vm/dispatch.h"
#include "vm/script_context.h"
#include "vm/script_image.h"

namespace {

constexpr int32_t kNumbers = 1000000;
constexpr uint32_t kRecvNetNumber = 151;

int32_t g_port = 0;
DRef<CNet> g_listener;

bool Setup() {
  static bool ready = [] {
    static DApplication app;
    app.Startup(GetModuleHandleA(nullptr), SW_SHOWNORMAL, nullptr);
    DSetApplication(&app);
    if (!MainWindow().Create() || !NetManager().Init()) return false;
    InstallApiBuiltins();
    for (g_port = 47000; g_port < 65000; ++g_port) {
      NetManager().Bind(&g_listener, g_port, 5);
      if (g_listener) return true;
    }
    return false;
  }();
  return ready;
}

std::string Payload() {
  std::string s(static_cast<size_t>(kNumbers) * 4, '\0');
  for (int32_t i = 0; i < kNumbers; ++i) {
    const uint32_t v = static_cast<uint32_t>(i);
    for (int k = 0; k < 4; ++k) s[static_cast<size_t>(i) * 4 + k] = static_cast<char>(v >> (8 * k));
  }
  return s;
}

// A thread that connects, sends the payload (a blocking send, which waits without holding up
// the engine's own socket calls) and closes.
std::thread Sender(const std::string& payload) {
  return std::thread([&payload] {
    ws::SOCKET s = ws::socket(ws::AF_INET, ws::SOCK_STREAM, ws::IPPROTO_TCP);
    ws::sockaddr_in a{};
    a.sin_family = ws::AF_INET;
    a.sin_port = ws::htons(static_cast<uint16_t>(g_port));
    a.sin_addr.s_addr = ws::inet_addr("127.0.0.1");
    if (ws::connect(s, reinterpret_cast<ws::sockaddr*>(&a), sizeof(a)) != 0) std::abort();
    ws::send(s, payload.data(), static_cast<int>(payload.size()), 0);  // a short count shows as lost numbers
    ws::closesocket(s);
  });
}

DRef<CNet> AcceptOne() {
  while (!g_listener->IsAcceptWaiting()) DPumpMessages();
  DRef<CNet> n;
  NetManager().Accept(*g_listener, &n, false);
  n->SetWaitMode(0);
  return n;
}

// count = 0; repeat count += RecvNetNumber(value) until not (count < n).
DRef<ScriptImageInfo> RecvLoop() {
  using meiasm::G;
  meiasm::Builder b;
  b.Globals(5);
  b.Method("main");
  b.Export(0);
  b.OpSetInt(G(2), 0);
  b.OpSetInt(G(3), kNumbers);
  b.Bind("loop");
  b.CallBuiltin(kRecvNetNumber, {G(1)});
  b.OpAdd(G(2), G(2), G(0));
  b.OpLt(G(4), G(2), G(3));
  b.OpJumpIfNonZero(G(4), meiasm::Label{"loop"});
  b.OpHalt();
  const std::vector<uint8_t> bytes = b.Build();
  DRef<ScriptImageInfo> info;
  info.Alloc(1);
  if (const char* why = LoadScriptImageInfo(bytes, info.Get())) std::fprintf(stderr, "image: %s\n", why);
  return info;
}

void BM_ScriptRecvNetNumber(benchmark::State& state) {
  if (!Setup()) return state.SkipWithError("no net");
  static const std::string payload = Payload();
  DRef<ScriptImageInfo> info = RecvLoop();
  ScriptContext* ctx = ScriptContext::Create(info, 1024, &CallBuiltin, nullptr);
  for (auto _ : state) {
    std::thread t = Sender(payload);
    DRef<CNet> n = AcceptOne();
    CurrentObjects().net = DRef<void>::Convert(n);
    ctx->Stop();
    ctx->Start(0);
    while (!ctx->Step()) {
    }
    t.join();
    if (ctx->SlotOrNull(2)->ToInt() != kNumbers) state.SkipWithError("numbers lost");
    CurrentObjects().net.Release();
    n->Close();
  }
  ScriptContext::Destroy(ctx);
  state.SetItemsProcessed(state.iterations() * kNumbers);
}
BENCHMARK(BM_ScriptRecvNetNumber)->Unit(benchmark::kMillisecond)->Iterations(3);

// The anchor: the same numbers through the Net unit's data taking.
void BM_NetRecvDataNumbers(benchmark::State& state) {
  if (!Setup()) return state.SkipWithError("no net");
  static const std::string payload = Payload();
  for (auto _ : state) {
    std::thread t = Sender(payload);
    DRef<CNet> n = AcceptOne();
    int32_t count = 0;
    uint8_t b[4];
    while (count < kNumbers) {
      if (n->RecvData(b, 4)) ++count;
    }
    t.join();
    benchmark::DoNotOptimize(b);
    n->Close();
  }
  state.SetItemsProcessed(state.iterations() * kNumbers);
}
BENCHMARK(BM_NetRecvDataNumbers)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
