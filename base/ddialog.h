// DDialog: the framework's dialog window, modal or modeless, made from a dialog template.
#pragma once

#include <cstdint>

#include "base/dwindow.h"

// A dialog's messages pass the same three stages as a window's: PreTranslateDialog, the
// listener chain, then DefaultProc (TRUE for WM_INITDIALOG, FALSE otherwise).
class DDialog : public DWindow {
 public:
  DDialog() = default;
  DDialog(const DDialog& other) : DWindow(other), modal_(other.modal_) {}
  DDialog& operator=(const DDialog& other);
  // Release; a dialog still bound to this object forgets it.
  ~DDialog() override;

  // Modal: runs the dialog until EndDialog; true when it was ended with EndDialog(true).
  // Modeless: true when the dialog was made (the object then owns it). False when the object
  // already has a window or the template cannot be made.
  bool Create(const DString& template_name, DWindow* parent, bool modal);
  bool Create(WORD resource_id, DWindow* parent, bool modal);
  using DWindow::Create;
  // Ends a modal dialog (Create then gives ok) and clears the record; nothing for a modeless
  // one (close it with Destroy). False without a record.
  bool EndDialog(bool ok);

  LRESULT DefaultProc(UINT message, WPARAM wparam, LPARAM lparam) override;
  virtual bool IsDialogMessage(MSG* msg);
  // First stage of the dialog procedure; true ends the message there (FALSE is returned).
  virtual bool PreTranslateDialog(MSG* msg);

  bool IsModal() const { return modal_ != 0; }

  // The dialog procedure given to the system.
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

 private:
  bool CreateFrom(LPCSTR name, DWindow* parent, bool modal);
  // Clears a record whose window no longer exists.
  void DropDeadWindow();

  uint8_t modal_ = 0;  // 1 while the dialog runs modally
};
