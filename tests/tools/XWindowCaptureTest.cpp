// The window tests judge the viewer by what XWindowCapture reads back, so the
// capture itself must find the right window and return its exact pixels.
// gtest first: Xlib's macros (None, Bool, ...) clash with gtest's names.
#include <gtest/gtest.h>
// clang-format off
#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
// clang-format on
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "DisplayLock.h"
#include "XWindowCapture.h"

using namespace pixmoor_test;
using namespace screencapture;

namespace {

// A window of our own with a known picture: pixel (x, y) has red x, green y,
// blue x ^ y (all modulo 256), so any shift or swap of rows, columns or
// channels shows.
class PatternWindow {
 public:
  PatternWindow(const char* title, int width, int height) : m_width(width), m_height(height) {
    m_display = XOpenDisplay(nullptr);
    if (!m_display) return;
    int screen = DefaultScreen(m_display);
    m_window = XCreateSimpleWindow(m_display, RootWindow(m_display, screen), 10, 20, width, height,
                                   0, 0, 0);
    XStoreName(m_display, m_window, title);
    long pid = ::getpid();
    XChangeProperty(m_display, m_window, XInternAtom(m_display, "_NET_WM_PID", False), XA_CARDINAL,
                    32, PropModeReplace, reinterpret_cast<unsigned char*>(&pid), 1);
    XSelectInput(m_display, m_window, ExposureMask);
    XMapRaised(m_display, m_window);
    XSync(m_display, False);
    draw();
  }
  ~PatternWindow() {
    if (m_display) XCloseDisplay(m_display);
  }
  bool ok() const { return m_display != nullptr; }
  void unmap() {
    XUnmapWindow(m_display, m_window);
    XSync(m_display, False);
  }
  // Repaints the picture (after exposure, for instance).
  void draw() {
    Visual* visual = DefaultVisual(m_display, DefaultScreen(m_display));
    int depth = DefaultDepth(m_display, DefaultScreen(m_display));
    XImage* image =
        XCreateImage(m_display, visual, depth, ZPixmap, 0, nullptr, m_width, m_height, 32, 0);
    image->data = static_cast<char*>(std::malloc(image->bytes_per_line * m_height));
    for (int y = 0; y < m_height; ++y)
      for (int x = 0; x < m_width; ++x)
        XPutPixel(image, x, y, static_cast<unsigned long>(expected(x, y)));
    XPutImage(m_display, m_window, DefaultGC(m_display, DefaultScreen(m_display)), image, 0, 0, 0,
              0, m_width, m_height);
    XDestroyImage(image);
    XSync(m_display, False);
  }
  static std::uint32_t expected(int x, int y) {
    return (x & 0xff) << 16 | (y & 0xff) << 8 | ((x ^ y) & 0xff);
  }

 private:
  Display* m_display = nullptr;
  Window m_window = 0;
  int m_width, m_height;
};

bool matchesPattern(const WindowPixels& pixels) {
  for (int y = 0; y < pixels.height; ++y)
    for (int x = 0; x < pixels.width; ++x)
      if (pixels.rgb(x, y) != PatternWindow::expected(x, y)) return false;
  return true;
}

}  // namespace

TEST(XWindowCapture, FindsGrabsAndLosesAWindowByTitle) {
  if (displayName().empty()) GTEST_SKIP() << "DISPLAY is not set: no X server to look at";
  DisplayLock lock;
  XWindowCapture capture;
  ASSERT_TRUE(capture.isOpen());
  PatternWindow window("pixmoor capture probe", 300, 200);
  ASSERT_TRUE(window.ok());

  WindowInfo info;
  ASSERT_TRUE(capture.waitForWindow("pixmoor capture probe", ::getpid(), 10, &info));
  EXPECT_EQ(300, info.width);
  EXPECT_EQ(200, info.height);
  EXPECT_EQ(::getpid(), info.pid);
  EXPECT_TRUE(capture.findWindows("pixmoor capture probe", ::getpid() + 1).empty());
  EXPECT_TRUE(capture.findWindows("pixmoor capture", 0).empty()) << "titles match exactly";

  WindowPixels pixels;
  bool exact = capture.waitForPixels("pixmoor capture probe", ::getpid(), 300, 200, matchesPattern,
                                     10, &pixels);
  if (!exact) window.draw();  // a server without backing store may have dropped it
  exact = exact || capture.waitForPixels("pixmoor capture probe", ::getpid(), 300, 200,
                                         matchesPattern, 10, &pixels);
  EXPECT_TRUE(exact) << "pixel (1,2) reads " << std::hex << pixels.rgb(1, 2);

  window.unmap();
  EXPECT_TRUE(capture.waitForNoWindow("pixmoor capture probe", ::getpid(), 10));
  EXPECT_FALSE(capture.grab(info, &pixels)) << "an unmapped window has nothing to grab";
}

TEST(XWindowCapture, IsClosedWhenTheServerIsNotThere) {
  const char* saved = std::getenv("DISPLAY");
  std::string restore = saved ? saved : "";
  ::setenv("DISPLAY", ":2147", 1);
  {
    XWindowCapture capture;
    EXPECT_FALSE(capture.isOpen());
    EXPECT_TRUE(capture.findWindows("anything").empty());
  }
  if (saved)
    ::setenv("DISPLAY", restore.c_str(), 1);
  else
    ::unsetenv("DISPLAY");
}
