// RTC::orbArguments: the ORB's command line from the manager's configuration.
#ifndef RTM_SRC_ORBARGUMENTS_H
#define RTM_SRC_ORBARGUMENTS_H

#include <coil/Properties.h>

#include <string>
#include <vector>

namespace RTC {

// The largest GIOP message the ORB accepts unless corba.args says otherwise:
// room for a 3840x2160 TimedLongSeq frame (33.2 MB) with margin. omniORB's
// own default (2 MiB) is smaller than one 1280x720 frame.
extern const char* const kGiopMaxMsgSize;

// How long a request may take to arrive once it has begun: a peer that
// stops half-way through a large one would otherwise hold its share of the
// bytes the ORB reads at once for good.
extern const char* const kServerCallTimeoutMs;

struct OrbArguments {
  // ORB_init's argv, the program name first.
  std::vector<std::string> argv;
  // The endpoints for messages ("giop:tcp:a:1, giop:tcp:b:"); "" when none.
  std::string endpoints;
};

// Returns the ORB's arguments: the words of corba.args, then one
// -ORBendPoint per entry of corba.endpoints (or, when that is empty,
// corba.endpoint), "giop:tcp:" prefixed unless the entry names its own
// transport, then -ORBgiopMaxMsgSize kGiopMaxMsgSize unless corba.args sets
// that option already, and -ORBserverCallTimeOutPeriod kServerCallTimeoutMs
// likewise.
OrbArguments orbArguments(const coil::Properties& config);

}  // namespace RTC

#endif
