// Looks at real windows on the X server named by DISPLAY: finds a top-level
// window by its title, reads its geometry, grabs its pixels. Shared by
// tools/screenshot, the window tests and the benchmarks.
#ifndef PIXMOOR_TOOLS_SCREENCAPTURE_XWINDOWCAPTURE_H
#define PIXMOOR_TOOLS_SCREENCAPTURE_XWINDOWCAPTURE_H

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Xlib's Display, kept out of this header so that its macros stay out of its users.
struct _XDisplay;

namespace screencapture {

// A window on screen as the X server sees it.
struct WindowInfo {
  unsigned long id = 0;
  int x = 0;  // position of the window's content relative to the root window
  int y = 0;
  int width = 0;
  int height = 0;
  long pid = 0;  // _NET_WM_PID, 0 when the client did not set it
};

// Pixels of a grabbed window: 3 bytes per pixel in blue, green, red order,
// rows from the top, no padding.
struct WindowPixels {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> bgr;
  // Returns the pixel at (x, y) packed as 0xRRGGBB.
  std::uint32_t rgb(int x, int y) const;
};

// A connection to the X server named by DISPLAY, for looking at windows.
class XWindowCapture {
 public:
  // Connects to DISPLAY; isOpen() tells whether that worked.
  XWindowCapture();
  ~XWindowCapture();
  XWindowCapture(const XWindowCapture&) = delete;
  XWindowCapture& operator=(const XWindowCapture&) = delete;

  // Returns true when the server answered.
  bool isOpen() const { return m_display != nullptr; }

  // Returns the mapped (viewable) windows titled exactly `title`, searching the
  // whole tree so that windows reparented by a window manager are found too;
  // `pid` != 0 keeps only windows whose _NET_WM_PID is `pid`.
  std::vector<WindowInfo> findWindows(const std::string& title, pid_t pid = 0);

  // Waits up to `timeoutSec` for exactly one such window; true when found.
  bool waitForWindow(const std::string& title, pid_t pid, double timeoutSec, WindowInfo* out);
  // Waits up to `timeoutSec` until no such window is viewable; true when gone.
  bool waitForNoWindow(const std::string& title, pid_t pid, double timeoutSec);

  // Raises the window above its siblings so that nothing covers it.
  void raise(const WindowInfo& window);

  // Destroys the window, as another program may (the owner is not asked).
  void destroy(const WindowInfo& window);

  // Asks the window's owner to close it (WM_DELETE_WINDOW), as a window
  // manager does when the user closes it.
  void close(const WindowInfo& window);

  // Lays a white window over `window` for a moment and takes it away again,
  // leaving `window` to repaint what it uncovered.
  void cover(const WindowInfo& window);

  // Grabs the window's content; false when the window is gone or not viewable.
  bool grab(const WindowInfo& window, WindowPixels* out);

  // Waits up to `timeoutSec` until the window, found again by title and pid,
  // has size `width` x `height` and `accept` returns true for its pixels; the
  // last grab is left in `out` either way. True when accepted.
  bool waitForPixels(const std::string& title, pid_t pid, int width, int height,
                     const std::function<bool(const WindowPixels&)>& accept, double timeoutSec,
                     WindowPixels* out);

 private:
  void collect(unsigned long window, const std::string& title, pid_t pid,
               std::vector<WindowInfo>* found);
  std::string titleOf(unsigned long window);
  long pidOf(unsigned long window);

  ::_XDisplay* m_display = nullptr;
};

// Returns DISPLAY, or "" when it is unset.
std::string displayName();

}  // namespace screencapture

#endif
