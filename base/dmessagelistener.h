// DMessageListener: an object that sees a window's messages through the window's listener chain.
#pragma once

#include "base/dobject.h"
#include "base/dref.h"
#include "platform/wintypes.h"

class DWindow;
struct DWindowRecord;

// A listener is attached to at most one window at a time. The window procedure calls OnMessage
// for every message of that window, in chain order, before the window's own handler.
class DMessageListener : public DObject {
 public:
  DMessageListener() = default;
  DMessageListener(const DMessageListener&) = delete;
  DMessageListener& operator=(const DMessageListener&) = delete;
  // Detaches the listener from its window.
  ~DMessageListener() override;

  // Called with the address of the window procedure's result (preset to 0): true passes the
  // message on; false ends the dispatch and the window procedure returns *result. A listener
  // that detaches itself here ends the walk of the chain for this message; it must not be
  // destroyed during its own OnMessage. The default passes everything on.
  virtual bool OnMessage(LRESULT* result, DWindow* window, UINT message, WPARAM wparam, LPARAM lparam);

  // Appends the listener to the window's chain; false when it already has an owner or the
  // window has no record or no window.
  bool Attach(DWindow& window);
  // Leaves the owner's chain; false without an owner.
  bool Detach();
  // The window object given to Attach; null when not attached.
  DWindow* GetOwner() const { return owner_; }

 private:
  friend class DWindow;
  DWindow* owner_ = nullptr;          // as given to Attach (for the caller's information)
  DRef<DWindowRecord> chain_;         // the record whose chain holds the listener
  DMessageListener* next_ = nullptr;  // next listener of the chain
};
