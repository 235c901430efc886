// The Net unit: TCP nets over WinSock 1.1 with non-blocking sockets that report to the main
// window. Each net keeps a receive and a send buffer; lines, little-endian numbers and raw data
// travel as a bare byte stream. In wait mode sends wait until everything is out and receives wait
// for their line or bytes, pumping messages, until the net fails or every script task has ended.
#pragma once

#include <cstdint>

#include "base/dobject.h"
#include "base/dref.h"
#include "base/dreflist.h"
#include "base/dstring.h"
#include "base/dthread.h"
#include "platform/winsock.h"

class CNetManager;

inline constexpr UINT kNetHostMessage = 0x401;    // WM_USER+1: a host lookup finished
inline constexpr UINT kNetSocketMessage = 0x402;  // WM_USER+2: a socket notification

class CNet : public DObject {
 public:
  static constexpr uint32_t kFailed = 1;
  static constexpr uint32_t kConnected = 2;
  static constexpr uint32_t kDataArrived = 4;
  static constexpr uint32_t kAcceptWaiting = 8;
  static constexpr uint32_t kStep = 4098;
  // A peer cannot make a net buffer more than this: past it the net fails.
  static constexpr uint32_t kMaxBuffer = 64u << 20;

  CNet() = default;
  ~CNet() override;

  bool IsError() const { return (flags_ & kFailed) && !(flags_ & kDataArrived) && recv_read_ >= recv_fill_; }
  bool IsConnected() const { return (flags_ & kConnected) != 0; }
  bool IsAcceptWaiting() const { return (flags_ & kAcceptWaiting) != 0; }
  DEvent& GetEvent() { return event_; }
  uint32_t Flags() const { return flags_; }
  void SetWaitMode(uint32_t mode) { wait_mode_ = mode; }
  uint32_t WaitMode() const { return wait_mode_; }

  bool SendString(const char* text);
  bool SendData(const void* data, int32_t count);
  // The next line, in the receive buffer until the next receive on this net; empty when none.
  DString RecvString();
  bool RecvData(void* destination, int32_t count);
  void Close();

  bool Bind(int32_t port, int32_t backlog);
  bool Connect(const char* host, int32_t port);
  bool Accept(CNet& fresh);
  void OnSocketEvent(uint32_t error, uint32_t event);
  void OnHostResolved(uint32_t error);

  ws::SOCKET Socket() const { return socket_; }
  HANDLE Lookup() const { return lookup_; }
  uint32_t SendPending() const { return send_fill_ - send_sent_; }
  // The last line handed to a plug-in, kept here so its text stays valid until the next receive.
  DString& KeptLine() { return kept_line_; }

 private:
  friend class CNetManager;

  bool Init();
  void Reset();
  bool ConnectAddress();
  bool Receive();
  bool Send(const void* data, uint32_t count);
  bool TakeLine(DString* line);
  bool TakeData(void* destination, uint32_t count);
  bool WaitSent();
  // Fails the net for good (a peer broke a limit): one log line.
  void Overflow();

  CNetManager* owner_ = nullptr;
  ws::SOCKET socket_ = ws::INVALID_SOCKET;
  DEvent event_;
  uint32_t flags_ = kFailed;
  uint32_t wait_mode_ = 1;
  HANDLE lookup_ = nullptr;
  uint32_t address_ = ws::INADDR_NONE;
  uint16_t port_ = 0;
  alignas(8) char host_entry_[ws::MAXGETHOSTSTRUCT] = {};
  DRef<uint8_t> recv_;
  uint32_t recv_capacity_ = kStep, recv_fill_ = 0, recv_read_ = 0;
  uint32_t recv_scanned_ = 0;  // unread bytes from the read offset known to hold no line end
  DRef<uint8_t> send_;
  uint32_t send_capacity_ = kStep, send_fill_ = 0, send_sent_ = 0;
  DString kept_line_;
};

class CNetManager : public DObject {
 public:
  ~CNetManager() override { Term(); }

  bool Init();
  bool Term();
  void CloseAll();
  void Remove(CNet* net);
  void Bind(DRef<CNet>* out, int32_t port, int32_t backlog);
  void Accept(CNet& listener, DRef<CNet>* out, bool wait);
  void Connect(DRef<CNet>* out, const char* host, int32_t port, bool wait);
  void DispatchSocketEvent(ws::SOCKET socket, uint32_t error, uint32_t event);
  void DispatchHostResolved(HANDLE lookup, uint32_t error);

  bool IsStarted() const { return started_ != 0; }
  uint32_t NetCount() const { return nets_.GetCount(); }
  // Every listed net (the Event unit and tests walk them).
  DRefList<CNet>& Nets() { return nets_; }

 private:
  uint8_t started_ = 0;
  DRefList<CNet> nets_;
};

CNetManager& NetManager();
bool StartNetUnit();
void StopNetUnit();
// The main window's WM_USER+1 and WM_USER+2 rows.
void NetHostMessage(WPARAM wparam, LPARAM lparam);
void NetSocketMessage(WPARAM wparam, LPARAM lparam);
