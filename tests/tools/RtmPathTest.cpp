#include <gtest/gtest.h>

#include "CtlError.h"
#include "RtmPath.h"

namespace rtmctl {
namespace {

struct PathCase {
  const char* text;
  const char* host;
  int port;
  std::vector<NameSegment> segments;
  const char* portName;
};

TEST(RtmPath, ParsesServerNamingPathAndPort) {
  const PathCase cases[] = {
      {"/localhost:2809/h.host_cxt/Pixmoor0.rtc:image",
       "localhost",
       2809,
       {{"h", "host_cxt"}, {"Pixmoor0", "rtc"}},
       "image"},
      {"/localhost/h.host_cxt/Pixmoor0.rtc",
       "localhost",
       2809,
       {{"h", "host_cxt"}, {"Pixmoor0", "rtc"}},
       ""},
      {"/127.0.0.1:31000", "127.0.0.1", 31000, {}, ""},
      {"/127.0.0.1:31000/", "127.0.0.1", 31000, {}, ""},
      // Host names with dots keep them: only the last dot separates the kind.
      {"/ns/my.lab.host.host_cxt/Cam0.rtc:out",
       "ns",
       2809,
       {{"my.lab.host", "host_cxt"}, {"Cam0", "rtc"}},
       "out"},
      {"/ns//plain/x.rtc:Cam0.out", "ns", 2809, {{"plain", ""}, {"x", "rtc"}}, "Cam0.out"},
  };
  for (const PathCase& c : cases) {
    SCOPED_TRACE(c.text);
    const RtmPath path = parseRtmPath(c.text);
    EXPECT_EQ(path.host, c.host);
    EXPECT_EQ(path.port, c.port);
    EXPECT_EQ(path.segments, c.segments);
    EXPECT_EQ(path.portName, c.portName);
  }
}

TEST(RtmPath, PrintsCanonicalForms) {
  const RtmPath path = parseRtmPath("/localhost/h.host_cxt//Pixmoor0.rtc:image");
  EXPECT_EQ(path.str(), "/localhost:2809/h.host_cxt/Pixmoor0.rtc:image");
  // A name whose id holds a dot and whose kind is empty used to print without
  // its last dot, and the printed path then named {id "a", kind "bnc-d"}.
  const RtmPath dotted = parseRtmPath("/localhost/\261/a.bnc-d.:x.y");
  EXPECT_EQ(dotted.str(), "/localhost:2809/\261/a.bnc-d.:x.y");
  EXPECT_EQ(parseRtmPath(dotted.str()).segments, dotted.segments);
  for (const NameSegment& s : {NameSegment{"a.b", ""}, NameSegment{"a", ""},
                               NameSegment{"a.b", "c"}, NameSegment{"a", "b"}}) {
    EXPECT_EQ(parseSegment(segmentText(s)), s) << segmentText(s);
  }
  EXPECT_EQ(path.objectPath(), "/localhost:2809/h.host_cxt/Pixmoor0.rtc");
  EXPECT_EQ(path.corbaloc(), "corbaloc::localhost:2809/NameService");
  EXPECT_EQ(path.serverAddress(), "localhost:2809");
  EXPECT_EQ(path.leafName(), "Pixmoor0.rtc");
}

TEST(RtmPath, RejectsMalformedPathsAsUsageErrors) {
  const struct {
    const char* text;
    const char* mentions;
  } cases[] = {
      {"", "not a path"},
      {"localhost/h.host_cxt/P.rtc", "start with the name server"},
      {"/", "no name server"},
      {"/:2809/a.rtc", "no name server host"},
      {"/localhost:0/a.rtc", "bad name server port '0'"},
      {"/localhost:65536", "bad name server port"},
      {"/localhost:28o9/a.rtc", "bad name server port '28o9'"},
      {"/localhost:2809:image", "bad name server port"},
      {"/localhost/a.rtc:", "empty port name"},
      {"/localhost/a.rtc:x/b.rtc", "':' may only separate the port name"},
      {"/localhost/.rtc", "empty name"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      parseRtmPath(c.text);
      ADD_FAILURE() << "accepted";
    } catch (const CtlError& error) {
      EXPECT_EQ(error.exitCode(), kExitUsage);
      EXPECT_NE(std::string(error.what()).find(c.mentions), std::string::npos) << error.what();
    }
  }
}

TEST(RtmPath, MatchesPortsByShortOrFullName) {
  EXPECT_TRUE(portNameMatches("Pixmoor0.image", "image"));
  EXPECT_TRUE(portNameMatches("Pixmoor0.image", "Pixmoor0.image"));
  EXPECT_FALSE(portNameMatches("Pixmoor0.image", "imag"));
  EXPECT_FALSE(portNameMatches("Pixmoor0.image", "Pixmoor0"));
  // Real ports may carry dots in their own names; only the instance prefix goes.
  EXPECT_TRUE(portNameMatches("Cam0.left.raw", "left.raw"));
  EXPECT_EQ(shortPortName("Cam0.left.raw"), "left.raw");
  EXPECT_EQ(shortPortName("bare"), "bare");
}

}  // namespace
}  // namespace rtmctl
