// Motions: the motion file reader, the four motion slots and their timer events.
#include "game/motion.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "game/engine_api.h"
#include "game/error_report.h"
#include "game/resource.h"
#include "game/scenario.h"
#include "game/sprite.h"
#include "game/timer.h"
#include "game/tokenizer.h"
#include "platform/mmsystem.h"

namespace {

DMotionSlot g_slots[kMotionSlots];

constexpr size_t kItemSize = 1024;  // a line holds at most 1023 bytes

int32_t Saturate(int64_t v) {
  return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v);
}

// from + nearest((to - from) x f), ties to even, without overflow.
int32_t Interpolate(int32_t from, int32_t to, float f) {
  const double step = std::nearbyint(static_cast<double>(int64_t{to} - from) * static_cast<double>(f));
  return Saturate(static_cast<int64_t>(from + step));
}

bool IsName(const char* a, const char* b) {
  return DStrCompareNoCase(a, b) == 0;
}

const char* KindName(int32_t kind) {
  return kind == DMotionEvent::kPos ? "@pos" : kind == DMotionEvent::kRot ? "@rot" : "@size";
}

void EmptySlot(DMotionSlot& slot) {
  slot.count = 0;
  slot.events.Release();
  slot.timer = -1;
}

// Reads one statement line into the event; false for a line with no item.
bool ReadStatement(const char* name, const char* line, int32_t base, DMotionEvent& event) {
  char item[kItemSize], value[kItemSize];
  const char* cursor = line;
  bool end = false;
  ReadOption(cursor, item, sizeof(item), value, sizeof(value), end, 0);
  if (item[0] == '\0' && value[0] == '\0') return false;
  if (IsName(item, "@pos")) {
    event.kind = DMotionEvent::kPos;
  } else if (IsName(item, "@rot")) {
    event.kind = DMotionEvent::kRot;
    event.rotation = kStyleRotateNone;
  } else if (IsName(item, "@size")) {
    event.kind = DMotionEvent::kSize;
    event.to_x = event.to_y = -1;
  } else {
    ScriptError("モーションファイル\"%s\"に不正な定義文\"%s\"が存在します", name, item);
  }
  int positional = 0;
  int32_t number = 0;
  while (!end) {
    ReadOption(cursor, item, sizeof(item), value, sizeof(value), end, 0);
    if (item[0] == '\0' && value[0] == '\0') continue;  // blanks before the end of the line
    // The first two items are the start time and the sprite, whatever they are called.
    if (positional == 0) {
      event.start = ToInt(item);
      ++positional;
      continue;
    }
    if (positional == 1) {
      number = ToInt(item);
      ++positional;
      continue;
    }
    bool known = true;
    switch (event.kind) {
      case DMotionEvent::kPos:
        if (IsName(item, "x")) {
          event.to_x = ToInt(value);
        } else if (IsName(item, "y")) {
          event.to_y = ToInt(value);
        } else if (IsName(item, "span")) {
          event.span = ToInt(value);
        } else {
          known = false;
        }
        break;
      case DMotionEvent::kRot:
        if (IsName(item, "pivx")) {
          event.pivot_x = ToFloat(value);
        } else if (IsName(item, "pivy")) {
          event.pivot_y = ToFloat(value);
        } else if (IsName(item, "deg")) {
          event.to_angle = ToFloat(value);
        } else if (IsName(item, "style")) {
          event.rotation = ParseDisplayStyle(value, 0) & kStyleRotation;
        } else if (IsName(item, "span")) {
          event.span = ToInt(value);
        } else {
          known = false;
        }
        break;
      default:
        if (IsName(item, "w")) {
          event.to_x = ToInt(value);
        } else if (IsName(item, "h")) {
          event.to_y = ToInt(value);
        } else if (IsName(item, "span")) {
          event.span = ToInt(value);
        } else {
          known = false;
        }
        break;
    }
    if (!known)
      ScriptError("モーションファイル\"%s\"の定義文%sに不正なオプション\"%s\"が存在します", name,
                  KindName(event.kind), item);
  }
  if (positional < 1) ScriptError("モーションファイル\"%s\"の定義文に実行開始時間が指定されていない", name);
  if (positional < 2) ScriptError("モーションファイル\"%s\"の定義文にスプライト番号が指定されていない", name);
  const int64_t slot = int64_t{base} + number;
  if (slot < 0 || slot >= kSpriteSlots || !(Sprite(static_cast<int32_t>(slot)).flags & kSpriteValid))
    ScriptError("モーションファイル\"%s\"で指定されたスプライト%dは有効ではない", name, number);
  event.sprite = static_cast<int32_t>(slot);
  if (event.kind == DMotionEvent::kSize) {
    const DSprite& s = Sprite(event.sprite);
    if (event.to_x < 0) event.to_x = s.w;
    if (event.to_y < 0) event.to_y = s.h;
  }
  return true;
}

// The elapsed time of the slot's motion; a start time is due when it is not after it.
int64_t Elapsed(const DMotionSlot& slot) {
  return static_cast<uint32_t>(timeGetTime() - slot.start);
}

void TakeStartValues(DMotionEvent& e) {
  const DSprite& s = Sprite(e.sprite);
  switch (e.kind) {
    case DMotionEvent::kPos:
      e.from_x = s.req_x;
      e.from_y = s.req_y;
      break;
    case DMotionEvent::kRot:
      e.from_angle = s.angle;
      break;
    case DMotionEvent::kSize:
      e.from_x = s.w;
      e.from_y = s.h;
      break;
    default:
      FatalError("[sprLoadMotion] そのコマンド種類は実装されていない");
  }
}

// Plays one due event; true when it reached its end.
bool Play(DMotionEvent& e, int64_t t) {
  const bool last = t >= e.span;
  const float f = last ? 1.0f : static_cast<float>(t) / static_cast<float>(e.span);
  const DSprite& s = Sprite(e.sprite);
  switch (e.kind) {
    case DMotionEvent::kPos:
      if (last) {
        sprSetPos(e.sprite, e.to_x, e.to_y, s.style);
      } else {
        sprSetPos(e.sprite, Interpolate(e.from_x, e.to_x, f), Interpolate(e.from_y, e.to_y, f), s.style);
      }
      break;
    case DMotionEvent::kRot: {
      // In double, so a wide turn between finite angles never overflows to infinity.
      const float angle =
          last ? e.to_angle
               : static_cast<float>(e.from_angle + (static_cast<double>(e.to_angle) - e.from_angle) * f);
      sprSetRotation(e.sprite, e.pivot_x, e.pivot_y, angle, e.rotation);
      break;
    }
    case DMotionEvent::kSize:
      if (last) {
        sprSetSize(e.sprite, e.to_x, e.to_y);
      } else {
        sprSetSize(e.sprite, Interpolate(e.from_x, e.to_x, f), Interpolate(e.from_y, e.to_y, f));
      }
      break;
    default:
      FatalError("[_MotEvent] 未実装のコマンド");
  }
  return last;
}

}  // namespace

void ResetMotionGlobals() {
  for (DMotionSlot& slot : g_slots) EmptySlot(slot);
}

void MotClearAll() {
  for (DMotionSlot& slot : g_slots) {
    RemoveTimerEvent(slot.timer);
    EmptySlot(slot);
  }
}

void MotEndSprite(int32_t sprite) {
  for (DMotionSlot& slot : g_slots)
    for (int32_t i = 0; i < slot.count; ++i)
      if (slot.events[i].sprite == sprite) slot.events[i].sprite = kNoSprite;
}

const DMotionSlot& MotionSlot(int32_t slot) {
  return g_slots[slot];
}

void MotSchedule(int32_t index) {
  DMotionSlot& slot = g_slots[index];
  const int64_t elapsed = Elapsed(slot);
  int64_t next = -1;
  for (int32_t i = 0; i < slot.count; ++i) {
    const DMotionEvent& e = slot.events[i];
    if (e.sprite == kNoSprite) continue;
    // Signed 64-bit compare: a negative start is due at once.
    const int64_t d = e.start <= elapsed ? 0 : e.start - elapsed;
    if (next < 0 || d < next) next = d;
  }
  if (next < 0) {
    EmptySlot(slot);
    return;
  }
  slot.timer = AddTimerEvent(&MotEvent, static_cast<uint32_t>(index), static_cast<uint32_t>(next));
}

void MotEvent(uint32_t argument) {
  if (argument >= static_cast<uint32_t>(kMotionSlots)) return;
  const int32_t index = static_cast<int32_t>(argument);
  DMotionSlot& slot = g_slots[index];
  slot.timer = -1;
  if (slot.count == 0) return;
  // The events stay alive through the calls below even if the slot is emptied meanwhile.
  const DRef<DMotionEvent> events = slot.events;
  const int32_t count = slot.count;
  const int64_t elapsed = Elapsed(slot);
  for (int32_t i = 0; i < count; ++i) {
    DMotionEvent& e = events[i];
    if (e.sprite == kNoSprite || e.start > elapsed) continue;
    if (!(Sprite(e.sprite).flags & kSpriteValid)) {
      e.sprite = kNoSprite;
      continue;
    }
    if (e.first) {
      e.first = false;
      TakeStartValues(e);
    }
    if (Play(e, elapsed - e.start)) e.sprite = kNoSprite;
  }
  if (slot.count != 0 && slot.events == events) MotSchedule(index);
}

void sprLoadMotion(int32_t base, const char* name, bool wait) {
  char buffer[kPathSize * 2];
  std::snprintf(buffer, sizeof(buffer), "%s.mot", name);
  char path[kPathSize];
  DStrCopyToCharBoundary(buffer, path, sizeof(path));
  std::vector<DMotionEvent> events;
  {
    DRef<DFileRes> file = OpenFileRes(path, 1);
    while (const char* line = g_engine.ovReadFileLine(file->handle)) {
      DMotionEvent event;
      if (ReadStatement(name, line, base, event)) events.push_back(event);
    }
  }
  if (events.empty()) return;
  int32_t index = 0;
  while (index < kMotionSlots && g_slots[index].count != 0) ++index;
  if (index == kMotionSlots) ScriptError("モーション実行領域に空きがありません");
  // Stable: events with equal start times keep their file order.
  std::stable_sort(events.begin(), events.end(),
                   [](const DMotionEvent& a, const DMotionEvent& b) { return a.start < b.start; });
  DMotionSlot& slot = g_slots[index];
  slot.events.Alloc(static_cast<uint32_t>(events.size()));
  for (size_t i = 0; i < events.size(); ++i) {
    slot.events[static_cast<std::ptrdiff_t>(i)] = events[i];
    slot.events[static_cast<std::ptrdiff_t>(i)].first = true;
  }
  slot.count = static_cast<int32_t>(events.size());
  slot.timer = -1;
  slot.start = timeGetTime();
  MotSchedule(index);
  if (!wait) return;
  while (slot.count != 0) {
    sprRender();
    WaitFor(100, nullptr, 0);
  }
}
