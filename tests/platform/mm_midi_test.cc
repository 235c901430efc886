// Multimedia timers and the headless MIDI recorder port.
#include <gtest/gtest.h>

#include <atomic>

#include "platform/midi_record.h"
#include "platform/mmsystem.h"

namespace om = orvane::midi;

namespace {

struct Counter {
  std::atomic<int> calls{0};
  std::atomic<UINT> self_kill_at{0};
  UINT id = 0;
};

void Count(UINT id, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
  auto* c = reinterpret_cast<Counter*>(user);
  int n = ++c->calls;
  if (c->self_kill_at != 0 && static_cast<UINT>(n) == c->self_kill_at) {
    EXPECT_EQ(timeKillEvent(id), TIMERR_NOERROR);
  }
}

TEST(MmTimer, PeriodicRunsUntilKilledAndKillsFromItsOwnCallback) {
  Counter a;
  a.id = timeSetEvent(2, 1, Count, reinterpret_cast<DWORD_PTR>(&a), TIME_PERIODIC);
  ASSERT_NE(a.id, 0u);
  while (a.calls < 3) Sleep(1);
  EXPECT_EQ(timeKillEvent(a.id), TIMERR_NOERROR);
  EXPECT_EQ(timeKillEvent(a.id), TIMERR_NOCANDO);
  Sleep(20);  // a call in flight at the kill may still finish; none starts afterwards
  int after = a.calls;
  Sleep(20);
  EXPECT_EQ(a.calls, after);

  Counter b;
  b.self_kill_at = 2;
  b.id = timeSetEvent(1, 1, Count, reinterpret_cast<DWORD_PTR>(&b), TIME_PERIODIC);
  ASSERT_NE(b.id, 0u);
  while (b.calls < 2) Sleep(1);
  Sleep(20);
  EXPECT_EQ(b.calls, 2);
  EXPECT_EQ(timeKillEvent(b.id), TIMERR_NOCANDO);
}

TEST(MmTimer, RejectsBadArguments) {
  Counter c;
  EXPECT_EQ(timeSetEvent(0, 1, Count, reinterpret_cast<DWORD_PTR>(&c), TIME_PERIODIC), 0u);
  EXPECT_EQ(timeSetEvent(10, 1, nullptr, 0, TIME_PERIODIC), 0u);
  EXPECT_EQ(timeKillEvent(0), TIMERR_NOCANDO);
}

void SendFromTimer(UINT id, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
  midiOutShortMsg(reinterpret_cast<HMIDIOUT>(user), 0x7F3C90);
  timeKillEvent(id);
}

TEST(MidiOut, RecorderKeepsMessagesWithTheirCallbackOrdinal) {
  om::ClearRecorded();
  HMIDIOUT out = nullptr;
  ASSERT_EQ(midiOutOpen(&out, MIDI_MAPPER, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
  EXPECT_EQ(midiOutShortMsg(out, 0x0040B0), MMSYSERR_NOERROR);
  char sysex[] = {'\xF0', 0x7E, 0x7F, 0x09, 0x01, '\xF7'};
  MIDIHDR h{};
  h.lpData = sysex;
  h.dwBufferLength = sizeof sysex;
  EXPECT_EQ(midiOutLongMsg(out, &h, sizeof h), MIDIERR_UNPREPARED);
  ASSERT_EQ(midiOutPrepareHeader(out, &h, sizeof h), MMSYSERR_NOERROR);
  EXPECT_EQ(midiOutLongMsg(out, &h, sizeof h), MMSYSERR_NOERROR);
  EXPECT_TRUE(h.dwFlags & MHDR_DONE);
  EXPECT_EQ(midiOutUnprepareHeader(out, &h, sizeof h), MMSYSERR_NOERROR);

  std::uint32_t first = om::NextTimerCallback();
  ASSERT_NE(timeSetEvent(1, 1, SendFromTimer, reinterpret_cast<DWORD_PTR>(out), TIME_PERIODIC), 0u);
  while (om::Recorded().size() < 3) Sleep(1);

  om::FailMessage(2);
  EXPECT_EQ(midiOutShortMsg(out, 0x000190), MMSYSERR_NOERROR);
  EXPECT_EQ(midiOutShortMsg(out, 0x000290), MMSYSERR_ERROR);
  EXPECT_EQ(midiOutShortMsg(out, 0x000390), MMSYSERR_NOERROR);

  auto rec = om::Recorded();
  ASSERT_EQ(rec.size(), 5u);
  EXPECT_EQ(rec[0].bytes, (std::vector<std::uint8_t>{0xB0, 0x40, 0x00}));
  EXPECT_EQ(rec[0].callback, 0u);
  EXPECT_EQ(rec[1].bytes, (std::vector<std::uint8_t>{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}));
  EXPECT_EQ(rec[2].bytes, (std::vector<std::uint8_t>{0x90, 0x3C, 0x7F}));
  EXPECT_GE(rec[2].callback, first);
  EXPECT_EQ(rec[3].bytes[1], 1);
  EXPECT_EQ(rec[4].bytes[1], 3);

  om::ClearRecorded();
  EXPECT_EQ(midiOutReset(out), MMSYSERR_NOERROR);
  rec = om::Recorded();
  ASSERT_EQ(rec.size(), 32u);  // sustain off and all notes off on 16 channels, no GM reset
  EXPECT_EQ(rec[31].bytes, (std::vector<std::uint8_t>{0xBF, 123, 0}));
  EXPECT_EQ(midiOutClose(out), MMSYSERR_NOERROR);
  EXPECT_EQ(midiOutShortMsg(out, 0x90), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(midiOutClose(out), MMSYSERR_INVALHANDLE);
}

TEST(MidiOut, OpenFailuresAndBadDevice) {
  HMIDIOUT out = reinterpret_cast<HMIDIOUT>(1);
  EXPECT_EQ(midiOutOpen(&out, 5, 0, 0, 0), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(out, nullptr);
  om::FailOpen(true);
  EXPECT_EQ(midiOutOpen(&out, MIDI_MAPPER, 0, 0, 0), MMSYSERR_NODRIVER);
  om::FailOpen(false);
  EXPECT_EQ(om::OpenPorts(), 0);
}

}  // namespace
