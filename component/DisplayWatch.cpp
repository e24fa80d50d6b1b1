#include "DisplayWatch.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

DisplayWatch::DisplayWatch(const std::string& display, std::function<void()> onLost)
    : m_onLost(std::move(onLost)) {
  xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
  // Unlike Xlib's, xcb's failures are reported, never turned into exit().
  if (xcb_connection_has_error(connection) || ::pipe2(m_stopPipe, O_CLOEXEC) != 0) {
    xcb_disconnect(connection);
    return;
  }
  m_connection = connection;
  m_thread = std::thread([this] { run(); });
}

DisplayWatch::~DisplayWatch() {
  if (m_thread.joinable()) {
    const char byte = 'Q';
    ssize_t ignored = ::write(m_stopPipe[1], &byte, 1);
    (void)ignored;
    m_thread.join();
  }
  for (int& fd : m_stopPipe) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  if (m_connection) xcb_disconnect(m_connection);
}

void DisplayWatch::run() {
  for (;;) {
    struct pollfd fds[2];
    fds[0].fd = xcb_get_file_descriptor(m_connection);
    fds[1].fd = m_stopPipe[0];
    for (struct pollfd& fd : fds) {
      fd.events = POLLIN;
      fd.revents = 0;
    }
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    if (readAndReport()) return;
  }
}

namespace {

// Returns the text of property `name` of `window` ("" when unset).
std::string textProperty(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t name) {
  xcb_get_property_reply_t* reply = xcb_get_property_reply(
      connection, xcb_get_property(connection, 0, window, name, XCB_GET_PROPERTY_TYPE_ANY, 0, 256),
      nullptr);
  if (reply == nullptr) return "";
  const std::string text(static_cast<const char*>(xcb_get_property_value(reply)),
                         static_cast<size_t>(xcb_get_property_value_length(reply)));
  std::free(reply);
  return text;
}

xcb_atom_t atom(xcb_connection_t* connection, const char* name) {
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
      connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name),
      nullptr);
  if (reply == nullptr) return XCB_ATOM_NONE;
  const xcb_atom_t found = reply->atom;
  std::free(reply);
  return found;
}

}  // namespace

bool DisplayWatch::followWindow(const std::string& title) {
  if (m_connection == nullptr || m_lost) return false;
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
  if (screen == nullptr) return false;
  if (m_pidAtom == XCB_ATOM_NONE) m_pidAtom = atom(m_connection, "_NET_WM_PID");
  // Top-level, or one level down below a window manager's frame.
  const xcb_window_t window = findWindow(screen->root, title, 2);
  if (window == 0) return false;
  // Our own mask on Qt's window: the server tells us of its destruction.
  const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
  xcb_change_window_attributes(m_connection, window, XCB_CW_EVENT_MASK, &mask);
  xcb_flush(m_connection);
  m_windowGone = false;
  m_window = window;
  return true;
}

unsigned DisplayWatch::findWindow(unsigned parent, const std::string& title, int depth) {
  xcb_query_tree_reply_t* tree =
      xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, parent), nullptr);
  if (tree == nullptr) return 0;
  const xcb_window_t* children = xcb_query_tree_children(tree);
  const int count = xcb_query_tree_children_length(tree);
  xcb_window_t found = 0;
  for (int i = 0; i < count && found == 0; ++i) {
    const std::string pid = textProperty(m_connection, children[i], m_pidAtom);
    uint32_t owner = 0;
    if (pid.size() == sizeof owner) std::memcpy(&owner, pid.data(), sizeof owner);
    if (owner == static_cast<uint32_t>(::getpid()) &&
        textProperty(m_connection, children[i], XCB_ATOM_WM_NAME) == title) {
      found = children[i];
    } else if (depth > 1) {
      found = findWindow(children[i], title, depth - 1);
    }
  }
  std::free(tree);
  return found;
}

void DisplayWatch::forgetWindow() {
  m_window = 0;
  m_windowGone = false;
}

void DisplayWatch::checkNow() {
  if (m_connection != nullptr) readAndReport();
}

bool DisplayWatch::readAndReport() {
  // Nothing was asked for, so whatever arrives is dropped; reading is what
  // makes xcb notice a closed connection.
  while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) {
    if ((event->response_type & 0x7f) == XCB_DESTROY_NOTIFY) {
      const xcb_window_t window = reinterpret_cast<xcb_destroy_notify_event_t*>(event)->window;
      if (window != 0 && window == m_window) m_windowGone = true;
    }
    std::free(event);
  }
  if (!xcb_connection_has_error(m_connection)) return false;
  m_lost = true;
  // Held until the report is written: the way out (checkNow) waits for one
  // under way on the watch's thread rather than end the process halfway
  // through it.
  std::lock_guard<std::mutex> lock(m_reportMutex);
  if (!m_reported) {
    m_reported = true;
    m_onLost();
  }
  return true;
}
