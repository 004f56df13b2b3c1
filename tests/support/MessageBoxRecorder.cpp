#include "support/MessageBoxRecorder.h"

namespace ovelta::test {

MessageBoxRecorder::MessageBoxRecorder() {
  FPrevious = SetMessageBoxHandler(
      [this](const AnsiString& Text, const AnsiString& Caption, unsigned Flags) {
        FBoxes.push_back({Text, Caption, Flags});
        return 1;
      });
}

MessageBoxRecorder::~MessageBoxRecorder() { SetMessageBoxHandler(std::move(FPrevious)); }

}  // namespace ovelta::test
