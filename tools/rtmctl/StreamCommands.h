// rtmctl commands that read the samples an outport sends.
#ifndef PIXMOOR_TOOLS_RTMCTL_STREAMCOMMANDS_H
#define PIXMOOR_TOOLS_RTMCTL_STREAMCOMMANDS_H

#include <ostream>
#include <string>
#include <vector>

#include "Session.h"

namespace rtmctl {

// `hz PATH:PORT [--count N] [--seconds S]`: prints rate, bandwidth, sample
// size and age once a second until Ctrl-C or a limit.
int runHz(Session& session, const std::vector<std::string>& args, std::ostream& out);
// `snapshot PATH:PORT WIDTHxHEIGHT FILE [--wait S]`: writes one frame as a picture.
int runSnapshot(Session& session, const std::vector<std::string>& args, std::ostream& out);

}  // namespace rtmctl

#endif
