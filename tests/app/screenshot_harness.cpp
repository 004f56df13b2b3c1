// Runs Merlig with the listening and upstream ports given on the command line, for making the
// documentation's screenshots where port 110 is taken or needs privileges (see
// doc/make-screenshots.sh). The program itself always uses port 110 on both sides.
#include <cstdlib>

#include "app/Program.h"
#include "platform/ui/Application.h"

int main(int argc, char** argv) {
  int listen_port = argc > 1 ? std::atoi(argv[1]) : ovelta::kPop3Port;
  int upstream_port = argc > 2 ? std::atoi(argv[2]) : ovelta::kPop3Port;
  int code = ovelta::MerligMain(listen_port, upstream_port);
  ovelta::Application().Finalize();
  return code;
}
