// Notices the X server that the viewer's window is on going away, on a
// connection of its own: Qt owns the window's connection and ends the
// process when it breaks, without a word to the component.
#ifndef COMPONENT_DISPLAYWATCH_H
#define COMPONENT_DISPLAYWATCH_H

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

struct xcb_connection_t;

// Watches one X server from a thread of its own. Owns a connection and a
// thread, so it cannot be copied.
class DisplayWatch {
 public:
  // Connects to the X server named by `display` and calls `onLost` once, on
  // the watch's thread, when that connection breaks. Watches nothing when
  // the server cannot be reached (started() is false).
  DisplayWatch(const std::string& display, std::function<void()> onLost);
  // Stops the thread and closes the connection.
  ~DisplayWatch();
  DisplayWatch(const DisplayWatch&) = delete;
  DisplayWatch& operator=(const DisplayWatch&) = delete;

  // Returns whether the watch is connected and its thread runs.
  bool started() const { return m_thread.joinable(); }
  // Returns whether the connection has broken.
  bool lost() const { return m_lost; }
  // Finds this process's top-level window titled `title` and watches it
  // too; false when there is none (yet).
  bool followWindow(const std::string& title);
  // Returns whether the window followed was destroyed (by anyone).
  bool windowGone() const { return m_windowGone; }
  // Stops following that window.
  void forgetWindow();
  // Looks at the connection now, without waiting, and calls `onLost` (on the
  // calling thread) if it broke and nobody has yet. For the way out: Qt may
  // end the process before the watch's thread gets to it.
  void checkNow();

 private:
  void run();
  // Reads what arrived; reports once if the connection broke.
  bool readAndReport();

  // Returns the window below `parent` (itself included) that is this
  // process's and titled `title`; 0 when none.
  unsigned findWindow(unsigned parent, const std::string& title, int depth);

  xcb_connection_t* m_connection = nullptr;
  unsigned m_pidAtom = 0;             // _NET_WM_PID, looked up once
  std::atomic<unsigned> m_window{0};  // followed; 0 for none
  std::atomic<bool> m_windowGone{false};
  std::function<void()> m_onLost;
  std::atomic<bool> m_lost{false};
  std::mutex m_reportMutex;
  bool m_reported = false;  // guarded by m_reportMutex
  int m_stopPipe[2] = {-1, -1};
  std::thread m_thread;
};

#endif
