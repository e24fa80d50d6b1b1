// The viewer's window drawn by the viewer itself on the X server of DISPLAY,
// through xcb: one conversion of the picture into a shared-memory image and
// one request to the server, where highgui's window takes three passes.
#ifndef COMPONENT_X11DISPLAY_H
#define COMPONENT_X11DISPLAY_H

#include <xcb/xcb.h>

#include <cstdint>
#include <functional>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "ImageDisplay.h"

// One window on a connection of its own, so that every viewer of a process
// can have one. A lost server ends only the window: the next call reports
// the loss to the watcher, throws, and a later activation connects again.
// Needs a 24- or 32-bit TrueColor screen whose pixels are laid out like the
// picture's (blue in the low byte); reachable() refuses any other.
// A picture larger than the screen is shown scaled down to fit it, keeping
// its shape, unless `fitToScreen` is false.
class X11Display : public ImageDisplay {
 public:
  explicit X11Display(bool fitToScreen = true);
  ~X11Display() override;
  X11Display(const X11Display&) = delete;
  X11Display& operator=(const X11Display&) = delete;

  bool reachable(std::string* reason) override;
  void openWindow(const char* name) override;
  void watchConnection(std::function<void()> onLost) override;
  void show(const char* name, const cv::Mat& image) override;
  // Takes the queued events only: nothing here is worth waiting for.
  void processEvents(int milliseconds) override;
  void pollEvents() override;
  void closeAllWindows() override;
  bool reopenLostWindow(const char* name) override;
  bool lossEndsProcess() const override { return false; }
  // Valid once a picture was shown.
  std::string describe() const override;
  std::string scaling() const override;

 private:
  // A picture's worth of server pixels; through MIT-SHM when `shmId` >= 0.
  struct Segment {
    int shmId = -1;
    std::uint32_t seg = 0;  // the server's name for it
    unsigned char* data = nullptr;
    int pending = 0;  // puts the server has not finished reading
  };

  void disconnect();
  void throwIfLost();
  void createWindow(int width, int height);
  void destroyWindow();
  // The size a `width` x `height` picture is shown at.
  cv::Size shownSize(int width, int height) const;
  // Makes the window and the segments fit `width` x `height`.
  void prepare(int width, int height);
  void releaseSegments();
  bool attachSegment(Segment* segment, size_t bytes);
  // Sends segment `index` to the window.
  void put(int index);
  void putInPieces(const unsigned char* data);
  void handle(xcb_generic_event_t* event);
  void waitUntilFree(Segment* segment);
  void internAtoms();

  xcb_connection_t* m_connection = nullptr;
  std::uint32_t m_root = 0;
  std::uint32_t m_visual = 0;
  std::uint8_t m_depth = 0;
  std::uint32_t m_black = 0;
  bool m_shmAvailable = false;
  std::uint8_t m_shmCompletion = 0;  // the completion event's code
  std::uint8_t m_shmOpcode = 0;      // its requests' major code, to tell their errors
  std::uint32_t m_maxRequestBytes = 0;
  int m_screenWidth = 0;
  int m_screenHeight = 0;
  // Atoms looked up once per connection.
  std::uint32_t m_protocols = 0;     // WM_PROTOCOLS
  std::uint32_t m_deleteWindow = 0;  // WM_DELETE_WINDOW
  std::uint32_t m_netWmName = 0;     // _NET_WM_NAME
  std::uint32_t m_utf8 = 0;          // UTF8_STRING
  std::uint32_t m_netWmPid = 0;      // _NET_WM_PID

  std::string m_title;
  std::uint32_t m_window = 0;  // 0: none
  std::uint32_t m_gc = 0;
  bool m_windowGone = false;  // closed by the user or destroyed by another program
  int m_width = 0;            // of the window: the picture's size, or smaller to fit the screen
  int m_height = 0;

  const bool m_fitToScreen;
  cv::Size m_pictureSize;  // of the picture shown last
  cv::Mat m_scaled;        // the picture scaled down, when it is larger than the screen

  bool m_sharedMemory = false;
  Segment m_segments[2];
  std::vector<unsigned char> m_plain;  // the picture when shared memory cannot be used
  int m_last = -1;                     // segment shown last; -1: none

  std::function<void()> m_onLost;
  bool m_lossReported = false;
};

#endif
