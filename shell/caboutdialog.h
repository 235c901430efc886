// CAboutDialog: the modal About box of the main window's command 40003: the version text, two
// links, the copyright text the script set, and an OK button.
#pragma once

#include "base/ddialog.h"
#include "base/dstring.h"

class CAboutDialog : public DDialog {
 public:
  static constexpr WORD kTemplateId = 108;
  static constexpr int kVersionId = 1004;
  static constexpr int kMailId = 1001;
  static constexpr int kWebId = 1002;
  static constexpr int kCopyrightId = 1003;

  ~CAboutDialog() override;

  // Shows the box over the owner (the display in GDI mode meanwhile) until it is closed.
  void DoModal(DWindow* owner, const DString& copyright);
  LRESULT DefaultProc(UINT message, WPARAM wparam, LPARAM lparam) override;
  // Deletes the link font, ends the box; false when there is no box.
  bool Close();

  // The texts the box shows and the links' targets.
  static const char* VersionText();
  static const char* MailTarget();
  static const char* WebTarget();

 private:
  HFONT link_font_ = nullptr;
  HCURSOR hand_ = nullptr;
  DStringBuffer copyright_;
};
