// Pack archives beside tar: one run each of building a pack from a directory of a few hundred MB
// of mixed files (documentation, icons, shared libraries, data, assembled at run time from
// /usr/share and /usr/lib into a scratch directory) and extracting it again, with the library's
// TOvPack (compressing, and storing), tar with gzip -1, and tar with lz4. Reports MB/s both ways
// (MB = 10^6 bytes of the original files) in wall time and in CPU time, the packed size over the
// original size, and for the library the growth of the peak resident set and the largest single
// heap block while building. The library builds with one thread (AddFile) and with members
// compressed ahead on one worker thread per hardware thread (compressed_workers), and extracts
// with one thread and with members decoded ahead on as many workers.
//
//   bench_pack [--benchmark_filter=...]     MERLIG_PACK_BENCH_MB=300 sets the corpus size,
//                                           MERLIG_PACK_BENCH_DIR=/tmp where it is made (a tmpfs
//                                           such as /dev/shm leaves the disk's own costs out)
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "pack/Ovpack.h"
#include "pack/PackPrepare.h"
#include "pack/PackReadAhead.h"
#include "platform/core/Dialogs.h"
#include "platform/core/FileTime.h"
#include "platform/core/Heap.h"
#include "platform/core/Streams.h"
#include "platform/core/HeapTesting_p.h"
#include "support/MessageBoxRecorder.h"

namespace ovelta {
namespace {

constexpr std::int64_t kMaxFileBytes = 16 << 20;
constexpr std::int32_t kBlock = 1 << 20;

struct Corpus {
  std::string Root;   // scratch directory holding in/ and the outputs
  std::string Input;  // the flat directory of files
  std::vector<std::string> Names;
  std::int64_t Bytes = 0;
};

double Seconds(std::chrono::steady_clock::time_point Since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - Since).count();
}

std::int64_t FileSize(const std::string& Path) {
  struct stat info {};
  return ::stat(Path.c_str(), &info) == 0 ? info.st_size : 0;
}

// User plus system CPU seconds of this process (RUSAGE_SELF) or of its waited-for children.
double CpuSeconds(int Who) {
  rusage usage{};
  ::getrusage(Who, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long PeakRssKiB() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

int Shell(const std::string& Command) { return std::system(Command.c_str()); }

// Regular files under Dir (not following links), up to Limit of them.
void Walk(const std::string& Dir, std::vector<std::string>& Files, std::size_t Limit) {
  DIR* d = ::opendir(Dir.c_str());
  if (!d) return;
  std::vector<std::string> subdirs;
  while (dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = Dir + "/" + name;
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) continue;
    if (S_ISDIR(info.st_mode))
      subdirs.push_back(path);
    else if (S_ISREG(info.st_mode) && info.st_size > 0 && info.st_size <= kMaxFileBytes &&
             ::access(path.c_str(), R_OK) == 0 && Files.size() < Limit)
      Files.push_back(path);
  }
  ::closedir(d);
  std::sort(subdirs.begin(), subdirs.end());
  for (const auto& s : subdirs) {
    if (Files.size() >= Limit) break;
    Walk(s, Files, Limit);
  }
}

// Copies files from several system trees, taking from each in turn, until Target bytes. Names are
// made flat and short (a pack keeps 21 + 3 bytes): c000001.ext.
const Corpus& TheCorpus() {
  static Corpus* corpus = [] {
    auto* c = new Corpus;
    const char* mb = std::getenv("MERLIG_PACK_BENCH_MB");
    const std::int64_t target = (mb ? std::atoll(mb) : 300) * 1000000;
    const char* under = std::getenv("MERLIG_PACK_BENCH_DIR");
    std::string pattern =
        std::string(under && *under ? under : "/tmp") + "/merlig-pack-bench-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
      std::perror(pattern.c_str());
      std::exit(1);
    }
    c->Root = pattern;
    c->Input = c->Root + "/in";
    ::mkdir(c->Input.c_str(), 0700);
    const char* trees[] = {"/usr/share/doc",    "/usr/share/icons", "/usr/lib/x86_64-linux-gnu",
                           "/usr/share/locale", "/usr/share/X11",   "/usr/share/perl",
                           "/usr/lib/python3",  "/usr/share/fonts", "/usr/share/misc",
                           "/usr/share/i18n",   "/usr/lib/gcc",     "/usr/share/vim"};
    std::vector<std::vector<std::string>> lists;
    for (const char* t : trees) {
      lists.emplace_back();
      Walk(t, lists.back(), 200000);
    }
    std::vector<std::size_t> next(lists.size(), 0);
    bool any = true;
    while (c->Bytes < target && any) {
      any = false;
      for (std::size_t k = 0; k < lists.size() && c->Bytes < target; ++k) {
        if (next[k] >= lists[k].size()) continue;
        any = true;
        const std::string& from = lists[k][next[k]++];
        std::string ext;
        const std::size_t dot = from.rfind('.');
        if (dot != std::string::npos && from.find('/', dot) == std::string::npos)
          ext = from.substr(dot + 1, 3);
        if (ext.find_first_not_of(
                "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789") !=
            std::string::npos)
          ext.clear();
        char name[32];
        std::snprintf(name, sizeof name, "c%06zu%s%s", c->Names.size(), ext.empty() ? "" : ".",
                      ext.c_str());
        try {
          TFileStream in(from, fmOpenRead);
          TFileStream copy(c->Input + "/" + name, fmCreate);
          copy.CopyFrom(in, 0);
        } catch (const Exception&) {
          continue;
        }
        FILETIME t{};
        if (GetFileLastWriteTime(from, t)) SetFileLastWriteTime(c->Input + "/" + name, t);
        c->Names.push_back(name);
        c->Bytes += FileSize(c->Input + "/" + name);
      }
    }
    std::atexit([] { Shell("rm -rf '" + TheCorpus().Root + "'"); });
    return c;
  }();
  return *corpus;
}

// Build and Extract are wall seconds, BuildCpu and ExtractCpu CPU seconds (of every process
// involved): on a busy machine the CPU figures are the steadier comparison.
void Report(benchmark::State& State, const Corpus& C, double Build, double Extract, double BuildCpu,
            double ExtractCpu, std::int64_t Packed) {
  State.SetIterationTime(Build + Extract);
  const double mb = static_cast<double>(C.Bytes) / 1e6;
  State.counters["build_cpu_MB/s"] = mb / BuildCpu;
  State.counters["extract_cpu_MB/s"] = mb / ExtractCpu;
  State.counters["files"] = static_cast<double>(C.Names.size());
  State.counters["input_MB"] = mb;
  State.counters["build_MB/s"] = mb / Build;
  State.counters["extract_MB/s"] = mb / Extract;
  State.counters["ratio"] = static_cast<double>(Packed) / static_cast<double>(C.Bytes);
}

// Worker threads asked for: Workers, or one per hardware thread for 0.
int Threads(int Workers) {
  return Workers > 0 ? Workers : static_cast<int>(std::thread::hardware_concurrency());
}

// Workers < 0: every file through AddFile and back through Ovfopen on one thread; otherwise
// members prepared ahead by that many worker threads (0: one per hardware thread) and appended
// with AddPrepared, and on extraction decoded ahead by as many (TMemberReadAhead), as ovpack does.
void BM_TOvPack(benchmark::State& State, bool Compress, int Workers) {
  const Corpus& c = TheCorpus();
  test::MessageBoxRecorder boxes;
  const std::string pack_path = c.Root + (Compress ? "/c.pak" : "/s.pak");
  const std::string out = c.Root + "/out-pack";
  for (auto _ : State) {
    // Build, in the pack's directory (where the temporary files of compression go).
    if (::chdir(c.Root.c_str()) != 0) State.SkipWithError("chdir");
    heap_testing::ResetLargestRequest();
    const long rss_before = PeakRssKiB();
    double cpu = CpuSeconds(RUSAGE_SELF);
    auto start = std::chrono::steady_clock::now();
    {
      TOvPack pack;
      pack.SetReadOnly(false);
      if (!pack.NewPack(pack_path)) State.SkipWithError("NewPack");
      std::vector<TPrepareJob> jobs;
      if (Workers >= 0)
        for (const auto& name : c.Names) jobs.push_back({c.Input + "/" + name, Compress});
      TMemberPreparer preparer(std::move(jobs), Workers < 0 ? 0 : Threads(Workers));
      for (const auto& name : c.Names) {
        if (Workers < 0) {
          if (!pack.AddFile(name, c.Input + "/" + name, Compress)) State.SkipWithError("AddFile");
        } else {
          TPreparedMember member = preparer.Take();
          if (!pack.AddPrepared(name, member)) State.SkipWithError("AddPrepared");
        }
      }
      if (!pack.EndPack()) State.SkipWithError("EndPack");
    }
    const double build = Seconds(start);
    const double build_cpu = CpuSeconds(RUSAGE_SELF) - cpu;
    const long rss_growth = PeakRssKiB() - rss_before;
    const std::size_t largest = heap_testing::LargestRequest();

    // Extract every member to its own file, with its time stamp.
    Shell("rm -rf '" + out + "' && mkdir '" + out + "'");
    cpu = CpuSeconds(RUSAGE_SELF);
    start = std::chrono::steady_clock::now();
    {
      TOvPack pack;
      if (!pack.LoadPack(pack_path)) State.SkipWithError("LoadPack");
      std::vector<char> block(kBlock);
      std::vector<int> all;
      std::vector<AnsiString> names;
      for (int i = 0; Workers >= 0 && i < pack.GetFileNum(); ++i) {
        all.push_back(i);
        names.push_back(pack.GetFileName(i));
      }
      std::vector<FILETIME> times(names.size());
      for (std::size_t i = 0; i < names.size(); ++i)
        pack.GetFileTime(static_cast<int>(i), times[i]);
      std::vector<char> written(names.size(), 0);
      // Decoded and written on the workers, as ovpack does; a member they left is done here.
      TMemberReadAhead ahead(pack, std::move(all), Workers < 0 ? 0 : Threads(Workers),
                             kReadAheadBudget, [&](std::size_t Position, TReadMember& Member) {
                               const std::string path = out + "/" + names[Position];
                               try {
                                 TFileStream file(path, fmCreate);
                                 if (Member.Size > 0)
                                   file.WriteBuffer(Member.Data.Get(), Member.Size);
                               } catch (const Exception&) {
                                 return;
                               }
                               SetFileLastWriteTime(path, times[Position]);
                               Member.Data.Reset();
                               written[Position] = 1;
                             });
      for (int i = 0; i < pack.GetFileNum(); ++i) {
        const AnsiString name = pack.GetFileName(i);
        if (Workers >= 0 && ahead.Take().Ready && written[static_cast<std::size_t>(i)]) continue;
        TFileStream file(out + "/" + name, fmCreate);
        OvFILE* f = pack.Ovfopen(name);
        if (!f) {
          State.SkipWithError("Ovfopen");
          break;
        }
        for (std::int32_t left = pack.Ovfsize(f); left > 0;) {
          const std::int32_t piece = std::min(left, kBlock);
          pack.Ovfread(block.data(), static_cast<unsigned>(piece), 1, f);
          file.WriteBuffer(block.data(), piece);
          left -= piece;
        }
        FILETIME t{};
        pack.OvGetFileTime(f, t);
        pack.Ovfclose(f);
        SetFileLastWriteTime(out + "/" + name, t);
      }
    }
    const double extract = Seconds(start);
    const double extract_cpu = CpuSeconds(RUSAGE_SELF) - cpu;
    if (Shell("diff -rq '" + c.Input + "' '" + out + "' >/dev/null") != 0)
      State.SkipWithError("extracted files differ");
    Report(State, c, build, extract, build_cpu, extract_cpu, FileSize(pack_path));
    State.counters["build_rss_growth_MB"] = static_cast<double>(rss_growth) / 1024.0;
    State.counters["largest_block_KB"] = static_cast<double>(largest) / 1024.0;
  }
  Shell("rm -rf '" + out + "' '" + pack_path + "'");
}

// tar piped through an external compressor (its level option given), both ways.
void BM_Tar(benchmark::State& State, const std::string& Compressor) {
  const Corpus& c = TheCorpus();
  const std::string archive = c.Root + "/t.tar.x";
  const std::string out = c.Root + "/out-tar";
  for (auto _ : State) {
    double cpu = CpuSeconds(RUSAGE_CHILDREN);
    auto start = std::chrono::steady_clock::now();
    if (Shell("tar -C '" + c.Input + "' -cf - . | " + Compressor + " -1 -c > '" + archive + "'") !=
        0)
      State.SkipWithError("tar create");
    const double build = Seconds(start);
    const double build_cpu = CpuSeconds(RUSAGE_CHILDREN) - cpu;
    Shell("rm -rf '" + out + "' && mkdir '" + out + "'");
    cpu = CpuSeconds(RUSAGE_CHILDREN);
    start = std::chrono::steady_clock::now();
    if (Shell(Compressor + " -d -c < '" + archive + "' | tar -C '" + out + "' -xf -") != 0)
      State.SkipWithError("tar extract");
    const double extract = Seconds(start);
    const double extract_cpu = CpuSeconds(RUSAGE_CHILDREN) - cpu;
    if (Shell("diff -rq '" + c.Input + "' '" + out + "' >/dev/null") != 0)
      State.SkipWithError("extracted files differ");
    Report(State, c, build, extract, build_cpu, extract_cpu, FileSize(archive));
  }
  Shell("rm -rf '" + out + "' '" + archive + "'");
}

BENCHMARK_CAPTURE(BM_TOvPack, compressed, true, -1)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_TOvPack, compressed_workers, true, 0)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_TOvPack, stored, false, -1)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_Tar, gzip_1, std::string("gzip"))
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_Tar, lz4_1, std::string("lz4 -q"))
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace
}  // namespace ovelta

BENCHMARK_MAIN();
