// The Event unit: one wait that sleeps until a key or mouse event, a change on watched input
// devices, activity on watched nets, the end of every script task, or a timeout. It waits in
// slices of at most 25 ms and dispatches window messages after each slice.
#pragma once

#include <cstdint>

#include "base/dobject.h"
#include "base/dref.h"
#include "base/dreflist.h"
#include "platform/wintypes.h"
#include "shell/cinputmanager.h"
#include "shell/cnetmanager.h"

class CEventWaiter : public DObject {
 public:
  static constexpr uint32_t kRebuild = 1;
  static constexpr uint32_t kWaitKey = 2;
  static constexpr uint32_t kWaitMouse = 4;
  static constexpr uint32_t kSliceMs = 25;

  ~CEventWaiter() override { Term(); }

  bool Init();
  bool Term();
  void Clear();
  void SetWaitKey(bool on);
  void SetWaitMouse(bool on);
  void AddNet(const DRef<CNet>& net);
  void AddInput(const DRef<CInputDevice>& device);
  // Timeout in ms; 0xFFFFFFFF waits without limit. True when something woke the wait.
  bool Wait(uint32_t timeout);

  uint32_t Capacity() const { return capacity_; }
  uint32_t Count() const { return count_; }
  uint32_t Flags() const { return flags_; }
  uint32_t NetCount() const { return nets_.GetCount(); }
  uint32_t InputCount() const { return devices_.GetCount(); }

 private:
  void Rebuild();

  uint32_t flags_ = 0;
  DRefList<CInputDevice> devices_;
  DRefList<CNet> nets_;
  DRef<HANDLE> handles_;
  uint32_t capacity_ = 0;
  uint32_t count_ = 0;
};

CEventWaiter& EventWaiter();
bool StartEventUnit();
void StopEventUnit();
