// Test helpers: a private omniNames, child processes and a loopback ORB.
#ifndef PIXMOOR_TESTS_SUPPORT_TESTSUPPORT_H
#define PIXMOOR_TESTS_SUPPORT_TESTSUPPORT_H

#include <omniORB4/CORBA.h>
#include <sys/types.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace pixmoor_test {

// Whether this build runs under a sanitizer, which keeps freed memory aside
// and shadows what is touched: a process's size then says nothing of what it
// holds.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
const bool kSanitizedBuild = true;
#else
const bool kSanitizedBuild = false;
#endif

// Returns a TCP port on 127.0.0.1 that was free a moment ago.
int freeTcpPort();
// Opens a TCP socket listening on 127.0.0.1 on a free port that accepts
// nothing; returns its descriptor (-1 on failure) and sets `port`.
int listenOnLoopback(int backlog, int* port);
// Creates a fresh directory under $TMPDIR (or /tmp); returns its path.
std::string makeTempDir(const std::string& tag);
// Removes a directory tree.
void removeTree(const std::string& path);
// Returns the path of a built executable, e.g. buildPath("host/PixmoorComp").
std::string buildPath(const std::string& relative);
// Returns the path of a file in the source tree.
std::string sourcePath(const std::string& relative);
// Writes `text` to `path`.
void writeFile(const std::string& path, const std::string& text);
// Returns the content of `path` ("" when missing).
std::string readFile(const std::string& path);
// Returns seconds on a monotonic clock.
double now();

// Polls `done` every `pollMs` milliseconds until it holds (true) or
// `timeoutSec` has passed (false).
template <typename Predicate>
bool waitUntil(Predicate done, double timeoutSec, int pollMs = 5) {
  const double end = now() + timeoutSec;
  for (;;) {
    if (done()) return true;
    if (now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
  }
}

// A child process with its standard output and error captured in files.
class ChildProcess {
 public:
  // Starts argv[0] (a path) with `argv`, `env` entries ("KEY=value") added to the
  // environment and `cwd` as working directory ("" keeps ours).
  ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
               const std::string& cwd = "");
  // Kills the process (SIGKILL) if it still runs.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return m_pid; }
  bool running();
  void signal(int sig);
  // Waits up to `timeoutSec` for the exit; true when it exited. `status` gets
  // the raw wait status.
  bool waitExit(double timeoutSec, int* status = nullptr);
  // Returns what the process wrote so far.
  std::string stdoutText() const;
  std::string stderrText() const;
  // Waits until standard output (or error) contains `needle`.
  bool waitForStdout(const std::string& needle, double timeoutSec) const;
  bool waitForStderr(const std::string& needle, double timeoutSec) const;

 private:
  pid_t m_pid = -1;
  bool m_reaped = false;
  int m_status = 0;
  std::string m_dir;
};

// A private omniNames on 127.0.0.1, in a temporary directory.
class NameServer {
 public:
  NameServer();
  ~NameServer();
  NameServer(const NameServer&) = delete;
  NameServer& operator=(const NameServer&) = delete;

  // Starts omniNames on `port` (0 picks a free one) with an empty data
  // directory; waits until it answers. Returns false when it does not.
  bool start(int port = 0);
  // Stops it (SIGTERM, then SIGKILL) and forgets its data.
  void stop();
  int port() const { return m_port; }
  // "127.0.0.1:<port>", the form rtc.conf's corba.nameservers takes.
  std::string address() const;
  // "corbaloc::127.0.0.1:<port>/NameService".
  std::string corbaloc() const;

 private:
  int m_port = 0;
  std::string m_dir;
  ChildProcess* m_process = nullptr;
};

struct XServerOptions {
  // Again on the number of the server that ended (a display that comes back).
  bool sameNumber = false;
  // Resets when its last client leaves, as Xvfb and Xorg do by default.
  bool resetWhenIdle = false;
  // Without MIT-SHM, like a server reached over the network.
  bool withoutSharedMemory = false;
  // -screen 0 geometry, WxHxDEPTH.
  std::string screen = "1024x768x24";
};

// An Xvfb of the test's own on a display number it picks itself, so that
// tests can stop or kill it without touching anyone else's.
class PrivateXServer {
 public:
  PrivateXServer();
  ~PrivateXServer();
  PrivateXServer(const PrivateXServer&) = delete;
  PrivateXServer& operator=(const PrivateXServer&) = delete;

  // Starts Xvfb (as `options` say), again after it ended; true once it
  // has said its number.
  bool start(const XServerOptions& options = XServerOptions());
  // ":<number>", for DISPLAY ("" before start()).
  const std::string& display() const { return m_display; }
  ChildProcess& process() { return *m_process; }

 private:
  ChildProcess* m_process = nullptr;
  std::string m_display;
};

// Returns the test process's ORB (initialised once, listening on 127.0.0.1).
CORBA::ORB_ptr orb();
// Resolves a "a.host_cxt/b.rtc" style name on the name server at `corbaloc`;
// nil when it is not bound or the server cannot be reached.
CORBA::Object_ptr resolveName(const std::string& corbaloc, const std::string& path);
// Returns the host name as the framework's %h gives it.
std::string hostName();

}  // namespace pixmoor_test

#endif
