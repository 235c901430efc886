// Direct3D 7 stand-in: the Direct3D object (device enumeration, device creation) and the device
// that keeps render and texture-stage states and draws through the software rasterizer.
#include <cstring>

#include "platform/ddraw_internal.h"

namespace orvane::dx {
namespace {

const char kRgbName[] = "RGB Emulation";
const char kHalName[] = "Direct3D HAL";

D3DDEVICEDESC7 DeviceDesc(bool hal) {
  const DeviceProfile& p = Profile();
  D3DDEVICEDESC7 d{};
  d.dwDevCaps =
      D3DDEVCAPS_DRAWPRIMTLVERTEX | D3DDEVCAPS_TLVERTEXSYSTEMMEMORY |
      (hal ? D3DDEVCAPS_HWRASTERIZATION | D3DDEVCAPS_TEXTUREVIDEOMEMORY : D3DDEVCAPS_TEXTURESYSTEMMEMORY);
  for (D3DPRIMCAPS* c : {&d.dpcLineCaps, &d.dpcTriCaps}) {
    c->dwSize = sizeof *c;
    c->dwMiscCaps = D3DPMISCCAPS_CULLNONE;
    c->dwShadeCaps = D3DPSHADECAPS_COLORGOURAUDRGB | D3DPSHADECAPS_ALPHAGOURAUDBLEND;
    c->dwTextureCaps = D3DPTEXTURECAPS_PERSPECTIVE | D3DPTEXTURECAPS_ALPHA |
                       (p.pow2 ? D3DPTEXTURECAPS_POW2 : 0) | (p.square_only ? D3DPTEXTURECAPS_SQUAREONLY : 0);
    c->dwSrcBlendCaps = c->dwDestBlendCaps = 0x3FF;
    c->dwAlphaCmpCaps = 0xFF;
  }
  d.dwDeviceRenderBitDepth = 0x500;  // 16 and 32 bits
  d.dwMinTextureWidth = d.dwMinTextureHeight = 1;
  d.dwMaxTextureWidth = d.dwMaxTextureHeight = p.max_texture_size;
  d.wMaxTextureBlendStages = static_cast<WORD>(p.max_textures);
  d.wMaxSimultaneousTextures = static_cast<WORD>(p.max_textures);
  d.deviceGUID = hal ? IID_IDirect3DHALDevice : IID_IDirect3DRGBDevice;
  return d;
}

DDPIXELFORMAT TexturePixelFormat(TexFormat f) {
  switch (f) {
    case TexFormat::kA4R4G4B4:
      return PixelFormatOf(SurfFormat::kA4R4G4B4);
    case TexFormat::kA8R8G8B8:
      return PixelFormatOf(SurfFormat::kA8R8G8B8);
    case TexFormat::kX8R8G8B8:
      return PixelFormatOf(SurfFormat::kX8R8G8B8);
    case TexFormat::kR5G6B5:
      return PixelFormatOf(SurfFormat::kR5G6B5);
    case TexFormat::kX1R5G5B5:
      return PixelFormatOf(SurfFormat::kX1R5G5B5);
    case TexFormat::kYUY2:
      return PixelFormatOf(SurfFormat::kYUY2);
    case TexFormat::kUYVY:
      return PixelFormatOf(SurfFormat::kUYVY);
  }
  return PixelFormatOf(SurfFormat::kNone);
}

class Device final : public IDirect3DDevice7 {
 public:
  Device(bool hal, Surface* target) : hal_(hal), target_(target) {
    target_->AddRef();
    std::memset(rs_, 0, sizeof rs_);
    std::memset(tss_, 0, sizeof tss_);
    for (int s = 0; s < 2; ++s) {
      tss_[s][D3DTSS_COLOROP] = s == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
      tss_[s][D3DTSS_ALPHAOP] = s == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
      tss_[s][D3DTSS_MAGFILTER] = D3DTFG_POINT;
      tss_[s][D3DTSS_MINFILTER] = D3DTFN_POINT;
      tss_[s][D3DTSS_ADDRESS] = tss_[s][D3DTSS_ADDRESSU] = tss_[s][D3DTSS_ADDRESSV] = 1;
      tss_[s][D3DTSS_TEXCOORDINDEX] = static_cast<DWORD>(s);
    }
    rs_[D3DRENDERSTATE_SRCBLEND] = D3DBLEND_ONE;
    rs_[D3DRENDERSTATE_DESTBLEND] = D3DBLEND_ZERO;
    rs_[D3DRENDERSTATE_ALPHAFUNC] = D3DCMP_ALWAYS;
    rs_[D3DRENDERSTATE_CULLMODE] = 3;
  }
  ~Device() {
    for (Surface* t : tex_)
      if (t) t->Release();
    target_->Release();
  }
  HRESULT QueryInterface(REFIID, void** object) override {
    if (object) *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  HRESULT GetCaps(LPD3DDEVICEDESC7 desc) override {
    if (Call("GetCaps device")) return DDERR_GENERIC;
    if (!desc) return DDERR_INVALIDPARAMS;
    *desc = DeviceDesc(hal_);
    return D3D_OK();
  }
  HRESULT EnumTextureFormats(LPD3DENUMPIXELFORMATSCALLBACK callback, LPVOID context) override {
    if (Call("EnumTextureFormats")) return DDERR_GENERIC;
    if (!callback) return DDERR_INVALIDPARAMS;
    for (TexFormat f : Profile().texture_formats) {
      DDPIXELFORMAT pf = TexturePixelFormat(f);
      if (callback(&pf, context) == D3DENUMRET_CANCEL) break;
    }
    return D3D_OK();
  }
  HRESULT BeginScene() override {
    if (Call("BeginScene")) return DDERR_GENERIC;
    if (in_scene_) return D3DERR_SCENE_IN_SCENE;
    if (target_->lost_) return DDERR_SURFACELOST;
    in_scene_ = true;
    return D3D_OK();
  }
  HRESULT EndScene() override {
    if (Call("EndScene")) return DDERR_GENERIC;
    if (!in_scene_) return D3DERR_SCENE_NOT_IN_SCENE;
    in_scene_ = false;
    return D3D_OK();
  }
  HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override {
    if (Call("SetRenderState " + std::to_string(state) + " " + std::to_string(value))) return DDERR_GENERIC;
    if (state >= D3DRENDERSTATE_COUNT) return DDERR_INVALIDPARAMS;
    rs_[state] = value;
    return D3D_OK();
  }
  HRESULT GetRenderState(D3DRENDERSTATETYPE state, LPDWORD value) override {
    if (state >= D3DRENDERSTATE_COUNT || !value) return DDERR_INVALIDPARAMS;
    *value = rs_[state];
    return D3D_OK();
  }
  HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, LPD3DMATRIX matrix) override {
    if (Call("SetTransform " + std::to_string(state))) return DDERR_GENERIC;
    return matrix ? D3D_OK() : DDERR_INVALIDPARAMS;
  }
  HRESULT SetTexture(DWORD stage, IDirectDrawSurface7* texture) override {
    Surface* t = AsSurface(texture);
    if (Call("SetTexture " + std::to_string(stage) + " " + (t ? t->Name() : std::string("0"))))
      return DDERR_GENERIC;
    if (stage >= 2) return DDERR_INVALIDPARAMS;
    if (t) t->AddRef();
    if (tex_[stage]) tex_[stage]->Release();
    tex_[stage] = t;
    return D3D_OK();
  }
  HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, DWORD value) override {
    if (Call("SetTextureStageState " + std::to_string(stage) + " " + std::to_string(state) + " " +
             std::to_string(value)))
      return DDERR_GENERIC;
    if (stage >= 2 || state >= D3DTSS_COUNT) return DDERR_INVALIDPARAMS;
    tss_[stage][state] = value;
    return D3D_OK();
  }
  HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, DWORD fvf, LPVOID vertices, DWORD vertex_count,
                               WORD* indices, DWORD index_count, DWORD) override {
    if (Call("DrawIndexedPrimitive " + std::to_string(vertex_count) + " " + std::to_string(index_count)))
      return DDERR_GENERIC;
    if (type != D3DPT_TRIANGLELIST) return D3DERR_INVALIDPRIMITIVETYPE;
    if (fvf != (D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX2)) return D3DERR_INVALIDVERTEXTYPE;
    if (!in_scene_) return D3DERR_SCENE_NOT_IN_SCENE;
    if ((!vertices && vertex_count) || (!indices && index_count)) return DDERR_INVALIDPARAMS;
    if (target_->lost_) return DDERR_SURFACELOST;
    raster::RasterState s{};
    for (int i = 0; i < 2; ++i) {
      s.stage_enabled[i] = tss_[i][D3DTSS_COLOROP] != D3DTOP_DISABLE;
      s.linear[i] = tss_[i][D3DTSS_MAGFILTER] == D3DTFG_LINEAR;
      if (tex_[i] && !tex_[i]->lost_) s.tex[i] = tex_[i]->View();
    }
    s.blend = rs_[D3DRENDERSTATE_ALPHABLENDENABLE] != 0;
    s.src_blend = rs_[D3DRENDERSTATE_SRCBLEND];
    s.dst_blend = rs_[D3DRENDERSTATE_DESTBLEND];
    s.alpha_test =
        rs_[D3DRENDERSTATE_ALPHATESTENABLE] != 0 && rs_[D3DRENDERSTATE_ALPHAFUNC] == D3DCMP_GREATER;
    s.alpha_ref = static_cast<int32_t>(rs_[D3DRENDERSTATE_ALPHAREF] & 255);
    raster::DrawTriangles(target_->Target(), s, static_cast<const raster::RasterVertex*>(vertices),
                          vertex_count, indices, index_count);
    return D3D_OK();
  }

 private:
  static HRESULT D3D_OK() { return DD_OK; }
  std::atomic<ULONG> refs_{1};
  bool hal_;
  bool in_scene_ = false;
  Surface* target_;
  Surface* tex_[2] = {nullptr, nullptr};
  DWORD rs_[D3DRENDERSTATE_COUNT];
  DWORD tss_[2][D3DTSS_COUNT];
};

class Direct3D final : public IDirect3D7 {
 public:
  explicit Direct3D(DirectDraw* dd) : dd_(dd) { dd_->AddRef(); }
  ~Direct3D() { dd_->Release(); }
  HRESULT QueryInterface(REFIID riid, void** object) override { return dd_->QueryInterface(riid, object); }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  HRESULT EnumDevices(LPD3DENUMDEVICESCALLBACK7 callback, LPVOID context) override {
    if (Call("EnumDevices")) return DDERR_GENERIC;
    if (!callback) return DDERR_INVALIDPARAMS;
    char rgb[sizeof kRgbName], hal[sizeof kHalName];
    std::memcpy(rgb, kRgbName, sizeof rgb);
    std::memcpy(hal, kHalName, sizeof hal);
    D3DDEVICEDESC7 d = DeviceDesc(false);
    if (callback(rgb, rgb, &d, context) == D3DENUMRET_CANCEL) return DD_OK;
    if (Profile().hal) {
      d = DeviceDesc(true);
      callback(hal, hal, &d, context);
    }
    return DD_OK;
  }
  HRESULT CreateDevice(REFCLSID device, IDirectDrawSurface7* target, IDirect3DDevice7** out) override {
    bool hal = device == IID_IDirect3DHALDevice;
    if (Call(hal ? "CreateDevice HAL" : "CreateDevice RGB")) return DDERR_GENERIC;
    if (!out || !target) return DDERR_INVALIDPARAMS;
    *out = nullptr;
    if (!hal && device != IID_IDirect3DRGBDevice) return DDERR_INVALIDPARAMS;
    if (hal && !Profile().hal) return DDERR_UNSUPPORTED;
    Surface* t = AsSurface(target);
    if (!(t->caps_ & DDSCAPS_3DDEVICE) || t->mem_.empty()) return DDERR_INVALIDCAPS;
    raster::PixelKind k = RasterKind(t->format_);
    if (k != raster::PixelKind::kX8R8G8B8 && k != raster::PixelKind::kR5G6B5) return DDERR_INVALIDPIXELFORMAT;
    *out = new Device(hal, t);
    return DD_OK;
  }

 private:
  std::atomic<ULONG> refs_{1};
  DirectDraw* dd_;
};

}  // namespace

IDirect3D7* NewDirect3D(DirectDraw* dd) {
  return new Direct3D(dd);
}

}  // namespace orvane::dx
