// Entry point of the proxy: ports 110 on both sides. "--help" and "--version" print and exit 0;
// "--listen ADDRESS" (repeatable) listens on those addresses only; every other argument is
// ignored. A bad address is a usage error (status 2) before anything starts. Otherwise the exit
// status is MerligMain's.
//
// Port 110 is below 1024: the program may hold the capability to bind it, from its file or from
// the service manager. It binds the port here, before any toolkit code runs, then gives up every
// capability, and when it was started in secure mode (the capability came with its file, so
// whoever started it may have fewer rights) it also clears the environment variables that would
// make the toolkit load code or read files of their choosing: none of that code may run with the
// capability, nor get the bound port.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/Program.h"
#include "platform/core/Privileges.h"
#include "platform/net/Sockets.h"
#include "platform/ui/Application.h"

namespace {

const char kUsage[] =
    "Usage: merlig [--help | --version] [--listen ADDRESS]...\n"
    "A local POP3 proxy: mail programs log in with USER user@pop.server and PASS on TCP port 110\n"
    "of this machine; Merlig logs in to port 110 of pop.server with APOP and relays the mail.\n"
    "  --listen ADDRESS  listen on this IPv4 or IPv6 address only (repeatable); without it,\n"
    "                    on every address of the machine. On a shared network use\n"
    "                    --listen 127.0.0.1 --listen ::1 so that only this machine reaches it.\n"
    "It has no settings; other arguments are ignored. Without a display it logs to standard "
    "error.\n"
    "Exit status: 0 after a normal end, 1 when port 110 could not be opened, 2 for a bad "
    "--listen.\n"
    "See merlig(1).\n";

constexpr int kExitStarting = 1;
constexpr int kExitUsage = 2;
constexpr const char* kListenOption = "--listen";

}  // namespace

int main(int argc, char** argv) {
  std::vector<ovelta::AnsiString> addresses;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::puts("merlig " MERLIG_VERSION);
      return 0;
    }
    const std::size_t option_length = std::strlen(kListenOption);
    const char* address = nullptr;
    if (std::strcmp(argv[i], kListenOption) == 0) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "merlig: --listen needs an address (see merlig --help)\n");
        return kExitUsage;
      }
      address = argv[++i];
    } else if (std::strncmp(argv[i], kListenOption, option_length) == 0 &&
               argv[i][option_length] == '=') {
      address = argv[i] + option_length + 1;
    }
    if (!address) continue;
    if (!ovelta::ValidListenAddress(address)) {
      std::fprintf(stderr,
                   "merlig: --listen %s: not an IPv4 or IPv6 address (such as 127.0.0.1 or ::1)\n",
                   address);
      return kExitUsage;
    }
    addresses.emplace_back(address);
  }

  // What could not be bound is told at the first idle moment, as a listener that binds there.
  ovelta::TBoundSockets listener = ovelta::TBoundSockets::Bind(addresses, ovelta::kPop3Port);
  std::string error;
  if (!ovelta::DropCapabilities(&error)) {
    std::fprintf(stderr, "merlig: cannot give up the capabilities: %s\n", error.c_str());
    return kExitStarting;
  }
  if (ovelta::SecureExecution()) ovelta::ClearUntrustedEnvironment();

  int code = ovelta::MerligMain(ovelta::kPop3Port, ovelta::kPop3Port, {}, &listener);
  ovelta::Application().Finalize();
  return code;
}
