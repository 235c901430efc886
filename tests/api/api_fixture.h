// A built-in frame: one context over a small image whose slots the test fills, built-ins called
// through the machine's native-call hook with reference pairs pushed as a compiled call would.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "api/api_frame.h"
#include "imaging/dimg_tables.h"
#include "vm/dispatch.h"
#include "vm/runtime_error.h"
#include "vm/script_task.h"
#include "vm/vm_services.h"

struct ShownBox {
  std::string text;
  std::string caption;
  uint32_t type;
};

class BuiltinFrame : public ::testing::Test {
 protected:
  static std::vector<ShownBox>& Boxes() {
    static std::vector<ShownBox> boxes;
    return boxes;
  }
  static std::deque<int>& Answers() {
    static std::deque<int> answers;
    return answers;
  }

  void SetUp() override {
    static bool tables = DimgInitMathTables();
    (void)tables;
    Boxes().clear();
    Answers().clear();
    VmServices s = GetVmServices();
    s.message_box = [](const char* text, const char* caption, uint32_t type) {
      Boxes().push_back({text, caption, type});
      if (Answers().empty()) return 1;
      const int a = Answers().front();
      Answers().pop_front();
      return a;
    };
    s.exit_all_tasks = &ExitAllTasks;
    s.pump_messages = [] {};
    saved_ = SetVmServices(s);
    InstallApiBuiltins();
    ClearCurrentObjects();
    DRef<ScriptImageInfo> image;
    image.Alloc(1);
    image->code = {0};
    image->globals = 32;
    image->SetData("", 0);
    ctx_ = ScriptContext::Create(image, 1024, &CallBuiltin, &ReportVmErrorCode);
    ASSERT_NE(ctx_, nullptr);
    ctx_->Start(0);
  }
  void TearDown() override {
    ClearCurrentObjects();
    ScriptContext::Destroy(ctx_);
    SetVmServices(saved_);
    SetStartupFlags(0);
  }

  ScriptValue* Slot(uint32_t i) { return ctx_->SlotOrNull(i); }
  ScriptValue* Result() { return ctx_->result(); }

  // An argument: a slot index, or the address of a value held elsewhere.
  struct Arg {
    uint32_t slot = 0;
    ScriptValue* address = nullptr;
    Arg(uint32_t s) : slot(s) {}         // NOLINT: slots read naturally as numbers
    Arg(ScriptValue* v) : address(v) {}  // NOLINT
  };
  // Calls built-in n with the arguments (first argument first), as the call instruction does.
  void Call(uint32_t n, std::vector<Arg> args = {}) {
    const uint32_t top = ctx_->stack_top();
    for (auto it = args.rbegin(); it != args.rend(); ++it) {
      if (it->address)
        ctx_->PushValueRef(it->address, {});
      else
        ctx_->PushSlotRef(it->slot);
    }
    ctx_->Push(0);  // the call sequence's own word
    CallBuiltin(ctx_, n);
    ctx_->Drop(ctx_->stack_top() - top);
  }
  // Slot i set to a value.
  void Int(uint32_t i, int32_t v) { Slot(i)->SetInt(v); }
  void Float(uint32_t i, float v) { Slot(i)->SetFloat(v); }
  void Str(uint32_t i, const std::string& v) { Slot(i)->SetString(v.c_str(), v.size()); }
  std::string ResultText() { return Result()->type() == kScriptString ? Result()->text() : "<not a string>"; }

  ScriptContext* ctx_ = nullptr;

 private:
  VmServices saved_;
};
