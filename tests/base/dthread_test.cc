// DEvent and DThread: signalling, waits with time-outs, exit codes and shared handles.
#include "base/dthread.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "base/dlogstream.h"
#include "tests/support/scratch_dir.h"

namespace {

const bool kDebugOutput = (setenv("ORVANE_DEBUG", "1", 1), true);

TEST(DEvent, CreateSetResetPoll) {
  DEvent event;
  EXPECT_EQ(event.Wait(0), WAIT_FAILED);  // no handle yet
  ASSERT_TRUE(event.Create(false, true));
  EXPECT_FALSE(event.Create(false, true));
  EXPECT_TRUE(event.Poll());
  EXPECT_EQ(event.Wait(1), WAIT_TIMEOUT);
  EXPECT_TRUE(event.Set());
  EXPECT_FALSE(event.Poll());
  EXPECT_EQ(event.Wait(INFINITE), WAIT_OBJECT_0);
  EXPECT_TRUE(event.Reset());
  EXPECT_TRUE(event.Poll());
  event.Signal();
  EXPECT_EQ(event.Wait(0), WAIT_OBJECT_0);
  EXPECT_TRUE(event.Pulse());
  EXPECT_TRUE(event.Poll());
  EXPECT_TRUE(event.Close());
  EXPECT_EQ(event.GetHandle(), nullptr);
}

struct Work {
  DEvent started;
  DEvent finish;
};

unsigned Worker(void* arg) {
  Work* work = static_cast<Work*>(arg);
  work->started.Set();
  work->finish.Wait(INFINITE);
  return 7;
}

TEST(DThread, WorkerSignalsAndExits) {
  Work work;
  ASSERT_TRUE(work.started.Create(false, false));
  ASSERT_TRUE(work.finish.Create(false, true));
  DThread thread;
  SetLastError(0);
  EXPECT_EQ(thread.GetExitCode(), 0u);  // empty object: 0 and the last error
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  ASSERT_TRUE(thread.Create(Worker, &work));
  EXPECT_FALSE(thread.Create(Worker, &work));
  EXPECT_TRUE(thread.IsOwner());
  EXPECT_NE(thread.GetThreadId(), 0u);
  EXPECT_EQ(work.started.Wait(INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(thread.GetExitCode(), STILL_ACTIVE);
  EXPECT_EQ(WaitForSingleObject(thread.GetHandle(), 1), WAIT_TIMEOUT);
  EXPECT_TRUE(thread.SetPriority(THREAD_PRIORITY_ABOVE_NORMAL));
  EXPECT_EQ(thread.GetPriority(), THREAD_PRIORITY_ABOVE_NORMAL);
  {
    // The refusals reach the log file, not only the debugger output.
    orvane_test::ScratchDir scratch("orvane_thread_");
    DFile file;
    ASSERT_TRUE(file.Open(DString(scratch.Path("t.log").c_str()), 15));
    DDebugLog().AttachFile(file);
    EXPECT_FALSE(thread.Terminate(0));
    EXPECT_EQ(thread.Suspend(), static_cast<DWORD>(-1));
    EXPECT_EQ(thread.Resume(), static_cast<DWORD>(-1));
    DDebugLog().Close();
    EXPECT_EQ(scratch.Read("t.log"),
              "[DThread::Terminate] not supported on this platform.\r\n"
              "[DThread::Suspend] not supported on this platform.\r\n"
              "[DThread::Resume] not supported on this platform.\r\n");
  }
  work.finish.Set();
  EXPECT_EQ(WaitForSingleObject(thread.GetHandle(), INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(thread.GetExitCode(), 7u);
  EXPECT_TRUE(thread.Close());
  EXPECT_FALSE(thread.Close());
  EXPECT_EQ(thread.GetExitCode(), 0u);
}

TEST(DThread, CopiesShareTheHandleWithoutOwningIt) {
  DThread owner;
  ASSERT_TRUE(owner.AttachCurrent());
  EXPECT_EQ(owner.GetThreadId(), GetCurrentThreadId());
  EXPECT_FALSE(owner.AttachCurrent());
  {
    DThread copy(owner);
    EXPECT_FALSE(copy.IsOwner());
    EXPECT_EQ(copy.GetHandle(), owner.GetHandle());
    DThread assigned;
    assigned = owner;
    EXPECT_EQ(assigned.GetThreadId(), owner.GetThreadId());
  }  // releasing the copies leaves the handle open for the owner
  EXPECT_EQ(owner.GetExitCode(), STILL_ACTIVE);
  DThread copy(owner);
  owner = copy;  // already sharing: the handle stays open and the owner keeps it
  EXPECT_TRUE(owner.IsOwner());
  EXPECT_EQ(copy.GetHandle(), owner.GetHandle());
  EXPECT_EQ(owner.GetExitCode(), STILL_ACTIVE);
  owner.Release();  // the owner closes the handle: copies see it gone
  EXPECT_EQ(copy.GetHandle(), nullptr);
  EXPECT_EQ(copy.GetExitCode(), 0u);
}

TEST(DThread, BareIdsAndHandlesAreRefusedWithALogLine) {
  ASSERT_TRUE(kDebugOutput);
  DThread thread;
  ASSERT_TRUE(thread.AttachCurrent());
  HANDLE before = thread.GetHandle();
  ::testing::internal::CaptureStderr();
  thread = static_cast<DWORD>(5);
  thread = static_cast<HANDLE>(nullptr);
  DThread from_id(static_cast<DWORD>(9));
  std::string log = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(log,
            "[DThread::operator=] Can't duplicate from an only Thread ID\r\n"
            "[DThread::operator=] Can't duplicate from an only HANDLE\r\n"
            "[DThread::operator=] Can't duplicate from an only Thread ID\r\n");
  EXPECT_EQ(thread.GetHandle(), before);
  EXPECT_EQ(from_id.GetHandle(), nullptr);
}

}  // namespace
