// Joysticks of the SDL host: SDL's joystick events feed the DirectInput hub. Axes become
// 0..65535, hats POV angles, names cp932. Without joystick support none is attached.
#include <map>

#include "platform/dinput.h"
#include "platform/host_sdl_internal.h"

namespace orvane::host {
namespace {

struct Open {
  SDL_Joystick* joystick;
  int hub_id;
};
std::map<SDL_JoystickID, Open> g_open;

DWORD HatToPov(Uint8 hat) {
  switch (hat) {
    case SDL_HAT_UP:
      return 0;
    case SDL_HAT_RIGHTUP:
      return 4500;
    case SDL_HAT_RIGHT:
      return 9000;
    case SDL_HAT_RIGHTDOWN:
      return 13500;
    case SDL_HAT_DOWN:
      return 18000;
    case SDL_HAT_LEFTDOWN:
      return 22500;
    case SDL_HAT_LEFT:
      return 27000;
    case SDL_HAT_LEFTUP:
      return 31500;
    default:
      return 0xFFFFFFFFu;
  }
}

int HubId(SDL_JoystickID which) {
  auto it = g_open.find(which);
  return it == g_open.end() ? 0 : it->second.hub_id;
}

}  // namespace

void SdlJoystickInit() {
  SDL_InitSubSystem(SDL_INIT_JOYSTICK);  // a failure only means no joysticks
}

void SdlJoystickQuit() {
  for (auto& [which, o] : g_open) {
    dinput::HubDetachJoystick(o.hub_id);
    SDL_JoystickClose(o.joystick);
  }
  g_open.clear();
  if (SDL_WasInit(SDL_INIT_JOYSTICK)) SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
}

bool SdlJoystickEvent(const SDL_Event& e) {
  switch (e.type) {
    case SDL_JOYDEVICEADDED: {
      SDL_Joystick* j = SDL_JoystickOpen(e.jdevice.which);
      if (!j) return true;
      SDL_JoystickID which = SDL_JoystickInstanceID(j);
      if (g_open.count(which)) return true;
      const char* name = SDL_JoystickName(j);
      std::string cp932 = Utf8ToCp932(name ? name : "");
      int axes = SDL_JoystickNumAxes(j), buttons = SDL_JoystickNumButtons(j), hats = SDL_JoystickNumHats(j);
      int id = dinput::HubAttachJoystick(cp932.c_str(), axes, buttons, hats);
      g_open[which] = {j, id};
      for (int a = 0; a < axes && a < 6; ++a)
        dinput::HubJoystickAxis(id, a, SDL_JoystickGetAxis(j, a) + 32768);
      return true;
    }
    case SDL_JOYDEVICEREMOVED: {
      auto it = g_open.find(e.jdevice.which);
      if (it != g_open.end()) {
        dinput::HubDetachJoystick(it->second.hub_id);
        SDL_JoystickClose(it->second.joystick);
        g_open.erase(it);
      }
      return true;
    }
    case SDL_JOYAXISMOTION:
      dinput::HubJoystickAxis(HubId(e.jaxis.which), e.jaxis.axis, e.jaxis.value + 32768);
      return true;
    case SDL_JOYBUTTONDOWN:
    case SDL_JOYBUTTONUP:
      dinput::HubJoystickButton(HubId(e.jbutton.which), e.jbutton.button, e.type == SDL_JOYBUTTONDOWN);
      return true;
    case SDL_JOYHATMOTION:
      dinput::HubJoystickPov(HubId(e.jhat.which), e.jhat.hat, HatToPov(e.jhat.value));
      return true;
    default:
      return false;
  }
}

}  // namespace orvane::host
