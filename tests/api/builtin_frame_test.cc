// The calling frame: the built-in list, select and get, wrong kinds, the refusal in the sprite
// system's mode, element writes through addresses, handles for plug-ins.
#include <set>
#include <string>

#include "api/ov_api.h"
#include "api_fixture.h"
#include "base/dprofile.h"
#include "vm/startup_config.h"

namespace {

TEST(BuiltinList, EveryNumberHasOneUniqueName) {
  std::set<std::string> names;
  for (uint32_t n = 0; n < kBuiltinCount; ++n) {
    ASSERT_NE(BuiltinName(n), nullptr) << n;
    EXPECT_TRUE(names.insert(BuiltinName(n)).second) << BuiltinName(n);
  }
  EXPECT_EQ(BuiltinName(kBuiltinCount), nullptr);
  EXPECT_STREQ(BuiltinName(0), "SetTitle");
  EXPECT_STREQ(BuiltinName(64), "Exit");
  EXPECT_STREQ(BuiltinName(228), "CallPlugin");
  EXPECT_STREQ(BuiltinName(283), "GetWindowSize");
}

TEST_F(BuiltinFrame, ABuiltinWithoutItsWorkStopsTheScriptNamingItself) {
  EXPECT_FALSE(InstallUnavailableBuiltin(kBuiltinCount));
  // One number from each block the stand-ins are installed in.
  for (uint32_t n : {71u, 228u, 283u}) {
    ASSERT_TRUE(InstallUnavailableBuiltin(n));
    Int(0, 77);
    Str(1, "a.bmp");
    const size_t boxes = Boxes().size();
    Call(n, {1});
    ASSERT_EQ(Boxes().size(), boxes + 1) << n;
    EXPECT_NE(Boxes().back().text.find(BuiltinName(n)), std::string::npos) << Boxes().back().text;
    EXPECT_EQ(Boxes().back().caption, "実行エラー");
    EXPECT_EQ(Result()->ToInt(), 77);
  }
}

DRef<void> NewProfile(const char* file) {
  DRef<DProfile> p;
  p.Alloc(1);
  p->Open(DString(file), DString("s"));
  return DRef<void>::Convert(p);
}

// Select and get for each kind: {set, get, kind, wrong kind raises, get tested}.
TEST_F(BuiltinFrame, SelectAndGetFollowTheirKindsPolicies) {
  const struct {
    uint32_t set, get, kind;
    bool raises, tested;
    const char* message;
  } rows[] = {
      {92, 91, kScriptSoundData, false, true, nullptr},
      {97, 96, kScriptMovieData, false, true, nullptr},
      {117, 116, kScriptProfile, false, true, nullptr},
      {207, 206, kScriptFile, false, true, nullptr},
      {148, 147, kScriptNet, false, true, nullptr},
      {183, 181, kScriptTask, false, true, nullptr},
      {227, 226, kScriptPluginFunction, false, true, nullptr},
      {232, 178, kScriptStream, false, true, nullptr},
      {247, 246, kScriptAaCharSet, false, false, nullptr},
      {59, 70, kScriptInputDevice, true, false, "指定された変数は入力デバイスではありません。"},
      {77, 76, kScriptImage, true, false, "指定された変数はイメージではありません。"},
      {82, 81, kScriptTextInfo, true, false, "指定された変数はテキスト情報ではありません。"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(BuiltinName(r.set));
    Boxes().clear();
    // An object of the kind is selected and outlives the variable that held it.
    if (r.kind != kScriptTask) {
      SetObjectValue(Slot(1), r.kind, NewProfile("x.ini"));
      Call(r.set, {1});
      Slot(1)->SetInt(0);
      Call(r.get);
      EXPECT_EQ(Result()->type(), r.kind);
      ASSERT_NE(Result()->handle(), nullptr);
      EXPECT_STREQ(static_cast<DProfile*>(Result()->handle()->ref.Get())->GetFileName(), "x.ini");
    }
    // A value of another kind clears the selection, raising only where the kind says so.
    SetObjectValue(Slot(2), r.kind == kScriptProfile ? kScriptNet : kScriptProfile, NewProfile("y.ini"));
    Call(r.set, {2});
    if (r.raises) {
      ASSERT_EQ(Boxes().size(), 1u);
      EXPECT_EQ(Boxes()[0].text.substr(Boxes()[0].text.size() - std::string(r.message).size()), r.message);
    } else {
      EXPECT_TRUE(Boxes().empty());
    }
    Result()->SetInt(5);
    Call(r.get);
    if (r.tested) {
      EXPECT_EQ(Result()->type(), kScriptInt);
      EXPECT_EQ(Result()->ToInt(), 0);
    } else {
      EXPECT_EQ(Result()->type(), r.kind);  // an object value that holds nothing
      EXPECT_FALSE(ObjectOfValue(*Result(), r.kind));
    }
  }
}

TEST_F(BuiltinFrame, InTheSpriteSystemsModeDrawBuiltinsRefuseWithoutReadingOrWriting) {
  SetStartupFlags(kStartupTss);
  for (uint32_t n : {76u, 77u, 81u, 82u}) {
    SCOPED_TRACE(BuiltinName(n));
    Boxes().clear();
    Int(0, 77);
    Call(n, {99999});  // an argument that would raise error 1 if it were read
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_NE(Boxes()[0].text.find("TSSモード時はこの関数を使用できません。"), std::string::npos);
    EXPECT_EQ(Result()->ToInt(), 77);
  }
}

TEST_F(BuiltinFrame, AnElementWriteThroughAnAddressRaisesErrorOneAndLandsInTheResultSlot) {
  SetVmBuiltin(2, [](ScriptContext* ctx) {
    ctx->SetArgElementInt(1, 0, 10);
    ctx->SetArgElementInt(1, 1, 11);
    return false;
  });
  ScriptValue member;
  Int(0, 0);
  Call(2, {&member});
  EXPECT_EQ(member.ToInt(), 10);
  EXPECT_EQ(Result()->ToInt(), 11);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_NE(Boxes()[0].text.find("メモリアクセスエラー"), std::string::npos);
  // The same write into a variable fills two slots.
  Boxes().clear();
  Call(2, {5});
  EXPECT_EQ(Slot(5)->ToInt(), 10);
  EXPECT_EQ(Slot(6)->ToInt(), 11);
  EXPECT_TRUE(Boxes().empty());
  InstallApiBuiltins();
}

int g_alive = 0;
struct Probe {
  Probe() { ++g_alive; }
  ~Probe() { --g_alive; }
};

TEST(ApiHandles, EachHandleHoldsOneReferenceAndChecksItsKind) {
  int& alive = g_alive;
  DRef<Probe> object;
  object.Alloc(1);
  ApiHandle* a = NewApiHandle(kScriptProfile, DRef<void>::Convert(object));
  ApiHandle* b = NewApiHandle(kScriptProfile, DRef<void>::Convert(object));
  ASSERT_NE(a, nullptr);
  EXPECT_NE(a, b);
  EXPECT_EQ(NewApiHandle(kScriptProfile, {}), nullptr);
  object.Release();
  EXPECT_EQ(ApiHandleObject(a, kScriptProfile, "ovTest").Get(),
            ApiHandleObject(b, kScriptProfile, "ovTest").Get());
  // A null handle and a handle of another kind give nothing; destroying with the wrong kind keeps it.
  EXPECT_FALSE(ApiHandleObject(nullptr, kScriptProfile, "ovTest"));
  EXPECT_FALSE(ApiHandleObject(a, kScriptNet, "ovTest"));
  DestroyApiHandle(a, kScriptNet, "ovTest");
  DestroyApiHandle(nullptr, kScriptProfile, "ovTest");
  DestroyApiHandle(a, kScriptProfile, "ovTest");
  EXPECT_EQ(alive, 1);
  DestroyApiHandle(b, kScriptProfile, "ovTest");
  EXPECT_EQ(alive, 0);
}

}  // namespace
