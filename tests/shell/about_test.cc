// Tests of the About box: its texts, the copyright the script set, link requests, closing.
#include <cstring>

#include "platform/client_surface.h"
#include "platform/gdi.h"
#include "shell/caboutdialog.h"
#include "shell_fixture.h"

namespace {

using namespace shell_test;

struct Seen {
  std::string version;
  std::string copyright;
  bool hand_over_link = false;
  bool arrow_elsewhere = false;
  // Per link: its width after painting, its text's extent in the link font, blue pixels in it.
  int link_width[2] = {};
  int text_width[2] = {};
  int blue_pixels[2] = {};
};
Seen g_seen;
int g_step = 0;

// The extent of a link's text in the font the box makes for its links.
int LinkTextWidth(HWND link) {
  LOGFONTA lf{};
  lf.lfHeight = -12;
  lf.lfWeight = 700;
  lf.lfUnderline = 1;
  lf.lfCharSet = DEFAULT_CHARSET;
  std::strcpy(lf.lfFaceName, "ＭＳ Ｐゴシック");
  HFONT font = CreateFontIndirectA(&lf);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font);
  char text[256];
  const int n = GetWindowTextA(link, text, sizeof text);
  SIZE size{};
  GetTextExtentPoint32A(dc, text, n, &size);
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(font);
  return size.cx;
}

// Paints a link and looks at it: its width, and the blue pixels inside it on the box's picture.
void LookAtLink(HWND dialog, int id, int index) {
  HWND link = GetDlgItem(dialog, id);
  InvalidateRect(link, nullptr, TRUE);
  UpdateWindow(link);
  RECT client;
  GetClientRect(link, &client);
  g_seen.link_width[index] = client.right;
  g_seen.text_width[index] = LinkTextWidth(link);
  ClientSurfaceView view{};
  if (!ClientSurfaceLock(link, &view)) return;
  for (int y = 0; y < view.height; ++y) {
    const auto* row = reinterpret_cast<const std::uint32_t*>(reinterpret_cast<const char*>(view.pixels) +
                                                             static_cast<std::ptrdiff_t>(y) * view.pitch);
    for (int x = 0; x < view.width; ++x) g_seen.blue_pixels[index] += (row[x] & 0xFFFFFF) == 0x0000FF;
  }
  ClientSurfaceUnlock(link, nullptr);
}

std::string Text(HWND dialog, int id) {
  char buffer[512] = {};
  GetWindowTextA(GetDlgItem(dialog, id), buffer, sizeof buffer);
  return buffer;
}

// Runs inside the box's modal loop (a message posted to the main window before it opened).
BOOL Drive(LRESULT*, HWND, UINT message, WPARAM, LPARAM) {
  if (message != WM_USER + 20) return FALSE;
  HWND dialog = FindWindowA(nullptr, "バージョン情報");
  if (!dialog) return TRUE;
  g_seen.version = Text(dialog, CAboutDialog::kVersionId);
  g_seen.copyright = Text(dialog, CAboutDialog::kCopyrightId);
  LookAtLink(dialog, CAboutDialog::kMailId, 0);
  LookAtLink(dialog, CAboutDialog::kWebId, 1);
  HWND link = GetDlgItem(dialog, CAboutDialog::kWebId);
  SetCursor(nullptr);
  SendMessageA(dialog, WM_SETCURSOR, reinterpret_cast<WPARAM>(link), MAKELONG(HTCLIENT, WM_MOUSEMOVE));
  g_seen.hand_over_link = GetCursor() != nullptr && GetCursor() != LoadCursorA(nullptr, IDC_ARROW);
  SendMessageA(dialog, WM_SETCURSOR, reinterpret_cast<WPARAM>(dialog), MAKELONG(HTCLIENT, WM_MOUSEMOVE));
  g_seen.arrow_elsewhere = GetCursor() == LoadCursorA(nullptr, IDC_ARROW);
  SendMessageA(dialog, WM_COMMAND, CAboutDialog::kMailId, 0);
  SendMessageA(dialog, WM_COMMAND, CAboutDialog::kWebId, 0);
  SendMessageA(dialog, WM_COMMAND, 1234, 0);  // other ids do nothing
  // The first round closes with OK, the second with the close box.
  SendMessageA(dialog, g_step++ == 0 ? WM_COMMAND : WM_CLOSE, IDOK, 0);
  return TRUE;
}

class About : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    EngineUnits() = FakeTable(true);
    ASSERT_TRUE(MainWindow().Create());
    MainWindow().AddWndProc(Drive);
    g_seen = Seen();
    g_step = 0;
    orvane::host::TakeTrace();
  }
  void Open() {
    PostMessageA(MainWindow().GetHandle(), WM_USER + 20, 0, 0);
    SendMessageA(MainWindow().GetHandle(), WM_COMMAND, CMainWindow::kCommandAbout, 0);
  }
  std::vector<std::string> ShellRequests() {
    std::vector<std::string> out;
    for (const std::string& l : orvane::host::TakeTrace())
      if (l.rfind("shellexecute", 0) == 0) out.push_back(l);
    return out;
  }
};

TEST_F(About, ShowsTheTextsOpensTheLinksAndCloses) {
  Open();
  EXPECT_EQ(g_seen.version, CAboutDialog::VersionText());
  EXPECT_EQ(g_seen.copyright, "no message.");
  EXPECT_TRUE(g_seen.hand_over_link);
  EXPECT_TRUE(g_seen.arrow_elsewhere);
  for (int i = 0; i < 2; ++i) {
    // Each link is drawn blue and resized to exactly its text's width in the link font.
    EXPECT_GT(g_seen.text_width[i], 0);
    EXPECT_EQ(g_seen.link_width[i], g_seen.text_width[i]) << i;
    EXPECT_GT(g_seen.blue_pixels[i], 0) << i;
  }
  EXPECT_EQ(ShellRequests(), (std::vector<std::string>{
                                 std::string("shellexecute 'open' '") + CAboutDialog::MailTarget() + "' ''",
                                 std::string("shellexecute 'open' '") + CAboutDialog::WebTarget() + "' ''"}));
  EXPECT_EQ(FindWindowA(nullptr, "バージョン情報"), nullptr);  // closed by OK

  MainWindow().SetCopyright(DString("(c) the script"));
  Open();
  EXPECT_EQ(g_seen.copyright, "(c) the script");
  EXPECT_EQ(FindWindowA(nullptr, "バージョン情報"), nullptr);  // closed by the close box
  EXPECT_TRUE(IsWindow(MainWindow().GetHandle()));
  // The box took the focus while it was up; the main window has it back and the engine runs.
  EXPECT_EQ(GetFocus(), MainWindow().GetHandle());
  EXPECT_EQ(MainWindow().GetSuspendCount(), 0u);
  // The display was asked for GDI mode around the box, and left it.
  EXPECT_EQ(std::count(Calls().begin(), Calls().end(), "gdi+ Draw"), 2);
  EXPECT_EQ(std::count(Calls().begin(), Calls().end(), "gdi- Draw"), 2);
}

TEST_F(About, CloseWithoutABoxIsFalse) {
  CAboutDialog dialog;
  EXPECT_FALSE(dialog.Close());
}

}  // namespace
