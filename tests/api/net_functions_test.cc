// Net built-ins and exports over loopback against a raw socket peer: each built-in beside its
// export twin (same bytes, same results), the states without a net, hostile arguments, the waits
// and the event wait woken by a net.
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using namespace std::string_literals;

#include "api/ov_api.h"
#include "api_fixture.h"
#include "base/dapplication.h"
#include "base/dpump.h"
#include "platform/host.h"
#include "shell/ceventwaiter.h"
#include "shell/cmainwindow.h"
#include "shell/cnetmanager.h"
#include "tests/support/raw_peer.h"
#include "tests/support/scratch_dir.h"
#include "tools/meiasm/meiasm.h"
#include "vm/close_event.h"
#include "vm/script_loader.h"

namespace {

enum : uint32_t {
  kConnectNet = 146,
  kGetNet = 147,
  kSetNet = 148,
  kIsNetConnect = 149,
  kIsNetError = 150,
  kRecvNetNumber = 151,
  kRecvNetFloat = 152,
  kRecvNetString = 153,
  kSendNetNumber = 154,
  kSendNetFloat = 155,
  kSendNetString = 156,
  kSetNetModeWait = 157,
  kWaitNetEvent = 158,
  kBindNet = 159,
  kAcceptNet = 160,
  kIsNetAccept = 161,
};

void Nap(long ms) {
  timespec t{ms / 1000, (ms % 1000) * 1000000};
  nanosleep(&t, nullptr);
}

bool PumpUntil(const std::function<bool()>& done) {
  for (int i = 0; i < 5000; ++i) {
    DPumpMessages();
    if (done()) return true;
    Nap(1);
  }
  return done();
}

// The raw peer, with reads and sends for use from another thread that give up after about 5 s
// without progress, so that a test whose engine side stops fails instead of hanging.
struct RawPeer : orvane_test::RawPeer {
  // Reads up to n bytes on a non-blocking socket, polling.
  std::string ReadPolling(size_t n) const {
    ws::WSAAsyncSelect(s, nullptr, 0, 0);
    std::string out(n, '\0');
    size_t got = 0;
    for (int idle = 0; got < n && idle < 5000;) {
      int r = ws::recv(s, out.data() + got, static_cast<int>(n - got > 65536 ? 65536 : n - got), 0);
      if (r > 0) {
        got += static_cast<size_t>(r);
        idle = 0;
      } else if (r == 0 || ws::WSAGetLastError() != ws::WSAEWOULDBLOCK) {
        break;
      } else {
        ++idle;
        Nap(1);
      }
    }
    out.resize(got);
    return out;
  }
  // Sends every byte on a non-blocking socket, polling.
  void SendPolling(const std::string& bytes) const {
    ws::WSAAsyncSelect(s, nullptr, 0, 0);
    size_t put = 0;
    for (int idle = 0; put < bytes.size() && idle < 5000;) {
      const size_t left = bytes.size() - put;
      int r = ws::send(s, bytes.data() + put, static_cast<int>(left > 65536 ? 65536 : left), 0);
      if (r > 0) {
        put += static_cast<size_t>(r);
        idle = 0;
      } else if (r == ws::SOCKET_ERROR && ws::WSAGetLastError() == ws::WSAEWOULDBLOCK) {
        ++idle;
        Nap(1);
      } else {
        break;
      }
    }
  }
};

std::string Bytes(const void* p, size_t n) {
  return std::string(static_cast<const char*>(p), n);
}
std::string Le(uint32_t v) {
  const char b[4] = {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                     static_cast<char>(v >> 24)};
  return Bytes(b, 4);
}
uint32_t Bits(float f) {
  uint32_t b;
  std::memcpy(&b, &f, 4);
  return b;
}
float FromBits(uint32_t b) {
  float f;
  std::memcpy(&f, &b, 4);
  return f;
}

class NetFrame : public BuiltinFrame {
 protected:
  void SetUp() override {
    BuiltinFrame::SetUp();
    app_.Startup(GetModuleHandleA(nullptr), SW_SHOWNORMAL, nullptr);
    DSetApplication(&app_);
    orvane::host::ResetHeadless();
    ASSERT_TRUE(MainWindow().Create());
    ASSERT_TRUE(StartNetUnit());
    // The waits give up once every task has ended: one listed task keeps them waiting.
    const auto bytes = meiasm::Assemble(".globals 1\n.method main\n.export 0\n OpReturn\n");
    scratch_.Write("t.mei", std::string(bytes.begin(), bytes.end()));
    task_ = LoadScript(scratch_.Path("t.mei").c_str(), {}, 0, "main", kTaskList, true);
    ASSERT_TRUE(task_);
  }
  void TearDown() override {
    EndAllTasks();
    task_.Release();
    StopEventUnit();
    StopNetUnit();
    MainWindow().Destroy();
    DSetApplication(nullptr);
    BuiltinFrame::TearDown();
  }

  // A run-time error ends every task; the listed task runs again for the waits that follow.
  void Revive() { task_->run_flags &= ~kVmRunEnd; }
  // A listener through the built-in (slot 20) and its export twin, on free ports.
  int32_t Listen() {
    for (int32_t port = 42000 + (getpid() % 3000) + tried_; port < 65000; ++port, ++tried_) {
      Int(1, port);
      Int(2, 5);
      Boxes().clear();
      Call(kBindNet, {1, 2});
      Revive();  // a failed bind ends every task
      if (Result()->type() == kScriptNet) {
        ScriptValue::Assign(*Result(), Slot(20));
        ++tried_;
        return port;
      }
    }
    return -1;
  }
  // The built-in side: a connected net selected as the current net, with the raw peer on it.
  void BuiltinPair(RawPeer* peer) {
    const int32_t port = Listen();
    ASSERT_GT(port, 0);
    ASSERT_TRUE(peer->Connect(port));
    Call(kSetNet, {20});
    Int(2, 1);
    Call(kAcceptNet, {21, 2});
    ASSERT_EQ(Result()->int_value(), 1);
    ASSERT_EQ(Slot(21)->type(), kScriptNet);
    Call(kSetNet, {21});
    Int(1, 0);
    Call(kSetNetModeWait, {1});
  }
  // The export side: a connected handle in non-wait mode with the raw peer on it.
  ApiHandle* ExportPair(RawPeer* peer) {
    ApiHandle* listener = nullptr;
    int32_t port = 43000 + (getpid() % 3000);
    for (; port < 65000 && !listener; ++port) listener = ovBindNet(port, 5);
    EXPECT_NE(listener, nullptr);
    if (!listener) return nullptr;
    EXPECT_TRUE(peer->Connect(port - 1));
    ApiHandle* n = ovAcceptNet(listener, 1);
    ovDestroyNet(listener);
    EXPECT_NE(n, nullptr);
    if (n) ovSetNetModeWait(n, 0);
    return n;
  }
  bool BuiltinBool(uint32_t n, std::vector<Arg> args = {}) {
    Result()->SetInt(-7);
    Call(n, args);
    return Result()->int_value() == 1;
  }

  DApplication app_;
  orvane_test::ScratchDir scratch_{"orvane_api_net_"};
  DRef<ScriptTask> task_;
  int32_t tried_ = 0;
};

// ---- Wire out: each send built-in beside its export twin gives the same bytes and results.

TEST_F(NetFrame, SendsGiveTheSameBytesThroughBothFaces) {
  RawPeer bp, ep;
  BuiltinPair(&bp);
  ApiHandle* h = ExportPair(&ep);
  ASSERT_NE(h, nullptr);
  const float nan_payload = FromBits(0x7FA12345u), denormal = FromBits(0x00000001u);
  const struct {
    const char* what;
    std::function<void(ScriptValue*)> value;  // the built-in's argument
    std::function<int32_t()> export_call;
    uint32_t builtin;
    std::string wire;
  } rows[] = {
      {"int min", [](ScriptValue* v) { v->SetInt(INT_MIN); }, [&] { return ovSendNetNumber(h, INT_MIN); },
       kSendNetNumber, Le(0x80000000u)},
      {"-1", [](ScriptValue* v) { v->SetInt(-1); }, [&] { return ovSendNetNumber(h, -1); }, kSendNetNumber,
       Le(0xFFFFFFFFu)},
      {"258", [](ScriptValue* v) { v->SetInt(258); }, [&] { return ovSendNetNumber(h, 258); }, kSendNetNumber,
       Bytes("\x02\x01\0\0", 4)},
      {"-0.0", [](ScriptValue* v) { v->SetFloat(-0.0f); }, [&] { return ovSendNetFloat(h, -0.0f); },
       kSendNetFloat, Le(0x80000000u)},
      {"nan payload", [&](ScriptValue* v) { v->SetFloat(nan_payload); },
       [&] { return ovSendNetFloat(h, nan_payload); }, kSendNetFloat, Le(0x7FA12345u)},
      {"denormal", [&](ScriptValue* v) { v->SetFloat(denormal); },
       [&] { return ovSendNetFloat(h, denormal); }, kSendNetFloat, Le(1)},
      {"text", [](ScriptValue* v) { v->SetString("ab"); }, [&] { return ovSendNetString(h, "ab"); },
       kSendNetString, "ab\n"},
      {"ends in LF", [](ScriptValue* v) { v->SetString("ab\n"); }, [&] { return ovSendNetString(h, "ab\n"); },
       kSendNetString, "ab\n"},
      {"empty", [](ScriptValue* v) { v->SetString(""); }, [&] { return ovSendNetString(h, ""); },
       kSendNetString, "\n"},
      {"CR kept on send", [](ScriptValue* v) { v->SetString("a\rb"); },
       [&] { return ovSendNetString(h, "a\rb"); }, kSendNetString, "a\rb\n"},
      {"cp932 0x5C trail", [](ScriptValue* v) { v->SetString("\x95\x5C"); },
       [&] { return ovSendNetString(h, "\x95\x5C"); }, kSendNetString, "\x95\x5C\n"},
      {"int as text", [](ScriptValue* v) { v->SetInt(12); }, [&] { return ovSendNetString(h, "12"); },
       kSendNetString, "12\n"},
  };
  for (const auto& r : rows) {
    r.value(Slot(1));
    EXPECT_TRUE(BuiltinBool(r.builtin, {1})) << r.what;
    EXPECT_EQ(bp.Read(r.wire.size()), r.wire) << r.what;
    EXPECT_EQ(r.export_call(), 1) << r.what;
    EXPECT_EQ(ep.Read(r.wire.size()), r.wire) << r.what;
  }
  // Raw data goes only through the export.
  EXPECT_EQ(ovSendNetData(h, "\0\x01\xFF", 3), 1);
  EXPECT_EQ(ep.Read(3), Bytes("\0\x01\xFF", 3));
  ovDestroyNet(h);
}

// ---- Wire in: the same bytes received through both faces give the same values.

TEST_F(NetFrame, ReceivesTakeTheSameValuesThroughBothFaces) {
  RawPeer bp, ep;
  BuiltinPair(&bp);
  ApiHandle* h = ExportPair(&ep);
  ASSERT_NE(h, nullptr);
  const std::string numbers = Le(0x80000000u) + Le(0xFFFFFFFFu) + Le(258);
  const std::string floats = Le(0x80000000u) + Le(0x7FA12345u) + Le(1);
  const std::string lines = "a\r\nb\r\r\n\n\x95\x5C\nx\0y\n"s;
  for (RawPeer* p : {&bp, &ep}) p->Send(numbers + floats + lines);
  for (int32_t want : {INT_MIN, -1, 258}) {
    PumpUntil([&] { return BuiltinBool(kRecvNetNumber, {1}); });
    EXPECT_EQ(Slot(1)->type(), kScriptInt);
    EXPECT_EQ(Slot(1)->int_value(), want);
    int32_t got = 0;
    PumpUntil([&] { return ovRecvNetNumber(&got, h) == 1; });
    EXPECT_EQ(got, want);
  }
  for (uint32_t want : {0x80000000u, 0x7FA12345u, 1u}) {
    PumpUntil([&] { return BuiltinBool(kRecvNetFloat, {1}); });
    EXPECT_EQ(Slot(1)->type(), kScriptFloat);
    EXPECT_EQ(Bits(Slot(1)->float_value()), want);
    float got = 0;
    PumpUntil([&] { return ovRecvNetFloat(&got, h) == 1; });
    EXPECT_EQ(Bits(got), want);
  }
  for (const char* want : {"a", "b", "", "\x95\x5C", "x", "y"}) {
    PumpUntil([&] { return BuiltinBool(kRecvNetString, {1}); });
    EXPECT_EQ(std::string(Slot(1)->ToStaticString()), want);
    const char* got = nullptr;
    PumpUntil([&] { return (got = ovRecvNetString(h)) != nullptr; });
    EXPECT_EQ(std::string(got ? got : "<none>"), want);
  }
  ovDestroyNet(h);
}

// ---- Partial data, a peer that closes, and the state queries.

TEST_F(NetFrame, PartialNumberStaysAndCloseShowsAfterTheLastLine) {
  RawPeer bp, ep;
  BuiltinPair(&bp);
  ApiHandle* h = ExportPair(&ep);
  ASSERT_NE(h, nullptr);
  for (RawPeer* p : {&bp, &ep}) p->Send("\x07\0\0"s);
  Nap(20);
  DPumpMessages();
  Int(1, 99);
  EXPECT_FALSE(BuiltinBool(kRecvNetNumber, {1}));
  EXPECT_EQ(Slot(1)->int_value(), 99);
  int32_t out = 99;
  EXPECT_EQ(ovRecvNetNumber(&out, h), 0);
  EXPECT_EQ(out, 99);
  // The fourth byte completes the number: the three bytes stayed.
  for (RawPeer* p : {&bp, &ep}) p->Send(std::string(1, '\0') + "tail");
  EXPECT_TRUE(PumpUntil([&] { return BuiltinBool(kRecvNetNumber, {1}); }));
  EXPECT_EQ(Slot(1)->int_value(), 7);
  EXPECT_TRUE(PumpUntil([&] { return ovRecvNetNumber(&out, h) == 1; }));
  EXPECT_EQ(out, 7);
  // The peer closes: the rest is a last line, and the error shows only after it is taken.
  bp.Close();
  ep.Close();
  Nap(20);
  DPumpMessages();
  EXPECT_FALSE(BuiltinBool(kIsNetError));
  EXPECT_EQ(ovIsNetError(h), 0);
  EXPECT_TRUE(PumpUntil([&] { return BuiltinBool(kRecvNetString, {1}); }));
  EXPECT_EQ(std::string(Slot(1)->ToStaticString()), "tail");
  const char* line = nullptr;
  EXPECT_TRUE(PumpUntil([&] { return (line = ovRecvNetString(h)) != nullptr; }));
  EXPECT_STREQ(line, "tail");
  EXPECT_TRUE(PumpUntil([&] { return BuiltinBool(kIsNetError); }));
  EXPECT_EQ(ovIsNetError(h), 1);
  ovDestroyNet(h);
}

TEST_F(NetFrame, WithoutANetTheQueriesAndSendsFail) {
  Call(kSetNet, {5});  // an int clears the selection quietly
  Call(kGetNet);
  EXPECT_EQ(Result()->type(), kScriptInt);
  EXPECT_TRUE(BuiltinBool(kIsNetError));
  for (uint32_t n : {kIsNetConnect, kIsNetAccept, kSendNetString, kSendNetNumber, kSendNetFloat})
    EXPECT_FALSE(BuiltinBool(n, {1})) << n;
  for (uint32_t n : {kRecvNetString, kRecvNetNumber, kRecvNetFloat, kAcceptNet}) {
    Int(1, 5);
    EXPECT_FALSE(BuiltinBool(n, {1, 2})) << n;
    EXPECT_EQ(Slot(1)->int_value(), 5) << n;
  }
  Int(1, 1);
  Call(kSetNetModeWait, {1});  // nothing to do
  EXPECT_TRUE(Boxes().empty());
}

// A null handle, and a handle of another kind (the kind check), give the failure value and move
// nothing; hostile counts and null destinations are refused before anything is taken.
TEST_F(NetFrame, NullForeignHandlesAndHostileArguments) {
  RawPeer ep;
  ApiHandle* h = ExportPair(&ep);
  ASSERT_NE(h, nullptr);
  DRef<int> thing;
  thing.Alloc(1);
  ApiHandle* image = NewApiHandle(kScriptImage, DRef<void>::Convert(thing));
  ApiHandle* file = NewApiHandle(kScriptFile, DRef<void>::Convert(thing));
  ASSERT_NE(image, nullptr);
  for (ApiHandle* bad : {static_cast<ApiHandle*>(nullptr), image, file}) {
    int32_t i = 5;
    float f = 5;
    char buf[4] = {1, 2, 3, 4};
    EXPECT_EQ(ovIsNetError(bad), 1);
    EXPECT_EQ(ovIsNetConnect(bad), 0);
    EXPECT_EQ(ovIsNetAccept(bad), 0);
    EXPECT_EQ(ovAcceptNet(bad, 0), nullptr);
    EXPECT_EQ(ovSendNetNumber(bad, 1), 0);
    EXPECT_EQ(ovSendNetFloat(bad, 1), 0);
    EXPECT_EQ(ovSendNetString(bad, "x"), 0);
    EXPECT_EQ(ovSendNetData(bad, buf, 4), 0);
    EXPECT_EQ(ovRecvNetNumber(&i, bad), 0);
    EXPECT_EQ(ovRecvNetFloat(&f, bad), 0);
    EXPECT_EQ(ovRecvNetData(buf, 4, bad), 0);
    EXPECT_EQ(ovRecvNetString(bad), nullptr);
    ovSetNetModeWait(bad, 1);
    ovWaitNetEvent(bad);
    ovDestroyNet(bad);  // another kind: logged and left alone
    EXPECT_EQ(i, 5);
    EXPECT_EQ(f, 5);
    EXPECT_EQ(buf[0], 1);
  }
  EXPECT_EQ(EventWaiter().NetCount(), 0u);
  DestroyApiHandle(image, kScriptImage, "test");
  DestroyApiHandle(file, kScriptFile, "test");

  ep.Send("abcdefgh");
  Nap(20);
  DPumpMessages();
  char buf[8] = {};
  EXPECT_EQ(ovSendNetData(h, buf, -1), 0);
  EXPECT_EQ(ovSendNetData(h, nullptr, 4), 0);
  EXPECT_EQ(ovRecvNetData(buf, -1, h), 0);
  EXPECT_EQ(ovRecvNetData(nullptr, 4, h), 0);
  EXPECT_EQ(ovRecvNetNumber(nullptr, h), 0);
  EXPECT_EQ(ovRecvNetFloat(nullptr, h), 0);
  EXPECT_EQ(ovRecvNetData(buf, INT_MAX, h), 0);
  // Nothing was consumed by the refusals.
  EXPECT_EQ(ovRecvNetData(buf, 8, h), 1);
  EXPECT_EQ(Bytes(buf, 8), "abcdefgh");
  ovDestroyNet(h);
}

// The argument order of the receive exports: destination first, the net last; exactly n bytes or
// nothing.
TEST_F(NetFrame, RecvDataTakesExactlyNOrNothing) {
  RawPeer ep;
  ApiHandle* h = ExportPair(&ep);
  ASSERT_NE(h, nullptr);
  ep.Send("12345");
  Nap(20);
  DPumpMessages();
  char buf[8] = {'-', '-', '-', '-', '-', '-', '-', '-'};
  EXPECT_EQ(ovRecvNetData(buf, 6, h), 0);
  EXPECT_EQ(Bytes(buf, 8), "--------");
  EXPECT_EQ(ovRecvNetData(buf, 5, h), 1);
  EXPECT_EQ(Bytes(buf, 8), "12345---");
  ovDestroyNet(h);
}

// The text of ovRecvNetString stays readable after other calls and until the next line; ASan
// sees any read of a moved or freed buffer.
TEST_F(NetFrame, RecvNetStringTextOutlivesLaterReceives) {
  RawPeer ep;
  ApiHandle* h = ExportPair(&ep);
  ASSERT_NE(h, nullptr);
  ep.Send("first\n");
  const char* first = nullptr;
  ASSERT_TRUE(PumpUntil([&] { return (first = ovRecvNetString(h)) != nullptr; }));
  // A large arrival, taken by nothing yet, makes the receive buffer grow and move.
  ep.Send(std::string(200000, 'z'));
  std::string big_buf(200001, '\0');
  for (int i = 0; i < 200; ++i) {
    EXPECT_EQ(ovRecvNetData(big_buf.data(), 200001, h), 0);
    DPumpMessages();
    Nap(1);
  }
  EXPECT_STREQ(first, "first");
  ep.Send("\n");
  const char* second = nullptr;
  ASSERT_TRUE(PumpUntil([&] { return (second = ovRecvNetString(h)) != nullptr; }));
  EXPECT_EQ(std::string(second), std::string(200000, 'z'));
  ovDestroyNet(h);
}

// ---- Bind, accept and connect results.

TEST_F(NetFrame, BindAcceptConnectResults) {
  const int32_t port = Listen();
  ASSERT_GT(port, 0);
  // The same port again: the message, byte for byte, and the result slot left as it was.
  Result()->SetInt(31);
  Int(1, port);
  Int(2, 5);
  Call(kBindNet, {1, 2});
  ASSERT_EQ(Boxes().size(), 1u);
  Revive();
  EXPECT_NE(Boxes()[0].text.find("受信待ちできません。\nそのポートはすでに使われています。"),
            std::string::npos);
  EXPECT_EQ(Result()->int_value(), 31);
  EXPECT_EQ(ovBindNet(port, 5), nullptr);
  for (int32_t bad : {-1, 65536, INT_MAX}) EXPECT_EQ(ovBindNet(bad, 5), nullptr) << bad;

  // Accept without a waiting connection and flag 0: false, variable unchanged.
  Call(kSetNet, {20});
  Int(21, 77);
  Int(2, 0);
  EXPECT_FALSE(BuiltinBool(kAcceptNet, {21, 2}));
  EXPECT_EQ(Slot(21)->int_value(), 77);
  EXPECT_FALSE(BuiltinBool(kIsNetAccept));

  // A connection through the built-in connect is seen by the listener, accepted by both faces.
  Str(1, "127.0.0.1");
  Int(2, port);
  Int(3, 1);
  Call(kConnectNet, {1, 2, 3});
  ASSERT_EQ(Result()->type(), kScriptNet);
  ScriptValue::Assign(*Result(), Slot(22));
  ApiHandle* c = ovConnectNet("127.0.0.1", port, 1);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(ovIsNetConnect(c), 1);
  Call(kSetNet, {22});
  EXPECT_TRUE(BuiltinBool(kIsNetConnect));
  Call(kSetNet, {20});
  EXPECT_TRUE(PumpUntil([&] { return BuiltinBool(kIsNetAccept); }));
  Int(2, 1);
  EXPECT_TRUE(BuiltinBool(kAcceptNet, {21, 2}));
  EXPECT_EQ(Slot(21)->type(), kScriptNet);
  DRef<CNet> listener = ObjectOfValueAs<CNet>(*Slot(20), kScriptNet);
  ApiHandle* lh = NewApiHandle(kScriptNet, DRef<void>::Convert(listener));
  ApiHandle* a = ovAcceptNet(lh, 1);
  ASSERT_NE(a, nullptr);
  // Each accepted net reaches its own connecting peer.
  EXPECT_EQ(ovSendNetNumber(a, 5), 1);
  Call(kSetNet, {21});
  Int(1, 6);
  EXPECT_TRUE(BuiltinBool(kSendNetNumber, {1}));
  int32_t from_c = 0;
  EXPECT_EQ(ovRecvNetNumber(&from_c, c), 1);  // wait mode: waits for it
  Call(kSetNet, {22});
  EXPECT_TRUE(BuiltinBool(kRecvNetNumber, {1}));
  EXPECT_EQ(from_c + Slot(1)->int_value(), 11);

  // Connect starts that fail: a port htons would wrap, and no message from the export.
  Boxes().clear();
  Result()->SetInt(31);
  Int(2, 65536 + port);
  Call(kConnectNet, {1, 2, 3});
  ASSERT_EQ(Boxes().size(), 1u);
  Revive();
  EXPECT_NE(Boxes()[0].text.find("ネット接続ができません"), std::string::npos);
  EXPECT_EQ(Boxes()[0].text.find("ネット接続ができません。"), std::string::npos);
  EXPECT_EQ(Result()->int_value(), 31);
  EXPECT_EQ(ovConnectNet("127.0.0.1", -1, 1), nullptr);
  EXPECT_EQ(ovConnectNet("127.0.0.1", 65536 + port, 1), nullptr);

  // Nets outlive every handle and value: the connection still works after they are gone.
  const uint32_t count = NetManager().NetCount();
  ovDestroyNet(a);
  ovDestroyNet(lh);
  Slot(21)->SetInt(0);
  EXPECT_EQ(NetManager().NetCount(), count);
  EXPECT_EQ(ovSendNetString(c, "still"), 1);
  ovDestroyNet(c);
}

// A refusal ends the connect wait: the net comes back and shows the error.
TEST_F(NetFrame, ConnectWaitEndsOnRefusal) {
  // A port just listened on and closed again refuses.
  const int32_t port = Listen();
  ASSERT_GT(port, 0);
  ObjectOfValueAs<CNet>(*Slot(20), kScriptNet)->Close();
  Str(1, "127.0.0.1");
  Int(2, port);
  Int(3, 1);
  Call(kConnectNet, {1, 2, 3});
  ASSERT_EQ(Result()->type(), kScriptNet);
  ScriptValue::Assign(*Result(), Slot(22));
  Call(kSetNet, {22});
  EXPECT_TRUE(BuiltinBool(kIsNetError));
  EXPECT_FALSE(BuiltinBool(kIsNetConnect));
  ApiHandle* h = ovConnectNet("127.0.0.1", port, 1);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(ovIsNetError(h), 1);
  ovDestroyNet(h);
  EXPECT_TRUE(Boxes().empty());
}

// ---- Waits.

// A receive in wait mode waits for a number sent later by another thread; a send in wait mode
// returns once a slow peer has drained a full socket buffer.
TEST_F(NetFrame, WaitModeReceiveAndSend) {
  RawPeer bp;
  BuiltinPair(&bp);
  Int(1, 1);
  Call(kSetNetModeWait, {1});
  std::thread later([&] {
    Nap(50);
    bp.Send(Le(4242));
  });
  EXPECT_TRUE(BuiltinBool(kRecvNetNumber, {1}));
  later.join();
  EXPECT_EQ(Slot(1)->int_value(), 4242);

  const std::string big(4 << 20, 'q');
  std::string drained;
  std::thread slow([&] {
    Nap(50);
    drained = bp.ReadPolling(big.size() + 1);
  });
  Str(1, big);
  EXPECT_TRUE(BuiltinBool(kSendNetString, {1}));
  slow.join();
  EXPECT_EQ(drained.size(), big.size() + 1);
  EXPECT_EQ(drained.back(), '\n');
}

// The window's close request answered Yes ends every task: the accept wait gives false, leaving
// its variable, and a string wait gives false too.
TEST_F(NetFrame, CloseRequestEndsTheWaits) {
  Listen();
  Call(kSetNet, {20});
  Int(21, 3);
  Int(2, 1);
  Answers().push_back(IDYES);
  PostMessageA(MainWindow().GetHandle(), WM_CLOSE, 0, 0);
  EXPECT_FALSE(BuiltinBool(kAcceptNet, {21, 2}));
  EXPECT_EQ(Slot(21)->int_value(), 3);
  EXPECT_TRUE(AllTasksEnded());
  ASSERT_FALSE(Boxes().empty());
  EXPECT_EQ(Boxes().back().text, "終了しますか？");
}

// ---- The event wait.

TEST_F(NetFrame, WaitNetEventRegistersOnceAndWakesTheEventWait) {
  ASSERT_TRUE(StartEventUnit());
  Int(1, 5);
  Call(kWaitNetEvent, {1});
  ASSERT_EQ(Boxes().size(), 1u);
  Revive();
  EXPECT_NE(Boxes()[0].text.find("指定された変数はネットではありません。"), std::string::npos);

  RawPeer bp;
  BuiltinPair(&bp);
  Call(kWaitNetEvent, {21});
  Call(kWaitNetEvent, {21});
  DRef<CNet> n = ObjectOfValueAs<CNet>(*Slot(21), kScriptNet);
  ApiHandle* h = NewApiHandle(kScriptNet, DRef<void>::Convert(n));
  ovWaitNetEvent(h);
  EXPECT_EQ(EventWaiter().NetCount(), 1u);
  // Drain anything the connection set up, then nothing wakes a short wait.
  while (EventWaiter().Wait(20)) {
  }
  EXPECT_FALSE(EventWaiter().Wait(50));
  std::thread later([&] {
    Nap(30);
    bp.Send("ping\n");
  });
  EXPECT_TRUE(EventWaiter().Wait(5000));
  later.join();
  EXPECT_TRUE(PumpUntil([&] { return BuiltinBool(kRecvNetString, {1}); }));
  EXPECT_EQ(std::string(Slot(1)->ToStaticString()), "ping");
  ovDestroyNet(h);
}

// A handler run from a wait's message pump receives from the same net: the inner receive takes
// and moves the receive buffer (it grows past its first size) while the outer wait is in
// progress. The outer line comes out whole, and ASan sees any read of the old buffer.
struct ReentrantHook {
  static inline ApiHandle* net = nullptr;
  static inline bool busy = false, done = false;
  static inline std::string taken;
  static BOOL Hook(LRESULT*, HWND, UINT message, WPARAM, LPARAM) {
    if (message != kNetSocketMessage || busy || done || net == nullptr) return FALSE;
    busy = true;
    std::string buf(8000, '\0');
    if (ovRecvNetData(buf.data(), 8000, net) == 1) {
      taken = buf;
      done = true;
    }
    busy = false;
    return FALSE;
  }
};

TEST_F(NetFrame, HandlerReceivingFromTheSameNetDuringAWait) {
  RawPeer bp;
  BuiltinPair(&bp);
  Int(1, 1);
  Call(kSetNetModeWait, {1});
  DRef<CNet> n = ObjectOfValueAs<CNet>(*Slot(21), kScriptNet);
  ReentrantHook::net = NewApiHandle(kScriptNet, DRef<void>::Convert(n));
  ReentrantHook::done = false;
  ReentrantHook::taken.clear();
  MainWindow().AddWndProc(&ReentrantHook::Hook);
  const std::string block = "ab" + std::string(7998, 'p');
  std::thread peer([&] {
    Nap(30);
    bp.Send(block.substr(0, 2));
    Nap(30);
    bp.Send(block.substr(2));
    for (int i = 0; i < 2000 && !ReentrantHook::done; ++i) Nap(1);
    bp.Send("li\rne\n");
  });
  EXPECT_TRUE(BuiltinBool(kRecvNetString, {1}));
  peer.join();
  MainWindow().DelWndProc(&ReentrantHook::Hook);
  EXPECT_TRUE(ReentrantHook::done);
  EXPECT_EQ(ReentrantHook::taken, block);
  EXPECT_EQ(std::string(Slot(1)->ToStaticString()), "line");
  ovDestroyNet(ReentrantHook::net);
  ReentrantHook::net = nullptr;
}

// ---- A second engine process as the peer: an assembled script listens, accepts, and sends back
// every number, float and line it takes; the test's raw peer checks both streams byte for byte.

std::vector<uint8_t> EchoImage(int32_t port, int numbers, int floats, int lines) {
  meiasm::Builder b;
  b.Globals(8);
  b.Method("main");
  b.Export(0);
  // G1 host, G2 port, G3 wait flag, G4 the net, G5 each value
  b.OpSetString(meiasm::G(1), meiasm::Text{"127.0.0.1"});
  b.OpSetInt(meiasm::G(2), port);
  b.OpSetInt(meiasm::G(3), 1);
  b.CallBuiltin(kConnectNet, {meiasm::G(1), meiasm::G(2), meiasm::G(3)});
  b.OpMove(meiasm::G(4), meiasm::G(0));
  b.CallBuiltin(kSetNet, {meiasm::G(4)});
  for (int i = 0; i < numbers; ++i) {
    b.CallBuiltin(kRecvNetNumber, {meiasm::G(5)});
    b.CallBuiltin(kSendNetNumber, {meiasm::G(5)});
  }
  for (int i = 0; i < floats; ++i) {
    b.CallBuiltin(kRecvNetFloat, {meiasm::G(5)});
    b.CallBuiltin(kSendNetFloat, {meiasm::G(5)});
  }
  for (int i = 0; i < lines; ++i) {
    b.CallBuiltin(kRecvNetString, {meiasm::G(5)});
    b.CallBuiltin(kSendNetString, {meiasm::G(5)});
  }
  b.OpReturn();
  return b.Build();
}

TEST_F(NetFrame, SecondEngineProcessSendsBackWhatItTook) {
  const int32_t port = Listen();
  ASSERT_GT(port, 0);
  const std::string numbers = Le(0x80000000u) + Le(0xFFFFFFFFu) + Le(258);
  const std::string floats = Le(0x80000000u) + Le(0x7FA12345u) + Le(1);
  const struct {
    std::string sent, back;
  } lines[] = {
      {"a\rb\n", "ab\n"}, {"\n", "\n"}, {"x\r\n", "x\n"}, {"\x95\x5C\n", "\x95\x5C\n"}, {"y\0"s, "y\n"}};
  const auto image = EchoImage(port, 3, 3, 5);
  scratch_.Write("echo.mei", std::string(image.begin(), image.end()));
  const std::string program = std::string(ORVANE_BINARY_DIR) + "/bin/orvane";
  const std::string script = scratch_.Path("echo.mei");
  const std::string dir = scratch_.Dir();
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    setenv("ORVANE_BACKEND", "headless", 1);
    execl(program.c_str(), program.c_str(), script.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  // The listener accepts the engine's connection, waiting; the stream goes through the exports as
  // raw data, so both directions are compared byte for byte.
  DRef<CNet> listener = ObjectOfValueAs<CNet>(*Slot(20), kScriptNet);
  ApiHandle* lh = NewApiHandle(kScriptNet, DRef<void>::Convert(listener));
  ApiHandle* h = ovAcceptNet(lh, 1);
  ovDestroyNet(lh);
  const bool connected = h != nullptr;
  std::string sent = numbers + floats, back = numbers + floats;
  for (const auto& l : lines) {
    sent += l.sent;
    back += l.back;
  }
  std::string got(back.size(), '\0');
  if (connected) {
    EXPECT_EQ(ovSendNetData(h, sent.data(), static_cast<int32_t>(sent.size())), 1);
    if (ovRecvNetData(got.data(), static_cast<int32_t>(got.size()), h) != 1) got = "<nothing>";
    ovDestroyNet(h);
  }
  int status = 0;
  for (int i = 0; i < 1000 && waitpid(child, &status, WNOHANG) == 0; ++i) Nap(10);
  if (waitpid(child, &status, WNOHANG) == 0) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    ADD_FAILURE() << "the engine did not end";
  }
  std::string log;
  if (FILE* f = std::fopen(scratch_.Path("orvane.log").c_str(), "rb")) {
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) log.append(chunk, n);
    std::fclose(f);
  }
  ASSERT_TRUE(connected) << log;
  EXPECT_EQ(got.size(), back.size()) << log;
  EXPECT_TRUE(got == back) << "echo differs";
  EXPECT_TRUE(WIFEXITED(status)) << status << "\n" << log;
}

// Hostile raw peers through both faces in wait mode: a 1 MiB line comes whole; a close in the
// middle of a number ends the wait with false, the variable unchanged and the error shown.
TEST_F(NetFrame, HugeLineAndCloseMidNumber) {
  RawPeer bp, ep;
  BuiltinPair(&bp);
  ApiHandle* h = ExportPair(&ep);
  ASSERT_NE(h, nullptr);
  Int(1, 1);
  Call(kSetNetModeWait, {1});
  ovSetNetModeWait(h, 1);
  const std::string line(1 << 20, 'L');
  std::thread senders([&] {
    for (RawPeer* p : {&bp, &ep}) {
      p->SendPolling(line + "\n\x01\x02");
      p->Close();
    }
  });
  EXPECT_TRUE(BuiltinBool(kRecvNetString, {1}));
  EXPECT_EQ(std::string(Slot(1)->ToStaticString()), line);
  const char* got = ovRecvNetString(h);
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(std::string(got), line);
  senders.join();
  Int(1, 9);
  EXPECT_FALSE(BuiltinBool(kRecvNetNumber, {1}));
  EXPECT_EQ(Slot(1)->int_value(), 9);
  EXPECT_TRUE(BuiltinBool(kIsNetError));
  int32_t out = 9;
  EXPECT_EQ(ovRecvNetNumber(&out, h), 0);
  EXPECT_EQ(out, 9);
  EXPECT_EQ(ovIsNetError(h), 1);
  ovDestroyNet(h);
}

}  // namespace
