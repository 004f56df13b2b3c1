// ovpack: builds, lists, extracts, verifies and edits pack archives from the command line, through
// the Ovelta library's TOvPack and nothing else.
//
// Names: member names are Shift-JIS (code page 932) inside the pack; file names and the names given
// on the command line are UTF-8, whatever the locale. A name converts only when it converts back to
// the same bytes; one that does not is reported and skipped. Messages are English and print paths
// as they were given.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <map>
#include <memory>
#include <thread>
#include <string>
#include <vector>

#include "pack/Pack.h"
#include "pack/PackNames.h"
#include "pack/PackPrepare.h"
#include "pack/PackReadAhead.h"
#include "platform/core/Dialogs.h"
#include "platform/core/FileTime.h"
#include "platform/core/Streams.h"
#include "platform/core/Text.h"

namespace ovelta {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;  // bad input, damage found, a file that cannot be read or written
constexpr int kExitUsage = 2;    // the command line itself is wrong
constexpr std::int32_t kExtractBlock = 1 << 20;
constexpr std::size_t kCopyBlock = 1 << 20;
// A compressed member's bar when it is added: encoding fills it to this share, the copy the rest.
constexpr int kCodecShare = 90;

const char kUsage[] =
    "Usage: ovpack COMMAND [OPTIONS] PACK [ARGUMENTS]\n"
    "Build, list, extract, verify and edit pack archives.\n"
    "\n"
    "Commands:\n"
    "  create [--store] PACK FILE[=NAME]...  make a new pack (replacing PACK) from the files\n"
    "  add [--store] PACK FILE[=NAME]...     add files to an existing pack\n"
    "  list PACK                             show every member: size, stored size, compressed,\n"
    "                                        time stamp (local time), check word, name\n"
    "  extract [--force] PACK [MEMBER...] [-C DIR]\n"
    "                                        write members (all by default) into DIR (default .),\n"
    "                                        keeping their time stamps; existing files are kept\n"
    "  verify PACK                           check the whole-pack check word and every member\n"
    "  delete PACK MEMBER...                 remove members from the directory\n"
    "\n"
    "Options:\n"
    "  --store     never compress (by default a member is compressed when that makes it smaller)\n"
    "  --force     let extract replace existing files\n"
    "  -C DIR      extract into DIR, which must exist\n"
    "  -h, --help  show this help\n"
    "  --version   show the version\n"
    "\n"
    "A member is named after its file without the directory, or NAME when FILE=NAME is given\n"
    "(split at the last '='; FILE= keeps the file's own name). Names are UTF-8 outside the pack "
    "and\n"
    "Shift-JIS inside it, whatever the locale: at most 25 bytes in Shift-JIS, no control\n"
    "characters, '/' or '\\', not starting with a dot. The pack keeps 21 bytes before the first "
    "dot\n"
    "and 3 after it: a file's longer name is cut (and said so); a NAME given must fit as it is.\n"
    "Names are compared without regard to the case of ASCII letters.\n"
    "\n"
    "A bad file or member is reported and skipped; the others are still done.\n"
    "Exit status: 0 success, 1 something failed or was skipped, 2 wrong usage.\n";

// ---- messages -----------------------------------------------------------------------------------

// Text with its control bytes, and with KeepHigh false its bytes beyond ASCII, as \xNN.
std::string Escaped(const std::string& Text, bool KeepHigh) {
  std::string shown;
  for (char c : Text) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b != 0x7F && (KeepHigh || b < 0x80)) {
      shown += c;
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", b);
      shown += escape;
    }
  }
  return shown;
}

// Text as it may be printed: a name cannot break a line of output.
std::string Printable(const std::string& Text) { return Escaped(Text, true); }

void Error(const std::string& Text) { std::fprintf(stderr, "ovpack: %s\n", Text.c_str()); }
// "PATH: TEXT", the path as given.
void Error(const std::string& Path, const std::string& Text) {
  Error(Printable(Path) + ": " + Text);
}
std::string SystemReason(int Error) { return Error != 0 ? std::strerror(Error) : "unknown reason"; }

// ---- names --------------------------------------------------------------------------------------

using pack_names::MemberNameFromUtf8;
using pack_names::Utf8FromMemberName;

// A member name for messages and listings: UTF-8, bytes that are not Shift-JIS as \xNN.
std::string Shown(const AnsiString& Member) {
  std::string utf8;
  return Utf8FromMemberName(Member, utf8) ? Printable(utf8) : Escaped(Member, false);
}

// Why the format cannot hold Member (Shift-JIS) as a member name that is also a plain file name;
// empty when it can. Every command refuses names through this one check.
std::string NameProblem(const AnsiString& Member) {
  if (Member.empty()) return "it is empty";
  std::string utf8;
  if (!Utf8FromMemberName(Member, utf8)) return "its bytes are not Shift-JIS";
  for (std::size_t i = 0; i < Member.size(); ++i) {
    const auto b = static_cast<unsigned char>(Member[i]);
    if (IsDBCSLeadByte(Member[i])) {
      ++i;  // the trail byte may be 0x5C and is not a backslash
    } else if (b < 0x20 || b == 0x7F) {
      return "it has a control character";
    } else if (b == '/' || b == '\\') {
      return "it has a '/' or '\\'";
    }
  }
  if (Member[0] == '.') return "it starts with a dot (a member needs a name before its first dot)";
  if (Member.size() > static_cast<std::size_t>(kPackMaxNameBytes))
    return "it is longer than 25 bytes in Shift-JIS";
  return {};
}

// "'NAME': cannot be a member name: REASON", the same words from every command.
std::string Refusal(const std::string& Name, const std::string& Problem) {
  return "'" + Printable(Name) + "' cannot be a member name: " + Problem;
}

// Text cut to at most Bytes bytes without splitting a double-byte character.
AnsiString CutAt(const AnsiString& Text, std::size_t Bytes) {
  std::size_t end = 0;
  while (end < Text.size()) {
    const std::size_t next = end + (IsDBCSLeadByte(Text[end]) ? 2 : 1);
    if (next > Bytes) break;
    end = next;
  }
  return Text.substr(0, end);
}

// The name the pack keeps for Member: the part before the first dot cut to 21 bytes, the part after
// it to 3, on character boundaries and without trailing dots ("notes.md.gz" is kept as "notes.md",
// not "notes.md."). '.' is never the second byte of a Shift-JIS character.
AnsiString StoredForm(const AnsiString& Member) {
  const std::size_t dot = Member.find('.');
  const AnsiString base = CutAt(Member.substr(0, dot), kPackBaseNameBytes);
  AnsiString ext =
      dot == AnsiString::npos ? AnsiString() : CutAt(Member.substr(dot + 1), kPackExtensionBytes);
  while (!ext.empty() && ext.back() == '.') ext.pop_back();
  return ext.empty() ? base : base + "." + ext;
}

// A member name given on the command line (UTF-8) as the pack's name; false after saying why.
bool MemberArgument(const std::string& Given, AnsiString& Member) {
  if (!MemberNameFromUtf8(Given, Member)) {
    Error(Refusal(Given, "it is not UTF-8 with a Shift-JIS form"));
    return false;
  }
  const std::string problem = NameProblem(Member);
  if (!problem.empty()) {
    Error(Refusal(Given, problem));
    return false;
  }
  return true;
}

// ---- reasons ------------------------------------------------------------------------------------

// The library shows its own message boxes for a damaged pack and for AddFile's failures; the tool
// says the same in its own words from TOvPack::LastError(), so the boxes are passed over.
void SilenceBoxes() {
  SetMessageBoxHandler([](const AnsiString&, const AnsiString&, unsigned) { return 1; });
}

// " (the system's reason)", " (in use by another program)" for a lock another holds, or nothing.
std::string SystemSuffix(const TPackError& Failure) {
  if (Failure.SystemError == EWOULDBLOCK) return " (in use by another program)";
  return Failure.SystemError != 0 ? " (" + SystemReason(Failure.SystemError) + ")" : std::string();
}

// Why LoadPack refused a pack.
std::string WhyNotOpened(const TPackError& Failure) {
  switch (Failure.Reason) {
    case TPackReason::CheckWordMismatch:
      return "damaged pack: the whole-pack check word does not match (see 'ovpack verify')";
    case TPackReason::CannotOpen:
      if (Failure.SystemError == EWOULDBLOCK) return "in use by another program";
      return "cannot open: " + SystemReason(Failure.SystemError);
    case TPackReason::NotAPack:
      return "not a pack";
    default:
      return Failure.Text();
  }
}

// Why AddFile refused a file.
std::string WhyNotAdded(const TPackError& Failure) {
  switch (Failure.Reason) {
    case TPackReason::NoTempFile:
      return "no temporary file could be made";
    case TPackReason::BadName:
      return "the library refused the name";
    case TPackReason::CannotOpen:
      return "a file could not be opened" + SystemSuffix(Failure);
    case TPackReason::ReadFailed:
      return "the file could not be read" + SystemSuffix(Failure);
    case TPackReason::WriteFailed:
      return "the pack could not be written" + SystemSuffix(Failure);
    default:
      return Failure.Text();
  }
}

// Why a member did not open.
std::string WhyMemberNotOpened(const TPackError& Failure) {
  switch (Failure.Reason) {
    case TPackReason::CheckWordMismatch:
      return "check word mismatch";
    case TPackReason::DamagedMember:
      return "entry or stream invalid";
    default:
      return Failure.Text();
  }
}

// ---- interruptions ------------------------------------------------------------------------------
//
// SIGINT, SIGTERM and SIGHUP remove what the run was writing and then end it as the signal would:
// the file recorded with Track (a pack being built), the files extract is writing in its
// directory (".NAME.ovpack-PID", on several threads, see TrackStagedFiles), and the library's
// temporary files OvTmpNNN.Corvel that this process has open. The handler only calls
// async-signal-safe functions; the path is recorded before the file is made.

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kMostDescriptors = 1024;  // descriptors looked at for temporary files
char gTracked[PATH_MAX];
volatile std::sig_atomic_t gTracking = 0;

// Records Path as the file to remove on an interruption (replacing any earlier one); false when
// the path is too long to record, and then nothing is recorded.
bool Track(const std::string& Path) {
  gTracking = 0;
  if (Path.size() >= sizeof gTracked) return false;
  std::memcpy(gTracked, Path.c_str(), Path.size() + 1);
  gTracking = 1;
  return true;
}
void Untrack() { gTracking = 0; }

// True for ".../OvTmpNNN.Corvel". Async-signal-safe.
bool IsLibraryTemporary(const char* Path) {
  const char* base = std::strrchr(Path, '/');
  return pack_names::IsTempFileName(base ? base + 1 : Path);
}

// Unlinks every OvTmpNNN.Corvel an open descriptor of this process refers to. Async-signal-safe.
void RemoveOwnTemporaryFiles() {
  static const char kPrefix[] = "/proc/self/fd/";
  for (int fd = 0; fd < kMostDescriptors; ++fd) {
    char link[sizeof kPrefix + 8];
    std::memcpy(link, kPrefix, sizeof kPrefix - 1);
    char digits[8];
    int n = 0;
    for (int v = fd; n == 0 || v > 0; v /= 10) digits[n++] = static_cast<char>('0' + v % 10);
    for (int i = 0; i < n; ++i) link[sizeof kPrefix - 1 + i] = digits[n - 1 - i];
    link[sizeof kPrefix - 1 + n] = '\0';
    char target[PATH_MAX];
    const ssize_t length = ::readlink(link, target, sizeof target - 1);
    if (length <= 0) continue;
    target[length] = '\0';
    if (IsLibraryTemporary(target)) ::unlink(target);
  }
}

// The directory extract writes into (-1 when none), and the end of the names it writes there.
int gStagingDir = -1;
char gStagedSuffix[32];
std::size_t gStagedSuffixLength = 0;
// Set first thing on an interruption: a thread that made a staged file and then finds it set
// removes the file itself, as the handler's look at the directory may have come too early.
std::atomic<int> gStopping{0};

// From now on an interruption removes the files ".NAME.ovpack-PID" in Dir. False when Dir cannot
// be opened (nothing is then tracked).
bool TrackStagedFiles(const std::string& Dir) {
  const std::string suffix = ".ovpack-" + std::to_string(::getpid());
  if (suffix.size() >= sizeof gStagedSuffix) return false;
  std::memcpy(gStagedSuffix, suffix.c_str(), suffix.size() + 1);
  gStagedSuffixLength = suffix.size();
  gStagingDir = ::open(Dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return gStagingDir >= 0;
}

// True for ".NAME.ovpack-PID" of this process. Async-signal-safe.
bool IsStagedFile(const char* Name) {
  const std::size_t length = std::strlen(Name);
  return Name[0] == '.' && length > gStagedSuffixLength + 1 &&
         std::memcmp(Name + length - gStagedSuffixLength, gStagedSuffix, gStagedSuffixLength) == 0;
}

// Unlinks this process's staged files in the extract directory. Async-signal-safe: the directory is
// read with getdents64 into a buffer on the stack.
void RemoveStagedFiles() {
  if (gStagingDir < 0) return;
  constexpr int kMostReads = 1 << 16;  // bounds the look at a directory that keeps growing
  alignas(8) char buffer[8192];
  ::lseek(gStagingDir, 0, SEEK_SET);
  for (int reads = 0; reads < kMostReads; ++reads) {
    const long got = ::syscall(SYS_getdents64, gStagingDir, buffer, sizeof buffer);
    if (got <= 0) break;
    for (long at = 0; at < got;) {
      // struct linux_dirent64: inode (8), offset (8), record length (2), type (1), name.
      unsigned short recordLength = 0;
      std::memcpy(&recordLength, buffer + at + 16, sizeof recordLength);
      const char* name = buffer + at + 19;
      if (IsStagedFile(name)) ::unlinkat(gStagingDir, name, 0);
      if (recordLength == 0) break;
      at += recordLength;
    }
  }
}

extern "C" void OnInterrupt(int Signal) {
  const int saved = errno;
  gStopping.store(1);
  if (gTracking) ::unlink(gTracked);
  RemoveStagedFiles();
  RemoveOwnTemporaryFiles();
  errno = saved;
  ::raise(Signal);  // the default action is back (SA_RESETHAND): delivered once this returns
}

void CatchInterrupts() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (int s : kSignals) sigaddset(&action.sa_mask, s);
  for (int s : kSignals) {
    struct sigaction previous {};
    // A signal ignored by whoever started us (nohup) stays ignored.
    if (::sigaction(s, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    ::sigaction(s, &action, nullptr);
  }
}

// ---- progress -----------------------------------------------------------------------------------

// A one-line bar on standard error, only when it is a terminal: one bar per file. A file's work
// may run in several phases, each reported from 0 to 100 % (a compressed member is encoded, then
// copied): phase k fills the bar from the end of phase k-1 to Ends[k], and the bar never goes back.
class ProgressBar {
 public:
  ProgressBar() : FShow(::isatty(STDERR_FILENO) == 1) {}
  ~ProgressBar() { Done(); }
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // Shows the library's progress of Pack on this bar. The bar must outlive the pack: declare it
  // first, as the pack may still report when it is destroyed.
  void Follow(TOvPack& Pack) {
    if (FShow) Pack.SetOnProgress([this, &Pack](TObject*) { Step(Pack.ProgPercent()); });
  }
  void Begin(const std::string& Label, std::initializer_list<int> Ends = {100}) {
    Done();
    FLabel = Label;
    FEnds.assign(Ends.begin(), Ends.end());
    FPhase = 0;
    FRaw = -1;
    FShown = -1;
  }
  // The current phase's percentage; a value below the last one starts the next phase.
  void Step(int Percent) {
    if (FRaw >= 0 && Percent < FRaw) NextPhase();
    FRaw = Percent;
    const int from = FPhase == 0 ? 0 : FEnds[FPhase - 1];
    const int to = FEnds.empty() ? 100 : FEnds[FPhase];
    Draw(from + std::clamp(Percent, 0, 100) * (to - from) / 100);
  }
  void NextPhase() {
    if (FPhase + 1 < FEnds.size()) ++FPhase;
    FRaw = -1;
  }
  void Done() {
    if (FDrawn) std::fputs("\r\033[K", stderr);
    FDrawn = false;
  }

 private:
  void Draw(int Percent) {
    if (!FShow || Percent <= FShown) return;
    FShown = std::min(Percent, 100);
    constexpr int kWidth = 30;
    const int filled = FShown * kWidth / 100;
    std::fprintf(stderr, "\r[%s%s] %3d%% %s\033[K", std::string(filled, '#').c_str(),
                 std::string(kWidth - filled, ' ').c_str(), FShown, FLabel.c_str());
    std::fflush(stderr);
    FDrawn = true;
  }

  bool FShow;
  bool FDrawn = false;
  std::string FLabel;
  std::vector<int> FEnds;
  std::size_t FPhase = 0;
  int FRaw = -1;
  int FShown = -1;
};

// ---- paths --------------------------------------------------------------------------------------

std::string BaseName(const std::string& Path) {
  std::string p = Path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const std::size_t slash = p.rfind('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

std::string DirName(const std::string& Path) {
  const std::size_t slash = Path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : Path.substr(0, slash);
}

std::string Absolute(const std::string& Path) {
  if (!Path.empty() && Path[0] == '/') return Path;
  char here[PATH_MAX];
  if (!::getcwd(here, sizeof here)) return Path;
  return std::string(here) + "/" + Path;
}

// The file a pack path stands for: symbolic links followed, so that replacing the pack replaces
// the file and keeps the link. A path that does not exist yet is made absolute only.
std::string PackFile(const std::string& Path) {
  char resolved[PATH_MAX];
  return ::realpath(Path.c_str(), resolved) ? std::string(resolved) : Absolute(Path);
}

// The library makes its temporary files in the current directory: work beside the pack, where
// there is room for it, or in the temporary directory when that is not writable.
void WorkBeside(const std::string& PackPath) {
  const std::string dir = DirName(PackPath);
  if (::access(dir.c_str(), W_OK) == 0 && ::chdir(dir.c_str()) == 0) return;
  const char* tmp = std::getenv("TMPDIR");
  if (!(tmp && *tmp && ::chdir(tmp) == 0)) (void)::chdir("/tmp");
}

std::string FormatTime(const FILETIME& Time) {
  std::int64_t seconds = 0;
  std::int32_t nanoseconds = 0;
  FileTimeToUnixTime(Time, seconds, nanoseconds);
  const auto t = static_cast<std::time_t>(seconds);
  std::tm local{};
  char text[32];
  if (!::localtime_r(&t, &local) || !std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local))
    return "(unknown time)";
  return text;
}

// Writes Count bytes to Fd, resuming after interrupted or short writes; false with errno set.
bool WriteAll(int Fd, const char* Data, std::size_t Count) {
  while (Count > 0) {
    const ssize_t n = ::write(Fd, Data, Count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    Data += n;
    Count -= static_cast<std::size_t>(n);
  }
  return true;
}

// ---- opening packs
// --------------------------------------------------------------------------------

// Loads the pack File (Shown as given) into Pack; on failure says why and returns false.
bool OpenPack(TOvPack& Pack, const std::string& Shown, const std::string& File, bool Writable,
              ProgressBar& Bar) {
  struct stat info {};
  if (::stat(File.c_str(), &info) != 0) {
    Error(Shown, "cannot open: " + SystemReason(errno));
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    Error(Shown, "not a regular file");
    return false;
  }
  Pack.SetReadOnly(!Writable);
  Bar.Begin("checking " + Printable(Shown));
  const bool loaded = Pack.LoadPack(File);
  Bar.Done();
  if (!loaded) Error(Shown, WhyNotOpened(Pack.LastError()));
  return loaded;
}

// ---- locking packs ------------------------------------------------------------------------------
//
// create, add and delete replace a pack through a new file renamed over it, and hold the pack's
// replacing lock (TFileStream::LockForReplacing) from before they read it until after the rename:
// two of them on one pack exclude each other, while list, verify and extract go on reading the
// pack (the old file, after the rename). The lock also keeps out programs that would write the
// pack in place through the library, as readers do.

// Test aid: a run whose OVPACK_TEST_STOP names Point stops itself there (SIGSTOP), the first time
// it comes by, until it is continued; a test arranges meanwhile what another run does.
void StopPointForTests(const char* Point) {
  static bool stopped = false;
  const char* wanted = std::getenv("OVPACK_TEST_STOP");
  if (stopped || !wanted || std::strcmp(wanted, Point) != 0) return;
  stopped = true;
  ::raise(SIGSTOP);
}

// The pack file Target (Shown as given) opened and locked for replacing, in Locked; false after
// saying why. A file that another run replaced between the open and the lock is opened again
// (that run has finished), a bounded number of times. With MayGoUnlocked (create), a file that
// does not exist or that this user may not write is not locked (true, Locked null): create then
// replaces it as it is, and no other run can be replacing it.
bool LockPack(const std::string& Shown, const std::string& Target,
              std::unique_ptr<TFileStream>& Locked, bool MayGoUnlocked = false) {
  constexpr int kMostOpens = 16;
  Locked.reset();
  for (int opens = 0; opens < kMostOpens; ++opens) {
    TFileStream::TReplacing lock = TFileStream::TReplacing::InUse;
    try {
      Locked = std::make_unique<TFileStream>(Target, fmOpenReadWrite);
      StopPointForTests("lock");
      lock = Locked->LockForReplacing();
    } catch (const EStreamError& e) {
      Locked.reset();
      const int error = e.SystemError();
      if (MayGoUnlocked &&
          (error == ENOENT || error == EACCES || error == EPERM || error == EROFS))
        return true;
      Error(Shown, "cannot open: " + SystemReason(error));
      return false;
    }
    if (lock == TFileStream::TReplacing::Locked) return true;
    Locked.reset();
    if (lock == TFileStream::TReplacing::InUse) break;
  }
  Error(Shown, "in use by another program");
  return false;
}

// Loads the pack held open (and locked) in Locked into Pack, read-only; false after saying why.
bool OpenLockedPack(TOvPack& Pack, const std::string& Shown, TFileStream& Locked,
                    ProgressBar& Bar) {
  Pack.SetReadOnly(true);
  Bar.Begin("checking " + Printable(Shown));
  const bool loaded = Pack.LoadPackStream(&Locked);
  Bar.Done();
  if (!loaded) Error(Shown, WhyNotOpened(Pack.LastError()));
  return loaded;
}

// ---- files to add -------------------------------------------------------------------------------

struct Source {
  std::string File;   // as given
  std::string Path;   // absolute (the run changes directory)
  AnsiString Member;  // the name it is stored under
  std::int64_t Size = 0;
};

std::int64_t RoundUp(std::int64_t Size) {
  return (Size + kPackAlign - 1) / kPackAlign * kPackAlign;
}

// The bytes Pack's data area takes: the end of its furthest member, deleted ones included.
std::int64_t DataSize(const TOvPack& Pack) {
  std::int64_t end = 0;
  for (int i = 0; i < Pack.GetFileNum(); ++i)
    if (const TOvFileTable3* e = Pack.GetFileEntry(i))
      end = std::max(end, std::int64_t{e->Offset} + RoundUp(e->CompSize));
  return end;
}

// Checks every FILE[=NAME] argument and its member name before anything is written, reporting
// each bad one on its own line (Bad counts them); returns the good ones. Existing is the pack
// being added to (PackShown as given, its file's status PackInfo), or null.
std::vector<Source> CheckSources(const std::vector<std::string>& Args, const TOvPack* Existing,
                                 const std::string& PackShown, const struct stat* PackInfo,
                                 int& Bad) {
  std::vector<Source> sources;
  std::map<std::string, std::string> taken;  // case-blind stored name -> the file that has it
  std::int64_t room = kPackMaxDataSize - (Existing ? DataSize(*Existing) : 0);
  for (const std::string& arg : Args) {
    const std::size_t equals = arg.rfind('=');
    const std::string file = equals == std::string::npos ? arg : arg.substr(0, equals);
    const std::string chosen = equals == std::string::npos ? std::string() : arg.substr(equals + 1);
    ++Bad;  // until it passes every check
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) {
      Error(file, "skipped: " + SystemReason(errno));
      continue;
    }
    if (!S_ISREG(info.st_mode)) {
      Error(file, "skipped: not a regular file");
      continue;
    }
    if (::access(file.c_str(), R_OK) != 0) {
      Error(file, "skipped: cannot read: " + SystemReason(errno));
      continue;
    }
    if (PackInfo && info.st_dev == PackInfo->st_dev && info.st_ino == PackInfo->st_ino) {
      Error(file, "skipped: it is the pack itself");
      continue;
    }
    const std::string wanted = chosen.empty() ? BaseName(file) : chosen;
    Source s{file, Absolute(file), {}, info.st_size};
    if (!MemberNameFromUtf8(wanted, s.Member)) {
      Error(file, "skipped: " + Refusal(wanted, "it is not UTF-8 with a Shift-JIS form"));
      continue;
    }
    const std::string problem = NameProblem(s.Member);
    if (!problem.empty()) {
      Error(file, "skipped: " + Refusal(wanted, problem) +
                      (chosen.empty() ? " (choose one with FILE=NAME)" : ""));
      continue;
    }
    const AnsiString stored = StoredForm(s.Member);
    if (!chosen.empty() && stored != s.Member) {
      Error(file, "skipped: " + Refusal(wanted,
                                        "the pack keeps at most 21 bytes before the first "
                                        "dot and 3 after it"));
      continue;
    }
    const int index = Existing ? Existing->CheckFileName(stored) : -1;
    if (index >= 0 && !Existing->GetFileName(index).empty()) {
      Error(file, "skipped: the member name '" + Shown(stored) + "' is already taken in " +
                      Printable(PackShown) + " (choose another with FILE=NAME)");
      continue;
    }
    const auto [other, inserted] = taken.emplace(pack_names::UpperName(stored), file);
    if (!inserted) {
      Error(file, "skipped: the member name '" + Shown(stored) + "' is already taken by " +
                      Printable(other->second) + " (choose another with FILE=NAME)");
      continue;
    }
    if (RoundUp(s.Size) > room) {
      taken.erase(other);
      Error(file, "skipped: too large: a pack's data stays under 2 GiB");
      continue;
    }
    room -= RoundUp(s.Size);
    if (stored != s.Member)
      Error("note: " + Printable(file) + " is stored as '" + Shown(stored) + "'");
    s.Member = stored;
    sources.push_back(s);
    --Bad;
  }
  return sources;
}

// Worker threads that prepare members ahead (create, add) or read them ahead (extract):
// OVPACK_THREADS when set (1 or less: none, every member is done on this thread), otherwise one
// per hardware thread.
int PrepareWorkers() {
  constexpr int kMostWorkers = 64;
  if (const char* given = std::getenv("OVPACK_THREADS"); given && *given) {
    const int asked = std::clamp(std::atoi(given), 0, kMostWorkers);
    return asked > 1 ? asked : 0;
  }
  return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, kMostWorkers);
}

// Adds the sources to the open, writable Pack in the order given, one bar each; a file that fails
// is reported and the rest still added. Members are read and compressed ahead on worker threads
// (at most kPrepareBudget bytes held); the pack is the same as with one thread. Returns how many
// were added.
int AddSources(TOvPack& Pack, const std::vector<Source>& Sources, bool Store, ProgressBar& Bar) {
  std::vector<TPrepareJob> jobs;
  jobs.reserve(Sources.size());
  for (const Source& s : Sources) jobs.push_back({s.Path, !Store});
  TMemberPreparer preparer(std::move(jobs), PrepareWorkers());
  int added = 0;
  for (const Source& s : Sources) {
    TPreparedMember member = preparer.Take();
    const std::string label = "adding " + Shown(s.Member);
    if (Store || s.Size == 0 || member.Ready)
      Bar.Begin(label);  // a prepared member is only copied
    else
      Bar.Begin(label, {kCodecShare, 100});  // encoded, then copied
    const bool ok = Pack.AddPrepared(s.Member, member);
    Bar.Done();
    if (ok)
      ++added;
    else
      Error(s.File, "not added: " + WhyNotAdded(Pack.LastError()));
  }
  return added;
}

// Closes the pack built for PackShown; false after saying why.
bool ClosePack(TOvPack& Pack, const std::string& PackShown, ProgressBar& Bar) {
  Bar.Begin("writing " + Printable(PackShown));
  const bool closed = Pack.EndPack();
  Bar.Done();
  if (!closed)
    Error(PackShown,
          "could not be written (" + Pack.LastError().Text() + "); the pack is unchanged");
  return closed;
}

// ---- writing beside ----------------------------------------------------------------------------

// A new pack written beside Target (as "Target.ovpack-PID") and renamed over it once complete, so
// that the old pack stays whole until then. The new file is removed on failure, on an
// interruption, and when the object goes without Replace having succeeded.
class Beside {
 public:
  explicit Beside(const std::string& Target)
      : FTarget(Target), FPath(Target + ".ovpack-" + std::to_string(::getpid())) {
    Track(FPath);
  }
  ~Beside() {
    if (!FReplaced) Drop();
  }
  Beside(const Beside&) = delete;
  Beside& operator=(const Beside&) = delete;
  const std::string& Path() const { return FPath; }

  // Copies the pack file open on In (the locked one) as it is into the new file; false after
  // saying why.
  bool CopyFrom(int In, const std::string& PackShown, ProgressBar& Bar) {
    ::unlink(FPath.c_str());  // a leftover of an earlier process with our number
    const int out =
        ::open(FPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    bool ok = out >= 0;
    int error = errno;
    struct stat info {};
    if (ok && ::fstat(In, &info) != 0) {
      ok = false;
      error = errno;
    }
    Bar.Begin("copying " + Printable(PackShown));
    std::vector<char> block(kCopyBlock);
    for (off_t done = 0; ok && done < info.st_size;) {
      const ssize_t n = ::pread(In, block.data(), block.size(), done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0 || !WriteAll(out, block.data(), static_cast<std::size_t>(n))) {
        error = n == 0 ? EIO : errno;
        ok = false;
        break;
      }
      done += n;
      Bar.Step(static_cast<int>(std::int64_t{done} * 100 / info.st_size));
    }
    Bar.Done();
    if (out >= 0 && ::close(out) != 0 && ok) {
      ok = false;
      error = errno;
    }
    if (!ok)
      Error(PackShown,
            "could not be copied to work on (" + SystemReason(error) + "); the pack is unchanged");
    return ok;
  }

  // Puts the new pack on disk with the old file's permissions (when Old is given) and renames it
  // over the target; false after saying why, the new file removed.
  bool Replace(const std::string& PackShown, const struct stat* Old) {
    const int fd = ::open(FPath.c_str(), O_RDONLY | O_CLOEXEC);
    bool ok = fd >= 0;
    if (ok && Old) (void)::fchmod(fd, Old->st_mode & 07777);
    ok = ok && ::fsync(fd) == 0;
    const int error = errno;
    if (fd >= 0) ::close(fd);
    if (!ok) {
      Error(PackShown, "could not be written (" + SystemReason(error) + "); the pack is unchanged");
      return false;
    }
    StopPointForTests("replace");
    if (std::rename(FPath.c_str(), FTarget.c_str()) != 0) {
      Error(PackShown, "cannot be replaced (" + SystemReason(errno) + ")");
      return false;
    }
    Untrack();
    FReplaced = true;
    return true;
  }

  void Drop() {
    ::unlink(FPath.c_str());
    Untrack();
  }

 private:
  std::string FTarget;
  std::string FPath;
  bool FReplaced = false;
};

// ---- building and editing -----------------------------------------------------------------------

int Create(const std::string& PackShown, const std::vector<std::string>& Args, bool Store) {
  int bad = 0;
  const std::vector<Source> sources = CheckSources(Args, nullptr, PackShown, nullptr, bad);
  if (sources.empty()) {
    Error(PackShown, "nothing to add; not written");
    return kExitFailure;
  }
  const std::string target = PackFile(PackShown);
  struct stat old {};
  bool replacing = ::stat(target.c_str(), &old) == 0;
  if (replacing && !S_ISREG(old.st_mode)) {
    Error(PackShown, "not a regular file");
    return kExitFailure;
  }
  // An existing pack is locked as add and delete lock it: one run replaces it at a time.
  std::unique_ptr<TFileStream> locked;
  if (!LockPack(PackShown, target, locked, true)) return kExitFailure;
  if (locked) replacing = ::fstat(locked->Handle(), &old) == 0;
  ProgressBar bar;  // before the pack, which may report while it goes
  Beside beside(target);
  TOvPack pack;
  bar.Follow(pack);
  pack.SetReadOnly(false);
  WorkBeside(target);
  if (!pack.NewPack(beside.Path())) {
    Error(PackShown, "cannot create (" + SystemReason(pack.LastError().SystemError) + ")");
    return kExitFailure;
  }
  const int added = AddSources(pack, sources, Store, bar);
  bad += static_cast<int>(sources.size()) - added;
  if (!ClosePack(pack, PackShown, bar)) return kExitFailure;
  if (added == 0) {
    Error(PackShown, "nothing added; not written");
    return kExitFailure;
  }
  if (!beside.Replace(PackShown, replacing ? &old : nullptr)) return kExitFailure;
  return bad > 0 ? kExitFailure : kExitOk;
}

// Opens a copy of the pack beside it, writable, for Add and Delete; false after saying why.
bool OpenCopy(TOvPack& Copy, Beside& Copied, const TFileStream& Locked,
              const std::string& PackShown, ProgressBar& Bar) {
  if (!Copied.CopyFrom(Locked.Handle(), PackShown, Bar)) return false;
  Copy.SetReadOnly(false);
  Copy.SetCrcMode(cmNon);  // the original was just checked
  if (Copy.LoadPack(Copied.Path())) return true;
  Error(PackShown, "its copy could not be opened: " + WhyNotOpened(Copy.LastError()));
  return false;
}

// The pack to be replaced by Add or Delete: Target (Shown as given) locked in Locked and loaded
// into Original, its file's status in Old; false after saying why.
bool OpenOriginal(TOvPack& Original, std::unique_ptr<TFileStream>& Locked, struct stat& Old,
                  const std::string& Shown, const std::string& Target, ProgressBar& Bar) {
  if (::stat(Target.c_str(), &Old) != 0) {
    Error(Shown, "cannot open: " + SystemReason(errno));
    return false;
  }
  if (!S_ISREG(Old.st_mode)) {
    Error(Shown, "not a regular file");
    return false;
  }
  if (!LockPack(Shown, Target, Locked)) return false;
  if (::fstat(Locked->Handle(), &Old) != 0) {
    Error(Shown, "cannot open: " + SystemReason(errno));
    return false;
  }
  if (!S_ISREG(Old.st_mode)) {  // a file put in its place since the look above
    Error(Shown, "not a regular file");
    return false;
  }
  return OpenLockedPack(Original, Shown, *Locked, Bar);
}

int Add(const std::string& PackShown, const std::vector<std::string>& Args, bool Store) {
  const std::string target = PackFile(PackShown);
  ProgressBar bar;
  std::unique_ptr<TFileStream> locked;  // held until the pack is replaced
  TOvPack original;                     // reads from it: declared after it, so it goes first
  bar.Follow(original);
  struct stat old {};
  if (!OpenOriginal(original, locked, old, PackShown, target, bar)) return kExitFailure;
  int bad = 0;
  const std::vector<Source> sources =
      CheckSources(Args, &original, PackShown, &old, bad);
  if (sources.empty()) {
    Error(PackShown, "nothing to add; the pack is unchanged");
    return kExitFailure;
  }
  Beside beside(target);
  TOvPack pack;
  bar.Follow(pack);
  if (!OpenCopy(pack, beside, *locked, PackShown, bar)) return kExitFailure;
  WorkBeside(target);
  const int added = AddSources(pack, sources, Store, bar);
  bad += static_cast<int>(sources.size()) - added;
  if (added == 0) {
    pack.EndPack();
    Error(PackShown, "nothing added; the pack is unchanged");
    return kExitFailure;
  }
  if (!ClosePack(pack, PackShown, bar) || !beside.Replace(PackShown, &old))
    return kExitFailure;
  return bad > 0 ? kExitFailure : kExitOk;
}

int Delete(const std::string& PackShown, const std::vector<std::string>& Members) {
  const std::string target = PackFile(PackShown);
  ProgressBar bar;
  std::unique_ptr<TFileStream> locked;  // held until the pack is replaced
  TOvPack original;                     // reads from it: declared after it, so it goes first
  bar.Follow(original);
  struct stat old {};
  if (!OpenOriginal(original, locked, old, PackShown, target, bar)) return kExitFailure;
  int bad = 0;
  std::vector<AnsiString> names;
  for (const std::string& m : Members) {
    AnsiString name;
    if (!MemberArgument(m, name)) {
      ++bad;
      continue;
    }
    const int index = original.CheckFileName(name);
    if (index < 0 || original.GetFileName(index).empty()) {
      Error(PackShown, "no member named '" + Printable(m) + "'");
      ++bad;
      continue;
    }
    const AnsiString found = original.GetFileName(index);
    if (std::find(names.begin(), names.end(), found) == names.end()) names.push_back(found);
  }
  if (names.empty()) {
    Error(PackShown, "nothing to delete; the pack is unchanged");
    return kExitFailure;
  }
  Beside beside(target);
  TOvPack pack;
  bar.Follow(pack);
  if (!OpenCopy(pack, beside, *locked, PackShown, bar)) return kExitFailure;
  for (const AnsiString& name : names) pack.DelFile(name);
  if (!ClosePack(pack, PackShown, bar) || !beside.Replace(PackShown, &old))
    return kExitFailure;
  return bad > 0 ? kExitFailure : kExitOk;
}

// ---- listing and checking -----------------------------------------------------------------------

// Names are looked up without regard to ASCII case (TOvPack::CheckFileName), so of entries whose
// names are equal that way only the first can be reached by name. For the entry at Index, which
// has a name, the earlier one that hides it: its index, or -1 when it is reachable.
int HiddenBy(const TOvPack& Pack, int Index) {
  const int first = Pack.CheckFileName(Pack.GetFileName(Index));
  return first >= 0 && first != Index ? first : -1;
}

// "unreachable by name (the same name as 'FIRST' ignoring case)", for an entry First hides.
std::string Unreachable(const TOvPack& Pack, int First) {
  return "unreachable by name (the same name as '" + Shown(Pack.GetFileName(First)) +
         "' ignoring case)";
}

int List(const std::string& PackShown) {
  ProgressBar bar;
  TOvPack pack;
  bar.Follow(pack);
  bool damaged = false;
  if (!OpenPack(pack, PackShown, PackShown, false, bar)) {
    if (pack.LastError().Reason != TPackReason::CheckWordMismatch) return kExitFailure;
    // Show what the directory says all the same.
    pack.SetCrcMode(cmNon);
    if (!pack.LoadPack(PackShown)) return kExitFailure;
    damaged = true;
  }
  std::printf("%10s %10s %-4s %-19s %-5s %s\n", "Size", "Stored", "Comp", "Modified", "Check",
              "Name");
  int members = 0;
  for (int i = 0; i < pack.GetFileNum(); ++i) {
    const TOvFileTable3* e = pack.GetFileEntry(i);
    if (!e || e->FileName[0] == 0) continue;
    char check[8] = "-";
    if (e->CrcFlag) std::snprintf(check, sizeof check, "%04X", e->Crc);
    std::printf("%10d %10d %-4s %-19s %-5s %s\n", e->Size, e->CompSize, e->Comp ? "yes" : "no",
                FormatTime(e->Time).c_str(), check, Shown(pack.GetFileName(i)).c_str());
    ++members;
  }
  const int deleted = pack.GetFileNum() - members;
  std::printf("%d member%s", members, members == 1 ? "" : "s");
  if (deleted > 0) std::printf(", %d deleted entr%s", deleted, deleted == 1 ? "y" : "ies");
  if (pack.FileVersion() != kPackVersion3)
    std::printf(", version %d pack", pack.FileVersion() >> 8);
  std::printf("\n");
  return damaged ? kExitFailure : kExitOk;
}

int Verify(const std::string& PackShown) {
  ProgressBar bar;
  TOvPack pack;
  bar.Follow(pack);
  bool damaged = false;
  if (OpenPack(pack, PackShown, PackShown, false, bar)) {
    if (pack.FileVersion() == kPackVersion3)
      std::printf("pack check word: ok\n");
    else
      std::printf("pack check word: none (version %d pack)\n", pack.FileVersion() >> 8);
  } else {
    if (pack.LastError().Reason != TPackReason::CheckWordMismatch) return kExitFailure;
    std::printf("pack check word: DAMAGED\n");
    damaged = true;
  }
  // Every member on its own: its check word, and that its stream decodes to its size. Members are
  // expanded piece by piece and dropped, so memory stays small whatever size an entry claims;
  // OvfreadAll checks the stored bytes as it reads them. The pack loaded stays open, so that every
  // line is about one file even when a run replaces the pack.
  pack.SetCrcMode(cmNon);
  if (damaged && !pack.LoadPack(PackShown)) {
    Error(PackShown, "cannot be read again");
    return kExitFailure;
  }
  int checked = 0;
  int bad = 0;
  int unreachable = 0;
  for (int i = 0; i < pack.GetFileNum(); ++i) {
    const AnsiString name = pack.GetFileName(i);
    const TOvFileTable3* e = pack.GetFileEntry(i);
    if (name.empty() || !e) continue;
    if (const int first = HiddenBy(pack, i); first >= 0) {
      std::printf("%s: %s; not checked\n", Shown(name).c_str(), Unreachable(pack, first).c_str());
      ++unreachable;
      continue;
    }
    ++checked;
    bar.Begin("verifying " + Shown(name));
    OvFILE* f = pack.OvfopenComp(name, false);
    const bool sound = f && pack.OvfreadAll(f, [](const Byte*, std::int32_t) { return true; });
    bar.Done();
    if (sound) {
      std::printf("%s: %s\n", Shown(name).c_str(), e->CrcFlag ? "ok" : "ok (no check word)");
    } else {
      std::printf("%s: DAMAGED (%s)\n", Shown(name).c_str(),
                  WhyMemberNotOpened(pack.LastError()).c_str());
      ++bad;
    }
    pack.Ovfclose(f);
  }
  std::printf("%d member%s checked, %d damaged", checked, checked == 1 ? "" : "s", bad);
  if (unreachable > 0) std::printf(", %d unreachable by name", unreachable);
  std::printf("\n");
  return damaged || bad > 0 || unreachable > 0 ? kExitFailure : kExitOk;
}

// ---- extracting ---------------------------------------------------------------------------------

// Where one member goes: its file in the extract directory and the temporary file beside it that
// is renamed over the file once complete.
struct Destination {
  std::string Refused;  // why the member's name cannot be a file name; empty when it can
  std::string Path;     // Dir + "/" + the name in UTF-8
  std::string Temp;     // Dir + "/." + the name + ".ovpack-PID"
};

Destination DestinationOf(const AnsiString& Name, const std::string& Dir) {
  Destination d;
  d.Refused = NameProblem(Name);
  if (!d.Refused.empty()) return d;
  std::string file;
  Utf8FromMemberName(Name, file);
  d.Path = Dir + "/" + file;
  d.Temp = Dir + "/." + file + ".ovpack-" + std::to_string(::getpid());
  return d;
}

// A member's bytes written into its temporary file, with its time stamp.
struct Staged {
  bool Made = false;    // the temporary file exists and holds the whole member
  std::string Failure;  // why it could not be made, said of the destination; "" when made
  bool StampFailed = false;
};

// Makes To.Temp (refusing an existing file) from the bytes Produce gives, with Time as its time
// stamp. Produce(Write) calls Write(Bytes, Count) with each next piece, in order, and returns
// whether every byte came; Write returns false when the piece could not be written (Failure is set
// then). Removes what it made on failure (a Produce that fails on its own leaves Failure empty)
// and when an interruption came meanwhile. Safe on any thread.
template <typename Producer>
Staged Stage(const Destination& To, const FILETIME& Time, Producer&& Produce) {
  Staged result;
  const int out =
      ::open(To.Temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (out < 0) {
    result.Failure = "cannot create: " + SystemReason(errno);
    return result;
  }
  const auto write = [&](const char* Bytes, std::int32_t Count) {
    if (WriteAll(out, Bytes, static_cast<std::size_t>(Count))) return true;
    result.Failure = "cannot write: " + SystemReason(errno);
    return false;
  };
  bool ok = Produce(write);
  if (::close(out) != 0 && ok) {
    result.Failure = "cannot write: " + SystemReason(errno);
    ok = false;
  }
  if (ok && !SetFileLastWriteTime(To.Temp, Time)) result.StampFailed = true;
  if (!ok || gStopping.load()) {
    ::unlink(To.Temp.c_str());
    return result;
  }
  result.Made = true;
  return result;
}

// Gives Size bytes at Data to Write (as Stage's Produce does) in pieces of kExtractBlock bytes;
// Step follows the bytes written.
template <typename Writer, typename Progress>
bool WritePieces(const char* Data, std::int32_t Size, const Writer& Write, Progress&& Step) {
  for (std::int32_t done = 0; done < Size;) {
    const std::int32_t piece = std::min(kExtractBlock, Size - done);
    if (!Write(Data + done, piece)) return false;
    done += piece;
    Step(done);
  }
  return true;
}

// "member 'NAME': damaged (why)", or "cannot be read (why)" when the pack is not to blame.
std::string MemberFailure(const AnsiString& Name, const TPackError& Failure) {
  const bool damaged = Failure.Reason == TPackReason::CheckWordMismatch ||
                       Failure.Reason == TPackReason::DamagedMember;
  return "member '" + Shown(Name) + "': " + (damaged ? "damaged (" : "cannot be read (") +
         WhyMemberNotOpened(Failure) + ")";
}

// Writes the member at Index into its destination, through the temporary file that is renamed at
// the end; an existing file is kept unless Force. Ahead holds the member when it was read ahead
// (Ready) and Done its temporary file when a worker made it already; otherwise both are done here.
// False after saying why.
bool ExtractMember(TOvPack& Pack, int Index, const Destination& To, TReadMember& Ahead,
                   Staged& Done, bool Force, ProgressBar& Bar) {
  struct Untracking {
    ~Untracking() { Untrack(); }  // the file is renamed or removed by then
  } untracking;
  const AnsiString name = Pack.GetFileName(Index);
  struct stat existing {};
  if (!To.Refused.empty()) {
    Error("member " + Refusal(Shown(name), To.Refused) + "; skipped");
    return false;
  }
  if (!Force && ::lstat(To.Path.c_str(), &existing) == 0) {
    if (Done.Made) ::unlink(To.Temp.c_str());
    Error(To.Path, "exists; skipped (--force replaces it)");
    return false;
  }
  Staged staged = std::move(Done);
  bool memberFailed = false;
  if (!staged.Made && staged.Failure.empty()) {
    Bar.Begin("extracting " + Shown(name));
    // A member not read ahead is streamed from the pack into its file piece by piece, whatever its
    // size, its check word checked on the way: one changed since the pack was opened is refused.
    OvFILE* f = Ahead.Ready ? nullptr : Pack.OvfopenComp(name, false);
    if (!Ahead.Ready && !f) {
      Bar.Done();
      Error(MemberFailure(name, Pack.LastError()));
      return false;
    }
    FILETIME time{};
    Pack.GetFileTime(Index, time);
    // Without the staging directory's descriptor the handler knows the file by its path.
    if (gStagingDir < 0) Track(To.Temp);
    staged = Stage(To, time, [&](const auto& Write) {
      if (Ahead.Ready)
        return WritePieces(Ahead.Data.As<char>(), Ahead.Size, Write, [&](std::int32_t Written) {
          Bar.Step(static_cast<int>(std::int64_t{Written} * 100 / Ahead.Size));
        });
      // The library's progress moves the bar.
      if (Pack.OvfreadAll(f, [&](const Byte* Data, std::int32_t Count) {
            return Write(reinterpret_cast<const char*>(Data), Count);
          }))
        return true;
      memberFailed = Pack.LastError().Reason != TPackReason::WriteFailed;
      return false;
    });
    Bar.Done();
    Pack.Ovfclose(f);
  }
  Ahead.Data.Reset();
  if (memberFailed) {
    Error(MemberFailure(name, Pack.LastError()));
    return false;
  }
  if (!staged.Made) {
    Error(To.Path, staged.Failure);
    return false;
  }
  if (staged.StampFailed) Error(To.Path, "the time stamp could not be set");
  int moved =
      Force ? std::rename(To.Temp.c_str(), To.Path.c_str())
            : ::renameat2(AT_FDCWD, To.Temp.c_str(), AT_FDCWD, To.Path.c_str(), RENAME_NOREPLACE);
  if (moved != 0 && !Force && (errno == EINVAL || errno == ENOSYS)) {
    // A file system that cannot refuse to replace: look first.
    moved = ::lstat(To.Path.c_str(), &existing) == 0
                ? (errno = EEXIST, -1)
                : std::rename(To.Temp.c_str(), To.Path.c_str());
  }
  if (moved == 0) return true;
  const int error = errno;
  ::unlink(To.Temp.c_str());
  if (error == EEXIST) {
    Error(To.Path, "exists; skipped (--force replaces it)");
  } else {
    Error(To.Path, "cannot create: " + SystemReason(error));
  }
  return false;
}

int Extract(const std::string& PackShown, const std::vector<std::string>& Members,
            const std::string& Dir, bool Force) {
  struct stat info {};
  if (::stat(Dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    Error(Dir, "no such directory");
    return kExitFailure;
  }
  ProgressBar bar;
  TOvPack pack;
  bar.Follow(pack);
  if (!OpenPack(pack, PackShown, PackShown, false, bar)) return kExitFailure;
  std::vector<int> wanted;
  bool ok = true;
  if (Members.empty()) {
    for (int i = 0; i < pack.GetFileNum(); ++i) {
      if (pack.GetFileName(i).empty()) continue;
      if (const int first = HiddenBy(pack, i); first >= 0) {
        Error("member '" + Shown(pack.GetFileName(i)) + "': " + Unreachable(pack, first) +
              "; skipped");
        ok = false;
      } else {
        wanted.push_back(i);
      }
    }
  } else {
    for (const std::string& m : Members) {
      AnsiString name;
      if (!MemberArgument(m, name)) {
        ok = false;
        continue;
      }
      const int index = pack.CheckFileName(name);
      if (index < 0 || pack.GetFileName(index).empty()) {
        Error(PackShown, "no member named '" + Printable(m) + "'");
        ok = false;
        continue;
      }
      wanted.push_back(index);
    }
  }
  CatchInterrupts();
  // Members are read and decoded ahead on worker threads, which also write each one into its
  // temporary file (at most kReadAheadBudget bytes held); this thread then checks and renames them
  // in order, so the messages and the files made are those of one thread. A member named twice is
  // written the second time by this thread (its temporary file would be taken).
  std::vector<Destination> destinations;
  std::vector<FILETIME> times(wanted.size());
  std::vector<bool> repeated(wanted.size(), false);
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    destinations.push_back(DestinationOf(pack.GetFileName(wanted[i]), Dir));
    pack.GetFileTime(wanted[i], times[i]);
    repeated[i] = std::find(wanted.begin(), wanted.begin() + static_cast<std::ptrdiff_t>(i),
                            wanted[i]) != wanted.begin() + static_cast<std::ptrdiff_t>(i);
  }
  const bool staging = TrackStagedFiles(Dir);
  std::vector<Staged> staged(wanted.size());
  TMemberReadAhead ahead(pack, wanted, staging ? PrepareWorkers() : 0, kReadAheadBudget,
                         [&](std::size_t Position, TReadMember& Member) {
                           const Destination& to = destinations[Position];
                           struct stat existing {};
                           if (repeated[Position] || !to.Refused.empty() || gStopping.load() ||
                               (!Force && ::lstat(to.Path.c_str(), &existing) == 0))
                             return;  // left to the checks of the thread that renames
                           staged[Position] = Stage(to, times[Position], [&](const auto& Write) {
                             return WritePieces(Member.Data.As<char>(), Member.Size, Write,
                                                [](std::int32_t) {});
                           });
                           Member.Data.Reset();
                         });
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    TReadMember member = ahead.Take();
    ok = ExtractMember(pack, wanted[i], destinations[i], member, staged[i], Force, bar) && ok;
  }
  return ok ? kExitOk : kExitFailure;
}

// ---- command line -------------------------------------------------------------------------------

int UsageError(const std::string& Text) {
  Error(Text);
  std::fputs("Try 'ovpack --help'.\n", stderr);
  return kExitUsage;
}

int Run(int argc, char** argv) {
  std::vector<std::string> args;
  bool store = false;
  bool force = false;
  bool optionsDone = false;
  std::string dir = ".";
  bool dirGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (!optionsDone && (a == "-h" || a == "--help")) {
      std::fputs(kUsage, stdout);
      return kExitOk;
    }
    if (!optionsDone && a == "--version") {
      std::puts("ovpack " OVPACK_VERSION);
      return kExitOk;
    }
    if (!optionsDone && a == "--") {
      optionsDone = true;
    } else if (!optionsDone && a == "--store") {
      store = true;
    } else if (!optionsDone && a == "--force") {
      force = true;
    } else if (!optionsDone && a == "-C") {
      if (++i >= argc) return UsageError("-C needs a directory");
      dir = argv[i];
      dirGiven = true;
    } else if (!optionsDone && a.size() > 1 && a[0] == '-') {
      return UsageError("unknown option '" + Printable(a) + "'");
    } else {
      args.push_back(a);
    }
  }
  if (args.empty()) return UsageError("no command given");
  const std::string command = args[0];
  if (args.size() < 2) return UsageError("'" + Printable(command) + "' needs a pack");
  const std::string pack = args[1];
  const std::vector<std::string> rest(args.begin() + 2, args.end());
  if (store && command != "create" && command != "add")
    return UsageError("--store belongs to create and add");
  if (force && command != "extract") return UsageError("--force belongs to extract");
  if (dirGiven && command != "extract") return UsageError("-C belongs to extract");

  if (command == "create" || command == "add") {
    if (rest.empty()) return UsageError("'" + command + "' needs at least one file");
    CatchInterrupts();
    return command == "create" ? Create(pack, rest, store) : Add(pack, rest, store);
  }
  if (command == "list" || command == "verify") {
    if (!rest.empty()) return UsageError("'" + command + "' takes only the pack");
    return command == "list" ? List(pack) : Verify(pack);
  }
  if (command == "extract") return Extract(pack, rest, dir, force);
  if (command == "delete") {
    if (rest.empty()) return UsageError("'delete' needs at least one member name");
    CatchInterrupts();
    return Delete(pack, rest);
  }
  return UsageError("unknown command '" + Printable(command) + "'");
}

}  // namespace
}  // namespace ovelta

// The locale is left as C on purpose: names are UTF-8 whatever the locale, and the system's
// reasons (strerror) come in English like the tool's own messages.
int main(int argc, char** argv) {
  ovelta::SetApplicationTitle("ovpack");
  ovelta::SilenceBoxes();
  return ovelta::Run(argc, argv);
}
