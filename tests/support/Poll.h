// Waiting without an event loop, by the waiting rules of EventLoop.h, for tests of the core
// library (which run no event loop) and for the child processes of any test.
#pragma once

#include <functional>

namespace ovelta::test {

// The deadline of every wait, in milliseconds: it only ends a test that has already failed.
inline constexpr int kDeadlineMs = 30000;
// How often a wait looks at its condition while nothing announces a change.
inline constexpr int kPollMs = 5;

// Asks Done() at once and then every kPollMs until it holds or DeadlineMs have passed; returns
// Done()'s last answer. Done is never asked again once it has answered true.
bool PollUntil(const std::function<bool()>& Done, int DeadlineMs = kDeadlineMs);

// A way of waiting: PollUntil, or RunUntil of EventLoop.h, which runs the event loop meanwhile.
using Waiter = bool (*)(const std::function<bool()>& Done, int DeadlineMs);

}  // namespace ovelta::test
