// DMenu: a menu handle loaded from the program's menu tables or created empty.
#pragma once

#include <cstdint>

#include "base/dmodule.h"
#include "base/dobject.h"
#include "base/dref.h"
#include "base/dstring.h"
#include "platform/win32.h"

// A creating operation (Load, Create) refuses when a menu is held and makes the object owner;
// copies share the handle and never own it; Release destroys the menu only when owner, Destroy
// always.
class DMenu : public DObject {
 public:
  DMenu() = default;
  // Over an existing menu, not owner.
  explicit DMenu(HMENU menu);
  DMenu(const DMenu& other);
  DMenu& operator=(const DMenu& other);
  ~DMenu() override;

  virtual bool Load(const DModule& module, const DString& name);
  // With the application's instance.
  virtual bool Load(const DString& name);
  virtual bool Load(const DModule& module, UINT id);
  virtual bool Load(UINT id);
  virtual bool Create();
  virtual void Release();
  virtual bool Destroy();
  // True when the system gives a value other than 0 (the item was grayed, disabled or checked
  // before, or does not exist).
  virtual bool EnableItem(UINT item, UINT flags);
  virtual bool CheckItem(UINT item, UINT flags);

  HMENU GetHandle() const { return ref_ ? *ref_ : nullptr; }
  // A non-owning menu over the popup at that position (empty when there is none).
  DMenu GetSubMenu(int position) const;

 private:
  bool Take(HMENU menu);

  DRef<HMENU> ref_;
  uint8_t owned_ = 0;
};
