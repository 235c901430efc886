// The Net unit.
#include "shell/cnetmanager.h"

#include <cstring>

#include "base/dlogstream.h"
#include "base/dpump.h"
#include "platform/user.h"
#include "shell/cmainwindow.h"
#include "vm/script_task.h"

namespace {

void Log(const char* text) {
  DDebugLog().Write(DString(text));
}

void LogAddress(const char* prefix, uint32_t address) {
  char line[64];
  ws::in_addr a{address};
  std::snprintf(line, sizeof(line), "%s%s.\n", prefix, ws::inet_ntoa(a));
  Log(line);
}

HWND MainHandle() {
  return MainWindow().GetHandle();
}

// Pumps messages; false when every script task has ended (the wait must give up).
bool PumpAndCheck() {
  DPumpMessages();
  return !AllTasksEnded();
}

void WaitOn(DEvent& e, DWORD ms) {
  HANDLE h = e.GetHandle();
  MsgWaitForMultipleObjects(1, &h, FALSE, ms, QS_ALLINPUT);
}

// A new byte store of n bytes keeping [from, to) of the old one at the same offsets.
void Grow(DRef<uint8_t>* store, uint32_t n, uint32_t from, uint32_t to) {
  DRef<uint8_t> fresh;
  fresh.Alloc(n);
  if (to > from) std::memcpy(fresh.Get() + from, store->Get() + from, to - from);
  *store = fresh;
}

}  // namespace

// ---- Net.

CNet::~CNet() {
  Close();
}

void CNet::Reset() {
  owner_ = nullptr;
  socket_ = ws::INVALID_SOCKET;
  address_ = ws::INADDR_NONE;
  port_ = 0;
  flags_ = kFailed;
  wait_mode_ = 1;
  lookup_ = nullptr;
  recv_capacity_ = send_capacity_ = kStep;
  recv_fill_ = recv_read_ = recv_scanned_ = 0;
  send_fill_ = send_sent_ = 0;
}

bool CNet::Init() {
  if (socket_ != ws::INVALID_SOCKET) return false;
  Reset();
  if (!event_.GetHandle() && !event_.Create(true, false)) return false;
  event_.Set();
  flags_ = 0;
  recv_.Alloc(kStep + 1);
  send_.Alloc(kStep);
  return true;
}

void CNet::Close() {
  if (owner_) {
    CNetManager* owner = owner_;
    owner_ = nullptr;
    owner->Remove(this);
  }
  // A lookup still running must not write into this net's buffer.
  if (lookup_) ws::WSACancelAsyncRequest(lookup_);
  if (socket_ != ws::INVALID_SOCKET) {
    ws::shutdown(socket_, ws::SD_BOTH);
    ws::closesocket(socket_);
  }
  recv_.Release();
  send_.Release();
  event_.Close();
  Reset();
}

bool CNet::Bind(int32_t port, int32_t backlog) {
  // A port outside 0..65535 would wrap onto another one.
  if (port < 0 || port > 65535 || !Init()) {
    Close();
    return false;
  }
  socket_ = ws::socket(ws::AF_INET, ws::SOCK_STREAM, ws::IPPROTO_TCP);
  ws::sockaddr_in a{};
  a.sin_family = ws::AF_INET;
  a.sin_port = ws::htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = ws::INADDR_ANY;
  if (socket_ == ws::INVALID_SOCKET ||
      ws::WSAAsyncSelect(socket_, MainHandle(), kNetSocketMessage, 0x3B) == ws::SOCKET_ERROR ||
      ws::bind(socket_, reinterpret_cast<const ws::sockaddr*>(&a), sizeof(a)) == ws::SOCKET_ERROR ||
      ws::listen(socket_, backlog) == ws::SOCKET_ERROR) {
    Close();
    return false;
  }
  return true;
}

bool CNet::Connect(const char* host, int32_t port) {
  if (port < 0 || port > 65535 || !Init()) {
    Close();
    return false;
  }
  socket_ = ws::socket(ws::AF_INET, ws::SOCK_STREAM, ws::IPPROTO_TCP);
  if (socket_ == ws::INVALID_SOCKET ||
      ws::WSAAsyncSelect(socket_, MainHandle(), kNetSocketMessage, 0x33) == ws::SOCKET_ERROR) {
    Close();
    return false;
  }
  port_ = ws::htons(static_cast<uint16_t>(port));
  address_ = ws::inet_addr(host ? host : "");
  if (address_ != ws::INADDR_NONE) return ConnectAddress();
  lookup_ = ws::WSAAsyncGetHostByName(MainHandle(), kNetHostMessage, host ? host : "", host_entry_,
                                      sizeof(host_entry_));
  if (!lookup_) {
    flags_ |= kFailed;
    return false;
  }
  return true;
}

bool CNet::ConnectAddress() {
  if (flags_ & kFailed) return false;
  ws::sockaddr_in a{};
  a.sin_family = ws::AF_INET;
  a.sin_port = port_;
  a.sin_addr.s_addr = address_;
  if (ws::connect(socket_, reinterpret_cast<const ws::sockaddr*>(&a), sizeof(a)) == ws::SOCKET_ERROR &&
      ws::WSAGetLastError() != ws::WSAEWOULDBLOCK) {
    flags_ |= kFailed;
    return false;
  }
  LogAddress("[CNet] Connect to ", address_);
  return true;
}

void CNet::OnHostResolved(uint32_t error) {
  if (flags_ & kFailed) return;
  lookup_ = nullptr;
  if (error) {
    flags_ |= kFailed;
    return;
  }
  ws::hostent h;
  std::memcpy(&h, host_entry_, sizeof(h));
  if (!h.h_addr_list || !h.h_addr_list[0]) {
    flags_ |= kFailed;
    return;
  }
  std::memcpy(&address_, h.h_addr_list[0], 4);
  ConnectAddress();
}

bool CNet::Accept(CNet& fresh) {
  if ((flags_ & kFailed) || !(flags_ & kAcceptWaiting)) return false;
  if (!fresh.Init()) {
    fresh.Close();
    return true;
  }
  flags_ &= ~kAcceptWaiting;
  ws::sockaddr_in peer{};
  int len = sizeof(peer);
  fresh.socket_ = ws::accept(socket_, reinterpret_cast<ws::sockaddr*>(&peer), &len);
  if (fresh.socket_ == ws::INVALID_SOCKET ||
      ws::WSAAsyncSelect(fresh.socket_, MainHandle(), kNetSocketMessage, 0x33) == ws::SOCKET_ERROR) {
    fresh.Close();
    return true;  // a closed net is handed out all the same
  }
  fresh.address_ = peer.sin_addr.s_addr;
  fresh.port_ = peer.sin_port;
  fresh.flags_ |= kConnected;
  LogAddress("[CNet] Accept from ", fresh.address_);
  return true;
}

void CNet::OnSocketEvent(uint32_t error, uint32_t event) {
  if (flags_ & kFailed) return;
  event_.Set();
  if (error) {
    flags_ = kFailed;
    return;
  }
  switch (event) {
    case ws::FD_READ:
      flags_ |= kDataArrived;
      break;
    case ws::FD_WRITE:
      Send(nullptr, 0);
      break;
    case ws::FD_ACCEPT:
      flags_ |= kAcceptWaiting;
      break;
    case ws::FD_CONNECT:
      flags_ |= kConnected;
      break;
    case ws::FD_CLOSE:
      flags_ &= ~kConnected;
      break;
    default:
      break;
  }
}

void CNet::Overflow() {
  flags_ = kFailed;
  Log("[CNet] receive buffer limit reached; the net is closed.\n");
}

bool CNet::Receive() {
  if ((flags_ & kFailed) || !recv_) return false;
  flags_ &= ~kDataArrived;
  if (recv_read_ >= recv_fill_) recv_read_ = recv_fill_ = recv_scanned_ = 0;
  if (recv_read_ >= kStep) {
    std::memmove(recv_.Get(), recv_.Get() + recv_read_, recv_fill_ - recv_read_);
    recv_fill_ -= recv_read_;
    recv_read_ = 0;
  }
  // Room for one pull; the store grows geometrically so that long lines stay linear.
  if (recv_fill_ + kStep > recv_capacity_) {
    uint64_t want = static_cast<uint64_t>(recv_capacity_) * 2;
    if (want < recv_fill_ + kStep) want = recv_fill_ + kStep;
    if (want > kMaxBuffer) want = kMaxBuffer;
    if (want < recv_fill_ + kStep) {
      Overflow();
      return false;
    }
    Grow(&recv_, static_cast<uint32_t>(want) + 1, recv_read_, recv_fill_);
    recv_capacity_ = static_cast<uint32_t>(want);
  }
  int n = ws::recv(socket_, reinterpret_cast<char*>(recv_.Get() + recv_fill_), static_cast<int>(kStep), 0);
  if (n == 0) {
    if (!(flags_ & kConnected)) flags_ = kFailed;
    return false;
  }
  if (n == ws::SOCKET_ERROR) {
    if (ws::WSAGetLastError() != ws::WSAEWOULDBLOCK) flags_ = kFailed;
    return false;
  }
  recv_fill_ += static_cast<uint32_t>(n);
  return true;
}

bool CNet::Send(const void* data, uint32_t count) {
  if (flags_ & kFailed) return false;
  if (!(flags_ & kConnected)) {
    Receive();
    return false;
  }
  if (send_sent_ >= send_fill_) send_sent_ = send_fill_ = 0;
  if (send_sent_ >= kStep) {
    std::memmove(send_.Get(), send_.Get() + send_sent_, send_fill_ - send_sent_);
    send_fill_ -= send_sent_;
    send_sent_ = 0;
  }
  if (count) {
    if (static_cast<uint64_t>(send_fill_) + count > send_capacity_) {
      uint64_t shortfall = static_cast<uint64_t>(send_fill_) + count - send_capacity_;
      uint64_t want = send_capacity_ + (shortfall > kStep ? shortfall : kStep);
      if (want > 0xFFFFFFF0u) {
        flags_ = kFailed;
        return false;
      }
      Grow(&send_, static_cast<uint32_t>(want), send_sent_, send_fill_);
      send_capacity_ = static_cast<uint32_t>(want);
    }
    std::memcpy(send_.Get() + send_fill_, data, count);
    send_fill_ += count;
  }
  while (send_sent_ < send_fill_) {
    uint32_t left = send_fill_ - send_sent_;
    int n = ws::send(socket_, reinterpret_cast<const char*>(send_.Get() + send_sent_),
                     static_cast<int>(left > 0x40000000u ? 0x40000000u : left), 0);
    if (n == 0) return true;
    if (n == ws::SOCKET_ERROR) {
      if (ws::WSAGetLastError() == ws::WSAEWOULDBLOCK) return true;
      flags_ = kFailed;
      return false;
    }
    send_sent_ += static_cast<uint32_t>(n);
  }
  send_sent_ = send_fill_ = 0;
  return true;
}

bool CNet::WaitSent() {
  if (!(wait_mode_ & 1)) return true;
  if (flags_ & kFailed) return false;
  for (;;) {
    if (!PumpAndCheck()) return false;
    if (send_sent_ >= send_fill_) return true;
    WaitOn(event_, INFINITE);
    if (flags_ & kFailed) return false;
  }
}

bool CNet::SendString(const char* text) {
  size_t len = text ? std::strlen(text) : 0;
  if (len > 0x7FFFFFF0u) return false;
  bool ok;
  if (len > 0 && text[len - 1] == '\n') {
    ok = Send(text, static_cast<uint32_t>(len));
  } else {
    ok = Send(text, static_cast<uint32_t>(len)) && Send("\n", 1);
  }
  return ok && WaitSent();
}

bool CNet::SendData(const void* data, int32_t count) {
  if (count < 0) return false;
  return Send(data, static_cast<uint32_t>(count)) && WaitSent();
}

bool CNet::TakeLine(DString* line) {
  if (!recv_) return false;
  // Only bytes not scanned before are looked at: the work stays linear in what arrives.
  uint32_t end = 0;
  bool found = false;
  for (;;) {
    uint8_t* b = recv_.Get();
    uint32_t i = recv_read_ + recv_scanned_;
    for (; i < recv_fill_; ++i) {
      if (b[i] == '\n' || b[i] == 0) {
        found = true;
        break;
      }
    }
    recv_scanned_ = i - recv_read_;
    if (found) {
      end = i;
      break;
    }
    if (!Receive()) break;
  }
  uint32_t next;
  if (!found) {
    if (!(flags_ & kFailed) || recv_read_ >= recv_fill_) return false;
    end = recv_fill_;  // the bytes left after a failure or close form a last line
    next = recv_fill_;
  } else {
    next = end + 1;
  }
  uint8_t* b = recv_.Get();
  b[end] = 0;  // the store holds capacity + 1 bytes, so the end of a full buffer has room
  uint32_t start = recv_read_, w = start;
  for (uint32_t r = start; r < end; ++r) {
    if (b[r] != '\r') b[w++] = b[r];
  }
  b[w] = 0;
  recv_read_ = next;
  recv_scanned_ = 0;
  line->Release();
  *line = DString(reinterpret_cast<char*>(b + start));
  return true;
}

DString CNet::RecvString() {
  DString line;
  if (!(wait_mode_ & 1)) {
    TakeLine(&line);
    return line;
  }
  for (;;) {
    if (TakeLine(&line)) return line;
    if (flags_ & kFailed) return DString();
    if (!PumpAndCheck()) return DString();
    WaitOn(event_, 100);
  }
}

bool CNet::TakeData(void* destination, uint32_t count) {
  if (!recv_) return false;
  while (recv_fill_ - recv_read_ < count) {
    if (!Receive()) {
      if (flags_ & kFailed) recv_fill_ = recv_read_ = recv_scanned_ = 0;
      return false;
    }
  }
  if (count) std::memcpy(destination, recv_.Get() + recv_read_, count);
  recv_read_ += count;
  recv_scanned_ = recv_scanned_ > count ? recv_scanned_ - count : 0;
  return true;
}

bool CNet::RecvData(void* destination, int32_t count) {
  // A count the buffer could never hold fails at once.
  if (count < 0 || static_cast<uint32_t>(count) > kMaxBuffer - kStep) return false;
  uint32_t n = static_cast<uint32_t>(count);
  if (TakeData(destination, n)) return true;
  if (!(wait_mode_ & 1)) return false;
  for (;;) {
    if (flags_ & kFailed) return false;
    if (!PumpAndCheck()) return false;
    WaitOn(event_, INFINITE);
    if (TakeData(destination, n)) return true;
  }
}

// ---- Manager.

bool CNetManager::Init() {
  if (started_) return false;
  ws::WSADATA data;
  if (ws::WSAStartup(0x0101, &data) != 0) {
    Log("[CNetManager] failed WinSock initialize.\r\n");
    return false;
  }
  started_ = 1;
  return true;
}

bool CNetManager::Term() {
  if (!started_) return false;
  started_ = 0;
  CloseAll();
  nets_.Clear();
  ws::WSACleanup();
  return true;
}

void CNetManager::CloseAll() {
  while (!nets_.IsEmpty()) {
    DRef<CNet> n = nets_.Front();
    uint32_t before = nets_.GetCount();
    n->Close();
    if (nets_.GetCount() == before) Remove(n.Get());
  }
}

void CNetManager::Remove(CNet* net) {
  for (auto it = nets_.Begin(); !(it == nets_.End());) {
    it = it.Value().Get() == net ? nets_.Erase(it) : it.Next();
  }
}

void CNetManager::Bind(DRef<CNet>* out, int32_t port, int32_t backlog) {
  out->Release();
  DRef<CNet> n;
  n.Alloc(1);
  if (!n->Bind(port, backlog)) return;
  n->owner_ = this;
  nets_.PushBack(n);
  *out = n;
}

void CNetManager::Accept(CNet& listener, DRef<CNet>* out, bool wait) {
  out->Release();
  if (wait) {
    for (;;) {
      if (listener.IsError()) return;
      if (listener.IsAcceptWaiting()) break;
      if (!PumpAndCheck()) return;
      WaitOn(listener.event_, INFINITE);
    }
  }
  if (!listener.IsAcceptWaiting()) return;
  DRef<CNet> n;
  n.Alloc(1);
  if (!listener.Accept(*n)) return;
  n->owner_ = this;
  nets_.PushBack(n);
  *out = n;
}

void CNetManager::Connect(DRef<CNet>* out, const char* host, int32_t port, bool wait) {
  out->Release();
  DRef<CNet> n;
  n.Alloc(1);
  if (!n->Connect(host, port)) {
    n->Close();
    return;
  }
  n->owner_ = this;
  nets_.PushBack(n);
  if (wait) {
    for (;;) {
      if (n->IsError() || n->IsConnected()) break;
      if (!PumpAndCheck()) break;
      WaitOn(n->event_, INFINITE);
    }
  }
  *out = n;
}

void CNetManager::DispatchSocketEvent(ws::SOCKET socket, uint32_t error, uint32_t event) {
  for (auto it = nets_.Begin(); !(it == nets_.End()); it = it.Next()) {
    DRef<CNet> n = it.Value();
    if (n->socket_ == socket) {
      n->OnSocketEvent(error, event);
      return;
    }
  }
}

void CNetManager::DispatchHostResolved(HANDLE lookup, uint32_t error) {
  if (!lookup) return;
  for (auto it = nets_.Begin(); !(it == nets_.End()); it = it.Next()) {
    DRef<CNet> n = it.Value();
    if (n->lookup_ == lookup) {
      n->OnHostResolved(error);
      return;
    }
  }
}

CNetManager& NetManager() {
  static CNetManager* m = new CNetManager;
  return *m;
}
bool StartNetUnit() {
  return NetManager().Init();
}
void StopNetUnit() {
  NetManager().Term();
}
void NetHostMessage(WPARAM wparam, LPARAM lparam) {
  NetManager().DispatchHostResolved(reinterpret_cast<HANDLE>(wparam), HIWORD(static_cast<DWORD>(lparam)));
}
void NetSocketMessage(WPARAM wparam, LPARAM lparam) {
  NetManager().DispatchSocketEvent(static_cast<ws::SOCKET>(wparam), HIWORD(static_cast<DWORD>(lparam)),
                                   LOWORD(static_cast<DWORD>(lparam)));
}
