// rtmctl: a command-line tool for RT components on a name server.
#include <iostream>
#include <string>
#include <vector>

#include "Rtmctl.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return rtmctl::runRtmctl(args, std::cout, std::cerr);
}
