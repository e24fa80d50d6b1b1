// Qt ends the whole process when it cannot reach a display, so the probe must
// say no, without harm, wherever Qt would fail, and yes where it would work.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "DisplayProbe.h"
#include "Pixmoor.h"
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

// Starts an X server of its own that resets when idle, as servers do by
// default, and activates a viewer on it, in a process of its own (Qt
// connects once per process) whose output goes to `log`. Returns the pid.
// The child exits 0 once the window was shown, 1 when the activation was
// refused, 2 without a server; Qt ending it gives anything else.
pid_t activateOnAFreshServer(const std::string& log) {
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child != 0) return child;
  const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ::dup2(fd, 1);
  ::dup2(fd, 2);
  pixmoor_test::XServerOptions options;
  options.resetWhenIdle = true;
  pixmoor_test::PrivateXServer server;
  if (!server.start(options)) ::_exit(2);
  ::setenv("DISPLAY", server.display().c_str(), 1);
  for (const char* name : {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE"})
    ::unsetenv(name);
  Pixmoor viewer(nullptr);
  viewer.onInitialize();
  const bool shown = viewer.onActivated(0) == RTC::RTC_OK;
  std::fflush(nullptr);
  // The viewer's watch answers the server's end with SIGTERM.
  ::signal(SIGTERM, SIG_IGN);
  ::kill(server.process().pid(), SIGTERM);
  ::_exit(shown ? 0 : 1);
}

// A fresh X server resets itself when its last client leaves, and drops the
// connections that arrive meanwhile. The probe was that client, then opened
// Xlib's connection into the reset: a viewer started first on a new display
// was refused ("no X server answers") in about 1 run of 6.
TEST(DisplayProbeOnFreshServers, ActivationIsNeverRefusedOnAFreshXServer) {
  if (::access("/usr/bin/Xvfb", X_OK) != 0) GTEST_SKIP() << "no Xvfb";
  // This process holds no threads, so the children may be forked. A few at
  // a time: each mostly waits for its server.
  const int kServers = 50;
  const int kAtOnce = 5;
  const std::string dir = pixmoor_test::makeTempDir("fresh");
  const double start = pixmoor_test::now();
  int shown = 0;
  for (int first = 0; first < kServers; first += kAtOnce) {
    std::vector<pid_t> children;
    for (int i = first; i < first + kAtOnce; ++i)
      children.push_back(activateOnAFreshServer(dir + "/" + std::to_string(i)));
    for (size_t i = 0; i < children.size(); ++i) {
      int status = 0;
      const double end = pixmoor_test::now() + 60;
      while (::waitpid(children[i], &status, WNOHANG) == 0 && pixmoor_test::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      if (pixmoor_test::now() >= end) {
        ::kill(children[i], SIGKILL);
        ::waitpid(children[i], &status, 0);
      }
      const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
      EXPECT_TRUE(ok) << "activation " << first + i << ", status " << status << ":\n"
                      << pixmoor_test::readFile(dir + "/" + std::to_string(first + i));
      shown += ok;
    }
  }
  std::printf("%d of %d activations on fresh X servers showed the window, in %.1f s\n", shown,
              kServers, pixmoor_test::now() - start);
  pixmoor_test::removeTree(dir);
}

}  // namespace
