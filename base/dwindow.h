// DWindow: the framework's window object, its window procedure, listener chain, geometry and
// placement saved in the application's settings.
#pragma once

#include "base/dgeometry.h"
#include "base/dmenu.h"
#include "base/dmessagelistener.h"
#include "base/dobject.h"
#include "base/dref.h"
#include "base/dstring.h"
#include "platform/win32.h"

class DWindowDC;

// The record shared by every DWindow that refers to one window: the window (0 when there is
// none) and the first listener of its chain. The last handle frees the record, never the window.
struct DWindowRecord : public DObject {
  HWND window = nullptr;
  DMessageListener* first = nullptr;
};

// The name of the framework's basic window class and of its splitter class.
inline constexpr char kDBasicWindowClass[] = "AQC Basic Window Class";
inline constexpr char kDSplitterWindowClass[] = "AQC Splitter Window Class";

// A window object. Create makes a window that this object owns (destroys on release); objects
// made from a handle, by assignment or copy refer to a window without owning it and share its
// record, so every copy sees the window's end. Operations other than Create, Destroy, the
// placement and listener operations do not check for a window: they pass window 0 to the
// system and give its failure.
class DWindow : public DObject {
 public:
  DWindow() = default;
  // A new record over the window, not owner.
  explicit DWindow(HWND hwnd);
  // Shares the other's record, not owner.
  DWindow(const DWindow& other);
  DWindow& operator=(const DWindow& other);
  // Release; a window still bound to this object forgets it.
  ~DWindow() override;

  // Makes a window of the class ("AQC Basic Window Class" when empty) owned by this object;
  // false when the object already has a window or the system refuses.
  virtual bool Create(const DString& class_name, const DString& title, DWORD style, DWORD ex_style, int x,
                      int y, int width, int height, HMENU menu, const DWindow& parent);
  virtual bool Create(const DString& class_name, const DString& title, DWORD style, DWORD ex_style, int x,
                      int y, int width, int height);
  virtual bool Create(const DString& class_name, const DString& title, DWORD style, DWORD ex_style,
                      const DRect& rect, HMENU menu, const DWindow& parent);
  virtual bool Create(const DString& class_name, const DString& title, DWORD style, DWORD ex_style,
                      const DRect& rect);
  virtual bool Create(const DString& class_name, const DString& title, DWORD style, DWORD ex_style,
                      HMENU menu, const DWindow& parent);
  virtual bool Create(const DString& class_name, const DString& title, DWORD style, DWORD ex_style);
  // Destroy when owner, then drop this object's reference to the record.
  virtual void Release();
  // Hides and destroys the window, unlinks every listener, and clears the record for every copy.
  virtual bool Destroy();
  virtual LRESULT SendMessage(UINT message, WPARAM wparam, LPARAM lparam);
  virtual bool PostMessage(UINT message, WPARAM wparam, LPARAM lparam);
  // First stage of the window procedure; true sends the message to DefWindowProcA only.
  virtual bool PreTranslate(MSG* msg);
  // Fills dc with this window's client-area DC (GetDC) or whole-window DC; false when dc already
  // holds one or the system refuses.
  virtual bool GetDC(DWindowDC& dc);
  virtual bool GetWindowDC(DWindowDC& dc);
  virtual bool Show(int command);
  virtual bool ShowDefault();
  virtual void Activate();
  virtual bool Hide();
  virtual bool GetPlacement(WINDOWPLACEMENT* placement);
  virtual bool SetPlacement(const WINDOWPLACEMENT* placement);
  // Placement text in the section "Placement" of the application's settings.
  virtual bool LoadPlacement(const DString& entry);
  virtual bool LoadPosition(const DString& entry);
  virtual bool SavePlacement(const DString& entry);
  virtual DWORD GetStyle();
  virtual DWORD SetStyle(DWORD style);
  virtual DWORD GetExStyle();
  virtual DWORD SetExStyle(DWORD style);
  virtual int MessageBox(const DString& text, const DString& caption, UINT type);
  virtual bool SetSize(const DPoint& size);
  virtual bool Move(const DRect& rect);
  // Negative values keep the current position or size.
  virtual bool Move(int x, int y, int width, int height);
  virtual bool Resize(const DPoint& size);
  virtual bool Resize(int width, int height);
  virtual bool SetClientSize(const DPoint& size);
  virtual bool SetClientSize(int width, int height);
  virtual bool CenterOnScreen();
  virtual bool SetZOrder(const DWindow& insert_after);
  virtual DRect GetWindowRect();
  virtual DRect GetClientRect();
  virtual DPoint ClientToWindowSize(const DPoint& client);
  virtual DPoint ClientToWindowSize(DWORD style, DWORD ex_style, bool menu, const DPoint& client);
  virtual DPoint WindowToClientSize(const DPoint& window);
  virtual DPoint WindowToClientSize(DWORD style, DWORD ex_style, bool menu, const DPoint& window);
  virtual bool IsChildOf(const DWindow& parent);
  virtual bool IsIconic();
  virtual bool IsWindow();
  virtual bool IsZoomed();
  virtual bool IsVisible();
  virtual DStringBuffer GetText();
  virtual bool SetText(const DString& text);
  virtual bool Enable(bool enable);
  virtual bool IsEnabled();
  virtual DWindow GetParent();
  virtual DWindow SetParent(const DWindow& parent);
  virtual LONG GetId();
  virtual LONG SetId(LONG id);
  virtual bool Update();
  virtual bool Invalidate(const DRect* rect, bool erase);
  virtual bool Validate(const DRect* rect);
  virtual void Redraw();
  virtual bool SetMenu(const DMenu& menu);
  virtual DMenu GetMenu();
  virtual bool RemoveMenu();
  virtual bool GetScrollRange(int bar, int* min_pos, int* max_pos);
  virtual bool SetScrollRange(int bar, int min_pos, int max_pos, bool redraw);
  virtual int GetScrollPos(int bar);
  virtual int SetScrollPos(int bar, int pos, bool redraw);
  virtual bool EnableScrollBar(UINT bar, UINT arrows);
  virtual bool ShowScrollBar(int bar, bool show);
  virtual bool GetScrollInfo(int bar, SCROLLINFO* info);
  virtual int SetScrollInfo(int bar, const SCROLLINFO* info, bool redraw);
  // A caret of the bitmap (0: a solid caret).
  virtual bool CreateCaret(HBITMAP bitmap, int width, int height);
  virtual bool CreateSolidCaret(int width, int height);
  virtual bool DestroyCaret();
  virtual UINT GetCaretBlinkTime();
  virtual DPoint GetCaretPos();
  virtual bool HideCaret();
  virtual bool SetCaretBlinkTime(UINT milliseconds);
  virtual bool SetCaretPos(const DPoint& pos);
  virtual bool SetCaretPos(int x, int y);
  virtual bool ShowCaret();
  virtual DWindow GetDlgItem(int id);
  virtual LRESULT SendDlgItemMessage(int id, UINT message, WPARAM wparam, LPARAM lparam);
  virtual LRESULT GetCheck(int id);
  virtual LRESULT SetCheck(int id, WPARAM state);
  virtual UINT_PTR SetTimer(UINT_PTR id, UINT milliseconds, TIMERPROC proc);
  virtual bool KillTimer(UINT_PTR id);
  // The window's message handler (third stage); derived windows replace it.
  virtual LRESULT DefaultProc(UINT message, WPARAM wparam, LPARAM lparam);

  // A new record over the handle, not owner.
  void Attach(HWND hwnd);
  HWND GetHandle() const { return record_ ? record_->window : nullptr; }
  bool IsOwner() const { return owned_ != 0; }

  // The listener chain of the record: append (sets the listener's owner), unlink one, unlink
  // all. False without a record or a window; AddListener also when the listener is already in a
  // chain, RemoveListener when the listener is not here.
  bool AddListener(DMessageListener& listener);
  bool RemoveListener(DMessageListener& listener);
  bool RemoveAllListeners();

  // The procedure of the framework's window classes: pre-translation, listeners, handler.
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

 protected:
  friend class DMessageListener;
  // Builds the message record the pre-translation stages get.
  static void FillMessage(MSG* msg, HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  // Walks the chain of the record: false when a listener ended the dispatch (*result is its value).
  static bool WalkListeners(const DRef<DWindowRecord>& record, LRESULT* result, DWindow* window, UINT message,
                            WPARAM wparam, LPARAM lparam);
  static bool RemoveFromRecord(const DRef<DWindowRecord>& record, DMessageListener& listener);
  static void UnlinkAll(const DRef<DWindowRecord>& record);
  // Gives the object a new record over hwnd, not owner (the binding of a new window).
  void Bind(HWND hwnd);

  DRef<DWindowRecord> record_;  // shared record; may be empty
  uint8_t owned_ = 0;           // 1: this object destroys the window on release
  HWND bound_ = nullptr;        // window whose user data points at this object
};
