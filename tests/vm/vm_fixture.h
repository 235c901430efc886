// Test fixture for the script machine: assembles a script, loads it into a context and runs it,
// recording the error codes and boxes that the run raises.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/meiasm/meiasm.h"
#include "vm/dispatch.h"
#include "vm/script_context.h"
#include "vm/script_image.h"
#include "vm/vm_services.h"

using meiasm::G;
using meiasm::L;
using meiasm::S;

class VmFixture : public ::testing::Test {
 protected:
  static inline std::vector<uint32_t> errors;  // codes given to the error callback
  static void RecordError(ScriptContext*, uint32_t code) { errors.push_back(code); }

  VmFixture() { errors.clear(); }
  ~VmFixture() override { ScriptContext::Destroy(ctx); }

  // Assembles `b` and makes ctx a context on the image (not started).
  void Load(const meiasm::Builder& b) {
    std::vector<uint8_t> bytes = b.Build();
    info.Alloc(1);
    const char* why = LoadScriptImageInfo(bytes, info.Get());
    ASSERT_EQ(why, nullptr) << why;
    ScriptContext::Destroy(ctx);
    ctx = ScriptContext::Create(info, 1024, &CallBuiltin, &RecordError);
    ASSERT_NE(ctx, nullptr);
  }

  // Steps until a handler ends the run; gives the number of instructions run.
  int RunStarted(int limit = 10000000) {
    for (int n = 1; n <= limit; ++n) {
      if (ctx->Step()) return n;
    }
    ADD_FAILURE() << "script did not end";
    return limit;
  }

  // Loads, starts at address 0 and runs to the end.
  int Run(const meiasm::Builder& b) {
    Load(b);
    if (!ctx) return 0;
    EXPECT_TRUE(ctx->Start(0));
    return RunStarted();
  }

  ScriptValue& Slot(uint32_t i) { return *ctx->SlotOrNull(i); }

  DRef<ScriptImageInfo> info;
  ScriptContext* ctx = nullptr;
};

// A short readable form of a value: "i:5", "f:1.5", "s:abc", "rec", "obj4".
inline std::string Show(const ScriptValue& v) {
  char buf[64];
  switch (v.type()) {
    case kScriptInt:
      return "i:" + std::to_string(v.int_value());
    case kScriptFloat:
      return std::string("f:") + FormatScriptFloat(v.float_value(), buf, sizeof buf);
    case kScriptString:
      return std::string("s:") + v.text();
    case kScriptRecord:
      return "rec";
    default:
      return "obj" + std::to_string(v.type());
  }
}

// A counted object for object-kind values, counting its destructions.
struct TestObject : DObject {
  static inline int destroyed = 0;
  ~TestObject() override { ++destroyed; }
};

inline DRef<void> NewTestObject() {
  DRef<TestObject> o;
  o.Alloc(1);
  return DRef<void>::Convert(o);
}

inline void ReleaseTestObject(DRef<void>& ref) {
  ref.Release();
}
