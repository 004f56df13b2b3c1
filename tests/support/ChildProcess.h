// A child process started by a test, stopped by its PID when the object goes.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "support/Poll.h"

namespace ovelta::test {

class ChildProcess {
 public:
  struct Options {
    std::string Directory;   // working directory; empty: this process's
    std::string OutputFile;  // standard output goes to this file (made afresh); empty: inherited
    std::string ErrorFile;   // standard error likewise; the same name as OutputFile shares it
    int ErrorFd = -1;        // standard error goes to this descriptor instead (a terminal's side)
    std::vector<std::pair<std::string, std::string>> Environment;  // set in the child
  };

  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  // A process still running is stopped (Stop).
  ~ChildProcess() { Stop(); }

  // Runs Argv[0] (searched in PATH when it holds no "/") with Argv. False when no process could
  // be made; a program that cannot be run ends with status 127.
  bool Start(const std::vector<std::string>& Argv, const Options& AOptions);
  bool Start(const std::vector<std::string>& Argv) { return Start(Argv, Options()); }
  // Runs Body in a copy of this process; its result (0 to 255) is the exit status.
  bool StartFunction(const std::function<int()>& Body);

  // True while the process has not ended (an ended one is collected, its status kept).
  bool Running();
  // The exit status once the process has ended: its exit code, or 128 + the signal that ended it;
  // -1 when it has not ended within DeadlineMs (it keeps running). Waits with Waiting: pass
  // RunUntil (EventLoop.h) for a process that talks to code under test in this process's event
  // loop.
  int Wait(int DeadlineMs, Waiter Waiting = PollUntil);
  // Sends Signal; false when the process has ended or was never started.
  bool Signal(int Signal);
  // Stops the process (SIGSTOP) and waits until it has stopped; false when it ended first or was
  // never started. Signal(SIGCONT) lets it go on.
  bool Pause();
  // Waits until the process is stopped (SIGSTOP, sent by itself included); false when it ended or
  // DeadlineMs passed first.
  bool WaitStopped(int DeadlineMs);
  // Ends the process (continuing it if stopped): SIGTERM, then SIGKILL if it has not ended
  // within kStopMs; collects it.
  void Stop();
  // The most memory the process (and the children it waited for) had resident, in KiB, as the
  // system reported when it was collected; -1 before that.
  long PeakResidentKiB() const { return FPeakKiB; }

  static constexpr int kStopMs = 10000;

 private:
  bool Collect(bool Block);
  pid_t FPid = -1;
  int FStatus = -1;
  long FPeakKiB = -1;
};

}  // namespace ovelta::test
