// The Net unit's line and data taking over loopback beside a raw recv loop on the same bytes, and
// the File unit's ReadText over a 10 MB file beside std::getline.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "base/dapplication.h"
#include "base/dpump.h"
#include "shell/cfilemanager.h"
#include "shell/cmainwindow.h"
#include "shell/cnetmanager.h"
#include "vm/script_loader.h"

// The raw side uses the system's sockets directly (after the WinSock header).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

constexpr int kLines = 1000000;
constexpr size_t kDataBytes = 100u << 20;

std::string LinePayload() {
  std::string s;
  s.reserve(kLines * 17);
  for (int i = 0; i < kLines; ++i) {
    char line[32];
    std::snprintf(line, sizeof(line), "line %010d\n", i);
    s += line;
  }
  return s;
}

int32_t g_port = 0;
DRef<CNet> g_listener;

bool Setup() {
  static bool ready = [] {
    static DApplication app;
    app.Startup(GetModuleHandleA(nullptr), SW_SHOWNORMAL, nullptr);
    DSetApplication(&app);
    if (!MainWindow().Create() || !NetManager().Init()) return false;
    for (g_port = 46000; g_port < 65000; ++g_port) {
      NetManager().Bind(&g_listener, g_port, 5);
      if (g_listener) return true;
    }
    return false;
  }();
  return ready;
}

// A thread that connects to the listener, sends the payload and closes.
std::thread Sender(const std::string& payload) {
  return std::thread([&payload] {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(g_port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) std::abort();
    size_t sent = 0;
    while (sent < payload.size()) {
      ssize_t n = ::send(fd, payload.data() + sent, payload.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
    ::close(fd);
  });
}

DRef<CNet> AcceptOne() {
  while (!g_listener->IsAcceptWaiting()) DPumpMessages();
  DRef<CNet> n;
  NetManager().Accept(*g_listener, &n, false);
  n->SetWaitMode(0);
  return n;
}

void BM_NetRecvString(benchmark::State& state) {
  if (!Setup()) state.SkipWithError("no net");
  static const std::string payload = LinePayload();
  for (auto _ : state) {
    std::thread t = Sender(payload);
    DRef<CNet> n = AcceptOne();
    int lines = 0;
    while (!n->IsError()) {
      DString s = n->RecvString();
      if (s) {
        ++lines;
      } else {
        DPumpMessages();
      }
    }
    t.join();
    if (lines != kLines) state.SkipWithError("lines lost");
    n->Close();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * payload.size()));
}
BENCHMARK(BM_NetRecvString)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_NetRecvData(benchmark::State& state) {
  if (!Setup()) state.SkipWithError("no net");
  static const std::string payload(kDataBytes, 'd');
  std::string chunk(65536, '\0');
  for (auto _ : state) {
    std::thread t = Sender(payload);
    DRef<CNet> n = AcceptOne();
    size_t got = 0;
    while (got < kDataBytes && !n->IsError()) {
      if (n->RecvData(chunk.data(), 65536)) {
        got += 65536;
      } else {
        DPumpMessages();
      }
    }
    t.join();
    if (got != kDataBytes) state.SkipWithError("data lost");
    n->Close();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kDataBytes));
}
BENCHMARK(BM_NetRecvData)->Unit(benchmark::kMillisecond)->Iterations(2);

// The anchor: the same bytes through a raw blocking recv loop that finds the line ends.
void RawReceive(benchmark::State& state, const std::string& payload, bool count_lines) {
  int lfd = ::socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  setsockopt(lfd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(a);
  ::bind(lfd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
  ::listen(lfd, 1);
  getsockname(lfd, reinterpret_cast<sockaddr*>(&a), &len);
  std::string buf(65536, '\0');
  for (auto _ : state) {
    std::thread t([&] {
      int fd = ::socket(AF_INET, SOCK_STREAM, 0);
      if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) std::abort();
      size_t sent = 0;
      while (sent < payload.size()) {
        ssize_t n = ::send(fd, payload.data() + sent, payload.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
      }
      ::close(fd);
    });
    int fd = ::accept(lfd, nullptr, nullptr);
    size_t lines = 0;
    ssize_t n;
    while ((n = ::recv(fd, buf.data(), buf.size(), 0)) > 0) {
      if (!count_lines) continue;
      for (const char* p = buf.data();
           (p = static_cast<const char*>(std::memchr(p, '\n', buf.data() + n - p)));) {
        ++lines;
        ++p;
      }
    }
    benchmark::DoNotOptimize(lines);
    ::close(fd);
    t.join();
  }
  ::close(lfd);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * payload.size()));
}
void BM_RawRecvLines(benchmark::State& state) {
  static const std::string payload = LinePayload();
  RawReceive(state, payload, true);
}
BENCHMARK(BM_RawRecvLines)->Unit(benchmark::kMillisecond)->Iterations(2);
void BM_RawRecvData(benchmark::State& state) {
  static const std::string payload(kDataBytes, 'd');
  RawReceive(state, payload, false);
}
BENCHMARK(BM_RawRecvData)->Unit(benchmark::kMillisecond)->Iterations(2);

// ---- Files: 10 MB of lines.

const std::string& TextFile() {
  static std::string path = [] {
    std::string p = "/tmp/orvane_bench_text_" + std::to_string(getpid());
    std::ofstream out(p, std::ios::binary);
    std::string line(79, 'x');
    for (size_t total = 0; total < (10u << 20); total += 80) out << line << '\n';
    return p;
  }();
  return path;
}

void BM_FileReadText(benchmark::State& state) {
  static bool started = FileManager().Start();
  benchmark::DoNotOptimize(started);
  for (auto _ : state) {
    DRef<CScriptFile> f;
    FileManager().Open(&f, TextFile().c_str(), DRef<DDataFile>(), 1);
    size_t lines = 0;
    while (f->ReadText(true)) ++lines;
    benchmark::DoNotOptimize(lines);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (10 << 20));
}
BENCHMARK(BM_FileReadText)->Unit(benchmark::kMillisecond);

void BM_StdGetline(benchmark::State& state) {
  for (auto _ : state) {
    std::ifstream in(TextFile(), std::ios::binary);
    std::string line;
    size_t lines = 0;
    while (std::getline(in, line)) ++lines;
    benchmark::DoNotOptimize(lines);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (10 << 20));
}
BENCHMARK(BM_StdGetline)->Unit(benchmark::kMillisecond);

}  // namespace
