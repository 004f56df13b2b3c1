// The tests' child processes (ChildProcess.h).
#include "support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace ovelta::test {

namespace {

constexpr int kCannotRun = 127;

// In the child: Path opened for writing afresh on Fd.
void Redirect(const std::string& Path, int Fd) {
  const int file = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (file < 0) ::_exit(kCannotRun);
  ::dup2(file, Fd);
}

}  // namespace

bool ChildProcess::Start(const std::vector<std::string>& Argv, const Options& AOptions) {
  if (Argv.empty() || FPid > 0) return false;
  std::vector<char*> args;
  for (const std::string& a : Argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  FStatus = -1;
  FPeakKiB = -1;
  FPid = ::fork();
  if (FPid != 0) return FPid > 0;
  if (!AOptions.Directory.empty() && ::chdir(AOptions.Directory.c_str()) != 0) ::_exit(kCannotRun);
  if (!AOptions.OutputFile.empty()) Redirect(AOptions.OutputFile, STDOUT_FILENO);
  if (AOptions.ErrorFd >= 0)
    ::dup2(AOptions.ErrorFd, STDERR_FILENO);
  else if (!AOptions.ErrorFile.empty() && AOptions.ErrorFile == AOptions.OutputFile)
    ::dup2(STDOUT_FILENO, STDERR_FILENO);
  else if (!AOptions.ErrorFile.empty())
    Redirect(AOptions.ErrorFile, STDERR_FILENO);
  for (const auto& [name, value] : AOptions.Environment) ::setenv(name.c_str(), value.c_str(), 1);
  ::execvp(args[0], args.data());
  ::_exit(kCannotRun);
}

bool ChildProcess::StartFunction(const std::function<int()>& Body) {
  if (FPid > 0) return false;
  FStatus = -1;
  FPeakKiB = -1;
  FPid = ::fork();
  if (FPid != 0) return FPid > 0;
  ::_exit(Body());
}

bool ChildProcess::Collect(bool Block) {
  if (FPid <= 0) return true;
  int status = 0;
  struct rusage usage {};
  pid_t got;
  do {
    got = ::wait4(FPid, &status, Block ? 0 : WNOHANG, &usage);
  } while (got < 0 && errno == EINTR);
  if (got == 0) return false;
  FStatus = got < 0 ? -1 : WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  FPeakKiB = got < 0 ? -1 : usage.ru_maxrss;
  FPid = -1;
  return true;
}

bool ChildProcess::Running() { return !Collect(false); }

int ChildProcess::Wait(int DeadlineMs, Waiter Waiting) {
  if (!Waiting([this] { return Collect(false); }, DeadlineMs)) return -1;
  return FStatus;
}

bool ChildProcess::Signal(int Signal) {
  if (!Running()) return false;
  return ::kill(FPid, Signal) == 0;
}

bool ChildProcess::Pause() {
  if (!Running() || ::kill(FPid, SIGSTOP) != 0) return false;
  // The end of the process is left to Collect (WNOWAIT); a stop is not reported to it.
  siginfo_t info{};
  int got;
  do {
    got = ::waitid(P_PID, static_cast<id_t>(FPid), &info, WSTOPPED | WEXITED | WNOWAIT);
  } while (got < 0 && errno == EINTR);
  return got == 0 && info.si_code == CLD_STOPPED;
}

bool ChildProcess::WaitStopped(int DeadlineMs) {
  // The state is the field after the command's name in parentheses, which may hold anything.
  auto stopped = [this] {
    const std::string stat = "/proc/" + std::to_string(FPid) + "/stat";
    char line[512] = {};
    const int fd = ::open(stat.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const ssize_t n = ::read(fd, line, sizeof line - 1);
    ::close(fd);
    const char* close = n > 0 ? std::strrchr(line, ')') : nullptr;
    return close && close[1] == ' ' && close[2] == 'T';
  };
  PollUntil([&] { return !Running() || stopped(); }, DeadlineMs);
  return Running() && stopped();
}

void ChildProcess::Stop() {
  if (!Running()) return;
  ::kill(FPid, SIGTERM);
  ::kill(FPid, SIGCONT);
  if (Wait(kStopMs) >= 0) return;
  ::kill(FPid, SIGKILL);
  Collect(true);
}

}  // namespace ovelta::test
