// DirectInput 7 stand-in: the keyboard and joysticks as IDirectInputDevice7A objects over one
// input hub. The hub holds the current key and joystick states; hosts (and tests, on the headless
// host) feed it. Every acquired device buffers the changes it sees, up to its DIPROP_BUFFERSIZE
// records; the oldest record is dropped on overflow and the next GetDeviceData says
// DI_BUFFEROVERFLOW. Devices set up with DISCL_FOREGROUND can only be acquired and read while
// their cooperative window's top-level window is the foreground window.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/com.h"
#include "platform/kernel.h"
#include "platform/wintypes.h"

#define DIRECTINPUT_VERSION 0x0700

// Results.
#define DI_OK S_OK
#define DI_NOEFFECT S_FALSE
#define DI_BUFFEROVERFLOW S_FALSE
#define DI_POLLEDDEVICE static_cast<HRESULT>(2)
#define DIERR_INVALIDPARAM E_INVALIDARG
#define DIERR_GENERIC E_FAIL
#define DIERR_NOINTERFACE E_NOINTERFACE
#define DIERR_UNSUPPORTED E_NOTIMPL
#define DIERR_DEVICENOTREG REGDB_E_CLASSNOTREG
#define DIERR_OBJECTNOTFOUND static_cast<HRESULT>(0x80070002u)
#define DIERR_OTHERAPPHASPRIO static_cast<HRESULT>(0x80070005u)
#define DIERR_NOTACQUIRED static_cast<HRESULT>(0x8007000Cu)
#define DIERR_NOTINITIALIZED static_cast<HRESULT>(0x80070015u)
#define DIERR_INPUTLOST static_cast<HRESULT>(0x8007001Eu)
#define DIERR_ACQUIRED static_cast<HRESULT>(0x800700AAu)
#define DIERR_OLDDIRECTINPUTVERSION static_cast<HRESULT>(0x8007047Eu)

// Cooperative levels.
#define DISCL_EXCLUSIVE 0x1
#define DISCL_NONEXCLUSIVE 0x2
#define DISCL_FOREGROUND 0x4
#define DISCL_BACKGROUND 0x8

// Device types, enumeration flags and results.
#define DIDEVTYPE_KEYBOARD 3
#define DIDEVTYPE_JOYSTICK 4
#define DIEDFL_ALLDEVICES 0x0
#define DIEDFL_ATTACHEDONLY 0x1
#define DIENUM_STOP 0
#define DIENUM_CONTINUE 1

// Capability flags and property addressing.
#define DIDC_ATTACHED 0x1
#define DIDC_POLLEDDEVICE 0x2
#define DIDC_EMULATED 0x4
#define DIDC_POLLEDDATAFORMAT 0x8
#define DIPH_DEVICE 0
#define DIPH_BYOFFSET 1
#define DIPH_BYID 2

// Key codes (the keyboard's set-1 scan codes; extended keys have bit 0x80 set).
#define DIK_ESCAPE 0x01
#define DIK_RETURN 0x1C
#define DIK_LCONTROL 0x1D
#define DIK_A 0x1E
#define DIK_Z 0x2C
#define DIK_X 0x2D
#define DIK_SPACE 0x39
#define DIK_NUMPADENTER 0x9C
#define DIK_UP 0xC8
#define DIK_LEFT 0xCB
#define DIK_RIGHT 0xCD
#define DIK_DOWN 0xD0

struct DIDEVCAPS {
  DWORD dwSize;
  DWORD dwFlags;
  DWORD dwDevType;
  DWORD dwAxes;
  DWORD dwButtons;
  DWORD dwPOVs;
  DWORD dwFFSamplePeriod;
  DWORD dwFFMinTimeResolution;
  DWORD dwFirmwareRevision;
  DWORD dwHardwareRevision;
  DWORD dwFFDriverVersion;
};
static_assert(sizeof(DIDEVCAPS) == 44);

struct DIPROPHEADER {
  DWORD dwSize;
  DWORD dwHeaderSize;
  DWORD dwObj;
  DWORD dwHow;
};
struct DIPROPDWORD {
  DIPROPHEADER diph;
  DWORD dwData;
};
struct DIPROPRANGE {
  DIPROPHEADER diph;
  LONG lMin;
  LONG lMax;
};
static_assert(sizeof(DIPROPHEADER) == 16 && sizeof(DIPROPDWORD) == 20 && sizeof(DIPROPRANGE) == 24);

struct DIDEVICEOBJECTDATA {
  DWORD dwOfs;
  DWORD dwData;
  DWORD dwTimeStamp;
  DWORD dwSequence;
};
static_assert(sizeof(DIDEVICEOBJECTDATA) == 16);

// The joystick state: six axes, two sliders, four POV hats (hundredths of a degree, 0xFFFFFFFF
// centred) and 32 buttons (bit 0x80 = pressed) at offset 0x30.
struct DIJOYSTATE {
  LONG lX, lY, lZ;
  LONG lRx, lRy, lRz;
  LONG rglSlider[2];
  DWORD rgdwPOV[4];
  BYTE rgbButtons[32];
};
static_assert(sizeof(DIJOYSTATE) == 80 && offsetof(DIJOYSTATE, rgbButtons) == 0x30);

// A device found by EnumDevices. The name is cp932, NUL-ended, at most 263 bytes.
struct DIDEVICEINSTANCEA {
  DWORD dwSize;
  GUID guidInstance;
  GUID guidProduct;
  DWORD dwDevType;
  CHAR tszInstanceName[264];
  CHAR tszProductName[264];
};
using LPCDIDEVICEINSTANCEA = const DIDEVICEINSTANCEA*;
using LPDIENUMDEVICESCALLBACKA = BOOL (*)(LPCDIDEVICEINSTANCEA instance, void* context);

// Data formats: only the two standard ones are known, told apart by their data size.
struct DIDATAFORMAT {
  DWORD dwSize;
  DWORD dwObjSize;
  DWORD dwFlags;
  DWORD dwDataSize;
  DWORD dwNumObjs;
  void* rgodf;
};
extern "C" __attribute__((visibility("default"))) const DIDATAFORMAT c_dfDIKeyboard;
extern "C" __attribute__((visibility("default"))) const DIDATAFORMAT c_dfDIJoystick;

// Identifiers.
inline constexpr GUID GUID_SysKeyboard = {
    0x6F1D2B61, 0xD5A0, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0, 0}};
inline constexpr GUID GUID_SysMouse = {
    0x6F1D2B60, 0xD5A0, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0, 0}};
inline constexpr IID IID_IDirectInput7A = {
    0x9A4CB684, 0x236D, 0x11D3, {0x8E, 0x9D, 0x00, 0xC0, 0x4F, 0x68, 0x44, 0xAE}};
inline constexpr IID IID_IDirectInputDevice7A = {
    0x57D7C6BC, 0x2356, 0x11D3, {0x8E, 0x9D, 0x00, 0xC0, 0x4F, 0x68, 0x44, 0xAE}};
// Properties (each its own identifier).
inline constexpr GUID DIPROP_BUFFERSIZE = {1, 0, 0, {0x44, 0x49, 0x50, 0x52, 0x4F, 0x50, 0, 0}};
inline constexpr GUID DIPROP_RANGE = {4, 0, 0, {0x44, 0x49, 0x50, 0x52, 0x4F, 0x50, 0, 0}};

struct IDirectInputDevice7A : IUnknown {
  virtual HRESULT GetCapabilities(DIDEVCAPS* caps) = 0;
  virtual HRESULT GetProperty(REFGUID property, DIPROPHEADER* header) = 0;
  virtual HRESULT SetProperty(REFGUID property, const DIPROPHEADER* header) = 0;
  virtual HRESULT Acquire() = 0;
  virtual HRESULT Unacquire() = 0;
  virtual HRESULT GetDeviceState(DWORD size, void* data) = 0;
  virtual HRESULT GetDeviceData(DWORD record_size, DIDEVICEOBJECTDATA* records, DWORD* count,
                                DWORD flags) = 0;
  virtual HRESULT SetDataFormat(const DIDATAFORMAT* format) = 0;
  virtual HRESULT SetCooperativeLevel(HWND hwnd, DWORD flags) = 0;
  virtual HRESULT RunControlPanel(HWND owner, DWORD flags) = 0;
  virtual HRESULT Poll() = 0;
};
using LPDIRECTINPUTDEVICE7A = IDirectInputDevice7A*;

struct IDirectInput7A : IUnknown {
  virtual HRESULT EnumDevices(DWORD dev_type, LPDIENUMDEVICESCALLBACKA callback, void* context,
                              DWORD flags) = 0;
  virtual HRESULT RunControlPanel(HWND owner, DWORD flags) = 0;
  virtual HRESULT CreateDeviceEx(REFGUID instance, REFIID iid, void** device, LPUNKNOWN outer) = 0;
};
using LPDIRECTINPUT7A = IDirectInput7A*;

ORVANE_API HRESULT DirectInputCreateEx(HINSTANCE instance, DWORD version, REFIID iid, void** object,
                                       LPUNKNOWN outer);

// ---- The input hub: what hosts feed, and tests on the headless host.
namespace orvane::dinput {

#define ORVANE_DINPUT_API __attribute__((visibility("default")))

// A key (DirectInput code) went down or up.
ORVANE_DINPUT_API void HubKey(uint8_t dik, bool down);
// A joystick was plugged in: its cp932 name (cut to 263 bytes on a character boundary), its axis
// (at most 6), button (at most 32) and POV (at most 4) counts. Returns its id (> 0); enumeration
// reports joysticks in the order they were attached.
ORVANE_DINPUT_API int HubAttachJoystick(const char* name, int axes, int buttons, int povs);
ORVANE_DINPUT_API void HubDetachJoystick(int id);
// Axis 0-5 (X, Y, Z, Rx, Ry, Rz) to a value 0..65535; button 0-31; POV 0-3 (hundredths of a
// degree, 0xFFFFFFFF centred).
ORVANE_DINPUT_API void HubJoystickAxis(int id, int axis, int32_t value);
ORVANE_DINPUT_API void HubJoystickButton(int id, int button, bool down);
ORVANE_DINPUT_API void HubJoystickPov(int id, int pov, uint32_t value);
// Forgets every key, joystick and device (tests).
ORVANE_DINPUT_API void HubReset();
// How many GetDeviceState calls reached the hub (tests count polls with it).
ORVANE_DINPUT_API uint64_t HubStateReads();

}  // namespace orvane::dinput
