#include "DisplayWatch.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cerrno>
#include <cstdlib>

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

void DisplayWatch::checkNow() {
  if (m_connection != nullptr) readAndReport();
}

bool DisplayWatch::readAndReport() {
  // Nothing was asked for, so whatever arrives is dropped; reading is what
  // makes xcb notice a closed connection.
  while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) std::free(event);
  if (!xcb_connection_has_error(m_connection)) return false;
  m_lost = true;
  if (!m_reported.exchange(true)) m_onLost();
  return true;
}
