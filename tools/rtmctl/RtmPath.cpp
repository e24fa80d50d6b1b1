#include "RtmPath.h"

#include <cstdlib>

#include "CtlError.h"

namespace rtmctl {

namespace {

constexpr int kDefaultNamingPort = 2809;

std::vector<std::string> splitSlashes(const std::string& text) {
  std::vector<std::string> parts;
  std::string::size_type begin = 0;
  while (begin <= text.size()) {
    std::string::size_type end = text.find('/', begin);
    if (end == std::string::npos) end = text.size();
    if (end > begin) parts.push_back(text.substr(begin, end - begin));
    begin = end + 1;
  }
  return parts;
}

int parseNamingPort(const std::string& text, const std::string& whole) {
  bool digits = !text.empty() && text.size() <= 5;
  for (char c : text) digits = digits && c >= '0' && c <= '9';
  const int port = digits ? std::atoi(text.c_str()) : 0;
  if (port < 1 || port > 65535) {
    throw usageError("bad name server port '" + text + "' in '" + whole +
                     "' (expected a number from 1 to 65535)");
  }
  return port;
}

}  // namespace

std::string RtmPath::serverAddress() const { return host + ":" + std::to_string(port); }

std::string RtmPath::corbaloc() const { return "corbaloc::" + serverAddress() + "/NameService"; }

std::string RtmPath::objectPath() const {
  std::string text = "/" + serverAddress();
  for (const NameSegment& segment : segments) text += "/" + segmentText(segment);
  return text;
}

std::string RtmPath::str() const {
  return portName.empty() ? objectPath() : objectPath() + ":" + portName;
}

std::string RtmPath::leafName() const {
  return segments.empty() ? std::string() : segmentText(segments.back());
}

NameSegment parseSegment(const std::string& text) {
  NameSegment segment;
  const std::string::size_type dot = text.rfind('.');
  if (dot == std::string::npos) {
    segment.id = text;
  } else {
    segment.id = text.substr(0, dot);
    segment.kind = text.substr(dot + 1);
  }
  return segment;
}

std::string segmentText(const NameSegment& segment) {
  // An id with a dot keeps an empty kind's dot, or it would read back as
  // id and kind split at that dot.
  if (segment.kind.empty()) {
    return segment.id.find('.') == std::string::npos ? segment.id : segment.id + ".";
  }
  return segment.id + "." + segment.kind;
}

RtmPath parseRtmPath(const std::string& text) {
  if (text.empty() || text[0] != '/') {
    throw usageError("'" + text +
                     "' is not a path: paths start with the name server, "
                     "e.g. /localhost:2809/myhost.host_cxt/Pixmoor0.rtc:image");
  }
  std::vector<std::string> parts = splitSlashes(text);
  if (parts.empty()) throw usageError("'" + text + "' names no name server");

  RtmPath path;
  // The port name hangs off the last segment; the server part may itself be the
  // last one ("/localhost:2809"), whose colon introduces the server's port.
  if (parts.size() > 1) {
    std::string& last = parts.back();
    const std::string::size_type colon = last.find(':');
    if (colon != std::string::npos) {
      path.portName = last.substr(colon + 1);
      last.erase(colon);
      if (path.portName.empty()) throw usageError("empty port name after ':' in '" + text + "'");
    }
  }

  const std::string& server = parts.front();
  const std::string::size_type colon = server.find(':');
  path.host = server.substr(0, colon);
  if (path.host.empty()) throw usageError("no name server host in '" + text + "'");
  path.port = colon == std::string::npos ? kDefaultNamingPort
                                         : parseNamingPort(server.substr(colon + 1), text);

  for (std::size_t i = 1; i < parts.size(); ++i) {
    if (parts[i].find(':') != std::string::npos) {
      throw usageError("':' may only separate the port name at the end of '" + text + "'");
    }
    NameSegment segment = parseSegment(parts[i]);
    if (segment.id.empty()) throw usageError("empty name '" + parts[i] + "' in '" + text + "'");
    path.segments.push_back(segment);
  }
  if (!path.portName.empty() && path.segments.empty()) {
    throw usageError("'" + text + "' names a port but no component");
  }
  return path;
}

bool portNameMatches(const std::string& profileName, const std::string& wanted) {
  return profileName == wanted || shortPortName(profileName) == wanted;
}

std::string shortPortName(const std::string& profileName) {
  const std::string::size_type dot = profileName.find('.');
  return dot == std::string::npos ? profileName : profileName.substr(dot + 1);
}

}  // namespace rtmctl
