#include "X11Display.h"

#include <poll.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <opencv2/imgproc.hpp>

#include "DisplayProbe.h"

namespace {

// The bytes of a PutImage request before its pixels.
const std::uint32_t kPutImageHeader = 32;
// How long a put may take before the server counts as stopped.
const std::chrono::milliseconds kCompletionTimeout(2000);
// X windows are at most this wide and high.
const int kMaxWindowSide = 32767;

// ICCCM's WM_SIZE_HINTS: its flags and length in 32-bit words.
const std::uint32_t kHintSize = 1u << 3;
const std::uint32_t kHintMinSize = 1u << 4;
const std::uint32_t kHintMaxSize = 1u << 5;
const int kSizeHintsWords = 18;

std::string displayName() {
  const char* display = std::getenv("DISPLAY");
  return display ? display : "";
}

}  // namespace

X11Display::X11Display(bool fitToScreen) : m_fitToScreen(fitToScreen) {}

X11Display::~X11Display() { disconnect(); }

bool X11Display::reachable(std::string* reason) {
  // A connection kept from an earlier activation is used again, unless it
  // broke meanwhile.
  if (m_connection && !xcb_connection_has_error(m_connection)) return true;
  disconnect();
  const std::string display = displayName();
  if (display.empty()) {
    *reason = "DISPLAY is not set";
    return false;
  }
  // xcb_connect waits for ever on a stopped server.
  if (!xServerResponds(display, kXServerAnswerMs, reason)) return false;
  int screenNumber = 0;
  xcb_connection_t* connection = xcb_connect(display.c_str(), &screenNumber);
  if (xcb_connection_has_error(connection)) {
    xcb_disconnect(connection);
    *reason = "the X server at DISPLAY=" + display + " refused the connection";
    return false;
  }
  const xcb_setup_t* setup = xcb_get_setup(connection);
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(setup);
  for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
  const xcb_screen_t* screen = screens.data;
  const xcb_visualtype_t* visual = nullptr;
  for (xcb_depth_iterator_t depth = xcb_screen_allowed_depths_iterator(screen);
       depth.rem && !visual; xcb_depth_next(&depth)) {
    for (xcb_visualtype_iterator_t v = xcb_depth_visuals_iterator(depth.data); v.rem;
         xcb_visualtype_next(&v)) {
      if (v.data->visual_id == screen->root_visual) visual = v.data;
    }
  }
  int bitsPerPixel = 0;
  for (xcb_format_iterator_t format = xcb_setup_pixmap_formats_iterator(setup); format.rem;
       xcb_format_next(&format)) {
    if (format.data->depth == screen->root_depth) bitsPerPixel = format.data->bits_per_pixel;
  }
  // The picture's bytes are blue, green, red: the server must read them
  // that way, so that converting BGR to BGRA is the only work per frame.
  const bool usable = visual != nullptr && visual->_class == XCB_VISUAL_CLASS_TRUE_COLOR &&
                      (screen->root_depth == 24 || screen->root_depth == 32) &&
                      bitsPerPixel == 32 && visual->red_mask == 0xFF0000 &&
                      visual->green_mask == 0xFF00 && visual->blue_mask == 0xFF &&
                      setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
  if (!usable) {
    *reason =
        "the screen at DISPLAY=" + display + " is " + std::to_string(screen->root_depth) + "-bit " +
        (visual && visual->_class == XCB_VISUAL_CLASS_TRUE_COLOR ? "TrueColor" : "not TrueColor") +
        " with " + std::to_string(bitsPerPixel) +
        " bits a pixel; display: x11 needs a 24- or 32-bit TrueColor screen with 32 bits "
        "a pixel, blue in the low byte (display: opencv shows on any)";
    xcb_disconnect(connection);
    return false;
  }
  m_connection = connection;
  m_root = screen->root;
  m_visual = screen->root_visual;
  m_depth = screen->root_depth;
  m_black = screen->black_pixel;
  m_screenWidth = screen->width_in_pixels;
  m_screenHeight = screen->height_in_pixels;

  const xcb_query_extension_reply_t* shm = xcb_get_extension_data(connection, &xcb_shm_id);
  m_shmAvailable = false;
  if (shm && shm->present) {
    xcb_shm_query_version_reply_t* version =
        xcb_shm_query_version_reply(connection, xcb_shm_query_version(connection), nullptr);
    m_shmAvailable = version != nullptr;
    std::free(version);
    m_shmCompletion = static_cast<std::uint8_t>(shm->first_event + XCB_SHM_COMPLETION);
    m_shmOpcode = shm->major_opcode;
  }
  m_maxRequestBytes = xcb_get_maximum_request_length(connection) * 4;
  internAtoms();
  if (xcb_connection_has_error(connection)) {
    disconnect();
    *reason = "the X server at DISPLAY=" + display + " closed the connection";
    return false;
  }
  return true;
}

void X11Display::internAtoms() {
  const char* const names[] = {"WM_PROTOCOLS", "WM_DELETE_WINDOW", "_NET_WM_NAME", "UTF8_STRING",
                               "_NET_WM_PID"};
  std::uint32_t* const atoms[] = {&m_protocols, &m_deleteWindow, &m_netWmName, &m_utf8,
                                  &m_netWmPid};
  xcb_intern_atom_cookie_t cookies[5];
  for (int i = 0; i < 5; ++i) {
    cookies[i] = xcb_intern_atom(m_connection, 0, static_cast<std::uint16_t>(std::strlen(names[i])),
                                 names[i]);
  }
  for (int i = 0; i < 5; ++i) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(m_connection, cookies[i], nullptr);
    *atoms[i] = reply ? reply->atom : 0;
    std::free(reply);
  }
}

void X11Display::disconnect() {
  if (!m_connection) return;
  destroyWindow();
  releaseSegments();
  xcb_disconnect(m_connection);
  m_connection = nullptr;
  m_lossReported = false;
  m_windowGone = false;
  m_width = m_height = 0;
}

void X11Display::watchConnection(std::function<void()> onLost) { m_onLost = std::move(onLost); }

void X11Display::throwIfLost() {
  if (!m_connection) CV_Error(cv::Error::StsError, "not connected to the X server");
  if (!xcb_connection_has_error(m_connection)) return;
  if (!m_lossReported && m_onLost) {
    m_lossReported = true;
    m_onLost();
  }
  CV_Error(cv::Error::StsError,
           "the connection to the X server at DISPLAY=" + displayName() + " is lost");
}

void X11Display::openWindow(const char* name) {
  throwIfLost();
  // The window itself comes with the first picture, which gives its size.
  m_title = name;
  m_windowGone = false;
}

void X11Display::createWindow(int width, int height) {
  m_window = xcb_generate_id(m_connection);
  const std::uint32_t values[] = {m_black,
                                  XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_STRUCTURE_NOTIFY};
  xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_window, m_root, 0, 0,
                    static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height), 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, m_visual, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK,
                    values);
  const std::uint32_t length = static_cast<std::uint32_t>(m_title.size());
  xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, m_window, XCB_ATOM_WM_NAME,
                      XCB_ATOM_STRING, 8, length, m_title.data());
  xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, m_window, m_netWmName, m_utf8, 8, length,
                      m_title.data());
  const char windowClass[] = "pixmoor\0Pixmoor";
  xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, m_window, XCB_ATOM_WM_CLASS,
                      XCB_ATOM_STRING, 8, sizeof windowClass, windowClass);
  const std::uint32_t pid = static_cast<std::uint32_t>(::getpid());
  xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, m_window, m_netWmPid, XCB_ATOM_CARDINAL,
                      32, 1, &pid);
  // Closing the window asks us instead of ending the connection.
  xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, m_window, m_protocols, XCB_ATOM_ATOM, 32,
                      1, &m_deleteWindow);
  // The picture's size, and no other: the window is not resizable.
  std::uint32_t hints[kSizeHintsWords] = {};
  hints[0] = kHintSize | kHintMinSize | kHintMaxSize;
  hints[3] = hints[5] = hints[7] = static_cast<std::uint32_t>(width);
  hints[4] = hints[6] = hints[8] = static_cast<std::uint32_t>(height);
  xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, m_window, XCB_ATOM_WM_NORMAL_HINTS,
                      XCB_ATOM_WM_SIZE_HINTS, 32, kSizeHintsWords, hints);
  m_gc = xcb_generate_id(m_connection);
  const std::uint32_t noExposures = 0;
  xcb_create_gc(m_connection, m_gc, m_window, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
  xcb_map_window(m_connection, m_window);
  xcb_flush(m_connection);
  m_windowGone = false;
}

void X11Display::destroyWindow() {
  if (!m_connection || xcb_connection_has_error(m_connection)) {
    m_window = m_gc = 0;
    return;
  }
  if (m_gc) xcb_free_gc(m_connection, m_gc);
  if (m_window) xcb_destroy_window(m_connection, m_window);
  m_window = m_gc = 0;
  xcb_flush(m_connection);
}

bool X11Display::attachSegment(Segment* segment, size_t bytes) {
  const int id = ::shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
  if (id < 0) return false;
  void* data = ::shmat(id, nullptr, 0);
  if (data == reinterpret_cast<void*>(-1)) {
    ::shmctl(id, IPC_RMID, nullptr);
    return false;
  }
  const std::uint32_t seg = xcb_generate_id(m_connection);
  xcb_generic_error_t* error =
      xcb_request_check(m_connection, xcb_shm_attach_checked(m_connection, seg, id, 1));
  // Attached or refused, the segment goes with its last user.
  ::shmctl(id, IPC_RMID, nullptr);
  if (error != nullptr || xcb_connection_has_error(m_connection)) {
    std::free(error);
    ::shmdt(data);
    return false;
  }
  segment->shmId = id;
  segment->seg = seg;
  segment->data = static_cast<unsigned char*>(data);
  segment->pending = 0;
  return true;
}

void X11Display::releaseSegments() {
  const bool alive = m_connection && !xcb_connection_has_error(m_connection);
  for (Segment& segment : m_segments) {
    if (segment.shmId < 0) continue;
    // The server detaches after the puts before it: the memory stays until then.
    if (alive) xcb_shm_detach(m_connection, segment.seg);
    ::shmdt(segment.data);
    segment = Segment();
  }
  if (alive) xcb_flush(m_connection);
  std::vector<unsigned char>().swap(m_plain);
  m_scaled.release();
  m_sharedMemory = false;
  m_last = -1;
}

cv::Size X11Display::shownSize(int width, int height) const {
  if (!m_fitToScreen || m_screenWidth <= 0 || m_screenHeight <= 0 ||
      (width <= m_screenWidth && height <= m_screenHeight)) {
    return cv::Size(width, height);
  }
  // The side that overflows more sets the scale; the other keeps the shape,
  // rounded to the nearest pixel.
  const long long w = width, h = height, sw = m_screenWidth, sh = m_screenHeight;
  if (w * sh >= h * sw) {
    return cv::Size(m_screenWidth, static_cast<int>(std::max(1LL, (2 * h * sw + w) / (2 * w))));
  }
  return cv::Size(static_cast<int>(std::max(1LL, (2 * w * sh + h) / (2 * h))), m_screenHeight);
}

void X11Display::prepare(int width, int height) {
  if (width == m_width && height == m_height && (m_sharedMemory || !m_plain.empty())) {
    if (m_window == 0) createWindow(width, height);
    return;
  }
  if (width <= 0 || height <= 0 || width > kMaxWindowSide || height > kMaxWindowSide) {
    CV_Error(cv::Error::StsBadSize, "an X window is at most 32767 pixels wide and high");
  }
  destroyWindow();
  releaseSegments();
  const size_t bytes = static_cast<size_t>(width) * height * 4;
  m_sharedMemory = m_shmAvailable && attachSegment(&m_segments[0], bytes) &&
                   attachSegment(&m_segments[1], bytes);
  if (!m_sharedMemory) {
    // A server on another host, or one without MIT-SHM: over the connection.
    releaseSegments();
    if (m_maxRequestBytes < kPutImageHeader + static_cast<std::uint32_t>(width) * 4) {
      CV_Error(cv::Error::StsBadSize, "a row of the picture exceeds the X server's request limit");
    }
    m_plain.assign(bytes, 0);
  }
  m_width = width;
  m_height = height;
  createWindow(width, height);
}

void X11Display::show(const char* /*name*/, const cv::Mat& image) {
  throwIfLost();
  if (image.type() != CV_8UC3) CV_Error(cv::Error::StsBadArg, "the picture is not 8-bit BGR");
  const cv::Size shown = shownSize(image.cols, image.rows);
  prepare(shown.width, shown.height);
  m_pictureSize = image.size();
  const bool scaled = shown != image.size();
  if (scaled && m_scaled.size() != shown) m_scaled.create(shown, CV_8UC3);
  int index = 0;
  unsigned char* target = m_plain.data();
  if (m_sharedMemory) {
    // Never the one the server may still be reading.
    index = m_last == 0 ? 1 : 0;
    waitUntilFree(&m_segments[index]);
    target = m_segments[index].data;
  }
  cv::Mat server(shown.height, shown.width, CV_8UC4, target);
  if (scaled) {
    // The one pass over the picture's pixels is the scaling; the conversion
    // that follows reads only the screen's worth. Averaging areas is as
    // cheap as interpolating for whole ratios (3840x2160 on 1920x1080) and
    // several times dearer for any other (bench_viewer's BM_FitToScreen),
    // which interpolation then takes.
    const bool wholeRatio = image.cols % shown.width == 0 && image.rows % shown.height == 0 &&
                            image.cols / shown.width == image.rows / shown.height;
    cv::resize(image, m_scaled, shown, 0, 0, wholeRatio ? cv::INTER_AREA : cv::INTER_LINEAR);
    cv::cvtColor(m_scaled, server, cv::COLOR_BGR2BGRA);
  } else {
    // The one pass over the pixels: BGR into the server's BGRX.
    cv::cvtColor(image, server, cv::COLOR_BGR2BGRA);
  }
  m_last = index;
  put(index);
  xcb_flush(m_connection);
  throwIfLost();
}

void X11Display::put(int index) {
  if (m_window == 0) return;
  if (!m_sharedMemory) {
    putInPieces(m_plain.data());
    return;
  }
  Segment& segment = m_segments[index];
  const std::uint16_t width = static_cast<std::uint16_t>(m_width);
  const std::uint16_t height = static_cast<std::uint16_t>(m_height);
  xcb_shm_put_image(m_connection, m_window, m_gc, width, height, 0, 0, width, height, 0, 0, m_depth,
                    XCB_IMAGE_FORMAT_Z_PIXMAP, 1, segment.seg, 0);
  ++segment.pending;
}

void X11Display::putInPieces(const unsigned char* data) {
  const size_t rowBytes = static_cast<size_t>(m_width) * 4;
  const int rowsPerPiece = static_cast<int>(std::min<size_t>(
      (m_maxRequestBytes - kPutImageHeader) / rowBytes, static_cast<size_t>(m_height)));
  for (int y = 0; y < m_height; y += rowsPerPiece) {
    const int rows = std::min(rowsPerPiece, m_height - y);
    xcb_put_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, m_window, m_gc,
                  static_cast<std::uint16_t>(m_width), static_cast<std::uint16_t>(rows), 0,
                  static_cast<std::int16_t>(y), 0, m_depth,
                  static_cast<std::uint32_t>(rows * rowBytes), data + y * rowBytes);
  }
}

void X11Display::waitUntilFree(Segment* segment) {
  const auto deadline = std::chrono::steady_clock::now() + kCompletionTimeout;
  xcb_flush(m_connection);
  while (segment->pending > 0) {
    xcb_generic_event_t* event = xcb_poll_for_event(m_connection);
    if (event != nullptr) {
      handle(event);
      std::free(event);
      continue;
    }
    throwIfLost();
    // Bounded: a stopped server would otherwise hold the viewer for ever.
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      CV_Error(cv::Error::StsError,
               "the X server at DISPLAY=" + displayName() + " has not taken the last picture in " +
                   std::to_string(kCompletionTimeout.count()) + " ms (is it stopped?)");
    }
    struct pollfd readable;
    readable.fd = xcb_get_file_descriptor(m_connection);
    readable.events = POLLIN;
    readable.revents = 0;
    ::poll(&readable, 1, static_cast<int>(left.count()));
  }
}

void X11Display::handle(xcb_generic_event_t* event) {
  const std::uint8_t type = event->response_type & 0x7F;
  if (type == 0) {
    // A put that failed (its window destroyed meanwhile) never completes.
    const xcb_generic_error_t* error = reinterpret_cast<xcb_generic_error_t*>(event);
    if (m_shmOpcode != 0 && error->major_code == m_shmOpcode) {
      for (Segment& segment : m_segments) segment.pending = 0;
    }
  } else if (m_shmAvailable && type == m_shmCompletion) {
    const xcb_shm_completion_event_t* done = reinterpret_cast<xcb_shm_completion_event_t*>(event);
    for (Segment& segment : m_segments) {
      if (segment.shmId >= 0 && segment.seg == done->shmseg && segment.pending > 0)
        --segment.pending;
    }
  } else if (type == XCB_EXPOSE) {
    const xcb_expose_event_t* expose = reinterpret_cast<xcb_expose_event_t*>(event);
    // Once per burst, from the picture shown last.
    if (expose->window == m_window && expose->count == 0 && m_last >= 0) put(m_last);
  } else if (type == XCB_CLIENT_MESSAGE) {
    const xcb_client_message_event_t* message =
        reinterpret_cast<xcb_client_message_event_t*>(event);
    if (message->window == m_window && message->type == m_protocols &&
        message->data.data32[0] == m_deleteWindow) {
      // The user closed it: gone until the viewer opens it again.
      destroyWindow();
      m_windowGone = true;
    }
  } else if (type == XCB_DESTROY_NOTIFY) {
    const xcb_destroy_notify_event_t* destroyed =
        reinterpret_cast<xcb_destroy_notify_event_t*>(event);
    if (destroyed->window == m_window && m_window != 0) {
      xcb_free_gc(m_connection, m_gc);
      m_window = m_gc = 0;
      m_windowGone = true;
    }
  }
}

std::string X11Display::describe() const {
  return "the viewer's own window on the X server at DISPLAY=" + displayName() +
         (m_sharedMemory ? ", pictures through MIT-SHM"
                         : ", pictures over the connection (MIT-SHM cannot be used)");
}

std::string X11Display::scaling() const {
  const cv::Size picture = m_pictureSize;
  if (m_width <= 0 || (picture.width <= m_screenWidth && picture.height <= m_screenHeight)) {
    return std::string();
  }
  const std::string size = std::to_string(picture.width) + "x" + std::to_string(picture.height);
  const std::string screen = std::to_string(m_screenWidth) + "x" + std::to_string(m_screenHeight);
  if (!m_fitToScreen) {
    return "the " + size + " picture is larger than the " + screen +
           " screen and is shown at full size (display.fit: NO): only part of it is visible";
  }
  return "the " + size + " picture is larger than the " + screen + " screen: shown scaled to " +
         std::to_string(m_width) + "x" + std::to_string(m_height) +
         " to fit it (display.fit: NO shows it at full size)";
}

void X11Display::processEvents(int /*milliseconds*/) { pollEvents(); }

void X11Display::pollEvents() {
  throwIfLost();
  while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) {
    handle(event);
    std::free(event);
  }
  xcb_flush(m_connection);
  throwIfLost();
}

void X11Display::closeAllWindows() {
  // The connection goes too: a server that ends while the viewer is
  // inactive then concerns nobody, and the next activation connects anew.
  disconnect();
}

bool X11Display::reopenLostWindow(const char* /*name*/) {
  if (!m_connection || !m_windowGone || m_width == 0) return false;
  throwIfLost();
  createWindow(m_width, m_height);
  return true;
}
