// Opening a document on Linux and the like. The path is checked first (a missing
// directory or file is reported without starting anything), then xdg-open is started with
// posix_spawn, without a shell, in its own session, with the standard streams on /dev/null, in the
// working directory taken from the path. The launcher is given a short time to fail early (no
// handler, no file); when it is still running after that, it is opening the document, and it is
// left to run and reaped in the background, so the opened program is never waited for.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "util/FileExec_p.h"

extern char** environ;

namespace ovelta {
namespace file_exec {
namespace {

constexpr const char* kLauncher = "xdg-open";
// How long the launcher may take to report that it cannot open the document.
constexpr auto kEarlyFailureWait = std::chrono::milliseconds(1000);
constexpr auto kExitPollInterval = std::chrono::milliseconds(5);

// xdg-open's exit statuses.
constexpr int kExitFileMissing = 2;
constexpr int kExitNoMethod = 3;    // no handler, or a tool it needs is missing
constexpr int kExitNotFound = 127;  // the conventional status when a program cannot be run

bool IsDirectory(const AnsiString& Path) {
  struct stat info {};
  return stat(Path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool Exists(const AnsiString& Path) {
  struct stat info {};
  return stat(Path.c_str(), &info) == 0;
}

// Owners of the spawn records, so that every path out destroys them.
class SpawnActions {
 public:
  SpawnActions() { FReady = posix_spawn_file_actions_init(&FActions) == 0; }
  ~SpawnActions() {
    if (FReady) posix_spawn_file_actions_destroy(&FActions);
  }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  bool Ready() const { return FReady; }
  posix_spawn_file_actions_t* Get() { return &FActions; }

 private:
  posix_spawn_file_actions_t FActions;
  bool FReady = false;
};

class SpawnAttributes {
 public:
  SpawnAttributes() { FReady = posix_spawnattr_init(&FAttributes) == 0; }
  ~SpawnAttributes() {
    if (FReady) posix_spawnattr_destroy(&FAttributes);
  }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  bool Ready() const { return FReady; }
  posix_spawnattr_t* Get() { return &FAttributes; }

 private:
  posix_spawnattr_t FAttributes;
  bool FReady = false;
};

ExecFailure FailureFromSpawnError(int Error) {
  switch (Error) {
    case ENOENT:
    case ENOTDIR:
      return ExecFailure::NoAssociation;
    case ENOMEM:
    case EAGAIN:
      return ExecFailure::OutOfResources;
    default:
      return ExecFailure::Unknown;
  }
}

// Starts the launcher on Target in Directory (empty: ours) and sees whether it fails early.
ExecFailure Launch(const AnsiString& Target, const AnsiString& Directory) {
  SpawnActions actions;
  SpawnAttributes attributes;
  if (!actions.Ready() || !attributes.Ready()) return ExecFailure::OutOfResources;
  int error =
      posix_spawn_file_actions_addopen(actions.Get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (error == 0)
    error =
        posix_spawn_file_actions_addopen(actions.Get(), STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  if (error == 0)
    error = posix_spawn_file_actions_adddup2(actions.Get(), STDOUT_FILENO, STDERR_FILENO);
  if (error == 0 && !Directory.empty())
    error = posix_spawn_file_actions_addchdir_np(actions.Get(), Directory.c_str());
  // The opened program gets a clean signal state and its own session, so that it outlives us.
  sigset_t noSignals;
  sigset_t allSignals;
  sigemptyset(&noSignals);
  sigfillset(&allSignals);
  if (error == 0) error = posix_spawnattr_setsigmask(attributes.Get(), &noSignals);
  if (error == 0) error = posix_spawnattr_setsigdefault(attributes.Get(), &allSignals);
  if (error == 0)
    error = posix_spawnattr_setflags(
        attributes.Get(), POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
  if (error != 0) return FailureFromSpawnError(error);

  std::vector<char> launcher(kLauncher, kLauncher + std::char_traits<char>::length(kLauncher) + 1);
  std::vector<char> target(Target.c_str(), Target.c_str() + Target.size() + 1);
  char* argv[] = {launcher.data(), target.data(), nullptr};
  pid_t pid = 0;
  error = posix_spawnp(&pid, kLauncher, actions.Get(), attributes.Get(), argv, environ);
  if (error != 0) return FailureFromSpawnError(error);

  const auto deadline = std::chrono::steady_clock::now() + kEarlyFailureWait;
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return FailureFromExitStatus(status);
    if (done < 0 && errno != EINTR) return ExecFailure::None;  // reaped elsewhere: nothing to tell
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(kExitPollInterval);
  }
  // Still running: it is opening the document. Reap it whenever it ends.
  try {
    std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
  } catch (...) {
    // Without a thread the launcher stays a zombie until we end; the document opens all the same.
  }
  return ExecFailure::None;
}

}  // namespace

ExecFailure FailureFromExitStatus(int Status) {
  if (!WIFEXITED(Status)) return ExecFailure::Unknown;
  switch (WEXITSTATUS(Status)) {
    case 0:
      return ExecFailure::None;
    case kExitFileMissing:
      return ExecFailure::FileNotFound;
    case kExitNoMethod:
    case kExitNotFound:
      return ExecFailure::NoAssociation;
    default:
      return ExecFailure::Unknown;
  }
}

ExecFailure OpenDocument(const AnsiString& Path) {
  if (Path.empty()) return ExecFailure::None;
  // A URL goes to the launcher as it is, unless a file of that name exists.
  if (HasUrlScheme(Path) && !Exists(Path)) return Launch(Path, AnsiString());

  AnsiString target = NormalizeSeparators(Path);
  const AnsiString directory = WorkingDirectory(target);
  if (!directory.empty() && !IsDirectory(directory)) return ExecFailure::PathNotFound;
  struct stat info {};
  if (stat(target.c_str(), &info) != 0) {
    if (errno == ENOENT) return ExecFailure::FileNotFound;
    if (errno == ENOTDIR) return ExecFailure::PathNotFound;
    if (errno == ENOMEM) return ExecFailure::OutOfResources;
    // Anything else (no permission on the way): the launcher reports it in its own terms.
  }
  // The launcher runs in the working directory, so a relative path must not depend on ours.
  if (target[0] != '/') {
    std::vector<char> here(4096);
    while (getcwd(here.data(), here.size()) == nullptr) {
      if (errno != ERANGE) return ExecFailure::Unknown;
      here.resize(here.size() * 2);
    }
    AnsiString absolute = here.data();
    if (absolute.back() != '/') absolute += '/';
    target = absolute + target;
  }
  return Launch(target, directory);
}

}  // namespace file_exec
}  // namespace ovelta
