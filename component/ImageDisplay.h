// The window calls of the viewer, behind one small interface so that tests
// can watch them and make them fail.
#ifndef COMPONENT_IMAGEDISPLAY_H
#define COMPONENT_IMAGEDISPLAY_H

#include <atomic>
#include <functional>
#include <memory>
#include <opencv2/core.hpp>
#include <string>
#include <thread>

class DisplayWatch;

// Where the viewer's pictures go. Every call comes from the execution
// context's thread; window calls may throw cv::Exception.
class ImageDisplay {
 public:
  virtual ~ImageDisplay();
  // Returns true when a window can be opened without putting the process at
  // risk; otherwise false with the reason in `reason`.
  virtual bool reachable(std::string* reason) = 0;
  // Creates the window `name`, sized to the images shown in it.
  virtual void openWindow(const char* name) = 0;
  // Calls `onLost` once, from another thread, if the connection to the
  // window system breaks while windows are open; an empty one stops watching.
  virtual void watchConnection(std::function<void()> onLost) = 0;
  // Shows `image` in the window `name`.
  virtual void show(const char* name, const cv::Mat& image) = 0;
  // Processes window events for `milliseconds`.
  virtual void processEvents(int milliseconds) = 0;
  // Processes the window events already queued, without waiting.
  virtual void pollEvents() = 0;
  // Destroys every window of the process and stops watching the connection.
  virtual void closeAllWindows() = 0;
};

// The desktop, reached through OpenCV's highgui. Qt ends the process once
// it notices that its X server went away, so after a loss this makes no
// further window call (show and event calls throw instead) and, having
// reported the loss, asks the process to end with SIGTERM so that the
// framework shuts down in order and removes the names.
// highgui's windows live on the thread that opened the first of them: a
// window call from any other thread (a second viewer in the process) would
// block for good inside Qt, so it throws instead, and reachable() says why.
class HighGuiDisplay : public ImageDisplay {
 public:
  HighGuiDisplay();
  ~HighGuiDisplay() override;
  bool reachable(std::string* reason) override;
  void openWindow(const char* name) override;
  void watchConnection(std::function<void()> onLost) override;
  void show(const char* name, const cv::Mat& image) override;
  void processEvents(int milliseconds) override;
  void pollEvents() override;
  void closeAllWindows() override;

 private:
  void throwIfLost() const;
  void claimThread();
  friend void reportLostDisplayAtExit();

  std::atomic<std::thread::id> m_owner;  // the thread of the first window call

  std::string m_platform;  // the one the probe chose
  std::unique_ptr<DisplayWatch> m_watch;
};

// Returns the process-wide desktop display.
ImageDisplay& desktopDisplay();

#endif
