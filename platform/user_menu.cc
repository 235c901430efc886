// Menus: menu objects and their items, templates registered as tables in code, a window's menu.
// No host draws a menu bar; the state is kept so that code can read it and send the commands.
#include <cctype>
#include <map>

#include "platform/user_internal.h"

namespace orvane::user {
namespace {

struct MenuItem {
  std::string text;
  UINT id;
  UINT flags;
  HMENU popup;
};

struct Menu {
  std::vector<MenuItem> items;
};

struct StoredMenuItem {
  std::string text;
  bool separator;
  UINT id;
  UINT flags;
  std::vector<StoredMenuItem> popup;
};

std::recursive_mutex g_lock;
// The objects below are made on first use and never destroyed: a run that never needs them never
// touches them (nor their pages at start and exit), and code running during exit still finds them.
std::map<UINT_PTR, Menu>& Menus() {
  static auto* made = new std::map<UINT_PTR, Menu>;
  return *made;
}
UINT_PTR g_next_menu = 0x20000;
std::map<std::pair<HINSTANCE, std::string>, std::vector<StoredMenuItem>>& Templates() {
  static auto* made = new std::map<std::pair<HINSTANCE, std::string>, std::vector<StoredMenuItem>>;
  return *made;
}

Menu* Get(HMENU h) {
  auto it = Menus().find(reinterpret_cast<UINT_PTR>(h));
  return it == Menus().end() ? nullptr : &it->second;
}

HMENU NewMenu() {
  std::lock_guard<std::recursive_mutex> l(g_lock);
  UINT_PTR h = g_next_menu;
  g_next_menu += 0x10;
  Menus().emplace(h, Menu{});
  return reinterpret_cast<HMENU>(h);
}

std::string Key(LPCSTR name) {
  if (IS_INTRESOURCE(name)) return "#" + std::to_string(reinterpret_cast<ULONG_PTR>(name));
  std::string k = name;
  for (char& c : k) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return k;
}

// At most this deep: a template cannot nest menus without end.
constexpr int kMaxDepth = 16;

bool Store(const OrvaneMenuItem* items, int count, std::vector<StoredMenuItem>* out, int depth) {
  if (count < 0 || (count > 0 && !items) || depth > kMaxDepth) return false;
  for (int i = 0; i < count; ++i) {
    StoredMenuItem s{
        items[i].text ? items[i].text : "", items[i].text == nullptr, items[i].id, items[i].flags, {}};
    if (s.flags & MF_POPUP) {
      if (!Store(items[i].popup, items[i].popup_count, &s.popup, depth + 1)) return false;
    }
    out->push_back(std::move(s));
  }
  return true;
}

HMENU Build(const std::vector<StoredMenuItem>& items) {
  HMENU m = NewMenu();
  for (const StoredMenuItem& s : items) {
    if (s.separator) {
      AppendMenuA(m, MF_SEPARATOR, 0, nullptr);
    } else if (s.flags & MF_POPUP) {
      HMENU sub = Build(s.popup);
      AppendMenuA(m, s.flags, reinterpret_cast<UINT_PTR>(sub), s.text.c_str());
    } else {
      AppendMenuA(m, s.flags, s.id, s.text.c_str());
    }
  }
  return m;
}

// The item named by command id (searched through popups) or by position.
MenuItem* FindItem(HMENU h, UINT item, UINT flags, int depth = 0) {
  Menu* m = Get(h);
  if (!m || depth > kMaxDepth) return nullptr;
  if (flags & MF_BYPOSITION) return item < m->items.size() ? &m->items[item] : nullptr;
  for (MenuItem& i : m->items) {
    if (!(i.flags & MF_POPUP) && !(i.flags & MF_SEPARATOR) && i.id == item) return &i;
  }
  for (MenuItem& i : m->items) {
    if (i.flags & MF_POPUP) {
      if (MenuItem* r = FindItem(i.popup, item, flags, depth + 1)) return r;
    }
  }
  return nullptr;
}

void DestroyTree(HMENU h, int depth) {
  Menu* m = Get(h);
  if (!m || depth > kMaxDepth) return;
  std::vector<HMENU> subs;
  for (MenuItem& i : m->items) {
    if (i.flags & MF_POPUP) subs.push_back(i.popup);
  }
  Menus().erase(reinterpret_cast<UINT_PTR>(h));
  for (HMENU s : subs) DestroyTree(s, depth + 1);
}

}  // namespace

bool IsMenu(HMENU menu) {
  std::lock_guard<std::recursive_mutex> l(g_lock);
  return Get(menu) != nullptr;
}

}  // namespace orvane::user

using namespace orvane::user;

BOOL OrvaneRegisterMenu(HINSTANCE instance, LPCSTR name, const OrvaneMenuItem* items, int count) {
  if (!name) return FALSE;
  std::vector<StoredMenuItem> stored;
  if (!Store(items, count, &stored, 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::recursive_mutex> l(g_lock);
  auto key = std::make_pair(instance ? instance : MainInstance(), Key(name));
  if (Templates().count(key)) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return FALSE;
  }
  Templates().emplace(key, std::move(stored));
  return TRUE;
}

HMENU CreateMenu() {
  return NewMenu();
}
HMENU CreatePopupMenu() {
  return NewMenu();
}

BOOL DestroyMenu(HMENU menu) {
  std::lock_guard<std::recursive_mutex> l(g_lock);
  if (!Get(menu)) {
    SetLastError(ERROR_INVALID_MENU_HANDLE);
    return FALSE;
  }
  DestroyTree(menu, 0);
  return TRUE;
}

HMENU LoadMenuA(HINSTANCE instance, LPCSTR name) {
  if (!name) return nullptr;
  std::lock_guard<std::recursive_mutex> l(g_lock);
  auto it = Templates().find({instance ? instance : MainInstance(), Key(name)});
  if (it == Templates().end()) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  return Build(it->second);
}

BOOL AppendMenuA(HMENU menu, UINT flags, UINT_PTR id_or_popup, LPCSTR text) {
  std::lock_guard<std::recursive_mutex> l(g_lock);
  Menu* m = Get(menu);
  if (!m) {
    SetLastError(ERROR_INVALID_MENU_HANDLE);
    return FALSE;
  }
  MenuItem item{text && !(flags & MF_SEPARATOR) ? text : "", 0, flags, nullptr};
  if (flags & MF_POPUP) {
    item.popup = reinterpret_cast<HMENU>(id_or_popup);
    if (!Get(item.popup) || item.popup == menu) {
      SetLastError(ERROR_INVALID_MENU_HANDLE);
      return FALSE;
    }
  } else {
    item.id = static_cast<UINT>(id_or_popup);
  }
  m->items.push_back(item);
  return TRUE;
}

HMENU GetSubMenu(HMENU menu, int position) {
  std::lock_guard<std::recursive_mutex> l(g_lock);
  Menu* m = Get(menu);
  if (!m || position < 0 || static_cast<size_t>(position) >= m->items.size()) return nullptr;
  const MenuItem& i = m->items[static_cast<size_t>(position)];
  return (i.flags & MF_POPUP) ? i.popup : nullptr;
}

int GetMenuItemCount(HMENU menu) {
  std::lock_guard<std::recursive_mutex> l(g_lock);
  Menu* m = Get(menu);
  return m ? static_cast<int>(m->items.size()) : -1;
}

DWORD EnableMenuItem(HMENU menu, UINT item, UINT flags) {
  std::lock_guard<std::recursive_mutex> l(g_lock);
  MenuItem* i = FindItem(menu, item, flags);
  if (!i) return static_cast<DWORD>(-1);
  DWORD old = i->flags & (MF_GRAYED | MF_DISABLED);
  i->flags = (i->flags & ~(MF_GRAYED | MF_DISABLED)) | (flags & (MF_GRAYED | MF_DISABLED));
  return old;
}

DWORD CheckMenuItem(HMENU menu, UINT item, UINT flags) {
  std::lock_guard<std::recursive_mutex> l(g_lock);
  MenuItem* i = FindItem(menu, item, flags);
  if (!i) return static_cast<DWORD>(-1);
  DWORD old = i->flags & MF_CHECKED;
  i->flags = (i->flags & ~MF_CHECKED) | (flags & MF_CHECKED);
  return old;
}

UINT GetMenuState(HMENU menu, UINT item, UINT flags) {
  std::lock_guard<std::recursive_mutex> l(g_lock);
  MenuItem* i = FindItem(menu, item, flags);
  if (!i) return static_cast<UINT>(-1);
  UINT state = i->flags & (MF_GRAYED | MF_DISABLED | MF_CHECKED | MF_POPUP | MF_SEPARATOR);
  if (i->flags & MF_POPUP) {
    Menu* sub = Get(i->popup);
    state |= static_cast<UINT>(sub ? sub->items.size() : 0) << 8;
  }
  return state;
}

BOOL SetMenu(HWND hwnd, HMENU menu) {
  WindowPtr w = Find(hwnd);
  if (!w) return FALSE;
  if (w->style & WS_CHILD) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (menu && !IsMenu(menu)) {
    SetLastError(ERROR_INVALID_MENU_HANDLE);
    return FALSE;
  }
  // The window keeps its outer size; its client area loses or gains the menu bar's height.
  RECT before;
  GetClientRect(hwnd, &before);
  w->menu = menu;
  RECT after;
  GetClientRect(hwnd, &after);
  if (after.bottom != before.bottom) {
    SendMessageA(hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(after.right, after.bottom));
  }
  return TRUE;
}

HMENU GetMenu(HWND hwnd) {
  WindowPtr w = Find(hwnd);
  return w && !(w->style & WS_CHILD) ? w->menu : nullptr;
}

BOOL DrawMenuBar(HWND hwnd) {
  return Find(hwnd) ? TRUE : FALSE;
}
