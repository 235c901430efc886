// DDialog: modal and modeless dialogs and the framework's dialog procedure.
#include "base/ddialog.h"

#include "base/dapplication.h"

DDialog::~DDialog() {
  DWindow::Release();
  if (bound_ && ::IsWindow(bound_) &&
      GetWindowLongPtrA(bound_, DWLP_USER) == reinterpret_cast<LONG_PTR>(this)) {
    SetWindowLongPtrA(bound_, DWLP_USER, 0);
  }
}

DDialog& DDialog::operator=(const DDialog& other) {
  DWindow::operator=(other);
  modal_ = other.modal_;
  return *this;
}

bool DDialog::Create(const DString& template_name, DWindow* parent, bool modal) {
  return CreateFrom(template_name.Text(), parent, modal);
}

bool DDialog::Create(WORD resource_id, DWindow* parent, bool modal) {
  return CreateFrom(MAKEINTRESOURCEA(resource_id), parent, modal);
}

bool DDialog::CreateFrom(LPCSTR name, DWindow* parent, bool modal) {
  if (record_ && record_->window) return false;
  DApplication* app = DGetApplication();
  HINSTANCE instance = app ? app->GetInstance() : nullptr;
  HWND owner = parent ? parent->GetHandle() : nullptr;
  if (modal) {
    modal_ = 1;
    INT_PTR r = DialogBoxParamA(instance, name, owner, &DDialog::DialogProc, reinterpret_cast<LPARAM>(this));
    // A dialog ended other than by EndDialog(bool) is gone too: its record must not keep it.
    DropDeadWindow();
    return r > 0;
  }
  modal_ = 0;
  owned_ = 1;
  HWND hwnd = CreateDialogParamA(instance, name, owner, &DDialog::DialogProc, reinterpret_cast<LPARAM>(this));
  if (!hwnd) {
    DropDeadWindow();
    owned_ = 0;
    return false;
  }
  if (record_) UnlinkAll(record_);
  record_ = DRef<DWindowRecord>();
  record_.Alloc(1);
  record_->window = hwnd;
  modal_ = 0;
  owned_ = 1;
  return true;
}

void DDialog::DropDeadWindow() {
  if (!record_ || !record_->window || ::IsWindow(record_->window)) return;
  UnlinkAll(record_);
  record_->window = nullptr;
  record_.Release();
  owned_ = 0;
}

bool DDialog::EndDialog(bool ok) {
  if (!record_) return false;
  if (modal_) {
    ::EndDialog(record_->window, ok ? 1 : -1);
    RemoveAllListeners();
    record_->window = nullptr;
    record_.Release();
    owned_ = 0;
  }
  return true;
}

LRESULT DDialog::DefaultProc(UINT message, WPARAM, LPARAM) {
  return message == WM_INITDIALOG ? TRUE : FALSE;
}

bool DDialog::IsDialogMessage(MSG* msg) {
  return IsDialogMessageA(GetHandle(), msg) != FALSE;
}

bool DDialog::PreTranslateDialog(MSG* msg) {
  if (!modal_) TranslateMessage(msg);
  return false;
}

namespace {

BOOL CALLBACK SetDefaultGuiFont(HWND child, LPARAM) {
  SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), TRUE);
  return TRUE;
}

}  // namespace

INT_PTR CALLBACK DDialog::DialogProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  MSG msg;
  FillMessage(&msg, hwnd, message, wparam, lparam);
  if (!hwnd) return DefWindowProcA(hwnd, message, wparam, lparam);
  auto* self = reinterpret_cast<DDialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  if (!self) {
    if (message != WM_INITDIALOG || !lparam) return DefWindowProcA(hwnd, message, wparam, lparam);
    self = reinterpret_cast<DDialog*>(lparam);
    self->Bind(hwnd);
    SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    // A template font that is not Shift-JIS cannot show the program's text: every control
    // gets the default GUI font instead.
    auto font = reinterpret_cast<HFONT>(SendMessageA(hwnd, WM_GETFONT, 0, 0));
    LOGFONTA lf{};
    if (font && GetObjectA(font, sizeof(lf), &lf) == static_cast<int>(sizeof(lf)) &&
        lf.lfCharSet != SHIFTJIS_CHARSET) {
      EnumChildWindows(hwnd, &SetDefaultGuiFont, 0);
    }
  }
  if (self->PreTranslateDialog(&msg)) return FALSE;
  LRESULT result = 0;
  if (!WalkListeners(self->record_, &result, self, message, wparam, lparam)) return result;
  return self->DefaultProc(message, wparam, lparam);
}
