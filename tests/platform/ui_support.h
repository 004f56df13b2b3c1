// Test support for the user-interface layer: the application object is started once per test
// program (offscreen, as CTest runs it) and ended after the last test; RunUntil runs the message
// loop until a condition holds or a time limit passes.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <functional>

#include "platform/ui/Application.h"

namespace ovelta::testing_ui {

class UiEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { Application().Initialize(); }
  void TearDown() override { Application().Finalize(); }
};

inline ::testing::Environment* const kUiEnvironment =
    ::testing::AddGlobalTestEnvironment(new UiEnvironment);

// Runs the message loop (waiting for events, so the idle moment comes as in the program) until
// Done() is true or TimeoutMs have passed. Returns Done().
inline bool RunUntil(const std::function<bool()>& Done, int TimeoutMs = 5000) {
  constexpr int kPollMs = 5;
  QEventLoop loop;
  QTimer poll;
  QElapsedTimer clock;
  clock.start();
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (Done() || clock.elapsed() >= TimeoutMs) loop.quit();
  });
  poll.start(kPollMs);
  if (!Done()) loop.exec();
  return Done();
}

// Runs the message loop for Ms milliseconds.
inline void RunFor(int Ms) {
  RunUntil([] { return false; }, Ms);
}

}  // namespace ovelta::testing_ui
