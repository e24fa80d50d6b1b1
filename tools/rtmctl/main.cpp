// rtmctl: a command-line tool for RT components on a name server.
#include <iostream>
#include <string>
#include <vector>

#include "Rtmctl.h"
#include "TerminalText.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  // What components say reaches the terminal only as text.
  rtmctl::TerminalSafeBuf outBuffer(std::cout);
  rtmctl::TerminalSafeBuf errBuffer(std::cerr);
  std::ostream out(&outBuffer);
  std::ostream err(&errBuffer);
  const int code = rtmctl::runRtmctl(args, out, err);
  out.flush();
  err.flush();
  return code;
}
