// Entry point of the proxy: no command line, no settings; ports 110 on both sides.
#include "app/Program.h"
#include "platform/Application.h"

int main() {
  int code = ovelta::MerligMain();
  ovelta::Application().Finalize();
  return code;
}
