#include "support/Poll.h"

#include <chrono>
#include <thread>

namespace ovelta::test {

bool PollUntil(const std::function<bool()>& Done, int DeadlineMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(DeadlineMs);
  while (!Done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
  }
  return true;
}

}  // namespace ovelta::test
