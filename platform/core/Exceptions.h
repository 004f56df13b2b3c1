// The framework's exception classes. Every exception of the system derives from Exception and
// answers ClassName, which the application's exception hook compares ("ESocketError" is dropped).
#pragma once

#include <stdexcept>
#include <string>

#include "platform/core/Types.h"

namespace ovelta {

// Message is a CP932 byte string, as every text of the system.
class Exception : public std::runtime_error {
 public:
  explicit Exception(const AnsiString& Message) : std::runtime_error(Message) {}
  virtual std::string ClassName() const { return "Exception"; }
  AnsiString Message() const { return what(); }
};

// Raised when a window, icon or other system resource cannot be had.
class EOutOfResources : public Exception {
 public:
  using Exception::Exception;
  std::string ClassName() const override { return "EOutOfResources"; }
};

}  // namespace ovelta
