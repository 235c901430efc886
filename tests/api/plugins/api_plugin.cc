// The API's test plug-in, built from the public header alone: it binds every export by name from
// the path the engine hands it and announces functions that call some of them.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>

#include "api/ov_api.h"
#include "platform/host.h"
#include "platform/mmsystem.h"
#include "platform/win32.h"

#define PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

HMODULE g_engine = nullptr;

// Every export, bound by name.
struct Exports {
#define OV_EXPORT(position, name, return_type, params) OvFn_##name name = nullptr;
#include "api/export_list.h"
#undef OV_EXPORT
} g_ov;

int Bind() {
  int bound = 0;
#define OV_EXPORT(position, name, return_type, params)                        \
  g_ov.name = reinterpret_cast<OvFn_##name>(GetProcAddress(g_engine, #name)); \
  if (g_ov.name) ++bound;
#include "api/export_list.h"
#undef OV_EXPORT
  return bound;
}

void Trace(const char* text) {
  orvane::host::RecordTrace(std::string("apiplugin ") + text);
}

const char* const kNames[] = {"probe",    "quit",  "filecases", "fileshare", "scene",       "media",
                              "netprobe", "movie", "drawscene", "waitloop",  "waitendless", "textline"};

}  // namespace

PLUGIN_EXPORT uint32_t ovGetVersion() {
  return 0x100;
}

// Binds the module at the path; the plug-in works only when every export is there.
PLUGIN_EXPORT int32_t ovLoadSystem(const char* engine_path) {
  g_engine = LoadLibraryA(engine_path);
  if (!g_engine) return 0;
  const int bound = Bind();
  char line[64];
  std::snprintf(line, sizeof line, "bound=%d", bound);
  Trace(line);
  if (bound == kOvExportCount) return 1;
  FreeLibrary(g_engine);
  g_engine = nullptr;
  return 0;
}

PLUGIN_EXPORT void ovUnloadSystem() {
  if (g_engine) FreeLibrary(g_engine);
  g_engine = nullptr;
}

PLUGIN_EXPORT uint32_t ovGetFunction(char* buffer, uint32_t size, uint32_t index) {
  if (index >= sizeof kNames / sizeof kNames[0]) return 0;
  const size_t n = std::strlen(kNames[index]);
  if (!buffer) return static_cast<uint32_t>(n);
  if (n + 1 > size) return 0;
  std::memcpy(buffer, kNames[index], n + 1);
  return 1;
}

// Calls exports of several families from inside CallPlugin and reports what they gave.
PLUGIN_EXPORT int32_t probe(int32_t argument) {
  g_ov.ovSetFPS(60);
  char slash[264];
  g_ov.ovConvSlashPath(slash, "a\\b");
  const int32_t r = g_ov.ovRandom(4, 5);
  // An export of a later family gives its failure value.
  const OvSize size = g_ov.ovGetImageSize(nullptr);
  char line[512];
  std::snprintf(line, sizeof line, "probe %d delay=%.6f slash=%s random=%d isexit=%d size=%d,%d", argument,
                static_cast<double>(g_ov.ovGetDelayTime()), slash, r, g_ov.ovIsExit(), size.width,
                size.height);
  Trace(line);
  return 7;
}

PLUGIN_EXPORT int32_t quit(int32_t) {
  return 0;
}

// The game's sound and music exports in the order it calls them (a stream of a prelude and a
// body, an effect sound), then hostile arguments; every handle is given back.
PLUGIN_EXPORT int32_t media(int32_t) {
  ApiHandle* stream = g_ov.ovCreateStream();
  const int32_t prelude = g_ov.ovAddStreamList(stream, "bgm\\intro.wav", 0, 0.0f, 0);
  const int32_t body = g_ov.ovAddStreamList(stream, "bgm/missing.wav", -1, 1.5f, 1);
  g_ov.ovPlayStream(stream);
  ApiHandle* sound = g_ov.ovLoadSound("se.wav", 1);
  g_ov.ovPlaySound(sound, 0);
  g_ov.ovStopStream(stream);
  g_ov.ovDestroyStream(stream);
  g_ov.ovDestroySound(sound);

  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  const std::string huge(64 * 1024, 'x');
  int failures = 0;
  failures += g_ov.ovLoadSound(nullptr, 1) != nullptr;
  failures += g_ov.ovLoadSound(huge.c_str(), INT32_MIN) != nullptr;
  failures += g_ov.ovLoadSound3D(huge.c_str()) != nullptr;
  failures += g_ov.ovAddMidiList(nullptr, INT32_MIN, nan, INT32_MIN) != 0;
  failures += g_ov.ovAddMidiList(huge.c_str(), 0, inf, 0) != 0;
  ApiHandle* s3 = g_ov.ovLoadSound3D("se.wav");
  g_ov.ovSetSoundPos(s3, nan, inf, 1e30f);
  g_ov.ovSetSoundCone(s3, nan, -inf, 1e30f, nan, 0, 0);
  g_ov.ovSetSoundDistance(s3, -inf, nan);
  g_ov.ovSetSound3DMode(s3, INT32_MIN);
  g_ov.ovPlaySound(s3, INT32_MIN);
  g_ov.ovSetSoundListenerDir(nan, nan, nan, inf, inf, inf);
  g_ov.ovSetSoundRolloffFactor(nan);
  g_ov.ovCommitSound3D();
  g_ov.ovDestroySound(s3);
  ApiHandle* s = g_ov.ovCreateStream();
  failures += g_ov.ovAddStreamList(s, nullptr, 0, nan, 0) != 0;
  failures += g_ov.ovAddStreamList(s, huge.c_str(), INT32_MIN, -inf, INT32_MIN) != 0;
  failures += g_ov.ovAddStreamList(s, "damaged.wav", 0, 0.0f, 0) != 0;
  failures += g_ov.ovAddMidiList("damaged.wav", 0, 0.0f, 0) != 0;
  g_ov.ovDestroySound(g_ov.ovLoadSound("damaged.wav", 4));  // without a sound device it loads
  g_ov.ovPlayStream(s);
  g_ov.ovDestroyStream(s);
  g_ov.ovSetMidiSpeed(nan);
  g_ov.ovFadeinMidi(INT32_MIN, INT32_MIN);

  char line[128];
  std::snprintf(line, sizeof line, "media sound=%d stream=%d prelude=%d body=%d hostile=%d", sound != nullptr,
                stream != nullptr, prelude, body, failures);
  Trace(line);
  return 1;
}

namespace {

std::string Shown(const char* text) {
  return text ? std::string("\"") + text + "\"" : std::string("null");
}

// Appends "name=value " to the line.
void Put(std::string& line, const char* name, const std::string& value) {
  line += name;
  line += '=';
  line += value;
  line += ' ';
}

}  // namespace

// The file cases through the bound exports, on files the host wrote beside the program; one
// trace line of results.
PLUGIN_EXPORT int32_t filecases(int32_t) {
  // Each call is its own statement: the order of the calls is part of each case.
  std::string line = "filecases ";
  std::string r;
  ApiHandle* f = g_ov.ovCreateFile("crlf.txt", 1);
  for (int i = 0; i < 3; ++i) r += Shown(g_ov.ovReadFileLine(f)) + ",";
  r += std::to_string(g_ov.ovTellFile(f));
  Put(line, "crlf", r);
  g_ov.ovDestroyFile(f);

  f = g_ov.ovCreateFile("nul.txt", 1);
  r = Shown(g_ov.ovReadFileString(f));
  r += "," + Shown(g_ov.ovReadFileString(f));
  Put(line, "strings", r);
  g_ov.ovDestroyFile(f);

  f = g_ov.ovCreateFile("long.txt", 1);
  r.clear();
  for (const char* t; (t = g_ov.ovReadFileLine(f)) != nullptr;) r += std::to_string(std::strlen(t)) + ",";
  Put(line, "long", r);
  g_ov.ovDestroyFile(f);

  f = g_ov.ovCreateFile("lead.txt", 1);
  r = Shown(g_ov.ovReadFileLine(f));
  r += "," + Shown(g_ov.ovReadFileLine(f));
  Put(line, "lead", r);
  g_ov.ovDestroyFile(f);

  f = g_ov.ovCreateFile("n.bin", 1);
  int32_t n = 0x5A5A5A5A;
  char hex[64];
  const int ok = g_ov.ovReadFileNumber(&n, f);
  n = 0x11;
  const int again = g_ov.ovReadFileNumber(&n, f);  // at the end: n stays
  std::snprintf(hex, sizeof hex, "%d,%d,0x%08X", ok, again, static_cast<unsigned>(n));
  Put(line, "number", hex);
  g_ov.ovRewindFile(f);
  g_ov.ovReadFileNumber(&n, f);
  std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(n));
  Put(line, "value", hex);
  g_ov.ovDestroyFile(f);

  f = g_ov.ovCreateFile("h.bin", 1);
  const struct { int32_t offset, origin; } seeks[] = {{-4, 2}, {-101, 2}, {5, 2}};
  r.clear();
  for (const auto& s : seeks) {
    r += std::to_string(g_ov.ovSeekFile(f, s.offset, s.origin));
    r += ":" + std::to_string(g_ov.ovTellFile(f)) + ",";
    if (g_ov.ovTellFile(f) < 0) g_ov.ovRewindFile(f);
  }
  char block[2048];
  r += "data2000=" + std::to_string(g_ov.ovReadFileData(block, 2000, f));
  Put(line, "seeks", r);
  g_ov.ovDestroyFile(f);

  f = g_ov.ovCreateFile("w.bin", 6);
  r = std::to_string(g_ov.ovWriteFileNumber(f, -1));
  r += std::to_string(g_ov.ovWriteFileLine(f, "5"));
  Put(line, "write", r);
  g_ov.ovDestroyFile(f);

  r.clear();
  for (int mode : {1, 2, 3, 4, 5, 6, 7}) {
    const std::string name = "mode" + std::to_string(mode);
    f = g_ov.ovCreateFile(name.c_str(), mode);
    r += std::to_string(f != nullptr);
    if (f) g_ov.ovDestroyFile(f);
  }
  Put(line, "new", r);
  r = std::to_string(g_ov.ovCreateFile(nullptr, 1) == nullptr);
  r += std::to_string(g_ov.ovIsFileExist(nullptr));
  r += std::to_string(g_ov.ovCopyFile("w.bin", "w.bin"));
  Put(line, "null", r);
  Trace(line.c_str());
  return 1;
}

// First call: opens "shared.txt" and writes a line; second call: reads the next line (written by
// the script meanwhile) and destroys the handle.
PLUGIN_EXPORT int32_t fileshare(int32_t) {
  static ApiHandle* shared = nullptr;
  std::string line = "fileshare ";
  if (!shared) {
    shared = g_ov.ovCreateFile("shared.txt", 3);
    Put(line, "write", std::to_string(g_ov.ovWriteFileLine(shared, "from plugin")));
  } else {
    Put(line, "read", Shown(g_ov.ovReadFileLine(shared)));
    g_ov.ovDestroyFile(shared);
    shared = nullptr;
  }
  Trace(line.c_str());
  return 1;
}

// Draws a TSS scene through the bound `ovts` exports: a loaded and a made image, levels, a parent,
// a turn about the centre, additive blending, a wipe at half level in both directions and a
// captured frame on a sprite; then renders and shows it. Traces what the makers and frames gave.
PLUGIN_EXPORT int32_t scene(int32_t) {
  ApiHandle* picture = g_ov.ovtsLoadImage(0, 0, "scene\\pic.bmp", 0);
  ApiHandle* made = g_ov.ovtsCreateImage(6, 6);
  g_ov.ovtsFillImage(made, 0.0f, 0.5f, 1.0f, 1.0f);
  g_ov.ovtsFillImageRect(made, 1, 1, 2, 2, 1.0f, 1.0f, 0.0f, 1.0f);
  ApiHandle* wipe = g_ov.ovtsLoadWipe("scene/wipe.bmp");
  g_ov.ovtsSetWipeLevel(wipe, 128.0f / 255.0f);

  ApiHandle* back = g_ov.ovtsCreateSprite(made, 0, 0);
  g_ov.ovtsSetSpriteSize(back, 48, 36);
  ApiHandle* parent = g_ov.ovtsCreateSprite(picture, 1, 0);
  g_ov.ovtsSetSpritePos(parent, 4, 4);
  ApiHandle* child = g_ov.ovtsCreateSprite(picture, 2, 0);
  g_ov.ovtsConnectSprite(child, parent);
  g_ov.ovtsSetSpritePos(child, 10, 2);
  g_ov.ovtsSetSpritePivot(child, 0.5f, 0.5f);
  g_ov.ovtsRotateSpriteZ(child, 90.0f);
  g_ov.ovtsSetSpriteBlend(child, 1);
  for (int32_t corner = 0; corner < 4; ++corner) g_ov.ovtsSetSpriteColorA(child, corner, 0.5f);
  ApiHandle* fade_out = g_ov.ovtsCreateSprite(picture, 3, 0);
  g_ov.ovtsSetSpritePos(fade_out, 26, 2);
  g_ov.ovtsSetSpriteWipe(fade_out, wipe, 0);
  g_ov.ovtsSetSpriteBlend(fade_out, 1);
  ApiHandle* fade_in = g_ov.ovtsCreateSprite(picture, 3, 0);
  g_ov.ovtsSetSpritePos(fade_in, 26, 14);
  g_ov.ovtsSetSpriteWipe(fade_in, wipe, 1);
  g_ov.ovtsSetSpriteBlend(fade_in, 1);
  const int32_t first = g_ov.ovtsRender();

  ApiHandle* frame = g_ov.ovtsCreateDynamicImage(16, 16);
  g_ov.ovtsGetRenderImage(frame);
  ApiHandle* shot = g_ov.ovtsCreateSprite(frame, 4, 0);
  g_ov.ovtsSetSpritePos(shot, 30, 22);
  g_ov.ovtsSetSpriteSize(shot, 12, 12);
  const int32_t shown = g_ov.ovtsRenderScreen();
  const OvPoint abs = g_ov.ovtsGetSpriteAbsPos(child);

  char line[200];
  std::snprintf(line, sizeof line, "scene handles=%d%d%d%d%d%d%d%d%d render=%d screen=%d abs=%d,%d level=%d",
                picture != nullptr, made != nullptr, wipe != nullptr, back != nullptr, parent != nullptr,
                child != nullptr, fade_out != nullptr, frame != nullptr, shot != nullptr, first, shown, abs.x,
                abs.y, g_ov.ovtsGetSpriteLevel(shot));
  Trace(line);
  for (ApiHandle* s : {back, parent, child, fade_out, fade_in, shot}) g_ov.ovtsDestroySprite(s);
  g_ov.ovtsDestroyWipe(wipe);
  for (ApiHandle* i : {picture, made, frame}) g_ov.ovtsDestroyImage(i);
  return 1;
}

// A loopback pair made through the exports alone: listen, connect, accept, then one number, one
// float, one line and raw bytes each way, received with the destination first and the net last.
// Each wait call pumps the engine's messages once, so the loops poll with short naps.
PLUGIN_EXPORT int32_t netprobe(int32_t) {
  ApiHandle* listener = nullptr;
  int32_t port = 44500;
  for (; port < 65000 && !listener; ++port) listener = g_ov.ovBindNet(port, 5);
  --port;
  ApiHandle* client = listener ? g_ov.ovConnectNet("127.0.0.1", port, 0) : nullptr;
  ApiHandle* server = nullptr;
  const timespec nap{0, 1000000};
  for (int i = 0; i < 3000 && client && !server; ++i) {
    server = g_ov.ovAcceptNet(listener, 1);
    if (!server) nanosleep(&nap, nullptr);
  }
  int32_t number = 0;
  float value = 0;
  char data[3] = {};
  const char* line = nullptr;
  int sent = 0;
  if (server) {
    g_ov.ovSetNetModeWait(client, 0);
    g_ov.ovSetNetModeWait(server, 0);
    sent = g_ov.ovSendNetNumber(server, -2) + g_ov.ovSendNetFloat(server, 1.5f) +
           g_ov.ovSendNetString(server, "a\rb") + g_ov.ovSendNetData(server, "xyz", 3);
    for (int i = 0; i < 3000 && !g_ov.ovRecvNetNumber(&number, client); ++i) nanosleep(&nap, nullptr);
    for (int i = 0; i < 3000 && !g_ov.ovRecvNetFloat(&value, client); ++i) nanosleep(&nap, nullptr);
    for (int i = 0; i < 3000 && !(line = g_ov.ovRecvNetString(client)); ++i) nanosleep(&nap, nullptr);
    for (int i = 0; i < 3000 && !g_ov.ovRecvNetData(data, 3, client); ++i) nanosleep(&nap, nullptr);
  }
  char text[256];
  std::snprintf(text, sizeof text, "net sent=%d number=%d float=%.2f line=%s data=%.3s connect=%d accept=%d",
                sent, number, static_cast<double>(value), line ? line : "<none>", data,
                g_ov.ovIsNetConnect(client), g_ov.ovIsNetAccept(listener));
  Trace(text);
  g_ov.ovDestroyNet(server);
  g_ov.ovDestroyNet(client);
  g_ov.ovDestroyNet(listener);
  return 1;
}

// The game's wait loop: clear the waiter, the keys and the mouse, wake on keys and mouse, then
// alternate a bare pass and a 25 ms slice until something arrives or the engine is asked to end.
// Traces how it woke, after how many waits and milliseconds, when, and the first key event.
PLUGIN_EXPORT int32_t waitloop(int32_t) {
  g_ov.ovClearEvent();
  g_ov.ovClearKey();
  g_ov.ovClearMouse();
  g_ov.ovWaitKeyEvent(1);
  g_ov.ovWaitMouseEvent(1);
  const uint32_t start = timeGetTime();
  int32_t woken = 0, waits = 0;
  while (!woken && !g_ov.ovIsExit() && waits < 400) woken = g_ov.ovWaitEvent(waits++ % 2 ? 25 : 0);
  const uint32_t end = timeGetTime();
  int32_t key = 0, state = 0;
  const int32_t got = g_ov.ovGetKeyEvent(&key, &state);
  char line[160];
  std::snprintf(line, sizeof line, "waitloop woken=%d waits=%d ms=%u end=%u key=%d:%d,%d exit=%d", woken,
                waits, end - start, end, got, key, state, g_ov.ovIsExit());
  Trace(line);
  return 1;
}

// An endless event wait that also wakes on keys: the end of every task (the engine asked to exit)
// or a key ends it. Traces the wait's result and the exit flag.
PLUGIN_EXPORT int32_t waitendless(int32_t) {
  g_ov.ovClearEvent();
  g_ov.ovClearKey();
  g_ov.ovWaitKeyEvent(1);
  const int32_t woken = g_ov.ovWaitEvent(-1);
  char line[64];
  std::snprintf(line, sizeof line, "waitendless woken=%d exit=%d", woken, g_ov.ovIsExit());
  Trace(line);
  return 1;
}

// A message line laid out as the game does: each character rendered, measured and written into
// the alpha of a TSS image (filled with the text colour at alpha 0), advancing by its feed; the
// image is shown on an alpha-blended sprite and the frame presented.
PLUGIN_EXPORT int32_t textline(int32_t) {
  ApiHandle* set = g_ov.ovCreateChar("ＭＳ ゴシック", 12, 3, 0, 1, 0x20);
  ApiHandle* image = g_ov.ovtsCreateImage(48, 16);
  g_ov.ovtsFillImageRect(image, 0, 0, 48, 16, 1.0f, 0.875f, 0.25f, 0.0f);
  const auto* text = reinterpret_cast<const unsigned char*>("Aあ表ｱ g");
  int32_t x = 1, drawn = 0, height = g_ov.ovGetCharHeight(set);
  for (size_t i = 0; text[i];) {
    uint32_t code = text[i++];
    if ((code >= 0x81 && code <= 0x9F) || (code >= 0xE0 && code <= 0xFC)) code = code << 8 | text[i++];
    if (!g_ov.ovRenderChar(set, code)) continue;
    const OvSize box = g_ov.ovGetCharBoxSize(set);
    const OvPoint at = g_ov.ovGetCharDrawPos(set);
    if (box.width > 0) {
      g_ov.ovtsDrawChar(image, x + at.x, 1 + at.y, set);
      ++drawn;
    }
    x += g_ov.ovGetCharFeedSize(set).width;
  }
  ApiHandle* sprite = g_ov.ovtsCreateSprite(image, 0, 0);
  g_ov.ovtsSetSpritePos(sprite, 0, 10);
  g_ov.ovtsSetSpriteBlend(sprite, 1);
  const int32_t shown = g_ov.ovtsRenderScreen();
  char line[120];
  std::snprintf(line, sizeof line, "textline drawn=%d x=%d height=%d screen=%d", drawn, x, height, shown);
  Trace(line);
  g_ov.ovtsDestroySprite(sprite);
  g_ov.ovtsDestroyImage(image);
  g_ov.ovDestroyChar(set);
  return 1;
}

namespace {

// FNV-1a over every pixel's channels as ovGetImageColor gives them, row by row.
uint32_t ImageHash(ApiHandle* image, OvSize size) {
  uint32_t h = 2166136261u;
  for (int32_t y = 0; y < size.height; ++y)
    for (int32_t x = 0; x < size.width; ++x) {
      const OvColor c = g_ov.ovGetImageColor(image, x, y);
      for (uint8_t v : {c.r, c.g, c.b}) h = (h ^ v) * 16777619u;
    }
  return h;
}

}  // namespace

// A movie through the exports: its frame image while it plays (the first frame, settled), pause,
// stop, handles of another kind and null, and the image after the movie is destroyed.
PLUGIN_EXPORT int32_t movie(int32_t) {
  ApiHandle* movie = g_ov.ovLoadMovie("clip.mkv");
  ApiHandle* image = g_ov.ovGetMovieImage(movie);
  const OvSize size = g_ov.ovGetImageSize(image);
  const int32_t play = g_ov.ovPlayMovie(movie, 0);
  const int32_t playing = g_ov.ovIsMoviePlay(movie);
  // The renderer writes frames on its own thread: wait until a non-black picture stays the same.
  const uint32_t black = ImageHash(image, size);
  uint32_t frame = black;
  const timespec nap{0, 2000000};
  for (int i = 0; i < 1500; ++i) {
    const uint32_t now = ImageHash(image, size);
    if (now != black && now == frame) break;
    frame = now;
    nanosleep(&nap, nullptr);
  }
  const int32_t pause = g_ov.ovPauseMovie(movie);
  const int32_t paused = g_ov.ovIsMoviePlay(movie);
  const int32_t stop = g_ov.ovStopMovie(movie);
  const int32_t other = g_ov.ovPlayMovie(image, 1) + g_ov.ovIsMoviePlay(image) + g_ov.ovPauseMovie(image) +
                        g_ov.ovStopMovie(image) + (g_ov.ovGetMovieImage(image) != nullptr);
  const int32_t null = g_ov.ovPlayMovie(nullptr, 0) + (g_ov.ovLoadMovie(nullptr) != nullptr) +
                       (g_ov.ovGetMovieImage(nullptr) != nullptr);
  g_ov.ovDestroyMovie(image);  // another kind: refused, the image stays
  g_ov.ovDestroyMovie(movie);
  const OvSize kept = g_ov.ovGetImageSize(image);
  const uint32_t last = ImageHash(image, size);
  g_ov.ovDestroyImage(image);

  char line[256];
  std::snprintf(line, sizeof line,
                "movie size=%d,%d play=%d playing=%d frame=%08x pause=%d paused=%d stop=%d other=%d null=%d "
                "kept=%d,%d same=%d",
                size.width, size.height, play, playing, frame, pause, paused, stop, other, null, kept.width,
                kept.height, last == frame);
  Trace(line);
  return 1;
}

// The Draw scene through the bound exports: a keyed sprite over a filled background, a layer made by
// ovConvAlphaImage from a blue ramp and blended, a mirrored, a stretched and a wiped copy of a row,
// then one ovRenderSpriteScreen. "ramp.bmp" beside the script is the wipe pattern. Traces which
// makers gave a handle; every handle is given back after the frame is shown.
PLUGIN_EXPORT int32_t drawscene(int32_t) {
  g_ov.ovSetSpriteLevel(4);
  ApiHandle* bg = g_ov.ovCreateImage(640, 480, 0, 0);
  g_ov.ovFillImage(bg, 3, 6, 9);
  ApiHandle* key = g_ov.ovCreateImage(20, 20, 1, 0);
  g_ov.ovFillImage(key, 31, 0, 31);
  g_ov.ovFillImageRect(key, 5, 5, 10, 10, 10, 20, 30);
  g_ov.ovSetImageTrans(key, 1, 31, 0, 31);
  g_ov.ovSetImagePos(key, 30, 40);
  ApiHandle* blue = g_ov.ovCreateImage(16, 8, 0, 8);
  for (int32_t x = 0; x < 16; ++x) g_ov.ovDrawImageLine(blue, x, 0, x, 7, 0, 0, static_cast<uint8_t>(2 * x));
  ApiHandle* layer = g_ov.ovCreateImage(16, 8, 2, 0);
  g_ov.ovFillImage(layer, 31, 31, 0);
  g_ov.ovConvAlphaImage(layer, 0, 0, 16, 8, blue, 0, 0);
  g_ov.ovSetImageBlend(layer, 2);
  g_ov.ovSetImagePos(layer, 100, 100);
  ApiHandle* row = g_ov.ovCreateImage(4, 1, 0, 8);
  for (int32_t x = 0; x < 4; ++x)
    g_ov.ovPutImageColor(row, x, 0, static_cast<uint8_t>(x * 8 + 1), 3, static_cast<uint8_t>(31 - x));
  ApiHandle* mirror = g_ov.ovCreateImage(4, 1, 1, 0);
  g_ov.ovBltImageMirror(mirror, 0, 0, 4, 1, row, 0, 0, 1);
  g_ov.ovSetImagePos(mirror, 200, 10);
  ApiHandle* stretch = g_ov.ovCreateImage(8, 2, 1, 0);
  g_ov.ovBltImageStretch(stretch, 0, 0, 8, 2, row, 0, 0, 4, 1, 0);
  g_ov.ovSetImagePos(stretch, 300, 10);
  ApiHandle* wipe = g_ov.ovLoadWipe("ramp.bmp", 0);
  ApiHandle* wiped = g_ov.ovCreateImage(4, 1, 1, 0);
  g_ov.ovFillImage(wiped, 0, 0, 0);
  g_ov.ovBltImageWipe(wiped, 0, 0, 4, 1, row, 0, 0, wipe, 0.5f, 1);
  g_ov.ovSetImagePos(wiped, 400, 10);
  g_ov.ovDestroyWipe(wipe);
  g_ov.ovRenderSpriteScreen();

  ApiHandle* const images[] = {bg, key, blue, layer, row, mirror, stretch, wiped};
  std::string line = "drawscene handles=";
  for (ApiHandle* h : images) line += h ? '1' : '0';
  line += wipe ? '1' : '0';
  Trace(line.c_str());
  for (ApiHandle* h : images) g_ov.ovDestroyImage(h);
  return 1;
}
