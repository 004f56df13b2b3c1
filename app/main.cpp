// Entry point of the proxy: no settings; ports 110 on both sides. "--help" and "--version" print
// and exit 0; every other argument is ignored. The exit status is MerligMain's.
#include <cstdio>
#include <cstring>

#include "app/Program.h"
#include "platform/ui/Application.h"

namespace {

const char kUsage[] =
    "Usage: merlig [--help | --version]\n"
    "A local POP3 proxy: mail programs log in with USER user@pop.server and PASS on TCP port 110\n"
    "of this machine; Merlig logs in to port 110 of pop.server with APOP and relays the mail.\n"
    "It has no settings; other arguments are ignored. Without a display it logs to standard "
    "error.\n"
    "Exit status: 0 after a normal end, 1 when port 110 could not be opened.\n"
    "See merlig(1).\n";

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::puts("merlig " MERLIG_VERSION);
      return 0;
    }
  }
  int code = ovelta::MerligMain();
  ovelta::Application().Finalize();
  return code;
}
