// Plug-in functions and running scripts, in a program linked like orvane: the test plug-in binds
// every export by name and calls some of them inside CallPlugin; ovExecute and ovExecuteName find
// their scripts in different directories.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "api/input_script.h"
#include "api/ov_api.h"
#include "api_fixture.h"
#include "base/dapplication.h"
#include "base/dpump.h"
#include "base/dwindow.h"
#include "display/draw/screen.h"
#include "display/text/dglyph.h"
#include "display/tss/dtss_image.h"
#include "display/tss/dtss_manager.h"
#include "display/tss/dtss_sprite.h"
#include "display/tss/dtss_wipe.h"
#include "imaging/dimage.h"
#include "media/movie/movie.h"
#include "platform/ddraw_test.h"
#include "platform/dinput.h"
#include "platform/host.h"
#include "platform/mixer.h"
#include "platform/mmsystem.h"
#include "platform/win32.h"
#include "shell/ceventwaiter.h"
#include "shell/cfilemanager.h"
#include "shell/cinputmanager.h"
#include "shell/cmainwindow.h"
#include "shell/cnetmanager.h"
#include "shell/cpluginmanager.h"
#include "tests/support/movie_clip.h"
#include "tests/support/raster_reference.h"
#include "tests/support/scratch_dir.h"
#include "tools/meiasm/meiasm.h"
#include "tss_fixture.h"
#include "vm/script_loader.h"
#include "vm/startup_config.h"

namespace {

constexpr uint32_t kLoadPlugin = 224, kGetPluginFunction = 225, kGetPlugin = 226, kSetPlugin = 227,
                   kCallPlugin = 228, kTrace = 283;

std::vector<int>& Traced() {
  static std::vector<int> t;
  return t;
}

class PluginFrame : public BuiltinFrame {
 protected:
  void SetUp() override {
    BuiltinFrame::SetUp();
    orvane::host::ResetHeadless();
    std::filesystem::copy_file(std::string(ORVANE_BINARY_DIR) + "/bin/test_plugins/api_plugin.opi",
                               scratch_.Path("api_plugin.opi"));
    SetProgramDirectory((scratch_.Dir() + "/").c_str());
    Traced().clear();
    SetVmBuiltin(kTrace, [](ScriptContext* ctx) {
      Traced().push_back(ctx->GetArg(1)->ToInt());
      return false;
    });
  }
  void TearDown() override {
    CurrentTask().Release();
    EndAllTasks();
    PluginManager().UnloadAll();
    BuiltinFrame::TearDown();
  }
  // A script whose main (export 0) records `mark`.
  std::string Script(const std::string& relative, int mark) {
    const std::string path = scratch_.Path(relative);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    const auto bytes =
        meiasm::Assemble(".globals 1\n.method main\n.export 0\n OpAddBase -2\n OpEnter 2\n OpSetInt l1, " +
                         std::to_string(mark) + "\n .builtin 283, l1\n OpLeave 2\n OpReturn\n");
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return path;
  }
  static std::vector<std::string> PluginTrace() {
    std::vector<std::string> out;
    for (const std::string& line : orvane::host::TakeTrace())
      if (line.rfind("apiplugin ", 0) == 0) out.push_back(line);
    return out;
  }
  // Loads the test plug-in (dropping its load-time trace), then selects and calls its function
  // `name` through the plug-in built-ins.
  void CallTestPlugin(const char* name) {
    Str(1, "api_plugin");
    Call(kLoadPlugin, {1});
    PluginTrace();
    Str(1, name);
    Call(kGetPluginFunction, {1});
    ASSERT_EQ(Result()->type(), kScriptPluginFunction);
    ScriptValue::Assign(*Result(), Slot(2));
    Call(kSetPlugin, {2});
    Call(kCallPlugin);
  }

  orvane_test::ScratchDir scratch_{"orvane_api_plugin_"};
};

TEST_F(PluginFrame, APluginBindsEveryExportAndItsFunctionsRunInsideCallPlugin) {
  Str(1, "api_plugin");
  Call(kLoadPlugin, {1});
  ASSERT_TRUE(Boxes().empty());
  const auto loaded = PluginTrace();
  ASSERT_EQ(loaded.size(), 1u);
  EXPECT_EQ(loaded[0], "apiplugin bound=279");

  // A task in the list shows whether the engine was asked to end.
  const std::string main = Script("main.mei", 1);
  DRef<ScriptTask> task = LoadScript(main.c_str(), {}, 0, "main", kTaskList, true);
  ASSERT_TRUE(task);

  Str(1, "PROBE");  // names compare without regard to case
  Call(kGetPluginFunction, {1});
  ASSERT_EQ(Result()->type(), kScriptPluginFunction);
  ScriptValue::Assign(*Result(), Slot(2));
  Call(kSetPlugin, {2});
  Int(0, 55);
  Call(kCallPlugin);
  EXPECT_EQ(Result()->ToInt(), 55);  // the result 7 is dropped
  const auto probed = PluginTrace();
  ASSERT_EQ(probed.size(), 1u);
  EXPECT_EQ(probed[0], "apiplugin probe 0 delay=16.666672 slash=a/b random=4 isexit=0 size=0,0");
  EXPECT_EQ(task->run_flags & kVmRunEnd, 0u);

  Str(1, "quit");
  Call(kGetPluginFunction, {1});
  ScriptValue::Assign(*Result(), Slot(2));
  Call(kSetPlugin, {2});
  Call(kCallPlugin);  // a function giving 0 ends every task
  EXPECT_NE(task->run_flags & kVmRunEnd, 0u);
  EXPECT_EQ(ovIsExit(), 1);

  // Selecting a non-function clears the selection; GetPlugin then gives 0, CallPlugin does nothing.
  Int(2, 0);
  Call(kSetPlugin, {2});
  Call(kGetPlugin);
  EXPECT_EQ(Result()->type(), kScriptInt);
  Call(kCallPlugin);
  EXPECT_TRUE(Boxes().empty());
}

// The game's sound and stream exports from a plug-in, then hostile arguments: failure values,
// no crash, and (under the leak checker) no handle left alive.
TEST_F(PluginFrame, MediaExportsFromAPlugin) {
  std::filesystem::create_directories(scratch_.Path("bgm"));
  std::string wav = "RIFF" + std::string("\x30\0\0\0", 4) + "WAVEfmt " +
                    std::string("\x10\0\0\0\1\0\2\0", 8) +
                    std::string("\x44\xAC\0\0\x10\xB1\2\0\4\0\x10\0", 12) + "data" +
                    std::string("\x0C\0\0\0", 4) + std::string(12, '\1');
  std::ofstream(scratch_.Path("bgm/intro.wav"), std::ios::binary) << wav;
  std::ofstream(scratch_.Path("se.wav"), std::ios::binary) << wav;
  std::ofstream(scratch_.Path("damaged.wav"), std::ios::binary) << wav.substr(0, 30);
  ASSERT_NO_FATAL_FAILURE(CallTestPlugin("media"));
  EXPECT_EQ(PluginTrace(),
            (std::vector<std::string>{"apiplugin media sound=1 stream=1 prelude=1 body=0 hostile=0"}));
}

TEST_F(PluginFrame, AnEngineLackingOneExportFailsTheBinding) {
  HMODULE plugin = LoadLibraryA(scratch_.Path("api_plugin.opi").c_str());
  ASSERT_NE(plugin, nullptr);
  auto load_system = reinterpret_cast<int32_t (*)(const char*)>(GetProcAddress(plugin, "ovLoadSystem"));
  ASSERT_NE(load_system, nullptr);
  const std::string fake = std::string(ORVANE_BINARY_DIR) + "/bin/test_plugins/api_engine_missing_one.opi";
  EXPECT_EQ(load_system(fake.c_str()), 0);
  EXPECT_EQ(PluginTrace(), (std::vector<std::string>{"apiplugin bound=278"}));
  FreeLibrary(plugin);
}

TEST_F(PluginFrame, MissingModulesAndFunctionsRaiseTheirMessages) {
  Str(1, "no_such_plugin");
  Int(0, 3);
  Call(kLoadPlugin, {1});
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_NE(Boxes()[0].text.find("プラグインを読み込めません。"), std::string::npos);
  Boxes().clear();
  Str(1, "nothing");
  Call(kGetPluginFunction, {1});
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_NE(Boxes()[0].text.find("プラグイン関数が見つかりません。"), std::string::npos);
  EXPECT_EQ(Result()->ToInt(), 3);
}

TEST_F(PluginFrame, ExecuteUsesTheProgramsDirectoryAndExecuteNameTheRunningScripts) {
  Script("x.mei", 10);
  Script("sub/x.mei", 20);
  const std::string runner = Script("sub/runner.mei", 0);
  CurrentTask() = LoadScript(runner.c_str(), {}, 0, "main", kTaskList, true);
  ASSERT_TRUE(CurrentTask());
  EXPECT_EQ(ovExecute("x.mei", 0), 1);
  EXPECT_EQ(ovExecuteName("x.mei", "main"), 1);
  EXPECT_EQ(ovExecute("x", 0), 1);  // ".mei" is tried second
  EXPECT_EQ(Traced(), (std::vector<int>{10, 20, 10}));
  EXPECT_EQ(ovExecute("missing.mei", 0), 0);
  EXPECT_EQ(ovExecuteName("x.mei", "nomethod"), 0);
}

// The file cases through the exports as a plug-in binds them, and a script's file and a plug-in's
// handle on one path, each reading what the other wrote.
TEST_F(PluginFrame, FilesThroughTheBoundExports) {
  StartFileUnit();
  scratch_.Write("crlf.txt", "a\r\nb");
  scratch_.Write("nul.txt", std::string("x\ny\0", 4));
  scratch_.Write("long.txt", std::string(2500, 'q'));
  scratch_.Write("lead.txt", "ab\x82");
  scratch_.Write("n.bin", "\x01\x02\x03\x04");
  scratch_.Write("h.bin", std::string(100, 'h'));
  Str(1, "api_plugin");
  Call(kLoadPlugin, {1});
  PluginTrace();
  auto call = [&](const char* name) {
    Str(1, name);
    Call(kGetPluginFunction, {1});
    ScriptValue::Assign(*Result(), Slot(2));
    Call(kSetPlugin, {2});
    Call(kCallPlugin);
    const auto lines = PluginTrace();
    return lines.empty() ? std::string() : lines.back();
  };
  EXPECT_EQ(
      call("filecases"),
      "apiplugin filecases crlf=\"a\",\"b\",null,-1 strings=\"x\ny\",null long=1023,1023,454, "
      "lead=\"ab\",null number=1,0,0x00000011 value=0x04030201 seeks=1:96,0:-1,0:-1,data2000=0 write=11 "
      "new=0111111 null=100 ");
  EXPECT_EQ(scratch_.Read("w.bin"),
            "\xff\xff\xff\xff"
            "5\n");
  EXPECT_FALSE(std::filesystem::exists(scratch_.Path("mode1")));

  constexpr uint32_t kCreateFile = 205, kSetFile = 207, kReadFileLine = 213, kWriteFileLine = 222;
  Str(3, "shared.txt");
  Int(4, 7);
  Call(kCreateFile, {3, 4});
  ASSERT_EQ(Result()->type(), kScriptFile);
  ScriptValue::Assign(*Result(), Slot(5));
  Result()->SetInt(0);
  Call(kSetFile, {5});
  EXPECT_EQ(call("fileshare"), "apiplugin fileshare write=1 ");
  Str(6, "");
  Call(kReadFileLine, {6});
  EXPECT_EQ(std::string(Slot(6)->text()), "from plugin");
  Str(6, "from script");
  Call(kWriteFileLine, {6});
  EXPECT_EQ(call("fileshare"), "apiplugin fileshare read=\"from script\" ");
  EXPECT_EQ(FileManager().EntryCount(), 1u);  // the script's file is still open
  Slot(5)->SetInt(0);
  Call(kSetFile, {5});
  EXPECT_EQ(FileManager().EntryCount(), 0u);  // closed with its last reference
  EXPECT_EQ(scratch_.Read("shared.txt"), "from plugin\nfrom script\n");
  StopFileUnit();
}

// ---- A TSS scene drawn by the plug-in through the bound exports.

constexpr int kSceneW = 48, kSceneH = 36;

// The scene's picture (8 x 8, opaque colours) and wipe pattern (8 x 8 greys).
uint32_t PicturePixel(int x, int y) {
  return static_cast<uint32_t>((x * 32) << 16 | (y * 32) << 8 | ((x + y) * 16));
}
uint32_t WipePixel(int x, int y) {
  const uint32_t g = static_cast<uint32_t>((x * 8 + y) * 4);
  return g << 16 | g << 8 | g;
}

// The same scene made by direct calls into the unit, for comparison; its sprites in drawing order.
struct Scene {
  DRef<DtssImage> picture, made, frame;
  DRef<DtssWipe> wipe;
  std::vector<DRef<DtssSprite>> sprites;
};
void DirectScene(DtssManager& m, Scene& scene) {
  DImage pic, made_pixels, pattern;
  ASSERT_TRUE(pic.Create(8, 8, 0, DimgFormat::BGRA8888));
  ASSERT_TRUE(pattern.Create(8, 8, 0, DimgFormat::BGRA8888));
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      const uint32_t p = 0xFF000000u | PicturePixel(x, y), w = 0xFF000000u | WipePixel(x, y);
      std::memcpy(pic.GetPixelPointer(x, y), &p, 4);
      std::memcpy(pattern.GetPixelPointer(x, y), &w, 4);
    }
  ASSERT_TRUE(made_pixels.Create(6, 6, 0, DimgFormat::BGRA8888));
  for (int y = 0; y < 6; ++y) std::memset(made_pixels.GetPixelPointer(0, y), 0, 24);
  DRef<DtssImage> picture = m.CreateImage(pic, 0, 0), made = m.CreateImage(made_pixels, 6, 6);
  made->Fill(0, 0, 6, 6, 0.0f, 0.5f, 1.0f, 1.0f);
  made->Fill(1, 1, 2, 2, 1.0f, 1.0f, 0.0f, 1.0f);
  DRef<DtssWipe> wipe = m.LoadWipe(pattern);
  wipe->SetLevel(DtssWipeLevelFromFraction(128.0f / 255.0f));
  auto shown = [&](const DRef<DtssImage>& image, int32_t level) {
    DRef<DtssSprite> s = m.CreateSprite(image.Get(), level);
    s->SetDraw(true);
    return s;
  };
  DRef<DtssSprite> back = shown(made, 0);
  back->SetSize(48, 36);
  DRef<DtssSprite> parent = shown(picture, 1);
  parent->SetPos(4, 4);
  DRef<DtssSprite> child = shown(picture, 2);
  child->Connect(parent);
  child->SetPos(10, 2);
  child->SetPivot(0.5f, 0.5f);
  child->RotateZ(90.0f);
  child->SetBlend(1);
  for (int c = 0; c < 4; ++c) child->SetColorA(c, 0.5f);
  DRef<DtssSprite> fade_out = shown(picture, 3);
  fade_out->SetPos(26, 2);
  fade_out->SetWipe(wipe.Get(), 0);
  fade_out->SetBlend(1);
  DRef<DtssSprite> fade_in = shown(picture, 3);
  fade_in->SetPos(26, 14);
  fade_in->SetWipe(wipe.Get(), 1);
  fade_in->SetBlend(1);
  ASSERT_TRUE(m.Render());
  DRef<DtssImage> frame = m.CreateDynamicImage(16, 16);
  m.GetRenderImage(frame.Get());
  DRef<DtssSprite> shot = shown(frame, 4);
  shot->SetPos(30, 22);
  shot->SetSize(12, 12);
  ASSERT_TRUE(m.Render());
  m.Present();
  scene = Scene{picture, made, frame, wipe, {back, parent, child, fade_out, fade_in, shot}};
}

// A surface's pixels as the rasterizer's reference reads them (a copy).
struct SurfaceCopy {
  std::vector<uint8_t> bytes;
  orvane::raster::TextureView view{};
};
void CopySurface(IDirectDrawSurface7* s, SurfaceCopy* out) {
  DDSURFACEDESC2 d{};
  d.dwSize = sizeof d;
  ASSERT_TRUE(s && SUCCEEDED(s->Lock(nullptr, &d, DDLOCK_WAIT, nullptr)));
  out->bytes.assign(static_cast<uint8_t*>(d.lpSurface),
                    static_cast<uint8_t*>(d.lpSurface) + static_cast<size_t>(d.lPitch) * d.dwHeight);
  s->Unlock(nullptr);
  const DDPIXELFORMAT& f = d.ddpfPixelFormat;
  orvane::raster::PixelKind kind = orvane::raster::PixelKind::kUnsupported;
  if (f.dwRGBBitCount == 32)
    kind = (f.dwFlags & DDPF_ALPHAPIXELS) ? orvane::raster::PixelKind::kA8R8G8B8
                                          : orvane::raster::PixelKind::kX8R8G8B8;
  else if (f.dwRGBBitCount == 16)
    kind = (f.dwFlags & DDPF_ALPHAPIXELS) ? orvane::raster::PixelKind::kA4R4G4B4
                                          : orvane::raster::PixelKind::kR5G6B5;
  out->view = {out->bytes.data(), d.lPitch, static_cast<int32_t>(d.dwWidth), static_cast<int32_t>(d.dwHeight),
               kind};
}

// The frame the rasterizer's per-pixel reference draws from the sprites' own vertices and
// textures: two renders of the scene (the second with the captured frame's sprite) into a back
// buffer that started black.
std::vector<uint8_t> ReferenceFrame(const Scene& scene, const SurfaceCopy& back) {
  std::vector<uint8_t> target(back.bytes.size(), 0);
  orvane::raster::RasterTarget t{target.data(), back.view.pitch, back.view.width, back.view.height,
                                 back.view.kind == orvane::raster::PixelKind::kR5G6B5
                                     ? orvane::raster::PixelKind::kR5G6B5
                                     : orvane::raster::PixelKind::kX8R8G8B8};
  const uint16_t idx[6] = {0, 1, 2, 2, 1, 3};
  for (size_t pass_count : {scene.sprites.size() - 1, scene.sprites.size()}) {
    for (size_t i = 0; i < pass_count; ++i) {
      const DtssSprite* s = scene.sprites[i].Get();
      SurfaceCopy tex0, tex1;
      CopySurface(s->GetImage()->GetTexture(), &tex0);
      orvane::raster::RasterState st{};
      st.stage_enabled[0] = st.stage_enabled[1] = true;
      st.tex[0] = tex0.view;
      if (s->GetBlend() == 1) {
        st.blend = true;
        st.src_blend = orvane::raster::kBlendSrcAlpha;
        st.dst_blend = orvane::raster::kBlendInvSrcAlpha;
      }
      if (s->GetWipe() && TssManager().IsMultitexture()) {
        CopySurface(s->GetWipeDirection() ? s->GetWipe()->GetTextureB() : s->GetWipe()->GetTextureA(), &tex1);
        st.tex[1] = tex1.view;
      }
      const uint32_t nv = s->GetVertexCount();
      std::vector<orvane::raster::RasterVertex> rv(nv);
      std::memcpy(rv.data(), s->GetVertices(), sizeof(DtssVertex) * nv);
      for (uint32_t q = 0; q < nv / 4; ++q) raster_reference::Reference(t, st, &rv[q * 4], 4, idx, 6);
    }
  }
  return target;
}

class PluginScene : public PluginFrame {
 protected:
  void SetUp() override {
    PluginFrame::SetUp();
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = tss_api_test::Proc;
    wc.lpszClassName = "tssscene";
    RegisterClassExA(&wc);
    std::filesystem::create_directories(scratch_.Path("scene"));
    std::vector<uint32_t> pic, wipe;
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) {
        pic.push_back(PicturePixel(x, y));
        wipe.push_back(WipePixel(x, y));
      }
    scratch_.Write("scene/pic.bmp", tss_api_test::Bmp(8, 8, pic));
    scratch_.Write("scene/wipe.bmp", tss_api_test::Bmp(8, 8, wipe));
  }
  void TearDown() override {
    SetStartupFlags(kStartupTss);
    TssManager().Destroy();
    for (HWND w : windows_) DestroyWindow(w);
    orvane::dx::CapturePresents(false);
    PluginFrame::TearDown();
  }
  // A new window with the unit started on it.
  HWND StartUnit() {
    HWND w = CreateWindowExA(0, "tssscene", "s", WS_POPUP | WS_VISIBLE, 0, 0, kSceneW, kSceneH, nullptr,
                             nullptr, nullptr, nullptr);
    windows_.push_back(w);
    window_ = DWindow(w);
    TssManager().Destroy();
    EXPECT_TRUE(TssManager().Create(window_, kDtssPoint));
    return w;
  }
  std::vector<HWND> windows_;
  DWindow window_;
};

TEST_F(PluginScene, AScriptRunsThePluginThatDrawsTheSceneAsTheUnitDoesOnBothDeviceProfiles) {
  // The script loads the plug-in, selects its function and calls it.
  const auto image = meiasm::Assemble(
      ".globals 2\n.method main\n.export 0\n OpAddBase -2\n OpEnter 2\n OpSetString l1, \"api_plugin\"\n"
      " .builtin 224, l1\n OpSetString l1, \"scene\"\n .builtin 225, l1\n OpMove l1, g0\n"
      " .builtin 227, l1\n .builtin 228\n OpLeave 2\n OpReturn\n");
  scratch_.Write("scene.mei", std::string(image.begin(), image.end()));
  tss_api_test::LogCapture log;
  for (int bits : {32, 16}) {
    orvane::dx::Reset();
    orvane::dx::DeviceProfile profile;
    profile.desktop_depth = bits == 16 ? 16 : 0;
    orvane::dx::SetProfile(profile);
    orvane::dx::CapturePresents(true);
    SetStartupFlags(kStartupTss);
    HWND by_plugin = StartUnit();
    ASSERT_EQ(TssManager().GetTextureFormat(), bits == 16 ? 5u : 2u);
    ASSERT_TRUE(ExecuteScriptFile("scene.mei", 0, nullptr));
    EXPECT_TRUE(Boxes().empty()) << log.Text();
    PluginManager().UnloadAll();  // the next run loads it again
    EXPECT_EQ(PluginTrace(), (std::vector<std::string>{
                                 "apiplugin bound=279",
                                 "apiplugin scene handles=111111111 render=1 screen=1 abs=14,6 level=4"}))
        << bits;
    orvane::dx::Capture plugin_shot;
    ASSERT_TRUE(orvane::dx::TakeCapture(by_plugin, &plugin_shot));
    EXPECT_EQ(plugin_shot.presents, 1);

    HWND direct = StartUnit();
    Scene scene;
    DirectScene(TssManager(), scene);
    SurfaceCopy back;
    CopySurface(TssManager().GetBackBuffer(), &back);
    EXPECT_TRUE(ReferenceFrame(scene, back) == back.bytes) << "the reference differs at " << bits << " bits";
    orvane::dx::Capture direct_shot;
    ASSERT_TRUE(orvane::dx::TakeCapture(direct, &direct_shot));
    ASSERT_EQ(plugin_shot.pixels.size(), static_cast<size_t>(kSceneW * kSceneH));
    EXPECT_EQ(plugin_shot.pixels, direct_shot.pixels) << bits;
    // Something of every part is on screen: the made image's blue, the picture, the captured frame.
    const uint32_t corner = plugin_shot.pixels[35 * kSceneW + 0];
    EXPECT_EQ(corner & 0xFF00FF, 0xFFu) << std::hex << corner;
    EXPECT_NEAR(static_cast<int>(corner >> 8 & 0xFF), 0x80, 12) << std::hex << corner;
    EXPECT_EQ(plugin_shot.pixels[4 * kSceneW + 4], 0u);
    // The two wiped copies show complementary halves of the picture.
    int differ = 0;
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x)
        differ +=
            plugin_shot.pixels[(2 + y) * kSceneW + 26 + x] != plugin_shot.pixels[(14 + y) * kSceneW + 26 + x];
    EXPECT_GT(differ, 32) << bits;
  }
  // Draw mode: the same calls make nothing and draw nothing.
  SetStartupFlags(0);
  ASSERT_TRUE(ExecuteScriptFile("scene.mei", 0, nullptr));
  EXPECT_TRUE(Boxes().empty()) << log.Text();
  EXPECT_EQ(PluginTrace(), (std::vector<std::string>{
                               "apiplugin bound=279",
                               "apiplugin scene handles=000000000 render=0 screen=0 abs=0,0 level=0"}));
}

// A message line drawn character by character into a TSS image by direct calls into the units, as
// the plug-in's `textline` does through the exports.
void DirectTextLine(DtssManager& m, Scene& scene) {
  DImage blank;
  ASSERT_TRUE(blank.Create(48, 16, 0, DimgFormat::BGRA8888));
  for (int y = 0; y < 16; ++y) std::memset(blank.GetPixelPointer(0, y), 0, 48 * 4);
  DRef<DtssImage> image = m.CreateImage(blank, 48, 16);
  image->Fill(0, 0, 48, 16, 1.0f, 0.875f, 0.25f, 0.0f);
  LOGFONTA lf{};
  lf.lfHeight = -12;
  lf.lfWeight = 400;
  lf.lfCharSet = SHIFTJIS_CHARSET;
  lf.lfQuality = 2;
  lf.lfPitchAndFamily = 0x31;
  std::strcpy(lf.lfFaceName, "ＭＳ ゴシック");
  DGlyph glyph;
  const bool wide = m.GetTextureFormat() == 2;
  ASSERT_TRUE(glyph.Create(kGlyphGray4 | kGlyphCache | (wide ? 0 : kGlyphOut4), lf));
  const auto* text = reinterpret_cast<const unsigned char*>("Aあ表ｱ g");
  int32_t x = 1;
  for (size_t i = 0; text[i];) {
    uint16_t code = text[i++];
    if (DIsLeadByte(static_cast<unsigned char>(code))) code = static_cast<uint16_t>(code << 8 | text[i++]);
    ASSERT_TRUE(glyph.Render(code));
    int32_t pitch = 0;
    uint8_t* pixels = image->Lock(&pitch);
    ASSERT_NE(pixels, nullptr);
    const DPoint at = glyph.GetDrawPos();
    if (wide)
      glyph.DrawToARGB8888(pixels, x + at.x, 1 + at.y, 48, 16, pitch);
    else
      glyph.DrawToARGB4444(pixels, x + at.x, 1 + at.y, 48, 16, pitch);
    image->Unlock();
    x += glyph.GetFeed().x;
  }
  image->AddDirtyRect(0, 0, 48, 16);
  DRef<DtssSprite> sprite = m.CreateSprite(image.Get(), 0);
  sprite->SetDraw(true);
  sprite->SetPos(0, 10);
  sprite->SetBlend(1);
  ASSERT_TRUE(m.Render());
  m.Present();
  scene = Scene{};
  scene.picture = image;
  scene.sprites = {sprite};
}

TEST_F(PluginScene, APluginDrawsAMessageLinePerCharacterAsTheReferenceRendererDoes) {
  tss_api_test::LogCapture log;
  for (int bits : {32, 16}) {
    orvane::dx::Reset();
    orvane::dx::DeviceProfile profile;
    profile.desktop_depth = bits == 16 ? 16 : 0;
    orvane::dx::SetProfile(profile);
    orvane::dx::CapturePresents(true);
    SetStartupFlags(kStartupTss);
    HWND by_plugin = StartUnit();
    Str(1, "api_plugin");
    Call(kLoadPlugin, {1});
    Str(1, "textline");
    Call(kGetPluginFunction, {1});
    ASSERT_EQ(Result()->type(), kScriptPluginFunction);
    ScriptValue::Assign(*Result(), Slot(2));
    Call(kSetPlugin, {2});
    Call(kCallPlugin);
    EXPECT_TRUE(Boxes().empty()) << log.Text();
    Slot(2)->SetInt(0);
    Call(kSetPlugin, {2});
    PluginManager().UnloadAll();
    const auto traced = PluginTrace();
    ASSERT_EQ(traced.size(), 2u) << bits;
    EXPECT_EQ(traced[1].rfind("apiplugin textline drawn=5 ", 0), 0u) << traced[1];
    EXPECT_NE(traced[1].find(" screen=1"), std::string::npos) << traced[1];
    orvane::dx::Capture plugin_shot;
    ASSERT_TRUE(orvane::dx::TakeCapture(by_plugin, &plugin_shot));

    HWND direct = StartUnit();
    Scene scene;
    DirectTextLine(TssManager(), scene);
    SurfaceCopy back;
    CopySurface(TssManager().GetBackBuffer(), &back);
    EXPECT_TRUE(ReferenceFrame(scene, back) == back.bytes) << "the reference differs at " << bits << " bits";
    orvane::dx::Capture direct_shot;
    ASSERT_TRUE(orvane::dx::TakeCapture(direct, &direct_shot));
    ASSERT_EQ(plugin_shot.pixels.size(), static_cast<size_t>(kSceneW * kSceneH));
    EXPECT_EQ(plugin_shot.pixels, direct_shot.pixels) << bits;
    // The text shows in its colour over black, and only on the sprite's rows.
    int inked = 0;
    for (int y = 0; y < kSceneH; ++y)
      for (int x = 0; x < kSceneW; ++x) {
        const uint32_t p = plugin_shot.pixels[y * kSceneW + x] & 0xFFFFFF;
        if (p == 0) continue;
        ++inked;
        EXPECT_TRUE(y >= 10 && y < 26) << x << "," << y;
        EXPECT_GE(p >> 16 & 0xFF, p & 0xFF) << std::hex << p;
      }
    EXPECT_GT(inked, 40) << bits;
  }
}

// The game's wait loop in a plug-in, on the engine's main window (the keyboard is acquired by the
// loop's first pass while that window is in the foreground): a Return that arrives while it waits
// wakes it within two slices. The key comes from a window timer, and window timers run on the
// real clock, so this runs on the real clock: under the virtual clock the waits would end before
// the timer is ever due, and the key would never come.
DWORD g_injected_at = 0;

class PluginInput : public PluginFrame {
 protected:
  void SetUp() override {
    PluginFrame::SetUp();
    app_.Startup(GetModuleHandleA(nullptr), SW_SHOWNORMAL, nullptr);
    DSetApplication(&app_);
    orvane::dinput::HubReset();
    ASSERT_TRUE(MainWindow().Create());
    ASSERT_EQ(GetForegroundWindow(), MainWindow().GetHandle());
    ASSERT_TRUE(InputManager().Init());
    ASSERT_TRUE(EventWaiter().Init());
    task_.Alloc(1);
    TaskRegistry(kTaskList).PushBack(task_);
  }
  void TearDown() override {
    EventWaiter().Term();
    InputManager().Term();
    TaskRegistry(kTaskList).Clear();
    task_.Release();
    MainWindow().Destroy();
    orvane::dinput::HubReset();
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
    DSetApplication(nullptr);
    PluginFrame::TearDown();
  }
  std::string CallWaitLoop(const char* function = "waitloop") {
    Str(1, "api_plugin");
    Call(kLoadPlugin, {1});
    Str(1, function);
    Call(kGetPluginFunction, {1});
    ScriptValue::Assign(*Result(), Slot(2));
    Call(kSetPlugin, {2});
    PluginTrace();
    Call(kCallPlugin);
    const auto lines = PluginTrace();
    return lines.empty() ? std::string() : lines.back();
  }

  DApplication app_;
  DRef<ScriptTask> task_;
};

TEST_F(PluginInput, TheGamesWaitLoopWakesOnAnInjectedReturnWithinTwoSlices) {
  // The key arrives about 110 ms into the wait.
  SetTimer(MainWindow().GetHandle(), 91, 110, [](HWND h, UINT, UINT_PTR id, DWORD) {
    KillTimer(h, id);
    g_injected_at = timeGetTime();
    orvane::dinput::HubKey(DIK_RETURN, true);
  });
  const std::string line = CallWaitLoop();
  unsigned waits = 0, ms = 0, end = 0;
  ASSERT_EQ(std::sscanf(line.c_str(), "apiplugin waitloop woken=1 waits=%u ms=%u end=%u", &waits, &ms, &end),
            3)
      << line;
  EXPECT_GE(waits, 4u) << line;  // it did wait before the key came
  EXPECT_LE(end - g_injected_at, 2 * 25u) << line;
  EXPECT_NE(line.find(" key=1:28,1 exit=0"), std::string::npos) << line;

  // Asked to end instead: the loop stops without a key.
  SetTimer(MainWindow().GetHandle(), 92, 40, [](HWND h, UINT, UINT_PTR id, DWORD) {
    KillTimer(h, id);
    ovExit();
  });
  const std::string ended = CallWaitLoop();
  EXPECT_NE(ended.find(" key=0:0,0 exit=1"), std::string::npos) << ended;
}

// An endless wait inside CallPlugin ends once Exit is asked.
TEST_F(PluginInput, AnEndlessWaitInsideCallPluginEndsWithExit) {
  SetTimer(MainWindow().GetHandle(), 93, 60, [](HWND h, UINT, UINT_PTR id, DWORD) {
    KillTimer(h, id);
    ovExit();
  });
  // Should Exit not end it, a key after ten seconds does, so that the test fails instead of
  // hanging.
  static bool late;
  late = false;
  SetTimer(MainWindow().GetHandle(), 94, 10000, [](HWND h, UINT, UINT_PTR id, DWORD) {
    KillTimer(h, id);
    late = true;
    orvane::dinput::HubKey(DIK_ESCAPE, true);
  });
  EXPECT_EQ(CallWaitLoop("waitendless"), "apiplugin waitendless woken=1 exit=1");
  EXPECT_FALSE(late);
  KillTimer(MainWindow().GetHandle(), 94);
}

// A headless run's timed Return reaches the loop too: the waits pump through the machine's pump,
// which delivers the input script's due lines, although no script runs while the plug-in waits.
TEST_F(PluginInput, AScriptedReturnWakesTheWaitLoop) {
  VmServices s = GetVmServices();
  s.pump_messages = [] {
    PollInputScript();
    DPumpMessages();
  };
  SetVmServices(s);
  scratch_.Write("input.txt", "100 key-down 28\n");
  setenv("ORVANE_INPUT_SCRIPT", scratch_.Path("input.txt").c_str(), 1);
  ASSERT_TRUE(LoadInputScriptFromEnvironment());
  unsetenv("ORVANE_INPUT_SCRIPT");
  const std::string line = CallWaitLoop();
  unsigned waits = 0, ms = 0;
  ASSERT_EQ(std::sscanf(line.c_str(), "apiplugin waitloop woken=1 waits=%u ms=%u", &waits, &ms), 2) << line;
  EXPECT_GE(ms, 100u) << line;  // the line's time counts from the first poll, in the loop's first pass
  EXPECT_LT(ms, 1000u) << line;
  EXPECT_NE(line.find(" key=1:28,1 exit=0"), std::string::npos) << line;
}

// The net exports bound by name in a plug-in: a loopback pair moves a number, a float, a line and
// raw bytes with the receive exports' destination-first order.
TEST_F(PluginFrame, APluginTalksOverLoopbackThroughTheNetExports) {
  DApplication app;
  app.Startup(GetModuleHandleA(nullptr), SW_SHOWNORMAL, nullptr);
  DSetApplication(&app);
  ASSERT_TRUE(MainWindow().Create());
  ASSERT_TRUE(StartNetUnit());
  ASSERT_NO_FATAL_FAILURE(CallTestPlugin("netprobe"));
  EXPECT_EQ(PluginTrace(),
            (std::vector<std::string>{
                "apiplugin net sent=4 number=-2 float=1.50 line=ab data=xyz connect=1 accept=0"}));
  StopNetUnit();
  MainWindow().Destroy();
  DSetApplication(nullptr);
}

// ---- A movie played by the plug-in through the bound exports.

// FNV-1a over the channels of every pixel of an RGB565 frame, as the image exports read them.
uint32_t FrameHash(const std::string& frame) {
  uint32_t h = 2166136261u;
  for (size_t i = 0; i + 1 < frame.size(); i += 2) {
    const unsigned p = static_cast<uint8_t>(frame[i]) | static_cast<uint8_t>(frame[i + 1]) << 8;
    for (unsigned v : {p >> 11, (p >> 6) & 31u, p & 31u}) h = (h ^ v) * 16777619u;
  }
  return h;
}

class PluginMovie : public PluginFrame {
 protected:
  void SetUp() override {
    PluginFrame::SetUp();
    ASSERT_TRUE(app_.Startup(GetModuleHandleA(nullptr), SW_SHOWNORMAL, nullptr));
    DSetApplication(&app_);
    orvane::dx::Reset();
    ASSERT_TRUE(window_.Create("", "movie", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 10, 10, 300, 200));
    ASSERT_TRUE(window_.SetClientSize(640, 480));
    ASSERT_TRUE(DrawScreen().Init(window_));
    orvane::audio::UseManualSink(8000);  // the movie's clock stands still: frame 0 stays due
    ASSERT_TRUE(MovieUnit().Init(window_));
  }
  void TearDown() override {
    MovieUnit().Shutdown();
    orvane::audio::StopSink();
    DrawScreen().Shutdown();
    window_.Destroy();
    orvane::dx::Reset();
    DSetApplication(nullptr);
    PluginFrame::TearDown();
  }
  DApplication app_;
  DWindow window_;
};

TEST_F(PluginMovie, APluginPlaysAMovieAndReadsItsFrameImage) {
  ASSERT_EQ(DrawScreen().GetPixelFormat(), 6u);
  ASSERT_TRUE(orvane_test::MakeTestClip(scratch_.Path("clip.mkv"), 32, 24, 10, 0.5, false));
  const std::string frames = orvane_test::ReferenceFrames(scratch_.Path("clip.mkv"), "rgb565le", scratch_);
  ASSERT_EQ(frames.size(), 5u * 32 * 24 * 2);
  char want[32];
  std::snprintf(want, sizeof want, "%08x", FrameHash(frames.substr(0, 32 * 24 * 2)));
  ASSERT_NO_FATAL_FAILURE(CallTestPlugin("movie"));
  EXPECT_EQ(
      PluginTrace(),
      (std::vector<std::string>{"apiplugin movie size=32,24 play=1 playing=1 frame=" + std::string(want) +
                                " pause=1 paused=0 stop=1 other=0 null=0 kept=32,24 same=1"}));
  EXPECT_EQ(MovieUnit().GetCount(), 0u);
}

}  // namespace
