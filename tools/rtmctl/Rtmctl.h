// rtmctl's entry point: global options and the dispatch to sub-commands.
#ifndef PIXMOOR_TOOLS_RTMCTL_RTMCTL_H
#define PIXMOOR_TOOLS_RTMCTL_RTMCTL_H

#include <ostream>
#include <string>
#include <vector>

namespace rtmctl {

// Default bound on each remote call, in milliseconds.
constexpr int kDefaultCallTimeoutMs = 5000;

// Runs rtmctl with the words after the program name; writes results to `out`
// and failures to `err` ("rtmctl: ..."); returns the process's exit code.
int runRtmctl(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Returns the text `rtmctl --help` prints.
std::string topLevelUsage();

}  // namespace rtmctl

#endif
