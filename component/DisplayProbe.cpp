#include "DisplayProbe.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>
#include <vector>

namespace {

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::string lowerCase(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

bool startsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// The platform plugins Qt 5 tries, in its order: QT_QPA_PLATFORM when set;
// otherwise Wayland first in a Wayland session that is not GNOME's (where Qt
// ignores it), then X11.
std::vector<std::string> platformCandidates() {
  std::vector<std::string> candidates;
  std::string chosen = environment("QT_QPA_PLATFORM");
  if (chosen.empty()) {
    std::string desktops =
        lowerCase(environment("XDG_CURRENT_DESKTOP") + ":" + environment("XDG_SESSION_DESKTOP"));
    if (environment("XDG_SESSION_TYPE") == "wayland" && desktops.find("gnome") == std::string::npos)
      candidates.push_back("wayland");
    candidates.push_back("xcb");
    return candidates;
  }
  std::stringstream list(chosen);
  std::string entry;
  while (std::getline(list, entry, ';'))
    if (!entry.empty()) candidates.push_back(entry.substr(0, entry.find(':')));
  return candidates;
}

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Waits until `fd` is ready for `events` or the deadline passes.
bool waitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    struct pollfd p;
    p.fd = fd;
    p.events = events;
    p.revents = 0;
    int ready = ::poll(&p, 1, remainingMs(deadline));
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
  }
}

// Connects `fd` without blocking past the deadline.
bool connectBefore(int fd, const sockaddr* address, socklen_t length, Clock::time_point deadline) {
  if (::connect(fd, address, length) == 0) return true;
  if (errno != EINPROGRESS || !waitFor(fd, POLLOUT, deadline)) return false;
  int error = 0;
  socklen_t size = sizeof error;
  return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
}

// A connected, non-blocking socket to the local server number `number`,
// tried as Xlib does: the abstract socket first, then the file; -1 if none.
int connectLocal(const std::string& number, Clock::time_point deadline) {
  const std::string path = "/tmp/.X11-unix/X" + number;
  for (int abstract = 1; abstract >= 0; --abstract) {
    sockaddr_un address;
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + abstract, path.c_str(), path.size());
    // The abstract name's leading zero and the file name's trailing one
    // count alike.
    const socklen_t length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    if (connectBefore(fd, reinterpret_cast<sockaddr*>(&address), length, deadline)) return fd;
    ::close(fd);
  }
  return -1;
}

int connectTcp(const std::string& host, const std::string& number, Clock::time_point deadline) {
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(6000 + std::atoi(number.c_str()));
  if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) return -1;
  int fd = -1;
  for (addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
    fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
    if (fd >= 0 && !connectBefore(fd, a->ai_addr, a->ai_addrlen, deadline)) {
      ::close(fd);
      fd = -1;
    }
  }
  ::freeaddrinfo(found);
  return fd;
}

}  // namespace

// xServerResponds, leaving the connection open in `*open` when the server
// answered (-1 for display names left to Xlib).
static bool xServerAnswersOn(const std::string& display, int timeoutMs, std::string* reason,
                             int* open) {
  *open = -1;
  // [host]:number[.screen]; forms beyond that are left to Xlib.
  const size_t colon = display.rfind(':');
  if (colon == std::string::npos || (colon > 0 && display[colon - 1] == ':')) return true;
  const std::string host = display.substr(0, colon);
  const std::string number = display.substr(colon + 1, display.find('.', colon) - colon - 1);
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) return true;

  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  int fd = host.empty() || host == "unix" ? connectLocal(number, deadline)
                                          : connectTcp(host, number, deadline);
  if (fd < 0) {
    *reason = "no X server answers at DISPLAY=" + display;
    return false;
  }
  // A connection setup without credentials: any reply, even a refusal,
  // shows a server that is running.
  const unsigned char setup[12] = {'l', 0, 11, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  bool answered = ::send(fd, setup, sizeof setup, MSG_NOSIGNAL) == sizeof setup &&
                  waitFor(fd, POLLIN, deadline);
  if (!answered) {
    ::close(fd);
    *reason = "the X server at DISPLAY=" + display + " does not answer within " +
              std::to_string(timeoutMs) + " ms (is it stopped?)";
    return false;
  }
  *open = fd;
  return true;
}

namespace {

bool xServerAnswers(std::string* reason, _XDisplay** keepOpen) {
  std::string display = environment("DISPLAY");
  if (display.empty()) {
    *reason = "DISPLAY is not set";
    return false;
  }
  // XOpenDisplay waits without end for a server that accepts but is
  // stopped; ask for an answer within a bound first. That connection stays
  // open until Xlib's is: a server whose last client leaves resets itself,
  // and drops the connections that arrive meanwhile.
  int answered = -1;
  if (!xServerAnswersOn(display, kXServerAnswerMs, reason, &answered)) return false;
  // Unlike Qt, Xlib reports a server that is not there by returning null.
  // A server whose last other client has just left may still be resetting:
  // it comes back within moments.
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kXServerAnswerMs);
  Display* connection = XOpenDisplay(display.c_str());
  while (!connection && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    connection = XOpenDisplay(display.c_str());
  }
  if (answered >= 0) ::close(answered);
  if (!connection) {
    *reason = "no X server answers at DISPLAY=" + display;
    return false;
  }
  if (keepOpen) {
    *keepOpen = connection;
  } else {
    XCloseDisplay(connection);
  }
  return true;
}

bool waylandCompositorAnswers(std::string* reason) {
  std::string name = environment("WAYLAND_DISPLAY");
  if (name.empty()) name = "wayland-0";
  std::string path = name;
  if (name[0] != '/') {
    std::string runtimeDir = environment("XDG_RUNTIME_DIR");
    if (runtimeDir.empty()) {
      *reason = "XDG_RUNTIME_DIR is not set, so the Wayland socket cannot be found";
      return false;
    }
    path = runtimeDir + "/" + name;
  }
  sockaddr_un address;
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    *reason = "the Wayland socket path is too long: " + path;
    return false;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size());
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  bool answers =
      fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  if (fd >= 0) ::close(fd);
  if (!answers) *reason = "no Wayland compositor answers at " + path;
  return answers;
}

}  // namespace

bool xServerResponds(const std::string& display, int timeoutMs, std::string* reason) {
  int open = -1;
  const bool answered = xServerAnswersOn(display, timeoutMs, reason, &open);
  if (open >= 0) ::close(open);
  return answered;
}

void closeProbeConnection(_XDisplay* connection) {
  if (connection) XCloseDisplay(connection);
}

bool probeDisplay(std::string* reason, std::string* platform, _XDisplay** keepOpen) {
  std::string why;
  std::string reasons;
  for (const std::string& candidate : platformCandidates()) {
    bool ready = false;
    if (candidate == "xcb") {
      ready = xServerAnswers(&why, keepOpen);
    } else if (startsWith(candidate, "wayland")) {
      ready = waylandCompositorAnswers(&why);
    } else if (candidate == "offscreen" || candidate == "minimal") {
      // Chosen on purpose, they need no display server and show nothing.
      ready = true;
    } else {
      // linuxfb without a frame buffer, eglfs without a GPU, an unknown
      // name: Qt aborts the process there, and nothing here can tell first.
      why = "QT_QPA_PLATFORM " + candidate +
            " is not a platform this viewer can check (use xcb, wayland, offscreen or minimal)";
    }
    if (ready) {
      if (platform) *platform = candidate;
      return true;
    }
    reasons += (reasons.empty() ? "" : "; ") + why;
  }
  if (reason) *reason = reasons;
  return false;
}
