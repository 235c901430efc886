// A fake of the engine's exported API for the game's tests, generated from the export list.
//
// Every export has a slot; the fake binds a slot function for each name. Modelled exports
// (messages, the exit flag, reading files from an in-memory file system, path joining) behave as
// the engine's do; an export that is not modelled fails the running test when it is called. A
// test may put its own function into any slot. Engine objects are handles that record their kind,
// so a wrong kind, a double destroy or a leak fails the test.
//
// Time is the platform's virtual clock, installed by the fake: it moves only inside ovWaitEvent,
// which advances it to the next scripted input or by the wait's time (at least 1 ms), and wakes
// on key and mouse events as the engine's event wait does.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "api/ov_api.h"
#include "platform/wintypes.h"

namespace orvane_test {

// One function per export, named like the export.
struct FakeExports {
#define OV_EXPORT(position, name, return_type, params) OvFn_##name name;
#include "api/export_list.h"
#undef OV_EXPORT
};

class FakeEngine {
 public:
  struct Message {
    std::string text;
    std::string caption;
    int32_t flag;
  };

  // Becomes the current fake (one at a time).
  FakeEngine();
  // Fails the test for every handle that was not destroyed.
  ~FakeEngine();
  FakeEngine(const FakeEngine&) = delete;
  FakeEngine& operator=(const FakeEngine&) = delete;

  // The current fake; fails the test and returns null when there is none.
  static FakeEngine* Current();
  // Binding by name: the current fake's slot for an export name, null for any other name. The
  // context is not used.
  static void* Lookup(void* context, const char* name);

  // The slots; a test may replace any of them with a function of the same signature.
  FakeExports& Exports() { return exports_; }

  // Every export called, in order (modelled or not).
  const std::vector<std::string>& Calls() const { return calls_; }
  void ClearCalls() { calls_.clear(); }
  void Record(const char* name) { calls_.push_back(name); }

  // ovMessage: every box shown, and the answer it gives (0: OK or Yes, 1: No).
  const std::vector<Message>& Messages() const { return messages_; }
  void SetMessageAnswer(int32_t answer) { message_answer_ = answer; }
  // ovIsExit's answer; or true from a time of the virtual clock on.
  void SetExit(bool exiting) { exiting_ = exiting; }
  void SetExitAt(DWORD time);

  // The virtual clock (timeGetTime) starts at kClockStart; SetClock restarts it at a time.
  static constexpr DWORD kClockStart = 100000;
  void SetClock(DWORD time);
  DWORD Now() const;

  // Scripted input at times of the virtual clock, delivered when ovWaitEvent reaches the time
  // (inputs already due are delivered by the next ovWaitEvent). A key press or release sets the
  // key's state and joins the buffered key events; a mouse event (kinds 0 to 7 of the engine)
  // joins the live mouse queue and moves the cursor there (except kind 7); a position only moves
  // the cursor.
  void ScriptKey(DWORD time, int32_t key, bool pressed);
  void ScriptMouse(DWORD time, int32_t kind, int32_t x, int32_t y);
  void ScriptMousePos(DWORD time, int32_t x, int32_t y);
  // ovSetMousePos calls, in order.
  const std::vector<std::pair<int32_t, int32_t>>& MousePosSets() const { return mouse_sets_; }
  // More ovWaitEvent calls than this fail the test and make ovIsExit true from then on, so a
  // wait that nothing ends cannot hang the test.
  static constexpr int kRunawayWaits = 100000;

  // The in-memory file system that ovCreateFile (mode 1), ovReadFileLine, ovDestroyFile and
  // ovIsFileExist work on; paths are compared byte for byte.
  void AddFile(const std::string& path, const std::string& bytes) { files_[path] = bytes; }
  void RemoveFile(const std::string& path) { files_.erase(path); }
  // File objects open now.
  int OpenFileCount() const;
  // The members of the data archive: once ovSetDataFile names a file of the disk set above, the
  // file exports see only these (ovSetDataFile logs its path and returns 0 for a missing file).
  void AddArchiveFile(const std::string& path, const std::string& bytes) { archive_files_[path] = bytes; }
  bool ArchiveMounted() const { return archive_mounted_; }
  // The window caption as ovSetTitle set it last ("" before any); each call is logged with it.
  const std::string& Title() const { return title_; }

  // An entry of a stream's list (ovAddStreamList's arguments).
  struct StreamEntry {
    std::string path;
    int32_t repeat;
    float loop_seconds;
    int32_t flags;
  };

  // Handles: a new one of a kind; the record behind a handle when it is live and of that kind
  // (otherwise the test fails and the result is null); destroying one (a second destroy fails).
  struct Handle {
    std::string kind;
    bool live = true;
    std::string path;              // files: the path opened
    size_t position = 0;           // files: next byte to read
    bool error = false;            // files: the end was read
    std::unique_ptr<char[]> line;  // files: the last line handed out
    // Images ("image"; "dynamic image"): the picture's path, load flags, source and window size,
    // the colour of the last whole fill.
    int32_t flags = 0;
    int32_t source_w = 0, source_h = 0, window_w = 0, window_h = 0;
    bool filled = false;
    float fill[4] = {};
    int32_t level = 0;                 // wipes: 0 to 255 (255 after loading); sprites: engine level
    ApiHandle* image = nullptr;        // sprites: the image shown
    int32_t voices = 0;                // sounds
    int32_t image_x = 0, image_y = 0;  // images: the window's place in the source
    int32_t lost_reported = 0;         // images: losses reported by ovtsIsImageLost
    // Sprites: the state the TSS exports set.
    int32_t x = 0, y = 0, w = 0, h = 0;
    int32_t map[4] = {};
    float pivot[2] = {};
    std::vector<std::string> rotation;  // rotations since the last ovtsRotateSpriteNone
    float alpha[4] = {1, 1, 1, 1};
    int32_t blend = 0;
    ApiHandle* parent = nullptr;
    ApiHandle* wipe = nullptr;
    int32_t direction = 0;
    uint64_t order = 0;                    // place in its level's list
    std::vector<int32_t> values;           // character sets: the values after the face name
    uint32_t glyph = 0;                    // character sets: the code rendered last
    bool rendered = false;                 // character sets: a glyph is current
    std::vector<uint8_t> pixels;           // made images: RGBA, row by row (the canvas model)
    std::vector<StreamEntry> stream_list;  // streams: the entries accepted
    bool playing = false;                  // streams: between ovPlayStream and ovStopStream
    int32_t plays = 0;                     // sounds: ovPlaySound calls
  };
  ApiHandle* NewHandle(const std::string& kind);
  Handle* Check(ApiHandle* handle, const std::string& kind, const char* export_name);
  void Destroy(ApiHandle* handle, const std::string& kind, const char* export_name);

  // The record behind a handle the fake made (live or not), null for any other value.
  const Handle* Inspect(ApiHandle* handle) const;
  // Live handles of a kind.
  int LiveCount(const std::string& kind) const;
  // The next `times` calls of a maker export (ovtsLoadImage, ovtsCreateImage,
  // ovtsCreateDynamicImage, ovtsLoadWipe, ovtsCreateSprite, ovCreateChar, ovLoadSound) fail.
  void Refuse(const std::string& export_name, int times = 1) { refusals_[export_name] = times; }

  // Picture files of a size for the in-memory file system: the headers are all the fake reads.
  static std::string PngFile(int32_t width, int32_t height);
  static std::string BmpFile(int32_t width, int32_t height);
  static std::string JpegFile(int32_t width, int32_t height);
  // The size in a PNG, BMP or JPEG header; false for anything else.
  static bool PictureSize(const std::string& bytes, int32_t& width, int32_t& height);

  // What one successful ovtsRenderScreen showed: the shown sprites in drawing order (level, then
  // the order of their level's list) with their state; positions are absolute.
  struct FrameSprite {
    ApiHandle* sprite;
    ApiHandle* image;
    std::string image_name;  // the picture's path; "" for made images
    int32_t x, y, w, h, level;
    int32_t image_x, image_y;
    int32_t map[4];
    float pivot[2];
    std::vector<std::string> rotation;
    float alpha[4];
    int32_t blend;
    ApiHandle* wipe;
    int32_t direction;
    int32_t wipe_level;
  };
  struct Frame {
    DWORD time;
    std::vector<FrameSprite> sprites;
  };
  const std::vector<Frame>& Frames() const { return frames_; }
  // The next n ovtsRenderScreen calls fail.
  void FailRenders(int n) { failing_renders_ = n; }
  // From this time of the clock on every image reports one loss at its next ovtsIsImageLost.
  void LoseImagesAt(DWORD time) {
    lose_images_ = true;
    lose_at_ = time;
  }
  // Full screen as ovSetFullscreen set it last (ovIsFullscreen's answer).
  bool Fullscreen() const { return fullscreen_; }
  // Streams: ovCreateStream makes a "stream" handle (the next n creations fail), ovAddStreamList
  // appends an entry to its list unless the path is refused, ovPlayStream and ovStopStream set
  // whether it plays. Every stream call is in the call log with its arguments.
  void RefuseStreamPath(const std::string& path) { refused_stream_paths_.push_back(path); }
  void FailStreamCreations(int n) { failing_streams_ = n; }
  // The size ovSetWindowSize set last (0, 0 before any).
  std::pair<int32_t, int32_t> WindowSize() const { return window_size_; }

  // Glyphs of the character sets: box, draw offset and feed of a code. A code without an entry
  // gets one from the set's height h: a double-byte code box (h - 2) x (h - 2) at (1, 1), feed
  // h; a one-byte code box (h / 2 - 1) x (h - 2) at (0, 1), feed h / 2; a space box 0 x 0.
  struct Glyph {
    int32_t box_w, box_h, offset_x, offset_y, feed_w, feed_h;
  };
  void SetGlyph(uint32_t code, const Glyph& glyph) { glyphs_[code] = glyph; }
  // ovRenderChar of the code fails.
  void FailGlyph(uint32_t code) { failing_glyphs_.push_back(code); }
  Glyph GlyphOf(const Handle& set, uint32_t code) const;
  // The canvas model: a made image's pixel (r, g, b, a as 0-255); ovtsFillImage and
  // ovtsFillImageRect (negative sizes count as 0) fill, ovtsDrawChar sets the alpha of the glyph's
  // box to 255, all clipped to the image.
  std::array<uint8_t, 4> Pixel(ApiHandle* image, int32_t x, int32_t y) const;
  // Calls of an export recorded so far (by the start of the recorded name).
  int CountCalls(const std::string& prefix) const;

  // Fails the test for a call of an export that is not modelled.
  static void Unmodelled(const char* name);

  // The models of the modelled exports.
  int32_t Message_(const char* text, const char* caption, int32_t flag);
  int32_t IsExit() const;
  int32_t WaitEvent(int32_t ms);
  void ClearEvent();
  void WaitKeyEvent(int32_t flag);
  void WaitMouseEvent(int32_t flag);
  int32_t GetKeyState(int32_t key);
  int32_t GetKeyEvent(int32_t* key, int32_t* state);
  void ClearKey();
  int32_t GetMouse(int32_t* kind, int32_t* x, int32_t* y);
  void ClearMouse();
  void GetMousePos(int32_t* x, int32_t* y);
  void SetMousePos(int32_t x, int32_t y);
  ApiHandle* LoadImage(int32_t w, int32_t h, const char* path, int32_t flags);
  ApiHandle* CreateImage(int32_t w, int32_t h, bool dynamic);
  void FillImage(ApiHandle* image, float r, float g, float b, float a);
  void FillImageRect(ApiHandle* image, int32_t x, int32_t y, int32_t w, int32_t h, float r, float g, float b,
                     float a);
  int32_t RenderChar(ApiHandle* set, uint32_t code);
  Glyph CurrentGlyph(ApiHandle* set, const char* export_name);
  void DrawChar(ApiHandle* image, int32_t x, int32_t y, ApiHandle* set);
  ApiHandle* LoadWipe(const char* path);
  ApiHandle* CreateSprite(ApiHandle* image, int32_t level, int32_t flags);
  ApiHandle* CreateChar(const char* face, const std::vector<int32_t>& values);
  ApiHandle* LoadSound(const char* path, int32_t voices);
  void PlaySound(ApiHandle* sound, int32_t loop);
  void SetFullscreen(int32_t flag);
  int32_t IsFullscreen();
  ApiHandle* CreateStream();
  int32_t AddStreamList(ApiHandle* stream, const char* path, int32_t repeat, float loop_seconds,
                        int32_t flags);
  void PlayStream(ApiHandle* stream, bool play);
  void DestroyStream(ApiHandle* stream);
  Handle* Sprite(ApiHandle* sprite, const char* export_name) { return Check(sprite, "sprite", export_name); }
  Handle* AnyImage(ApiHandle* image, const char* export_name);
  int32_t RenderScreen();
  int32_t IsImageLost(ApiHandle* image);
  void SetSpriteLevel(Handle* sprite, int32_t level);
  int32_t SetWindowSize(int32_t w, int32_t h) {
    Record(("ovSetWindowSize(" + std::to_string(w) + ", " + std::to_string(h) + ")").c_str());
    window_size_ = {w, h};
    return 1;
  }
  // A refusal was requested for the export: it is used up and true is returned.
  bool Refused(const char* export_name);
  ApiHandle* CreateFile(const char* path, int32_t mode);
  const char* ReadFileLine(ApiHandle* file);
  int32_t IsFileExist(const char* path) const;
  void SetTitle(const std::string& text);
  int32_t SetDataFile(const char* path);

 private:
  struct Input {
    DWORD time;
    enum Kind { kKey, kMouse, kPosition } kind;
    int32_t a, b, c;  // key: code, pressed; mouse: kind, x, y; position: x, y
  };
  struct MouseEvent {
    int32_t kind, x, y;
  };
  void Deliver();      // scripted inputs due by now
  bool WaitPass();     // one pass of the event wait; true: it wakes
  void RefreshKeys();  // a refresh requested earlier takes effect
  // ms from now to the next scripted input or exit time (0 when already due); -1: none.
  int64_t NextWake() const;

  FakeExports exports_;
  std::vector<std::string> calls_;
  std::vector<Message> messages_;
  int32_t message_answer_ = 0;
  bool exiting_ = false;
  bool exit_at_set_ = false;
  DWORD exit_at_ = 0;
  int wait_calls_ = 0;
  std::vector<Input> inputs_;  // not yet delivered, in the order scripted
  // The event waiter.
  bool wake_on_keys_ = false;
  bool wake_on_mouse_ = false;
  // The keyboard: held keys, buffered events not yet in a batch, the batch being read.
  bool keys_held_[256] = {};
  std::vector<std::pair<int32_t, bool>> key_buffer_;
  bool key_refresh_ = true;
  bool batch_held_[256] = {};
  std::vector<std::pair<int32_t, bool>> key_batch_;
  size_t key_cursor_ = 0;
  // The mouse: live queue, snapshot being read, cursor.
  std::vector<MouseEvent> mouse_live_;
  std::vector<MouseEvent> mouse_snapshot_;
  size_t mouse_cursor_ = 0;
  int32_t mouse_x_ = 0, mouse_y_ = 0;
  std::vector<std::pair<int32_t, int32_t>> mouse_sets_;
  std::map<std::string, std::string> files_;
  std::map<std::string, std::string> archive_files_;
  bool archive_mounted_ = false;
  std::string title_;
  // The file set the file exports see: the archive's members once it is mounted.
  const std::map<std::string, std::string>& Files() const { return archive_mounted_ ? archive_files_ : files_; }
  std::vector<std::unique_ptr<Handle>> handles_;
  std::map<std::string, int> refusals_;
  std::map<uint32_t, Glyph> glyphs_;
  std::vector<uint32_t> failing_glyphs_;
  std::vector<Frame> frames_;
  int failing_renders_ = 0;
  bool lose_images_ = false;
  DWORD lose_at_ = 0;
  uint64_t next_order_ = 0;
  std::pair<int32_t, int32_t> window_size_{0, 0};
  bool fullscreen_ = false;
  std::vector<std::string> refused_stream_paths_;
  int failing_streams_ = 0;
  FakeEngine* previous_;
};

}  // namespace orvane_test
