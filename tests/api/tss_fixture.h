// Shared fixture of the `ovts` export tests: the engine's TSS unit started in TSS mode on a
// headless window of the stand-in device, a scratch program directory, and small picture files
// (24-bit BMP, RGBA PNG) written by the tests.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "api/ov_api.h"
#include "api/tss_exports.h"
#include "base/ddatafile.h"
#include "base/dfile.h"
#include "base/dlogstream.h"
#include "base/dwindow.h"
#include "display/tss/dtss_manager.h"
#include "platform/ddraw_test.h"
#include "platform/user.h"
#include "shell/engine.h"
#include "tests/support/kmf_archive.h"
#include "tests/support/log_capture.h"
#include "tests/support/scratch_dir.h"
#include "vm/script_loader.h"
#include "vm/script_task.h"
#include "vm/startup_config.h"
#include "vm/vm_services.h"

namespace tss_api_test {

inline void Put32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
}
inline void PutBig32(std::string& s, uint32_t v) {
  for (int i = 3; i >= 0; --i) s.push_back(static_cast<char>(v >> (8 * i)));
}

// A 24-bit bottom-up BMP of w x h pixels 0x00RRGGBB given top row first.
inline std::string Bmp(int w, int h, const std::vector<uint32_t>& px) {
  const uint32_t row = (static_cast<uint32_t>(w) * 3 + 3) & ~3u;
  std::string s = "BM";
  Put32(s, 54 + row * h);
  Put32(s, 0);
  Put32(s, 54);
  Put32(s, 40);
  Put32(s, static_cast<uint32_t>(w));
  Put32(s, static_cast<uint32_t>(h));
  s += std::string("\x01\x00\x18\x00", 4);
  Put32(s, 0);
  Put32(s, row * h);
  Put32(s, 2835);
  Put32(s, 2835);
  Put32(s, 0);
  Put32(s, 0);
  for (int y = h - 1; y >= 0; --y) {
    std::string line;
    for (int x = 0; x < w; ++x) {
      const uint32_t p = px[static_cast<size_t>(y * w + x)];
      line.push_back(static_cast<char>(p));
      line.push_back(static_cast<char>(p >> 8));
      line.push_back(static_cast<char>(p >> 16));
    }
    line.resize(row, '\0');
    s += line;
  }
  return s;
}

inline uint32_t Crc32(const std::string& bytes) {
  uint32_t c = 0xFFFFFFFFu;
  for (unsigned char b : bytes) {
    c ^= b;
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
  }
  return ~c;
}

// An RGBA PNG of w x h pixels 0xAARRGGBB given top row first (stored deflate blocks).
inline std::string Png(int w, int h, const std::vector<uint32_t>& px) {
  std::string raw;
  for (int y = 0; y < h; ++y) {
    raw.push_back('\0');
    for (int x = 0; x < w; ++x) {
      const uint32_t p = px[static_cast<size_t>(y * w + x)];
      raw.push_back(static_cast<char>(p >> 16));
      raw.push_back(static_cast<char>(p >> 8));
      raw.push_back(static_cast<char>(p));
      raw.push_back(static_cast<char>(p >> 24));
    }
  }
  std::string z("\x78\x01", 2);
  size_t at = 0;
  do {
    const size_t n = std::min<size_t>(raw.size() - at, 65535);
    z.push_back(at + n == raw.size() ? 1 : 0);
    z.push_back(static_cast<char>(n));
    z.push_back(static_cast<char>(n >> 8));
    z.push_back(static_cast<char>(~n));
    z.push_back(static_cast<char>(~n >> 8));
    z += raw.substr(at, n);
    at += n;
  } while (at < raw.size());
  uint32_t a = 1, b = 0;
  for (unsigned char c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  PutBig32(z, b << 16 | a);
  auto chunk = [](const std::string& type, const std::string& data) {
    std::string out;
    PutBig32(out, static_cast<uint32_t>(data.size()));
    out += type + data;
    PutBig32(out, Crc32(type + data));
    return out;
  };
  std::string ihdr;
  PutBig32(ihdr, static_cast<uint32_t>(w));
  PutBig32(ihdr, static_cast<uint32_t>(h));
  ihdr += std::string("\x08\x06\x00\x00\x00", 5);
  return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr) + chunk("IDAT", z) + chunk("IEND", "");
}

// A KMF archive of the members, as tests/support/kmf_archive.h builds it.
inline constexpr auto* Archive = &orvane_test::KmfArchive;

using orvane_test::LogCapture;

inline LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcA(hwnd, message, wparam, lparam);
}

class TssApi : public ::testing::Test {
 protected:
  void SetUp() override {
    orvane::dx::Reset();
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = Proc;
    wc.lpszClassName = "tssapitest";
    RegisterClassExA(&wc);
    SetProgramDirectory((scratch_.Dir() + "/").c_str());
    SetStartupFlags(kStartupTss);
  }
  void TearDown() override {
    SetStartupFlags(kStartupTss);
    TssManager().Destroy();
    if (hwnd_) DestroyWindow(hwnd_);
    MountedDataFile().Release();
    SetStartupFlags(0);
    EXPECT_EQ(orvane::dx::LiveSurfaces(), 0);
  }
  // The unit started on a window of client size w x h (flags: the manager's).
  bool Start(int w = 64, int h = 48, uint32_t flags = kDtssPoint) {
    if (!hwnd_) {
      hwnd_ = CreateWindowExA(0, "tssapitest", "t", WS_POPUP | WS_VISIBLE, 0, 0, w, h, nullptr, nullptr,
                              nullptr, nullptr);
      window_ = DWindow(hwnd_);
    }
    return TssManager().Create(window_, flags);
  }
  // The device's texture format: A8R8G8B8 on a 32-bit desktop, A4R4G4B4 on a 16-bit one.
  static void TextureBits(int bits) {
    orvane::dx::DeviceProfile p;
    p.desktop_depth = bits == 16 ? 16 : 0;
    orvane::dx::SetProfile(p);
  }
  void Mount(const std::vector<std::pair<std::string, std::string>>& members) {
    scratch_.Write("data.dat", Archive(members));
    MountedDataFile().Alloc(1);
    ASSERT_TRUE(MountedDataFile()->MountFile(DString(scratch_.Path("data.dat").c_str())));
  }
  // The source pixels of an image as 0xAARRGGBB (A8R8G8B8 texture format).
  static std::vector<uint32_t> Pixels(ApiHandle* image) {
    std::vector<uint32_t> out;
    DRef<DtssImage> i = TssImageOf(image, "test");
    if (!i) return out;
    int32_t pitch = 0;
    uint8_t* p = i->Lock(&pitch);
    if (!p) return out;
    for (int32_t y = 0; y < i->GetSourceSize().y; ++y)
      for (int32_t x = 0; x < i->GetSourceSize().x; ++x) {
        uint32_t v;
        std::memcpy(&v, p + y * pitch + x * 4, 4);
        out.push_back(v);
      }
    i->Unlock();
    return out;
  }
  static std::vector<uint32_t> Back() {
    std::vector<uint32_t> out;
    IDirectDrawSurface7* s = TssManager().GetBackBuffer();
    DDSURFACEDESC2 d{};
    d.dwSize = sizeof d;
    if (!s || FAILED(s->Lock(nullptr, &d, DDLOCK_WAIT, nullptr))) return out;
    for (DWORD y = 0; y < d.dwHeight; ++y)
      for (DWORD x = 0; x < d.dwWidth; ++x) {
        uint32_t v;
        std::memcpy(&v, static_cast<uint8_t*>(d.lpSurface) + d.lPitch * y + x * 4, 4);
        out.push_back(v & 0xFFFFFF);
      }
    s->Unlock(nullptr);
    return out;
  }

  HWND hwnd_ = nullptr;
  DWindow window_;
  orvane_test::ScratchDir scratch_{"orvane_tss_api_"};
};

}  // namespace tss_api_test
