// The About box.
#include "shell/caboutdialog.h"

#include <cstring>

#include "base/dapplication.h"
#include "platform/shellapi.h"
#include "shell/engine_units.h"

namespace {

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr DWORD kNotify = 0x0100;          // the static control reports clicks
constexpr DWORD kEtchedHorizontal = 0x10;  // a static control drawn as a line
constexpr DWORD kIcon = 0x03;              // a static control showing an icon
constexpr DWORD kDefaultButton = 0x01;

const OrvaneDialogControl kControls[] = {
    {"BUTTON", "OK", IDOK, kChild | 0x00010000u | kDefaultButton, 90, 122, 50, 14},
    {"STATIC", "", CAboutDialog::kVersionId, kChild, 7, 7, 133, 26},
    {"STATIC", "orvane@example.org", CAboutDialog::kMailId, kChild | kNotify, 85, 35, 55, 8},
    {"STATIC", "orvane.example.org", CAboutDialog::kWebId, kChild | kNotify, 64, 47, 76, 11},
    {"STATIC", "", 0xFFFF, kChild | kEtchedHorizontal, 7, 62, 133, 1},
    {"STATIC", "no message.", CAboutDialog::kCopyrightId, kChild, 7, 69, 133, 48},
    {"STATIC", "", 0xFFFF, kChild | kIcon, 7, 25, 20, 20},
};

const OrvaneDialogTemplate kTemplate = {
    "バージョン情報",
    WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_CENTER | DS_MODALFRAME,
    0,
    0,
    0,
    147,
    143,
    "ＭＳ Ｐゴシック",
    9,
    SHIFTJIS_CHARSET,
    kControls,
    static_cast<int>(sizeof kControls / sizeof kControls[0]),
};

HINSTANCE Instance() {
  DApplication* app = DGetApplication();
  return app ? app->GetInstance() : nullptr;
}

void RegisterTemplateOnce() {
  static HINSTANCE registered_for = reinterpret_cast<HINSTANCE>(-1);
  HINSTANCE instance = Instance();
  if (registered_for == instance) return;
  if (OrvaneRegisterDialogTemplate(instance, MAKEINTRESOURCEA(CAboutDialog::kTemplateId), &kTemplate))
    registered_for = instance;
}

HFONT MakeLinkFont(const char* face) {
  LOGFONTA lf{};
  // The desktop's icon-title font is not known on this platform: its height counts as -12.
  lf.lfHeight = -12;
  lf.lfWeight = 700;
  lf.lfUnderline = 1;
  lf.lfCharSet = DEFAULT_CHARSET;
  std::strncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
  return CreateFontIndirectA(&lf);
}

}  // namespace

const char* CAboutDialog::VersionText() {
  return "Orvane Version 1.00\r\n\tAmber Quill\r\n\tOrvane engine team";
}
const char* CAboutDialog::MailTarget() {
  return "mailto:orvane@example.org";
}
const char* CAboutDialog::WebTarget() {
  return "https://orvane.example.org/";
}

CAboutDialog::~CAboutDialog() {
  if (link_font_) DeleteObject(link_font_);
}

void CAboutDialog::DoModal(DWindow* owner, const DString& copyright) {
  link_font_ = MakeLinkFont("ＭＳ Ｐゴシック");
  if (!link_font_) link_font_ = MakeLinkFont("ＭＳ ゴシック");
  copyright_ = copyright;
  hand_ = LoadCursorA(Instance(), MAKEINTRESOURCEA(109));
  if (!hand_) hand_ = LoadCursorA(nullptr, MAKEINTRESOURCEA(32649));  // the system's hand
  DisplayUseGdi(true);
  if (!GetHandle()) {
    RegisterTemplateOnce();
    Create(kTemplateId, owner, true);
  }
  DisplayUseGdi(false);
}

bool CAboutDialog::Close() {
  if (link_font_) {
    DeleteObject(link_font_);
    link_font_ = nullptr;
  }
  if (!GetHandle()) return false;
  if (IsModal()) {
    EndDialog(true);
  } else {
    Attach(nullptr);
  }
  return true;
}

LRESULT CAboutDialog::DefaultProc(UINT message, WPARAM wparam, LPARAM lparam) {
  const HWND hwnd = GetHandle();
  switch (message) {
    case WM_INITDIALOG:
      SendDlgItemMessageA(hwnd, kVersionId, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(VersionText()));
      SendDlgItemMessageA(hwnd, kCopyrightId, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(copyright_.GetText()));
      return TRUE;
    case WM_CLOSE:
      Close();
      return TRUE;
    case WM_SETCURSOR: {
      HWND under = reinterpret_cast<HWND>(wparam);
      if (under && (under == ::GetDlgItem(hwnd, kMailId) || under == ::GetDlgItem(hwnd, kWebId))) {
        SetCursor(hand_);
        SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, TRUE);
        return TRUE;
      }
      return DefWindowProcA(hwnd, message, wparam, lparam);
    }
    case WM_COMMAND:
      switch (LOWORD(wparam)) {
        case IDOK:
          Close();
          break;
        case kMailId:
          ShellExecuteA(hwnd, "open", MailTarget(), nullptr, nullptr, SW_SHOWNORMAL);
          break;
        case kWebId:
          ShellExecuteA(hwnd, "open", WebTarget(), nullptr, nullptr, SW_SHOWNORMAL);
          break;
        default:
          break;
      }
      return TRUE;
    case WM_CTLCOLORSTATIC: {
      // The links draw blue in the link font on the dialog's face, each exactly as wide as its text.
      HWND control = reinterpret_cast<HWND>(lparam);
      HDC dc = reinterpret_cast<HDC>(wparam);
      if (!control || (control != ::GetDlgItem(hwnd, kMailId) && control != ::GetDlgItem(hwnd, kWebId)))
        return DefWindowProcA(hwnd, message, wparam, lparam);
      if (link_font_) SelectObject(dc, link_font_);
      SetTextColor(dc, 0x00FF0000);
      SetBkMode(dc, TRANSPARENT);
      char text[256];
      const int n = GetWindowTextA(control, text, sizeof text);
      SIZE extent{};
      if (GetTextExtentPoint32A(dc, text, n, &extent))
        SetWindowPos(control, nullptr, 0, 0, extent.cx, extent.cy,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
      return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
    }
    default:
      return FALSE;
  }
}
