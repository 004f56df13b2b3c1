// Relay throughput: 1 GiB sent by a POP3-speaking source to a receiver, once over a direct loopback
// connection, once through `socat -b 65536`, and once through the proxy (a TMainForm in a child
// process, logged in with USER and PASS, relaying an APOP session), in one run. Reported as rates,
// the ratios proxy/direct and proxy/socat, and the proxy's peak resident memory above its idle
// size.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <memory>
#include <string>
#include <thread>

#include "app/Logf.h"
#include "app/Mainf.h"
#include "platform/ui/Application.h"
#include "support/Loopback.h"

namespace {

using ovelta::test::Listener;
using ovelta::test::Peer;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kTransferBytes = std::size_t{1} << 30;
constexpr std::size_t kPiece = std::size_t{1} << 20;
constexpr int kStartTimeoutMs = 10000;
constexpr int kTransferTimeoutMs = 300000;

// Reads one line (up to LF) from a blocking peer, waiting at most TimeoutMs.
std::string ReadLine(Peer& P, int TimeoutMs = kStartTimeoutMs) {
  std::string line;
  const auto deadline = Clock::now() + std::chrono::milliseconds(TimeoutMs);
  while (Clock::now() < deadline) {
    pollfd p{P.Fd(), POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    char c;
    ssize_t n = ::recv(P.Fd(), &c, 1, 0);
    if (n <= 0) break;
    line += c;
    if (c == '\n') break;
  }
  return line;
}

bool SendAll(Peer& P, const char* Data, std::size_t Count) {
  while (Count > 0) {
    ssize_t n = ::send(P.Fd(), Data, Count, MSG_NOSIGNAL);
    if (n <= 0) return false;
    Data += n;
    Count -= static_cast<std::size_t>(n);
  }
  return true;
}

// The source: a POP3 server that greets (with an APOP timestamp when asked), accepts APOP, and on
// "RETR 1" sends kTransferBytes and closes.
class Source {
 public:
  explicit Source(bool Pop3Login) : FLogin(Pop3Login) {
    FThread = std::thread([this] { Serve(); });
  }
  ~Source() {
    FStop = true;
    FThread.join();
  }
  int Port() const { return FListener.Port(); }
  bool Ok() const { return FOk; }

 private:
  void Serve() {
    Peer client;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kStartTimeoutMs * 3);
    while (!FStop && Clock::now() < deadline && !client.Open()) {
      client = FListener.TryAccept();
      if (!client.Open()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (!client.Open()) return;
    if (FLogin) {
      const std::string greeting = "+OK ready <1896.697170952@dbc.mtview.ca.us>\r\n";
      SendAll(client, greeting.data(), greeting.size());
      if (ReadLine(client).rfind("APOP ", 0) != 0) return;
      SendAll(client, "+OK maildrop ready\r\n", 20);
    }
    if (ReadLine(client) != "RETR 1\r\n") return;
    std::string piece(kPiece, 'x');
    for (std::size_t sent = 0; sent < kTransferBytes; sent += kPiece)
      if (!SendAll(client, piece.data(), kPiece)) return;
    FOk = true;
  }

  bool FLogin;
  Listener FListener;
  std::thread FThread;
  std::atomic<bool> FStop{false};
  std::atomic<bool> FOk{false};
};

// Connects to Port (retrying while the relay starts), logs in through the proxy when asked, asks
// for the data and reads all of it. Returns the seconds from the request to the last byte, or a
// negative value on failure.
double Receive(int Port, bool ProxyLogin) {
  Peer peer;
  const auto deadline = Clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
  while (!peer.Open() && Clock::now() < deadline) {
    try {
      peer = Peer::Connect("127.0.0.1", Port);
    } catch (const std::exception&) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  if (!peer.Open()) return -1;
  if (ProxyLogin) {
    if (ReadLine(peer).rfind("+OK", 0) != 0) return -1;
    const std::string user = "USER alice@127.0.0.1\r\n", pass = "PASS wonderland\r\n";
    SendAll(peer, user.data(), user.size());
    if (ReadLine(peer).rfind("+OK", 0) != 0) return -1;
    SendAll(peer, pass.data(), pass.size());
    if (ReadLine(peer).rfind("+OK", 0) != 0) return -1;
  }
  const auto start = Clock::now();
  SendAll(peer, "RETR 1\r\n", 8);
  std::string buffer(kPiece, '\0');
  std::size_t received = 0;
  while (received < kTransferBytes) {
    ssize_t n = ::recv(peer.Fd(), buffer.data(), buffer.size(), 0);
    if (n <= 0) break;
    received += static_cast<std::size_t>(n);
  }
  if (received != kTransferBytes) return -1;
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A child process, ended by its PID.
class Child {
 public:
  Child() = default;
  explicit Child(pid_t Pid) : FPid(Pid) {}
  ~Child() { Stop(); }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  pid_t Pid() const { return FPid; }
  void Stop() {
    if (FPid <= 0) return;
    ::kill(FPid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 200 && ::waitpid(FPid, &status, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (::waitpid(FPid, &status, WNOHANG) == 0) {
      ::kill(FPid, SIGKILL);
      ::waitpid(FPid, &status, 0);
    }
    FPid = -1;
  }

 private:
  pid_t FPid = -1;
};

long ResidentKiB(pid_t Pid, const char* Field) {
  std::ifstream status("/proc/" + std::to_string(Pid) + "/status");
  std::string key;
  long value = -1;
  while (status >> key) {
    if (key == Field) {
      status >> value;
      break;
    }
    status.ignore(4096, '\n');
  }
  return value;
}

// CPU seconds (user and system) a process has used so far.
double CpuSeconds(pid_t Pid) {
  std::ifstream stat("/proc/" + std::to_string(Pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  std::size_t close = line.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(line.substr(close + 2));
  std::string skip;
  for (int i = 0; i < 11; ++i) fields >> skip;  // state ... cmajflt
  double user = 0, system = 0;
  fields >> user >> system;
  return (user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// The proxy under test, in a child process: a TMainForm listening on ListenPort that logs in to
// UpstreamPort, run as the program runs it (offscreen).
pid_t StartProxy(int ListenPort, int UpstreamPort) {
  pid_t pid = ::fork();
  if (pid != 0) return pid;
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::close(2);  // the log lines each also go to standard error without a display
  ovelta::Application().Initialize();
  auto* main = new ovelta::TMainForm(nullptr, ListenPort, UpstreamPort);
  new ovelta::TLogForm(nullptr, main);
  ovelta::Application().SetShowMainForm(false);
  ovelta::Application().Run();
  std::_Exit(0);
}

pid_t StartSocat(int ListenPort, int UpstreamPort) {
  pid_t pid = ::fork();
  if (pid != 0) return pid;
  std::string listen = "TCP-LISTEN:" + std::to_string(ListenPort) + ",bind=127.0.0.1,reuseaddr";
  std::string connect = "TCP:127.0.0.1:" + std::to_string(UpstreamPort);
  ::execlp("socat", "socat", "-b", "65536", listen.c_str(), connect.c_str(), nullptr);
  std::_Exit(127);
}

// Best of kRounds for each path: the machine is shared, so the best run is the least disturbed.
constexpr int kRounds = 3;

// MERLIG_RELAY_WAYS (e.g. "proxy", "direct,socat") runs only the ways it names, for profiling one
// of them; unset, all three run.
bool Runs(const char* Way) {
  const char* ways = std::getenv("MERLIG_RELAY_WAYS");
  return !ways || std::string(ways).find(Way) != std::string::npos;
}

void BM_RelayThroughput(benchmark::State& State) {
  double direct = 1e9, socat = 1e9, proxy = 1e9, socatCpu = 0, proxyCpu = 0;
  long idleKiB = 0, peakKiB = 0;
  bool failed = false;
  auto best = [&failed](double& Best, double Seconds) {
    if (Seconds <= 0)
      failed = true;
    else if (Seconds < Best)
      Best = Seconds;
  };
  for (auto _ : State) {
    for (int round = 0; round < kRounds; ++round) {
      if (Runs("direct")) {
        Source source(false);
        best(direct, Receive(source.Port(), false));
      }
      if (Runs("socat")) {
        Source source(false);
        int port = ovelta::test::FreePort();
        Child child(StartSocat(port, source.Port()));
        best(socat, Receive(port, false));
        socatCpu = std::max(socatCpu, CpuSeconds(child.Pid()));
      }
      if (Runs("proxy")) {
        Source source(true);
        int port = ovelta::test::FreePort();
        Child child(StartProxy(port, source.Port()));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        long idle = ResidentKiB(child.Pid(), "VmRSS:");
        std::atomic<bool> done{false};
        std::atomic<long> peak{idle};
        std::thread sampler([&] {
          while (!done) {
            long now = ResidentKiB(child.Pid(), "VmRSS:");
            if (now > peak) peak = now;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
          }
        });
        double before = CpuSeconds(child.Pid());
        best(proxy, Receive(port, true));
        proxyCpu = std::max(proxyCpu, CpuSeconds(child.Pid()) - before);
        done = true;
        sampler.join();
        if (peak - idle > peakKiB - idleKiB) {
          peakKiB = peak;
          idleKiB = idle;
        }
      }
    }
    State.SetIterationTime(direct + socat + proxy);
  }
  if (failed) State.SkipWithError("a transfer failed");
  auto rate = [](double Seconds) { return kTransferBytes / Seconds / (1 << 20); };
  State.counters["direct_MiBps"] = rate(direct);
  State.counters["socat_MiBps"] = rate(socat);
  State.counters["proxy_MiBps"] = rate(proxy);
  State.counters["proxy_vs_direct"] = direct / proxy;
  State.counters["proxy_vs_socat"] = socat / proxy;
  State.counters["socat_cpu_s"] = socatCpu;
  State.counters["proxy_cpu_s"] = proxyCpu;
  State.counters["peak_above_idle_MiB"] = (peakKiB - idleKiB) / 1024.0;
}
BENCHMARK(BM_RelayThroughput)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
