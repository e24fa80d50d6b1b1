// Qt ends the whole process when it cannot reach a display, so the probe must
// say no, without harm, wherever Qt would fail, and yes where it would work.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "DisplayProbe.h"
#include "TestSupport.h"

namespace {

const char* const kVariables[] = {"DISPLAY",          "WAYLAND_DISPLAY",     "XDG_RUNTIME_DIR",
                                  "XDG_SESSION_TYPE", "XDG_CURRENT_DESKTOP", "XDG_SESSION_DESKTOP",
                                  "QT_QPA_PLATFORM"};

// Clears the variables the probe reads and puts them back afterwards.
class DisplayProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kVariables) {
      const char* value = std::getenv(name);
      if (value) m_saved[name] = value;
      ::unsetenv(name);
    }
    m_dir = pixmoor_test::makeTempDir("probe");
  }
  void TearDown() override {
    if (m_listener >= 0) ::close(m_listener);
    for (const char* name : kVariables) ::unsetenv(name);
    for (const auto& entry : m_saved) ::setenv(entry.first.c_str(), entry.second.c_str(), 1);
    pixmoor_test::removeTree(m_dir);
  }
  // Creates the socket `name` in the temporary directory; listening on it
  // when `answering`, else a stale socket file nobody accepts on.
  void makeWaylandSocket(const std::string& name, bool answering) {
    sockaddr_un address;
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    std::string path = m_dir + "/" + name;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    m_listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(0, ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address));
    if (answering) {
      ASSERT_EQ(0, ::listen(m_listener, 4));
    } else {
      ::close(m_listener);
      m_listener = -1;
    }
  }
  std::string probe(bool expected) {
    std::string reason;
    EXPECT_EQ(expected, probeDisplay(&reason)) << reason;
    return reason;
  }

  std::map<std::string, std::string> m_saved;
  std::string m_dir;
  int m_listener = -1;
};

TEST_F(DisplayProbeTest, RefusesWhenNothingIsConfigured) {
  EXPECT_NE(std::string::npos, probe(false).find("DISPLAY is not set"));
}

TEST_F(DisplayProbeTest, RefusesAnXServerThatIsNotThere) {
  ::setenv("DISPLAY", ":2147", 1);
  double start = pixmoor_test::now();
  EXPECT_NE(std::string::npos, probe(false).find(":2147"));
  EXPECT_LT(pixmoor_test::now() - start, 5.0);
}

TEST_F(DisplayProbeTest, AcceptsTheXServerOfThisSession) {
  auto it = m_saved.find("DISPLAY");
  if (it == m_saved.end()) GTEST_SKIP() << "DISPLAY is not set: no X server to probe";
  ::setenv("DISPLAY", it->second.c_str(), 1);
  probe(true);
}

// Qt 5 takes Wayland only when asked to (QT_QPA_PLATFORM) or in a Wayland
// session that is not GNOME's; otherwise a Wayland socket alone does not help.
TEST_F(DisplayProbeTest, FollowsQtsChoiceOfWayland) {
  makeWaylandSocket("wayland-7", true);
  ::setenv("XDG_RUNTIME_DIR", m_dir.c_str(), 1);
  ::setenv("WAYLAND_DISPLAY", "wayland-7", 1);
  probe(false);

  ::setenv("XDG_SESSION_TYPE", "wayland", 1);
  probe(true);
  ::setenv("XDG_CURRENT_DESKTOP", "ubuntu:GNOME", 1);
  probe(false);

  ::setenv("QT_QPA_PLATFORM", "wayland", 1);
  probe(true);
  ::setenv("WAYLAND_DISPLAY", (m_dir + "/wayland-7").c_str(), 1);  // an absolute path
  probe(true);
  ::setenv("WAYLAND_DISPLAY", "wayland-8", 1);
  EXPECT_NE(std::string::npos, probe(false).find("wayland-8"));
}

TEST_F(DisplayProbeTest, RefusesAStaleWaylandSocket) {
  makeWaylandSocket("wayland-3", false);
  ::setenv("XDG_RUNTIME_DIR", m_dir.c_str(), 1);
  ::setenv("WAYLAND_DISPLAY", "wayland-3", 1);
  ::setenv("QT_QPA_PLATFORM", "wayland", 1);
  probe(false);
}

TEST_F(DisplayProbeTest, TriesEachPlatformOfAListAndAcceptsDisplaylessOnes) {
  ::setenv("DISPLAY", ":2147", 1);
  ::setenv("QT_QPA_PLATFORM", "wayland;xcb", 1);
  std::string reason = probe(false);
  EXPECT_NE(std::string::npos, reason.find("Wayland")) << reason;
  EXPECT_NE(std::string::npos, reason.find(":2147")) << reason;
}

// Qt aborts the process on linuxfb without a frame buffer, on eglfs without
// a GPU and on a name it does not know; vnc opens a server to the network.
// offscreen and minimal were seen to open, show and close windows with no
// display at all.
TEST_F(DisplayProbeTest, AcceptsOnlyPlatformsItCanVouchFor) {
  const struct {
    const char* platform;
    bool accepted;
  } cases[] = {{"offscreen", true},
               {"minimal", true},
               {"minimal:enable_fonts", true},
               {"linuxfb", false},
               {"linuxfb:fb=/dev/fb7", false},
               {"eglfs", false},
               {"vnc", false},
               {"no-such-platform", false},
               {"linuxfb;offscreen", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.platform);
    ::setenv("QT_QPA_PLATFORM", c.platform, 1);
    std::string platform;
    std::string reason;
    EXPECT_EQ(c.accepted, probeDisplay(&reason, &platform)) << reason;
    if (!c.accepted) {
      EXPECT_NE(std::string::npos, reason.find("is not a platform this viewer can check"))
          << reason;
    }
  }
}

// A stopped X server accepts connections and never answers: XOpenDisplay
// waited for ever, so activation outlived its caller's timeout.
TEST_F(DisplayProbeTest, RefusesAStoppedXServerWithinItsBound) {
  pixmoor_test::PrivateXServer server;
  if (!server.start()) GTEST_SKIP() << "no Xvfb of our own could start";
  const std::string display = server.display();
  std::string reason;
  ASSERT_TRUE(xServerResponds(display, 2000, &reason)) << reason;
  server.process().signal(SIGSTOP);
  double start = pixmoor_test::now();
  EXPECT_FALSE(xServerResponds(display, kXServerAnswerMs, &reason));
  EXPECT_LT(pixmoor_test::now() - start, kXServerAnswerMs / 1000.0 + 0.3);
  EXPECT_NE(std::string::npos, reason.find("does not answer within")) << reason;
  ::setenv("DISPLAY", display.c_str(), 1);
  EXPECT_FALSE(probeDisplay(&reason)) << "the probe asks with the same bound";
  server.process().signal(SIGCONT);
  EXPECT_TRUE(xServerResponds(display, 2000, &reason)) << reason;
}

}  // namespace
