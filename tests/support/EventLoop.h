// The one way tests run the event loop, and the rules every test that waits follows.
//
// Waiting rules:
// 1. Wait for a condition, never for a time: RunUntil(Done) runs the event loop until Done()
//    holds, and the test asserts on its result (ASSERT_TRUE(RunUntil(...))). The deadline only
//    ends a test that has already failed; it is generous (kDeadlineMs) so that a correct program
//    passes on however busy a machine. Do not shorten it for something that must happen.
// 2. Never count rounds of the loop, and never sleep or run the loop for a fixed time in the hope
//    that something has happened by then; find the condition that shows it (a handler's record,
//    a state, the bytes on a wire, the kernel's count of unread bytes) and wait for that.
// 3. The one use of a time is showing that something does NOT happen: RunFor(Ms) runs the loop
//    for Ms, and the check after it must hold for a correct program whatever Ms is (too short a
//    time can only let a fault through, never fail a correct program). Wait first for everything
//    that does happen before it.
// 4. Settle() hands the event loop what was left to it for later (deferred deletions), so that
//    leak checks see it freed; it waits for nothing.
//
// The loop runs as the program's own does (a nested QEventLoop): idle moments, deferred deletions
// and timers happen as in the program. Without an application object (a test program without Qt
// events) RunUntil is PollUntil (Poll.h).
#pragma once

#include <functional>

#include "support/Poll.h"

class QObject;

namespace ovelta::test {

// Runs the event loop until Done() is true or DeadlineMs have passed; returns Done()'s last
// answer. Done is asked at once, after every batch of events and every kPollMs, and never again
// once it has answered true (it may take what it waits for: a connection, bytes).
bool RunUntil(const std::function<bool()>& Done, int DeadlineMs = kDeadlineMs);

// Runs the event loop for Ms milliseconds: only to show that something does not happen (rule 3).
void RunFor(int Ms);

// Delivers the deferred deletions waiting in the event loop (rule 4).
void Settle();

// For a loop that the code under test runs itself (the program's message loop), the same rules
// from inside: Step is called every kPollMs while the loop runs, until it returns true. Scope (a
// test's local object) owns the timer, so it cannot outlive the test.
void PollWhileRunning(QObject* Scope, const std::function<bool()>& Step);
// Ends that loop (Application().Terminate()) after DeadlineMs at the latest and then sets *Hit,
// so that a test can never hang; Scope as for PollWhileRunning.
void EndLoopAfter(QObject* Scope, bool* Hit, int DeadlineMs = kDeadlineMs);

// Creates the core application object, once per test program, for test programs that run the
// event loop without windows (UiApplication.h makes the full one instead).
void EnsureCoreApplication();

}  // namespace ovelta::test
