// Records the message boxes the library shows, instead of showing them, for the lifetime of the
// recorder. Recorders nest: the previous handler comes back on destruction.
#pragma once

#include <vector>

#include "platform/core/Dialogs.h"

namespace ovelta::test {

class MessageBoxRecorder {
 public:
  struct Box {
    AnsiString Text;
    AnsiString Caption;
    unsigned Flags;
  };
  MessageBoxRecorder();
  ~MessageBoxRecorder();
  MessageBoxRecorder(const MessageBoxRecorder&) = delete;
  MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

  const std::vector<Box>& Boxes() const { return FBoxes; }
  void Clear() { FBoxes.clear(); }

 private:
  std::vector<Box> FBoxes;
  MessageBoxHandler FPrevious;
};

}  // namespace ovelta::test
