// DMessageListener: attaching to and detaching from a window's listener chain.
#include "base/dmessagelistener.h"

#include "base/dwindow.h"

DMessageListener::~DMessageListener() {
  Detach();
}

bool DMessageListener::OnMessage(LRESULT*, DWindow*, UINT, WPARAM, LPARAM) {
  return true;
}

bool DMessageListener::Attach(DWindow& window) {
  if (owner_ || chain_) return false;
  return window.AddListener(*this);
}

bool DMessageListener::Detach() {
  if (!chain_) return false;
  return DWindow::RemoveFromRecord(chain_, *this);
}
