// CMainWindow: the engine's one top-level window: the display's surface, the owner of the
// engine's message boxes, the source of mouse events, and the place where the engine notices it
// lost the user's attention (and suspends its units).
#pragma once

#include <cstdint>
#include <vector>

#include "base/dmenu.h"
#include "base/dstring.h"
#include "base/dwindow.h"

// A window-procedure hook of a plug-in: nonzero means it handled the message and wrote *result.
using WndProcHook = BOOL (*)(LRESULT* result, HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

class CMainWindow : public DWindow {
 public:
  // State flags.
  static constexpr uint32_t kActive = 1;       // the application is active
  static constexpr uint32_t kSizeMove = 2;     // a size/move loop runs
  static constexpr uint32_t kMenuLoop = 4;     // a menu loop runs
  static constexpr uint32_t kFocus = 8;        // the window has the keyboard focus
  static constexpr uint32_t kHideCursor = 16;  // the cursor is hidden over the client area
  static constexpr uint32_t kGdiMode = 32;     // GDI mode entered through UseGDI
  static constexpr uint32_t kNoCapture = 3;

  // Menu commands.
  static constexpr UINT kCommandExit = 40002;
  static constexpr UINT kCommandAbout = 40003;

  CMainWindow() = default;
  ~CMainWindow() override;

  // Registers the class, makes the window with its saved placement and a 640 x 480 client
  // area, shows and activates it. False when the class or the window cannot be made.
  bool Create();
  using DWindow::Create;
  bool Destroy() override;
  int MessageBox(const DString& text, const DString& caption, UINT type) override;
  LRESULT DefaultProc(UINT message, WPARAM wparam, LPARAM lparam) override;

  void UseGDI(bool on);
  void ShowCursor(bool show);
  void SetCopyright(const DString& text) { copyright_ = text; }
  const DStringBuffer& GetCopyright() const { return copyright_; }
  void AddWndProc(WndProcHook hook);
  void DelWndProc(WndProcHook hook);
  void Suspend(bool suspend);
  void ShowAbout();

  uint32_t GetStateFlags() const { return state_; }
  uint32_t GetSuspendCount() const { return suspend_count_; }
  uint32_t GetCapturedButton() const { return captured_; }
  bool InCloseEvent() const { return close_event_ != 0; }

 private:
  void OnCreate();
  void OnClose();
  void OnCommand(UINT id);
  void QueueMouse(uint32_t kind, LPARAM lparam);
  void Capture(uint32_t button);
  void Uncapture(uint32_t button);
  // The hooks' turn: true when one handled the message (*result is its value).
  bool RunHooks(LRESULT* result, UINT message, WPARAM wparam, LPARAM lparam);
  void Flag(uint32_t bit, bool set) { state_ = set ? (state_ | bit) : (state_ & ~bit); }

  DMenu menu_;
  uint8_t close_event_ = 0;
  uint32_t suspend_count_ = 0;
  uint32_t state_ = 0;
  DStringBuffer copyright_;
  std::vector<WndProcHook> hooks_;
  uint64_t hooks_version_ = 0;  // changes whenever the hook list changes
  uint32_t captured_ = kNoCapture;
};

// The engine's main window (one object for the whole process).
CMainWindow& MainWindow();
