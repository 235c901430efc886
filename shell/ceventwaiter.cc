// The Event unit.
#include "shell/ceventwaiter.h"

#include <cstring>

#include "base/dpump.h"
#include "platform/mmsystem.h"
#include "platform/user.h"
#include "vm/script_task.h"
#include "vm/vm_services.h"

bool CEventWaiter::Init() {
  flags_ = kRebuild;
  capacity_ = 8;
  count_ = 0;
  handles_.Alloc(capacity_);
  return true;
}

bool CEventWaiter::Term() {
  flags_ = kRebuild;
  devices_.Clear();
  nets_.Clear();
  handles_.Release();
  capacity_ = 0;
  count_ = 0;
  return true;
}

void CEventWaiter::Clear() {
  flags_ = kRebuild;
  devices_.Clear();
  nets_.Clear();
}

void CEventWaiter::SetWaitKey(bool on) {
  flags_ = (flags_ | kRebuild) & ~kWaitKey;
  if (on) flags_ |= kWaitKey;
}

void CEventWaiter::SetWaitMouse(bool on) {
  flags_ = (flags_ | kRebuild) & ~kWaitMouse;
  if (on) flags_ |= kWaitMouse;
}

void CEventWaiter::AddNet(const DRef<CNet>& net) {
  if (!net) return;
  for (auto it = nets_.Begin(); !(it == nets_.End()); it = it.Next()) {
    if (it.Value().Get() == net.Get()) return;
  }
  flags_ |= kRebuild;
  nets_.PushBack(net);
}

void CEventWaiter::AddInput(const DRef<CInputDevice>& device) {
  if (!device) return;
  for (auto it = devices_.Begin(); !(it == devices_.End()); it = it.Next()) {
    if (it.Value().Get() == device.Get()) return;
  }
  flags_ |= kRebuild;
  devices_.PushBack(device);
}

void CEventWaiter::Rebuild() {
  flags_ &= ~kRebuild;
  count_ = 0;
  if (!handles_) {
    capacity_ = 8;
    handles_.Alloc(capacity_);
  }
  for (auto it = nets_.Begin(); !(it == nets_.End()); it = it.Next()) {
    if (count_ == capacity_) {
      DRef<HANDLE> bigger;
      bigger.Alloc(capacity_ + 8);
      std::memcpy(bigger.Get(), handles_.Get(), count_ * sizeof(HANDLE));
      handles_ = bigger;
      capacity_ += 8;
    }
    handles_[count_++] = it.Value()->GetEvent().GetHandle();
  }
}

bool CEventWaiter::Wait(uint32_t timeout) {
  const DWORD start = timeGetTime();
  if (flags_ & kRebuild) Rebuild();
  CInputManager& input = InputManager();
  for (;;) {
    if (flags_ & kWaitKey) input.ClearKey();
    if (flags_ & kWaitMouse) input.ClearMouse();
    for (auto it = devices_.Begin(); !(it == devices_.End()); it = it.Next()) it.Value()->Update();
    DWORD slice;
    if (timeout == 0xFFFFFFFFu) {
      slice = kSliceMs;
    } else {
      DWORD spent = timeGetTime() - start;
      slice = spent >= timeout ? 0 : (timeout - spent < kSliceMs ? timeout - spent : kSliceMs);
    }
    DWORD r =
        MsgWaitForMultipleObjects(count_, count_ ? handles_.Get() : nullptr, FALSE, slice, QS_ALLEVENTS);
    // The machine's pump first: a plug-in that waits here runs no script, and that pump is what
    // delivers the timed input of a headless run.
    VmPumpMessages();
    DPumpMessages();
    if (AllTasksEnded()) return true;
    if (r < count_) return true;  // WAIT_OBJECT_0 is 0: the index of the signalled net
    if ((flags_ & kWaitKey) && input.HasKeyEvent()) return true;
    if ((flags_ & kWaitMouse) && input.HasMouseEvent()) return true;
    for (auto it = devices_.Begin(); !(it == devices_.End()); it = it.Next()) {
      if (it.Value()->HasEvent()) return true;
    }
    if (slice == 0) return false;
  }
}

CEventWaiter& EventWaiter() {
  static CEventWaiter* w = new CEventWaiter;
  return *w;
}
bool StartEventUnit() {
  return EventWaiter().Init();
}
void StopEventUnit() {
  EventWaiter().Term();
}
