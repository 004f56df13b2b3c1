// Including this header gives the test program the full application object: started before the
// first test (offscreen, as CTest runs it) and ended after the last.
#pragma once

#include <gtest/gtest.h>

#include "platform/ui/Application.h"

namespace ovelta::test {

class UiApplication : public ::testing::Environment {
 public:
  void SetUp() override { Application().Initialize(); }
  void TearDown() override { Application().Finalize(); }
};

inline ::testing::Environment* const kUiApplication =
    ::testing::AddGlobalTestEnvironment(new UiApplication);

}  // namespace ovelta::test
