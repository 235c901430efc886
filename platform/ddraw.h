// DirectDraw 7 and Direct3D 7 stand-in: the DirectDraw object, surfaces (Lock, Blt, Flip, lost
// state), clippers, display modes, and the Direct3D object and device that draw textured
// triangles into a surface with the software rasterizer. Our own declarations, written from what
// the display units call; numeric values that the units compare keep their documented values.
//
// Pictures reach the screen through each window's client surface: a blit onto a window-mode
// primary surface lands in the client surface of its clipper's window (screen rectangle made
// client-relative, clipped); in exclusive full screen the front buffer is shown there after each
// Flip or blit onto the primary. Surface sizes are checked in 64 bits and zero sizes refused;
// texture surfaces count against the video-memory budget of the device profile
// (platform/ddraw_test.h), which tests also use to inject faults and read the call log.
#pragma once

#include <cstdint>

#include "platform/com.h"
#include "platform/gdi.h"
#include "platform/kernel.h"
#include "platform/wintypes.h"

// ---- Results.
#define MAKE_DDHRESULT(code) static_cast<HRESULT>(0x88760000u | (code))
#define DD_OK S_OK
#define DDERR_GENERIC E_FAIL
#define DDERR_OUTOFMEMORY E_OUTOFMEMORY
#define DDERR_INVALIDPARAMS E_INVALIDARG
#define DDERR_UNSUPPORTED E_NOTIMPL
#define DDERR_INVALIDCAPS MAKE_DDHRESULT(100)
#define DDERR_INVALIDMODE MAKE_DDHRESULT(120)
#define DDERR_INVALIDOBJECT MAKE_DDHRESULT(130)
#define DDERR_INVALIDPIXELFORMAT MAKE_DDHRESULT(145)
#define DDERR_INVALIDRECT MAKE_DDHRESULT(150)
#define DDERR_NOEXCLUSIVEMODE MAKE_DDHRESULT(225)
#define DDERR_NOTFLIPPABLE MAKE_DDHRESULT(230)
#define DDERR_NOTFOUND MAKE_DDHRESULT(255)
#define DDERR_OUTOFVIDEOMEMORY MAKE_DDHRESULT(380)
#define DDERR_SURFACEBUSY MAKE_DDHRESULT(430)
#define DDERR_SURFACELOST MAKE_DDHRESULT(450)
#define DDERR_WASSTILLDRAWING MAKE_DDHRESULT(540)
#define DDERR_CANTCREATEDC MAKE_DDHRESULT(577)
#define DDERR_NOTLOCKED MAKE_DDHRESULT(584)
#define DDERR_DCALREADYCREATED MAKE_DDHRESULT(620)
#define DDERR_WRONGMODE MAKE_DDHRESULT(587)
#define D3DERR_INVALIDCALL MAKE_DDHRESULT(710)
#define D3DERR_SCENE_IN_SCENE MAKE_DDHRESULT(731)
#define D3DERR_SCENE_NOT_IN_SCENE MAKE_DDHRESULT(732)
#define D3DERR_INVALIDPRIMITIVETYPE MAKE_DDHRESULT(733)
#define D3DERR_INVALIDVERTEXTYPE MAKE_DDHRESULT(734)

#define DDENUMRET_CANCEL 0
#define DDENUMRET_OK 1
#define D3DENUMRET_CANCEL DDENUMRET_CANCEL
#define D3DENUMRET_OK DDENUMRET_OK

// ---- Interface and device identifiers.
inline constexpr IID IID_IDirectDraw7 = {
    0x15e65ec0, 0x3b9c, 0x11d2, {0xb9, 0x2f, 0x00, 0x60, 0x97, 0x97, 0xea, 0x5b}};
inline constexpr IID IID_IDirect3D7 = {
    0xf5049e77, 0x4861, 0x11d2, {0xa4, 0x07, 0x00, 0xa0, 0xc9, 0x06, 0x29, 0xa8}};
inline constexpr IID IID_IDirectDrawSurface7 = {
    0x06675a80, 0x3b9b, 0x11d2, {0xb9, 0x2f, 0x00, 0x60, 0x97, 0x97, 0xea, 0x5b}};
inline constexpr IID IID_IDirect3DHALDevice = {
    0x84e63de0, 0x46aa, 0x11cf, {0x81, 0x6f, 0x00, 0x00, 0xc0, 0x20, 0x15, 0x6e}};
inline constexpr IID IID_IDirect3DRGBDevice = {
    0xa4665c60, 0x2673, 0x11cf, {0xa3, 0x1a, 0x00, 0xaa, 0x00, 0xb9, 0x33, 0x56}};

#define MAKEFOURCC(a, b, c, d)                                                                  \
  (static_cast<DWORD>(static_cast<BYTE>(a)) | (static_cast<DWORD>(static_cast<BYTE>(b)) << 8) | \
   (static_cast<DWORD>(static_cast<BYTE>(c)) << 16) | (static_cast<DWORD>(static_cast<BYTE>(d)) << 24))

// ---- Descriptions.
struct DDPIXELFORMAT {
  DWORD dwSize;
  DWORD dwFlags;  // DDPF_*
  DWORD dwFourCC;
  DWORD dwRGBBitCount;
  DWORD dwRBitMask;
  DWORD dwGBitMask;
  DWORD dwBBitMask;
  DWORD dwRGBAlphaBitMask;
};
using LPDDPIXELFORMAT = DDPIXELFORMAT*;
#define DDPF_ALPHAPIXELS 0x00000001u
#define DDPF_FOURCC 0x00000004u
#define DDPF_RGB 0x00000040u

struct DDSCAPS2 {
  DWORD dwCaps;  // DDSCAPS_*
  DWORD dwCaps2;
  DWORD dwCaps3;
  DWORD dwCaps4;
};
#define DDSCAPS_BACKBUFFER 0x00000004u
#define DDSCAPS_COMPLEX 0x00000008u
#define DDSCAPS_FLIP 0x00000010u
#define DDSCAPS_FRONTBUFFER 0x00000020u
#define DDSCAPS_OFFSCREENPLAIN 0x00000040u
#define DDSCAPS_PRIMARYSURFACE 0x00000200u
#define DDSCAPS_SYSTEMMEMORY 0x00000800u
#define DDSCAPS_TEXTURE 0x00001000u
#define DDSCAPS_3DDEVICE 0x00002000u
#define DDSCAPS_VIDEOMEMORY 0x00004000u
#define DDSCAPS_LOCALVIDMEM 0x10000000u

struct DDSURFACEDESC2 {
  DWORD dwSize;   // sizeof(DDSURFACEDESC2)
  DWORD dwFlags;  // DDSD_*: which fields are valid
  DWORD dwHeight;
  DWORD dwWidth;
  LONG lPitch;
  DWORD dwBackBufferCount;
  DWORD dwRefreshRate;
  LPVOID lpSurface;  // set by Lock
  DDPIXELFORMAT ddpfPixelFormat;
  DDSCAPS2 ddsCaps;
  DWORD dwTextureStage;
};
using LPDDSURFACEDESC2 = DDSURFACEDESC2*;
#define DDSD_CAPS 0x00000001u
#define DDSD_HEIGHT 0x00000002u
#define DDSD_WIDTH 0x00000004u
#define DDSD_PITCH 0x00000008u
#define DDSD_BACKBUFFERCOUNT 0x00000020u
#define DDSD_REFRESHRATE 0x00040000u
#define DDSD_LPSURFACE 0x00000800u
#define DDSD_PIXELFORMAT 0x00001000u
#define DDSD_TEXTURESTAGE 0x00100000u

// Driver capabilities; only the fields the units read are kept.
struct DDCAPS {
  DWORD dwSize;  // sizeof(DDCAPS)
  DWORD dwCaps;  // DDCAPS_*
  DWORD dwCaps2;
  DWORD dwVidMemTotal;
  DWORD dwVidMemFree;
  DDSCAPS2 ddsCaps;
};
using LPDDCAPS = DDCAPS*;
#define DDCAPS_3D 0x00000001u
#define DDCAPS_BLT 0x00000040u
#define DDCAPS_BLTCOLORFILL 0x04000000u

struct DDBLTFX {
  DWORD dwSize;       // sizeof(DDBLTFX)
  DWORD dwFillColor;  // raw pixel value for DDBLT_COLORFILL
};
using LPDDBLTFX = DDBLTFX*;

struct DDDEVICEIDENTIFIER2 {
  char szDriver[512];
  char szDescription[512];
  ULONGLONG liDriverVersion;  // four 16-bit parts, the highest first
  DWORD dwVendorId;
  DWORD dwDeviceId;
  DWORD dwSubSysId;
  DWORD dwRevision;
  GUID guidDeviceIdentifier;
  DWORD dwWHQLLevel;
};

// ---- Flags.
#define DDSCL_FULLSCREEN 0x00000001u
#define DDSCL_ALLOWREBOOT 0x00000002u
#define DDSCL_NOWINDOWCHANGES 0x00000004u
#define DDSCL_NORMAL 0x00000008u
#define DDSCL_EXCLUSIVE 0x00000010u
#define DDSCL_FPUSETUP 0x00000800u
#define DDBLT_ASYNC 0x00000200u
#define DDBLT_COLORFILL 0x00000400u
#define DDBLT_WAIT 0x01000000u
#define DDFLIP_WAIT 0x00000001u
#define DDFLIP_DONOTWAIT 0x00000020u
#define DDGBS_CANBLT 0x00000001u
#define DDGBS_ISBLTDONE 0x00000002u
#define DDGFS_CANFLIP 0x00000001u
#define DDGFS_ISFLIPDONE 0x00000002u
#define DDLOCK_SURFACEMEMORYPTR 0x00000000u
#define DDLOCK_WAIT 0x00000001u
#define DDLOCK_READONLY 0x00000010u
#define DDLOCK_WRITEONLY 0x00000020u

struct IDirectDrawSurface7;
struct IDirectDrawClipper;
struct IDirect3DDevice7;
using LPDIRECTDRAWSURFACE7 = IDirectDrawSurface7*;
using LPDIRECTDRAWCLIPPER = IDirectDrawClipper*;

using LPDDENUMMODESCALLBACK2 = HRESULT (*)(LPDDSURFACEDESC2 desc, LPVOID context);

// ---- Objects.
struct IDirectDrawClipper : IUnknown {
  // Binds the clipper to a window: blits onto a primary surface carrying it land in that window.
  virtual HRESULT SetHWnd(DWORD flags, HWND hwnd) = 0;
  virtual HRESULT GetHWnd(HWND* hwnd) = 0;
};

struct IDirectDrawSurface7 : IUnknown {
  // A colour fill (DDBLT_COLORFILL, fx->dwFillColor) of dst_rect, or a copy of src_rect of src
  // onto dst_rect of the same size and pixel format (null rectangles: the whole surface). Onto a
  // primary surface the copy is shown in the window (format converted, clipped to the window).
  virtual HRESULT Blt(LPRECT dst_rect, IDirectDrawSurface7* src, LPRECT src_rect, DWORD flags,
                      LPDDBLTFX fx) = 0;
  // Exchanges the memory of a primary flipping chain's front and back buffers and shows the new
  // front buffer.
  virtual HRESULT Flip(IDirectDrawSurface7* override_surface, DWORD flags) = 0;
  virtual HRESULT GetAttachedSurface(DDSCAPS2* caps, IDirectDrawSurface7** surface) = 0;
  virtual HRESULT GetBltStatus(DWORD flags) = 0;
  virtual HRESULT GetFlipStatus(DWORD flags) = 0;
  virtual HRESULT GetCaps(DDSCAPS2* caps) = 0;
  virtual HRESULT GetClipper(IDirectDrawClipper** clipper) = 0;
  virtual HRESULT GetPixelFormat(LPDDPIXELFORMAT format) = 0;
  virtual HRESULT GetSurfaceDesc(LPDDSURFACEDESC2 desc) = 0;
  // A GDI DC drawing into the surface's memory (16 and 32-bit surfaces), answering
  // DDERR_WASSTILLDRAWING while the still-drawing fault is armed; releasing a full-screen
  // primary's DC shows it in the window.
  virtual HRESULT GetDC(HDC* dc) = 0;
  virtual HRESULT ReleaseDC(HDC dc) = 0;
  virtual HRESULT IsLost() = 0;
  // Gives the surface's memory (desc->lpSurface, desc->lPitch) for rect or the whole surface.
  virtual HRESULT Lock(LPRECT rect, LPDDSURFACEDESC2 desc, DWORD flags, HANDLE event) = 0;
  virtual HRESULT Unlock(LPRECT rect) = 0;
  // Ends the lost state (the contents are undefined; ours keep their bits).
  virtual HRESULT Restore() = 0;
  virtual HRESULT SetClipper(IDirectDrawClipper* clipper) = 0;
};

struct IDirectDraw7 : IUnknown {
  virtual HRESULT CreateClipper(DWORD flags, IDirectDrawClipper** clipper, IUnknown* outer) = 0;
  virtual HRESULT CreateSurface(LPDDSURFACEDESC2 desc, IDirectDrawSurface7** surface, IUnknown* outer) = 0;
  // Calls back for each display mode (filter ignored; flags 0), until the callback cancels.
  virtual HRESULT EnumDisplayModes(DWORD flags, LPDDSURFACEDESC2 filter, LPVOID context,
                                   LPDDENUMMODESCALLBACK2 callback) = 0;
  virtual HRESULT FlipToGDISurface() = 0;
  virtual HRESULT GetCaps(LPDDCAPS driver_caps, LPDDCAPS emulation_caps) = 0;
  virtual HRESULT GetDisplayMode(LPDDSURFACEDESC2 desc) = 0;
  virtual HRESULT GetAvailableVidMem(DDSCAPS2* caps, LPDWORD total, LPDWORD free) = 0;
  virtual HRESULT GetDeviceIdentifier(DDDEVICEIDENTIFIER2* id, DWORD flags) = 0;
  virtual HRESULT SetCooperativeLevel(HWND hwnd, DWORD flags) = 0;
  // Accepts a listed mode (refresh 0); needs exclusive full-screen cooperation.
  virtual HRESULT SetDisplayMode(DWORD width, DWORD height, DWORD bpp, DWORD refresh, DWORD flags) = 0;
  virtual HRESULT RestoreDisplayMode() = 0;
};
using LPDIRECTDRAW7 = IDirectDraw7*;

// Creates the DirectDraw object of the default driver (guid null) for IID_IDirectDraw7.
ORVANE_API HRESULT DirectDrawCreateEx(GUID* guid, LPVOID* object, REFIID iid, IUnknown* outer);

// ---- Desktop settings (user32).
#define ENUM_CURRENT_SETTINGS (static_cast<DWORD>(-1))
// DEVMODEA is GDI's (platform/gdi.h).
#define DM_BITSPERPEL 0x00040000u
#define DM_PELSWIDTH 0x00080000u
#define DM_PELSHEIGHT 0x00100000u
// The desktop's mode for ENUM_CURRENT_SETTINGS (device null), or mode n of the mode list.
ORVANE_API BOOL EnumDisplaySettingsA(LPCSTR device, DWORD mode, DEVMODEA* devmode);

// ---- Direct3D 7.
using D3DCOLOR = DWORD;
using D3DVALUE = float;

struct D3DMATRIX {
  float m[4][4];
};
using LPD3DMATRIX = D3DMATRIX*;

struct D3DPRIMCAPS {
  DWORD dwSize;
  DWORD dwMiscCaps;
  DWORD dwRasterCaps;
  DWORD dwZCmpCaps;
  DWORD dwSrcBlendCaps;
  DWORD dwDestBlendCaps;
  DWORD dwAlphaCmpCaps;
  DWORD dwShadeCaps;
  DWORD dwTextureCaps;
  DWORD dwTextureFilterCaps;
  DWORD dwTextureBlendCaps;
  DWORD dwTextureAddressCaps;
  DWORD dwStippleWidth;
  DWORD dwStippleHeight;
};
#define D3DPMISCCAPS_CULLNONE 0x00000010u
#define D3DPSHADECAPS_COLORGOURAUDRGB 0x00000008u
#define D3DPSHADECAPS_ALPHAGOURAUDBLEND 0x00004000u
#define D3DPTEXTURECAPS_PERSPECTIVE 0x00000001u
#define D3DPTEXTURECAPS_POW2 0x00000002u
#define D3DPTEXTURECAPS_ALPHA 0x00000004u
#define D3DPTEXTURECAPS_SQUAREONLY 0x00000020u

struct D3DDEVICEDESC7 {
  DWORD dwDevCaps;  // D3DDEVCAPS_*
  D3DPRIMCAPS dpcLineCaps;
  D3DPRIMCAPS dpcTriCaps;
  DWORD dwDeviceRenderBitDepth;
  DWORD dwDeviceZBufferBitDepth;
  DWORD dwMinTextureWidth, dwMinTextureHeight;
  DWORD dwMaxTextureWidth, dwMaxTextureHeight;
  DWORD dwMaxTextureRepeat;
  DWORD dwMaxTextureAspectRatio;
  DWORD dwMaxAnisotropy;
  DWORD dwFVFCaps;
  DWORD dwTextureOpCaps;
  WORD wMaxTextureBlendStages;
  WORD wMaxSimultaneousTextures;
  GUID deviceGUID;
};
using LPD3DDEVICEDESC7 = D3DDEVICEDESC7*;
#define D3DDEVCAPS_TLVERTEXSYSTEMMEMORY 0x00000040u
#define D3DDEVCAPS_TEXTURESYSTEMMEMORY 0x00000100u
#define D3DDEVCAPS_TEXTUREVIDEOMEMORY 0x00000200u
#define D3DDEVCAPS_DRAWPRIMTLVERTEX 0x00000400u
#define D3DDEVCAPS_HWRASTERIZATION 0x00080000u

using D3DRENDERSTATETYPE = DWORD;
#define D3DRENDERSTATE_ANTIALIAS 2u
#define D3DRENDERSTATE_TEXTUREPERSPECTIVE 4u
#define D3DRENDERSTATE_ZENABLE 7u
#define D3DRENDERSTATE_FILLMODE 8u
#define D3DRENDERSTATE_SHADEMODE 9u
#define D3DRENDERSTATE_LINEPATTERN 10u
#define D3DRENDERSTATE_ZWRITEENABLE 14u
#define D3DRENDERSTATE_ALPHATESTENABLE 15u
#define D3DRENDERSTATE_LASTPIXEL 16u
#define D3DRENDERSTATE_SRCBLEND 19u
#define D3DRENDERSTATE_DESTBLEND 20u
#define D3DRENDERSTATE_CULLMODE 22u
#define D3DRENDERSTATE_ZFUNC 23u
#define D3DRENDERSTATE_ALPHAREF 24u
#define D3DRENDERSTATE_ALPHAFUNC 25u
#define D3DRENDERSTATE_DITHERENABLE 26u
#define D3DRENDERSTATE_ALPHABLENDENABLE 27u
#define D3DRENDERSTATE_FOGENABLE 28u
#define D3DRENDERSTATE_SPECULARENABLE 29u
#define D3DRENDERSTATE_STIPPLEDALPHA 33u
#define D3DRENDERSTATE_FOGCOLOR 34u
#define D3DRENDERSTATE_FOGTABLEMODE 35u
#define D3DRENDERSTATE_EDGEANTIALIAS 40u
#define D3DRENDERSTATE_COLORKEYENABLE 41u
#define D3DRENDERSTATE_ZBIAS 47u
#define D3DRENDERSTATE_RANGEFOGENABLE 48u
#define D3DRENDERSTATE_STENCILENABLE 52u
#define D3DRENDERSTATE_WRAP0 128u
#define D3DRENDERSTATE_WRAP1 129u
#define D3DRENDERSTATE_CLIPPING 136u
#define D3DRENDERSTATE_LIGHTING 137u
#define D3DRENDERSTATE_EXTENTS 138u
#define D3DRENDERSTATE_AMBIENT 139u
#define D3DRENDERSTATE_FOGVERTEXMODE 140u
#define D3DRENDERSTATE_COLORVERTEX 141u
#define D3DRENDERSTATE_LOCALVIEWER 142u
#define D3DRENDERSTATE_NORMALIZENORMALS 143u
#define D3DRENDERSTATE_COLORKEYBLENDENABLE 144u
#define D3DRENDERSTATE_DIFFUSEMATERIALSOURCE 145u
#define D3DRENDERSTATE_SPECULARMATERIALSOURCE 146u
#define D3DRENDERSTATE_AMBIENTMATERIALSOURCE 147u
#define D3DRENDERSTATE_EMISSIVEMATERIALSOURCE 148u
#define D3DRENDERSTATE_VERTEXBLEND 151u
#define D3DRENDERSTATE_CLIPPLANEENABLE 152u
#define D3DRENDERSTATE_COUNT 256u

#define D3DANTIALIAS_NONE 0u
#define D3DFILL_SOLID 3u
#define D3DSHADE_GOURAUD 2u
#define D3DCULL_NONE 1u
#define D3DFOG_NONE 0u
#define D3DMCS_COLOR1 1u
#define D3DVBLEND_DISABLE 0u
#define D3DBLEND_ZERO 1u
#define D3DBLEND_ONE 2u
#define D3DBLEND_SRCALPHA 5u
#define D3DBLEND_INVSRCALPHA 6u
#define D3DBLEND_DESTCOLOR 9u
#define D3DBLEND_INVDESTCOLOR 10u
#define D3DCMP_NEVER 1u
#define D3DCMP_GREATER 5u
#define D3DCMP_ALWAYS 8u

using D3DTEXTURESTAGESTATETYPE = DWORD;
#define D3DTSS_COLOROP 1u
#define D3DTSS_COLORARG1 2u
#define D3DTSS_COLORARG2 3u
#define D3DTSS_ALPHAOP 4u
#define D3DTSS_ALPHAARG1 5u
#define D3DTSS_ALPHAARG2 6u
#define D3DTSS_BUMPENVMAT00 7u
#define D3DTSS_BUMPENVMAT01 8u
#define D3DTSS_BUMPENVMAT10 9u
#define D3DTSS_BUMPENVMAT11 10u
#define D3DTSS_TEXCOORDINDEX 11u
#define D3DTSS_ADDRESS 12u
#define D3DTSS_ADDRESSU 13u
#define D3DTSS_ADDRESSV 14u
#define D3DTSS_BORDERCOLOR 15u
#define D3DTSS_MAGFILTER 16u
#define D3DTSS_MINFILTER 17u
#define D3DTSS_MIPFILTER 18u
#define D3DTSS_MIPMAPLODBIAS 19u
#define D3DTSS_MAXMIPLEVEL 20u
#define D3DTSS_MAXANISOTROPY 21u
#define D3DTSS_BUMPENVLSCALE 22u
#define D3DTSS_BUMPENVLOFFSET 23u
#define D3DTSS_TEXTURETRANSFORMFLAGS 24u
#define D3DTSS_COUNT 25u

#define D3DTOP_DISABLE 1u
#define D3DTOP_MODULATE 4u
#define D3DTA_DIFFUSE 0u
#define D3DTA_CURRENT 1u
#define D3DTA_TEXTURE 2u
#define D3DTADDRESS_CLAMP 3u
#define D3DTFG_POINT 1u
#define D3DTFG_LINEAR 2u
#define D3DTFN_POINT 1u
#define D3DTFN_LINEAR 2u
#define D3DTFP_NONE 1u
#define D3DTTFF_DISABLE 0u

using D3DTRANSFORMSTATETYPE = DWORD;
#define D3DTRANSFORMSTATE_WORLD 1u
#define D3DTRANSFORMSTATE_VIEW 2u
#define D3DTRANSFORMSTATE_PROJECTION 3u

using D3DPRIMITIVETYPE = DWORD;
#define D3DPT_TRIANGLELIST 4u

#define D3DFVF_XYZRHW 0x004u
#define D3DFVF_DIFFUSE 0x040u
#define D3DFVF_TEX2 0x200u

using LPD3DENUMDEVICESCALLBACK7 = HRESULT (*)(LPSTR description, LPSTR name, LPD3DDEVICEDESC7 desc,
                                              LPVOID context);
using LPD3DENUMPIXELFORMATSCALLBACK = HRESULT (*)(LPDDPIXELFORMAT format, LPVOID context);

// The device renders into the surface it was created on. Only what the sprite renderer uses
// is drawn: triangle lists of the vertex format XYZRHW | DIFFUSE | TEX2, two MODULATE stages,
// CLAMP addressing, POINT or LINEAR filters, the GREATER alpha test and the blend factors ZERO,
// ONE, SRCALPHA, INVSRCALPHA, DESTCOLOR and INVDESTCOLOR; other states are kept but not drawn.
struct IDirect3DDevice7 : IUnknown {
  virtual HRESULT GetCaps(LPD3DDEVICEDESC7 desc) = 0;
  virtual HRESULT EnumTextureFormats(LPD3DENUMPIXELFORMATSCALLBACK callback, LPVOID context) = 0;
  virtual HRESULT BeginScene() = 0;
  virtual HRESULT EndScene() = 0;
  virtual HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) = 0;
  virtual HRESULT GetRenderState(D3DRENDERSTATETYPE state, LPDWORD value) = 0;
  virtual HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, LPD3DMATRIX matrix) = 0;
  virtual HRESULT SetTexture(DWORD stage, IDirectDrawSurface7* texture) = 0;
  virtual HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, DWORD value) = 0;
  // Triangles indexing past vertex_count are skipped.
  virtual HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, DWORD fvf, LPVOID vertices, DWORD vertex_count,
                                       WORD* indices, DWORD index_count, DWORD flags) = 0;
};
using LPDIRECT3DDEVICE7 = IDirect3DDevice7*;

struct IDirect3D7 : IUnknown {
  virtual HRESULT EnumDevices(LPD3DENUMDEVICESCALLBACK7 callback, LPVOID context) = 0;
  virtual HRESULT CreateDevice(REFCLSID device, IDirectDrawSurface7* target, IDirect3DDevice7** out) = 0;
};
using LPDIRECT3D7 = IDirect3D7*;
