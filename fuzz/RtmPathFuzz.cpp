// rtmctl's paths as users type them: a parsed path prints in a form that
// parses to the same path, and nothing but a usage error is thrown.
#include <cstdint>
#include <string>

#include "CtlError.h"
#include "FuzzSupport.h"
#include "RtmPath.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  pixmoor_fuzz::addDefaults(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, size_t size) {
  if (size > 1024) return 0;
  const std::string text(reinterpret_cast<const char*>(input), size);
  rtmctl::RtmPath path;
  try {
    path = rtmctl::parseRtmPath(text);
  } catch (const rtmctl::CtlError& error) {
    FUZZ_CHECK(error.exitCode() == rtmctl::kExitUsage, "a bad path is not a usage error");
    return 0;
  }
  FUZZ_CHECK(!path.host.empty(), "a path without a host");
  FUZZ_CHECK(path.port >= 1 && path.port <= 65535, "a name server port out of range");
  rtmctl::RtmPath again;
  try {
    again = rtmctl::parseRtmPath(path.str());
  } catch (const rtmctl::CtlError&) {
    FUZZ_CHECK(false, "a printed path does not parse");
  }
  FUZZ_CHECK(again.host == path.host && again.port == path.port &&
                 again.segments == path.segments && again.portName == path.portName,
             "a printed path parses to another path");
  FUZZ_CHECK(again.str() == path.str(), "printing is not stable");
  for (const rtmctl::NameSegment& segment : path.segments) {
    FUZZ_CHECK(rtmctl::parseSegment(rtmctl::segmentText(segment)) == segment,
               "a segment does not survive text");
  }
  if (!path.portName.empty()) {
    FUZZ_CHECK(rtmctl::portNameMatches("Comp0." + path.portName, path.portName),
               "a port does not answer to its short name");
  }
  return 0;
}
