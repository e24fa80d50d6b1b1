// Paths that name a name server, a naming context, a component or a port.
#ifndef PIXMOOR_TOOLS_RTMCTL_RTMPATH_H
#define PIXMOOR_TOOLS_RTMCTL_RTMPATH_H

#include <string>
#include <vector>

namespace rtmctl {

// One naming component: "Pixmoor0.rtc" is id "Pixmoor0", kind "rtc".
struct NameSegment {
  std::string id;
  std::string kind;

  bool operator==(const NameSegment& other) const { return id == other.id && kind == other.kind; }
};

// A parsed path: /host[:port]/seg/seg/...[:portname].
struct RtmPath {
  std::string host;                   // name server host, e.g. "localhost"
  int port = 2809;                    // name server port
  std::vector<NameSegment> segments;  // the naming path below the server's root
  std::string portName;               // the data port after ':', "" when none

  // Returns "host:port", the name server's address.
  std::string serverAddress() const;
  // Returns "corbaloc::host:port/NameService".
  std::string corbaloc() const;
  // Returns the path in canonical form, without the port name.
  std::string objectPath() const;
  // Returns the path in canonical form, with ":portname" when present.
  std::string str() const;
  // Returns the last segment as text ("Pixmoor0.rtc"), "" for the root.
  std::string leafName() const;
};

// Parses `text`; throws CtlError (usage) with a message that says what is wrong.
RtmPath parseRtmPath(const std::string& text);

// Splits a naming component text at its last dot into id and kind.
NameSegment parseSegment(const std::string& text);

// Returns "id.kind", or just "id" when the kind is empty ("id." when the id
// holds a dot), so that parseSegment reads it back unchanged.
std::string segmentText(const NameSegment& segment);

// True when a port profile name ("Pixmoor0.image") answers to `wanted`, which
// may be the port's short name ("image") or its full name.
bool portNameMatches(const std::string& profileName, const std::string& wanted);

// Returns the port's short name: the part after the first dot of "Pixmoor0.image".
std::string shortPortName(const std::string& profileName);

}  // namespace rtmctl

#endif
