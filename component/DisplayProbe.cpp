#include "DisplayProbe.h"

#include <X11/Xlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
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

bool xServerAnswers(std::string* reason) {
  std::string display = environment("DISPLAY");
  if (display.empty()) {
    *reason = "DISPLAY is not set";
    return false;
  }
  // Unlike Qt, Xlib reports a server that is not there by returning null.
  Display* connection = XOpenDisplay(display.c_str());
  if (!connection) {
    *reason = "no X server answers at DISPLAY=" + display;
    return false;
  }
  XCloseDisplay(connection);
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

bool probeDisplay(std::string* reason) {
  std::string why;
  std::string reasons;
  for (const std::string& platform : platformCandidates()) {
    if (platform == "xcb") {
      if (xServerAnswers(&why)) return true;
    } else if (startsWith(platform, "wayland")) {
      if (waylandCompositorAnswers(&why)) return true;
    } else {
      // offscreen, minimal, vnc, ...: chosen on purpose and needing no
      // display server, or beyond what can be checked here.
      return true;
    }
    reasons += (reasons.empty() ? "" : "; ") + why;
  }
  if (reason) *reason = reasons;
  return false;
}
