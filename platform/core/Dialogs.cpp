// The message-box service: a replaceable handler, standard error by default.
#include "platform/core/Dialogs.h"

#include <cstdio>
#include <mutex>

#include "platform/core/Exceptions.h"
#include "platform/core/Text.h"

namespace ovelta {

namespace {

std::mutex gLock;
MessageBoxHandler gHandler;
AnsiString gTitle;

int WriteToStandardError(const AnsiString& Text, const AnsiString& Caption, unsigned) {
  std::string line = "[" + Cp932ToUtf8(Caption) + "] " + Cp932ToUtf8(Text) + "\n";
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  return 1;
}

}  // namespace

int MessageBox(const AnsiString& Text, const AnsiString& Caption, unsigned Flags) {
  MessageBoxHandler handler;
  {
    std::lock_guard<std::mutex> guard(gLock);
    handler = gHandler;
  }
  return handler ? handler(Text, Caption, Flags) : WriteToStandardError(Text, Caption, Flags);
}

void SetApplicationTitle(const AnsiString& Title) {
  std::lock_guard<std::mutex> guard(gLock);
  gTitle = Title;
}

AnsiString ApplicationTitle() {
  std::lock_guard<std::mutex> guard(gLock);
  return gTitle;
}

void ShowExceptionMessage(const AnsiString& Message) {
  MessageBox(Message, ApplicationTitle(), MB_OK | MB_ICONSTOP);
}

void ShowException(const std::exception& E) { ShowExceptionMessage(E.what()); }

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler Handler) {
  std::lock_guard<std::mutex> guard(gLock);
  MessageBoxHandler previous = std::move(gHandler);
  gHandler = std::move(Handler);
  return previous;
}

}  // namespace ovelta
