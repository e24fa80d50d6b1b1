#include "XWindowCapture.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace screencapture {

namespace {

// Xlib's default error handler ends the process; a window that vanishes
// between finding and grabbing it is an ordinary event in a test.
std::atomic<int> g_lastXError{0};

int recordXError(Display*, XErrorEvent* event) {
  g_lastXError = event->error_code;
  return 0;
}

struct MaskShift {
  int shift = 0;
  int bits = 0;
};

MaskShift describeMask(unsigned long mask) {
  MaskShift m;
  if (mask == 0) return m;
  while (!(mask & 1UL)) {
    mask >>= 1;
    ++m.shift;
  }
  while (mask & 1UL) {
    mask >>= 1;
    ++m.bits;
  }
  return m;
}

std::uint8_t channel(unsigned long pixel, const MaskShift& m) {
  if (m.bits == 0) return 0;
  unsigned long v = (pixel >> m.shift) & ((1UL << m.bits) - 1);
  if (m.bits >= 8) return static_cast<std::uint8_t>(v >> (m.bits - 8));
  return static_cast<std::uint8_t>((v * 255) / ((1UL << m.bits) - 1));
}

double now() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

std::uint32_t WindowPixels::rgb(int x, int y) const {
  const std::uint8_t* p = &bgr[(static_cast<size_t>(y) * width + x) * 3];
  return static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[1]) << 8 | p[0];
}

XWindowCapture::XWindowCapture() {
  if (displayName().empty()) return;
  m_display = XOpenDisplay(nullptr);
  if (m_display) XSetErrorHandler(recordXError);
}

XWindowCapture::~XWindowCapture() {
  if (m_display) XCloseDisplay(m_display);
}

std::string XWindowCapture::titleOf(unsigned long window) {
  std::string title;
  Atom netWmName = XInternAtom(m_display, "_NET_WM_NAME", False);
  Atom utf8 = XInternAtom(m_display, "UTF8_STRING", False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(m_display, window, netWmName, 0, 1024, False, utf8, &type, &format, &count,
                         &after, &data) == Success &&
      data) {
    if (type == utf8 && format == 8) title.assign(reinterpret_cast<char*>(data), count);
    XFree(data);
  }
  if (!title.empty()) return title;
  char* name = nullptr;
  if (XFetchName(m_display, window, &name) && name) {
    title = name;
    XFree(name);
  }
  return title;
}

long XWindowCapture::pidOf(unsigned long window) {
  long pid = 0;
  Atom netWmPid = XInternAtom(m_display, "_NET_WM_PID", False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(m_display, window, netWmPid, 0, 1, False, XA_CARDINAL, &type, &format,
                         &count, &after, &data) == Success &&
      data) {
    // Xlib hands 32-bit properties back as longs.
    if (type == XA_CARDINAL && format == 32 && count == 1) pid = *reinterpret_cast<long*>(data);
    XFree(data);
  }
  return pid;
}

void XWindowCapture::collect(unsigned long window, const std::string& title, pid_t pid,
                             std::vector<WindowInfo>* found) {
  Window root = 0, parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(m_display, window, &root, &parent, &children, &count)) return;
  for (unsigned int i = 0; i < count; ++i) {
    XWindowAttributes attributes;
    g_lastXError = 0;
    if (!XGetWindowAttributes(m_display, children[i], &attributes) || g_lastXError) continue;
    if (attributes.map_state != IsViewable) continue;
    if (titleOf(children[i]) == title) {
      WindowInfo info;
      info.id = children[i];
      info.width = attributes.width;
      info.height = attributes.height;
      info.pid = pidOf(children[i]);
      Window child = 0;
      XTranslateCoordinates(m_display, children[i], root, 0, 0, &info.x, &info.y, &child);
      if (pid == 0 || info.pid == pid) found->push_back(info);
    }
    collect(children[i], title, pid, found);
  }
  if (children) XFree(children);
}

std::vector<WindowInfo> XWindowCapture::findWindows(const std::string& title, pid_t pid) {
  std::vector<WindowInfo> found;
  if (!m_display) return found;
  // Windows that vanish during the walk only raise errors the handler records.
  collect(DefaultRootWindow(m_display), title, pid, &found);
  return found;
}

bool XWindowCapture::waitForWindow(const std::string& title, pid_t pid, double timeoutSec,
                                   WindowInfo* out) {
  double deadline = now() + timeoutSec;
  do {
    std::vector<WindowInfo> found = findWindows(title, pid);
    if (found.size() == 1) {
      if (out) *out = found[0];
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  } while (now() < deadline);
  return false;
}

bool XWindowCapture::waitForNoWindow(const std::string& title, pid_t pid, double timeoutSec) {
  double deadline = now() + timeoutSec;
  do {
    if (findWindows(title, pid).empty()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  } while (now() < deadline);
  return false;
}

void XWindowCapture::raise(const WindowInfo& window) {
  if (!m_display) return;
  XRaiseWindow(m_display, window.id);
  XSync(m_display, False);
}

void XWindowCapture::destroy(const WindowInfo& window) {
  if (!m_display) return;
  XDestroyWindow(m_display, window.id);
  XSync(m_display, False);
}

void XWindowCapture::close(const WindowInfo& window) {
  if (!m_display) return;
  XEvent event = {};
  event.xclient.type = ClientMessage;
  event.xclient.window = window.id;
  event.xclient.message_type = XInternAtom(m_display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(m_display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(m_display, window.id, False, NoEventMask, &event);
  XSync(m_display, False);
}

void XWindowCapture::cover(const WindowInfo& window) {
  if (!m_display) return;
  XSetWindowAttributes attributes;
  attributes.override_redirect = True;  // placed exactly where asked
  attributes.background_pixel = WhitePixel(m_display, DefaultScreen(m_display));
  Window lid = XCreateWindow(m_display, DefaultRootWindow(m_display), window.x, window.y,
                             static_cast<unsigned>(window.width),
                             static_cast<unsigned>(window.height), 0, CopyFromParent,
                             InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel,
                             &attributes);
  XMapRaised(m_display, lid);
  XSync(m_display, False);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  XDestroyWindow(m_display, lid);
  XSync(m_display, False);
}

bool XWindowCapture::grab(const WindowInfo& window, WindowPixels* out) {
  if (!m_display) return false;
  g_lastXError = 0;
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(m_display, window.id, &attributes) || g_lastXError ||
      attributes.map_state != IsViewable)
    return false;
  XImage* image = XGetImage(m_display, window.id, 0, 0, attributes.width, attributes.height,
                            AllPlanes, ZPixmap);
  XSync(m_display, False);
  if (!image || g_lastXError) {
    if (image) XDestroyImage(image);
    return false;
  }
  out->width = image->width;
  out->height = image->height;
  out->bgr.resize(static_cast<size_t>(image->width) * image->height * 3);
  std::uint8_t* dst = out->bgr.data();
  bool plain32 = image->bits_per_pixel == 32 && image->byte_order == LSBFirst &&
                 image->red_mask == 0xff0000 && image->green_mask == 0xff00 &&
                 image->blue_mask == 0xff;
  if (plain32) {
    // In memory each pixel is blue, green, red, pad: drop the pad byte.
    for (int y = 0; y < image->height; ++y) {
      const std::uint8_t* src =
          reinterpret_cast<const std::uint8_t*>(image->data) + y * image->bytes_per_line;
      for (int x = 0; x < image->width; ++x, src += 4, dst += 3) {
        dst[0] = src[0];
        dst[1] = src[1];
        dst[2] = src[2];
      }
    }
  } else {
    MaskShift r = describeMask(image->red_mask), g = describeMask(image->green_mask),
              b = describeMask(image->blue_mask);
    for (int y = 0; y < image->height; ++y) {
      for (int x = 0; x < image->width; ++x, dst += 3) {
        unsigned long pixel = XGetPixel(image, x, y);
        dst[0] = channel(pixel, b);
        dst[1] = channel(pixel, g);
        dst[2] = channel(pixel, r);
      }
    }
  }
  XDestroyImage(image);
  return true;
}

bool XWindowCapture::waitForPixels(const std::string& title, pid_t pid, int width, int height,
                                   const std::function<bool(const WindowPixels&)>& accept,
                                   double timeoutSec, WindowPixels* out) {
  double deadline = now() + timeoutSec;
  do {
    std::vector<WindowInfo> found = findWindows(title, pid);
    if (found.size() == 1 && found[0].width == width && found[0].height == height) {
      raise(found[0]);
      if (grab(found[0], out) && accept(*out)) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  } while (now() < deadline);
  return false;
}

std::string displayName() {
  const char* name = std::getenv("DISPLAY");
  return name ? name : "";
}

}  // namespace screencapture
