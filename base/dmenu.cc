// DMenu: menus loaded from the program's menu tables or created empty.
#include "base/dmenu.h"

#include "base/dapplication.h"

DMenu::DMenu(HMENU menu) {
  ref_.Alloc(1);
  *ref_ = menu;
}

DMenu::DMenu(const DMenu& other) : DObject(other), ref_(other.ref_) {}

DMenu& DMenu::operator=(const DMenu& other) {
  if (this == &other) return *this;  // releasing first would free what is kept
  Release();
  ref_ = other.ref_;
  owned_ = 0;
  return *this;
}

DMenu::~DMenu() {
  DMenu::Release();
}

bool DMenu::Take(HMENU menu) {
  if (!menu) return false;
  ref_.Alloc(1);
  *ref_ = menu;
  owned_ = 1;
  return true;
}

bool DMenu::Load(const DModule& module, const DString& name) {
  if (GetHandle()) return false;
  return Take(LoadMenuA(module.GetHandle(), name.Text()));
}

bool DMenu::Load(const DString& name) {
  DApplication* app = DGetApplication();
  return Load(DModule(app ? app->GetInstance() : nullptr), name);
}

bool DMenu::Load(const DModule& module, UINT id) {
  if (GetHandle()) return false;
  return Take(LoadMenuA(module.GetHandle(), MAKEINTRESOURCEA(id)));
}

bool DMenu::Load(UINT id) {
  DApplication* app = DGetApplication();
  return Load(DModule(app ? app->GetInstance() : nullptr), id);
}

bool DMenu::Create() {
  if (GetHandle()) return false;
  return Take(CreateMenu());
}

void DMenu::Release() {
  if (owned_) Destroy();
  ref_.Release();
  owned_ = 0;
}

bool DMenu::Destroy() {
  if (!ref_) return false;
  bool ok = *ref_ ? DestroyMenu(*ref_) != FALSE : false;
  *ref_ = nullptr;
  ref_.Release();
  owned_ = 0;
  return ok;
}

bool DMenu::EnableItem(UINT item, UINT flags) {
  return EnableMenuItem(GetHandle(), item, flags) != 0;
}

bool DMenu::CheckItem(UINT item, UINT flags) {
  return CheckMenuItem(GetHandle(), item, flags) != 0;
}

DMenu DMenu::GetSubMenu(int position) const {
  HMENU sub = ::GetSubMenu(GetHandle(), position);
  return sub ? DMenu(sub) : DMenu();
}
