// ovpack: builds, lists, extracts, verifies and edits pack archives from the command line, through
// the Ovelta library's TOvPack and nothing else. Member names are Shift-JIS in the pack and shown
// in the terminal's encoding (converted when the locale is UTF-8).
#include <langinfo.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "pack/Ovpack.h"
#include "platform/Dialogs.h"
#include "platform/FileTime.h"
#include "platform/Streams.h"
#include "platform/Text.h"

namespace ovelta {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;  // bad input, damage found, a file that cannot be read or written
constexpr int kExitUsage = 2;    // the command line itself is wrong
constexpr std::int32_t kExtractBlock = 1 << 20;

const char kUsage[] =
    "Usage: ovpack COMMAND [OPTIONS] PACK [ARGUMENTS]\n"
    "Build, list, extract, verify and edit pack archives.\n"
    "\n"
    "Commands:\n"
    "  create [--store] PACK FILE...     make a new pack (replacing PACK) from the files, in order\n"
    "  add [--store] PACK FILE...        add files to an existing pack\n"
    "  list PACK                         show every member: size, stored size, compressed,\n"
    "                                    time stamp (local time), check word, name\n"
    "  extract PACK [MEMBER...] [-C DIR] write members (all by default) into DIR (default .),\n"
    "                                    keeping their time stamps\n"
    "  verify PACK                       check the whole-pack check word and every member\n"
    "  delete PACK MEMBER...             remove members from the directory\n"
    "\n"
    "Options:\n"
    "  --store     never compress (by default a member is compressed when that makes it smaller)\n"
    "  -C DIR      extract into DIR, which must exist\n"
    "  -h, --help  show this help\n"
    "  --version   show the version\n"
    "\n"
    "A member is named after its file without the directory: at most 25 bytes in Shift-JIS, a\n"
    "base name of at most 21 bytes before the first dot and an extension of at most 3 after it\n"
    "(longer parts are cut). Names are compared without regard to the case of ASCII letters.\n"
    "\n"
    "Exit status: 0 success, 1 failure (damage found, bad or missing files), 2 wrong usage.\n";

// ---- terminal text ----------------------------------------------------------------------------

// The terminal's encoding: UTF-8 (names converted), Shift-JIS itself (names as they are), or
// anything else, taken as ASCII (bytes beyond ASCII shown as \xNN escapes).
enum class Terminal { Utf8, ShiftJis, Ascii };
Terminal gTerminal = Terminal::Ascii;

// A pack name (Shift-JIS) as the terminal shows it.
std::string Shown(const AnsiString& Name) {
  if (gTerminal == Terminal::Utf8) return Cp932ToUtf8(Name);
  if (gTerminal == Terminal::ShiftJis) return Name;
  std::string shown;
  for (char c : Name) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      shown += c;
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", b);
      shown += escape;
    }
  }
  return shown;
}
// A pack name as a file name of this system: converted for UTF-8, the bytes themselves otherwise.
std::string FileNameOf(const AnsiString& Name) {
  return gTerminal == Terminal::Utf8 ? Cp932ToUtf8(Name) : Name;
}
// Terminal text (or a file name) as a pack name; false when it has no Shift-JIS form.
bool ToPackName(const std::string& Text, AnsiString& Name) {
  if (gTerminal != Terminal::Utf8) {
    Name = Text;
    return true;
  }
  Name = Utf8ToCp932(Text);
  return Cp932ToUtf8(Name) == Text;
}

void Error(const std::string& Text) { std::fprintf(stderr, "ovpack: %s\n", Text.c_str()); }

// ---- message boxes from the library -------------------------------------------------------------

// The library reports a damaged pack and AddFile's failures as message boxes; the tool records
// them and words its own message from them.
struct Boxes {
  std::vector<std::string> Texts;  // in the terminal's encoding
  bool Damage = false;
  void Clear() {
    Texts.clear();
    Damage = false;
  }
  std::string Last() const { return Texts.empty() ? std::string() : Texts.back(); }
};
Boxes gBoxes;

void RecordBoxes() {
  static const AnsiString kCrcCaption = Sjis("CRCｴﾗｰ");
  SetMessageBoxHandler([](const AnsiString& Text, const AnsiString& Caption, unsigned) {
    gBoxes.Texts.push_back(Shown(Text));
    if (Caption == kCrcCaption) gBoxes.Damage = true;
    return 1;
  });
}

// ---- progress -----------------------------------------------------------------------------------

// A one-line bar on standard error, only when it is a terminal.
class ProgressBar {
 public:
  explicit ProgressBar(TOvPack& Pack) : FPack(Pack), FShow(::isatty(STDERR_FILENO) == 1) {
    if (FShow) Pack.SetOnProgress([this](TObject*) { Draw(FPack.ProgPercent()); });
  }
  ~ProgressBar() {
    FPack.SetOnProgress(nullptr);  // the pack may outlive the bar and still report
    Done();
  }
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;
  void Begin(const std::string& Label) {
    Done();
    FLabel = Label;
    FLast = -1;
  }
  void Draw(int Percent) {
    if (!FShow || Percent == FLast) return;
    FLast = std::clamp(Percent, 0, 100);
    constexpr int kWidth = 30;
    const int filled = FLast * kWidth / 100;
    std::fprintf(stderr, "\r[%s%s] %3d%% %s\033[K", std::string(filled, '#').c_str(),
                 std::string(kWidth - filled, ' ').c_str(), FLast, FLabel.c_str());
    std::fflush(stderr);
    FDrawn = true;
  }
  void Done() {
    if (FDrawn) std::fputs("\r\033[K", stderr);
    FDrawn = false;
  }

 private:
  TOvPack& FPack;
  bool FShow;
  bool FDrawn = false;
  int FLast = -1;
  std::string FLabel;
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
  char here[4096];
  if (!::getcwd(here, sizeof here)) return Path;
  return std::string(here) + "/" + Path;
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

// ---- opening packs --------------------------------------------------------------------------------

// Loads Path into Pack; on failure says why and returns false.
bool OpenPack(TOvPack& Pack, const std::string& Path, bool Writable, ProgressBar& Bar) {
  struct stat info {};
  if (::stat(Path.c_str(), &info) != 0) {
    Error(Path + ": no such file");
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    Error(Path + ": not a regular file");
    return false;
  }
  Pack.SetReadOnly(!Writable);
  Bar.Begin("checking " + BaseName(Path));
  gBoxes.Clear();
  const bool loaded = Pack.LoadPack(Path);
  Bar.Done();
  if (loaded) return true;
  if (gBoxes.Damage)
    Error(Path + ": damaged pack (the whole-pack check word does not match); see 'ovpack verify'");
  else if (::access(Path.c_str(), Writable ? R_OK | W_OK : R_OK) != 0)
    Error(Path + ": cannot open (" + std::strerror(errno) + ")");
  else
    Error(Path + ": not a pack, or a pack whose header or directory is damaged, or in use");
  return false;
}

// ---- adding -------------------------------------------------------------------------------------

struct Source {
  std::string Path;     // absolute
  std::string Shown;    // as given
  AnsiString Member;    // the member name
};

// The name a member would be stored under (its base name cut to 21 bytes, its extension to 3).
AnsiString StoredForm(const AnsiString& Name) {
  TOvFileTable3 entry{};
  TOvPack::MakeFTName(entry, Name);
  AnsiString stored(entry.FileName, ::strnlen(entry.FileName, kPackBaseNameBytes));
  const std::size_t ext = ::strnlen(entry.FileExt, kPackExtensionBytes);
  if (ext > 0) stored += "." + AnsiString(entry.FileExt, ext);
  return stored;
}

std::string Upper(const AnsiString& Name) {
  std::string upper = Name;
  for (std::size_t i = 0; i < upper.size(); ++i) {
    if (IsDBCSLeadByte(upper[i])) ++i;
    else if (upper[i] >= 'a' && upper[i] <= 'z') upper[i] = static_cast<char>(upper[i] - 32);
  }
  return upper;
}

// Checks every file and its member name before the pack is touched. Existing is the pack being
// added to, or null.
bool CheckSources(const std::vector<std::string>& Files, const TOvPack* Existing,
                  std::vector<Source>& Sources) {
  bool ok = true;
  std::set<std::string> taken;
  for (const std::string& file : Files) {
    struct stat info {};
    Source s{Absolute(file), file, {}};
    if (::stat(file.c_str(), &info) != 0) {
      Error(file + ": no such file");
      ok = false;
      continue;
    }
    if (!S_ISREG(info.st_mode)) {
      Error(file + ": not a regular file");
      ok = false;
      continue;
    }
    if (::access(file.c_str(), R_OK) != 0) {
      Error(file + ": cannot read (" + std::strerror(errno) + ")");
      ok = false;
      continue;
    }
    if (info.st_size > kPackMaxDataSize) {
      Error(file + ": too large for a pack (members stay under 2 GiB)");
      ok = false;
      continue;
    }
    const std::string base = BaseName(file);
    if (!ToPackName(base, s.Member)) {
      Error(file + ": the name '" + base + "' has characters Shift-JIS cannot hold");
      ok = false;
      continue;
    }
    if (s.Member.size() > static_cast<std::size_t>(kPackMaxNameBytes)) {
      Error(file + ": the name '" + base + "' is too long (at most 25 bytes in Shift-JIS)");
      ok = false;
      continue;
    }
    const AnsiString stored = StoredForm(s.Member);
    if (stored.empty() || s.Member[0] == '.') {
      Error(file + ": the name '" + base + "' has no base name before its first dot");
      ok = false;
      continue;
    }
    const std::string key = Upper(stored);
    bool in_pack = false;
    for (int i = 0; Existing && i < Existing->GetFileNum(); ++i)
      in_pack = in_pack || Upper(Existing->GetFileName(i)) == key;
    if (in_pack || !taken.insert(key).second) {
      Error(file + ": the member name '" + Shown(stored) + "' is already taken" +
            (in_pack ? " in the pack" : " by another file given"));
      ok = false;
      continue;
    }
    if (stored != s.Member)
      std::fprintf(stderr, "ovpack: note: %s is stored as '%s'\n", file.c_str(), Shown(stored).c_str());
    Sources.push_back(s);
  }
  return ok;
}

// Adds the sources to the open, writable pack; false (after saying why) at the first failure.
bool AddSources(TOvPack& Pack, const std::vector<Source>& Sources, bool Store, ProgressBar& Bar) {
  for (const Source& s : Sources) {
    Bar.Begin("adding " + Shown(s.Member));
    gBoxes.Clear();
    const bool added = Pack.AddFile(s.Member, s.Path, !Store);
    Bar.Done();
    if (!added) {
      Error(s.Shown + ": could not be added: " + gBoxes.Last());
      return false;
    }
  }
  return true;
}

bool ClosePack(TOvPack& Pack, const std::string& Path, ProgressBar& Bar) {
  Bar.Begin("writing " + BaseName(Path));
  const bool closed = Pack.EndPack();
  Bar.Done();
  if (!closed) Error(Path + ": could not be written completely (disk full?); the pack is damaged");
  return closed;
}

int Create(const std::string& PackPath, const std::vector<std::string>& Files, bool Store) {
  std::vector<Source> sources;
  if (!CheckSources(Files, nullptr, sources)) return kExitFailure;
  // Built under a temporary name and renamed at the end, so a failure leaves any old pack alone.
  const std::string target = Absolute(PackPath);
  const std::string building = target + ".ovpack-" + std::to_string(::getpid());
  WorkBeside(target);
  TOvPack pack;
  ProgressBar bar(pack);
  pack.SetReadOnly(false);
  if (!pack.NewPack(building)) {
    Error(PackPath + ": cannot create (" + std::strerror(errno) + ")");
    return kExitFailure;
  }
  bool ok = AddSources(pack, sources, Store, bar);
  ok = ClosePack(pack, PackPath, bar) && ok;
  if (ok && std::rename(building.c_str(), target.c_str()) != 0) {
    Error(PackPath + ": cannot be replaced (" + std::strerror(errno) + ")");
    ok = false;
  }
  if (!ok) std::remove(building.c_str());
  return ok ? kExitOk : kExitFailure;
}

int Add(const std::string& PackPath, const std::vector<std::string>& Files, bool Store) {
  const std::string target = Absolute(PackPath);
  std::vector<std::string> files;
  for (const std::string& f : Files) files.push_back(f);
  TOvPack pack;
  ProgressBar bar(pack);
  if (!OpenPack(pack, target, true, bar)) return kExitFailure;
  std::vector<Source> sources;
  if (!CheckSources(files, &pack, sources)) return kExitFailure;
  WorkBeside(target);
  bool ok = AddSources(pack, sources, Store, bar);
  ok = ClosePack(pack, PackPath, bar) && ok;
  return ok ? kExitOk : kExitFailure;
}

// ---- listing and checking -----------------------------------------------------------------------

int List(const std::string& PackPath) {
  TOvPack pack;
  ProgressBar bar(pack);
  bool damaged = false;
  if (!OpenPack(pack, PackPath, false, bar)) {
    if (!gBoxes.Damage) return kExitFailure;
    // Show what the directory says all the same.
    pack.SetCrcMode(cmNon);
    if (!pack.LoadPack(PackPath)) return kExitFailure;
    damaged = true;
  }
  std::printf("%10s %10s %-4s %-19s %-5s %s\n", "Size", "Stored", "Comp", "Modified", "Check", "Name");
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
  if (pack.FileVersion() != kPackVersion3) std::printf(", version %d pack", pack.FileVersion() >> 8);
  std::printf("\n");
  return damaged ? kExitFailure : kExitOk;
}

int Verify(const std::string& PackPath) {
  TOvPack pack;
  ProgressBar bar(pack);
  bool damaged = false;
  if (OpenPack(pack, PackPath, false, bar)) {
    if (pack.FileVersion() == kPackVersion3)
      std::printf("pack check word: ok\n");
    else
      std::printf("pack check word: none (version %d pack)\n", pack.FileVersion() >> 8);
    pack.EndPack();
  } else {
    if (!gBoxes.Damage) return kExitFailure;
    std::printf("pack check word: DAMAGED\n");
    damaged = true;
  }
  // Every member on its own: its check word, and that its stream decodes to its size.
  pack.SetCrcMode(cmEachFile);
  if (!pack.LoadPack(PackPath)) {
    Error(PackPath + ": cannot be read again");
    return kExitFailure;
  }
  int checked = 0;
  int bad = 0;
  for (int i = 0; i < pack.GetFileNum(); ++i) {
    const AnsiString name = pack.GetFileName(i);
    const TOvFileTable3* e = pack.GetFileEntry(i);
    if (name.empty() || !e) continue;
    ++checked;
    bar.Begin("verifying " + Shown(name));
    gBoxes.Clear();
    OvFILE* f = pack.Ovfopen(name);
    bar.Done();
    if (f && pack.CheckFileName(name) != i) {
      // A second entry under a name already used: only the first can ever be opened.
      std::printf("%s: DAMAGED (the name of an earlier entry)\n", Shown(name).c_str());
      ++bad;
    } else if (f) {
      std::printf("%s: %s\n", Shown(name).c_str(), e->CrcFlag ? "ok" : "ok (no check word)");
    } else {
      std::printf("%s: DAMAGED (%s)\n", Shown(name).c_str(),
                  gBoxes.Damage ? "check word mismatch" : "entry or stream invalid");
      ++bad;
    }
    pack.Ovfclose(f);
  }
  std::printf("%d member%s checked, %d damaged\n", checked, checked == 1 ? "" : "s", bad);
  return damaged || bad > 0 ? kExitFailure : kExitOk;
}

// ---- extracting and deleting --------------------------------------------------------------------

// Writes the member at Index into Dir; false after saying why.
bool ExtractMember(TOvPack& Pack, int Index, const std::string& Dir, ProgressBar& Bar) {
  const AnsiString name = Pack.GetFileName(Index);
  const std::string file = FileNameOf(name);
  if (file.empty() || file == "." || file == ".." || file.find('/') != std::string::npos ||
      std::any_of(file.begin(), file.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; })) {
    Error("member '" + Shown(name) + "': the name cannot be used as a file name; skipped");
    return false;
  }
  Bar.Begin("extracting " + Shown(name));
  gBoxes.Clear();
  OvFILE* f = Pack.Ovfopen(name);
  if (!f) {
    Bar.Done();
    Error("member '" + Shown(name) + "': " +
          (gBoxes.Damage ? "damaged (check word mismatch)" : "cannot be read (damaged entry or no memory)"));
    return false;
  }
  const std::string path = Dir + "/" + file;
  bool ok = true;
  try {
    TFileStream out(path, fmCreate);
    std::vector<char> block(static_cast<std::size_t>(std::min(kExtractBlock, std::max(Pack.Ovfsize(f), 1))));
    const std::int32_t size = Pack.Ovfsize(f);
    for (std::int32_t done = 0; ok && done < size;) {
      const std::int32_t piece = std::min(static_cast<std::int32_t>(block.size()), size - done);
      if (Pack.Ovfread(block.data(), static_cast<unsigned>(piece), 1, f) != 1) {
        Error("member '" + Shown(name) + "': read error");
        ok = false;
        break;
      }
      out.WriteBuffer(block.data(), piece);
      done += piece;
      Bar.Draw(static_cast<int>(std::int64_t{done} * 100 / size));
    }
  } catch (const EStreamError& e) {
    Error(path + ": " + e.Message());
    ok = false;
  }
  Bar.Done();
  FILETIME time{};
  if (ok && Pack.OvGetFileTime(f, time) && !SetFileLastWriteTime(path, time))
    Error(path + ": the time stamp could not be set");
  Pack.Ovfclose(f);
  if (!ok) std::remove(path.c_str());
  return ok;
}

int Extract(const std::string& PackPath, const std::vector<std::string>& Members, const std::string& Dir) {
  struct stat info {};
  if (::stat(Dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    Error(Dir + ": no such directory");
    return kExitFailure;
  }
  TOvPack pack;
  ProgressBar bar(pack);
  if (!OpenPack(pack, PackPath, false, bar)) return kExitFailure;
  std::vector<int> wanted;
  bool ok = true;
  if (Members.empty()) {
    for (int i = 0; i < pack.GetFileNum(); ++i)
      if (!pack.GetFileName(i).empty() && pack.CheckFileName(pack.GetFileName(i)) == i) wanted.push_back(i);
  } else {
    for (const std::string& m : Members) {
      AnsiString name;
      const int index = ToPackName(m, name) ? pack.CheckFileName(name) : -1;
      if (index < 0 || pack.GetFileName(index).empty()) {
        Error(PackPath + ": no member named '" + m + "'");
        ok = false;
        continue;
      }
      wanted.push_back(index);
    }
  }
  for (int index : wanted) ok = ExtractMember(pack, index, Dir, bar) && ok;
  return ok ? kExitOk : kExitFailure;
}

int Delete(const std::string& PackPath, const std::vector<std::string>& Members) {
  TOvPack pack;
  ProgressBar bar(pack);
  if (!OpenPack(pack, PackPath, true, bar)) return kExitFailure;
  // Every name must be there before anything is deleted.
  std::vector<AnsiString> names;
  bool ok = true;
  for (const std::string& m : Members) {
    AnsiString name;
    const int index = ToPackName(m, name) ? pack.CheckFileName(name) : -1;
    if (index < 0 || pack.GetFileName(index).empty()) {
      Error(PackPath + ": no member named '" + m + "'");
      ok = false;
    }
    names.push_back(name);
  }
  if (!ok) return kExitFailure;  // the pack was not changed; closing writes nothing
  for (const AnsiString& name : names) pack.DelFile(name);
  return ClosePack(pack, PackPath, bar) ? kExitOk : kExitFailure;
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
  bool options_done = false;
  std::string dir = ".";
  bool dir_given = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (!options_done && (a == "-h" || a == "--help")) {
      std::fputs(kUsage, stdout);
      return kExitOk;
    }
    if (!options_done && a == "--version") {
      std::puts("ovpack " OVPACK_VERSION);
      return kExitOk;
    }
    if (!options_done && a == "--") {
      options_done = true;
    } else if (!options_done && a == "--store") {
      store = true;
    } else if (!options_done && a == "-C") {
      if (++i >= argc) return UsageError("-C needs a directory");
      dir = argv[i];
      dir_given = true;
    } else if (!options_done && a.size() > 1 && a[0] == '-') {
      return UsageError("unknown option '" + a + "'");
    } else {
      args.push_back(a);
    }
  }
  if (args.empty()) return UsageError("no command given");
  const std::string command = args[0];
  if (args.size() < 2) return UsageError("'" + command + "' needs a pack");
  const std::string pack = args[1];
  const std::vector<std::string> rest(args.begin() + 2, args.end());
  if (store && command != "create" && command != "add")
    return UsageError("--store belongs to create and add");
  if (dir_given && command != "extract") return UsageError("-C belongs to extract");

  if (command == "create" || command == "add") {
    if (rest.empty()) return UsageError("'" + command + "' needs at least one file");
    return command == "create" ? Create(pack, rest, store) : Add(pack, rest, store);
  }
  if (command == "list" || command == "verify") {
    if (!rest.empty()) return UsageError("'" + command + "' takes only the pack");
    return command == "list" ? List(pack) : Verify(pack);
  }
  if (command == "extract") return Extract(pack, rest, dir);
  if (command == "delete") {
    if (rest.empty()) return UsageError("'delete' needs at least one member name");
    return Delete(pack, rest);
  }
  return UsageError("unknown command '" + command + "'");
}

}  // namespace
}  // namespace ovelta

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  const std::string codeset = ::nl_langinfo(CODESET);
  if (codeset == "UTF-8")
    ovelta::gTerminal = ovelta::Terminal::Utf8;
  else if (codeset == "SHIFT_JIS" || codeset == "CP932" || codeset == "SJIS")
    ovelta::gTerminal = ovelta::Terminal::ShiftJis;
  ovelta::SetApplicationTitle("ovpack");
  ovelta::RecordBoxes();
  return ovelta::Run(argc, argv);
}
