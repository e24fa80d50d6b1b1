// The window calls of the viewer, behind one small interface so that tests
// can watch them and make them fail.
#ifndef COMPONENT_IMAGEDISPLAY_H
#define COMPONENT_IMAGEDISPLAY_H

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <opencv2/core.hpp>
#include <string>
#include <thread>

class DisplayWatch;
struct _XDisplay;

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
  // window system breaks, whether windows are open or not; an empty one
  // stops the calls (and nothing else). Replaces the one given before.
  virtual void watchConnection(std::function<void()> onLost) = 0;
  // Shows `image` in the window `name`.
  virtual void show(const char* name, const cv::Mat& image) = 0;
  // Processes window events for `milliseconds`.
  virtual void processEvents(int milliseconds) = 0;
  // Processes the window events already queued, without waiting.
  virtual void pollEvents() = 0;
  // Destroys every window of the process.
  virtual void closeAllWindows() = 0;
  // Opens the window `name` again when another program destroyed it behind
  // our back; returns whether it did. Cheap when nothing happened.
  virtual bool reopenLostWindow(const char* name);
  // Whether a lost connection ends the process (true) or only the window.
  virtual bool lossEndsProcess() const;
  // Says where the pictures go, for the log; "" for nothing worth saying.
  virtual std::string describe() const;
  // Says how the picture shown last differs in size on screen, for the
  // log; "" when it is shown as it is.
  virtual std::string scaling() const;
};

// The desktop, reached through OpenCV's highgui. Qt ends the process once
// it notices that its X server went away, and cannot connect again, so
// after a loss this makes no further window call: show and event calls
// throw, reachable() says no for the rest of the process. A loss while
// windows are open is reported and then the process is asked to end with
// SIGTERM, so that the framework shuts down in order and removes the names;
// one while none are open is only reported.
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
  bool reopenLostWindow(const char* name) override;

 private:
  void throwIfLost() const;
  void claimThread();
  void releaseProbeConnection();
  // Runs on the watch's thread when the connection breaks.
  void connectionLost();
  friend void reportLostDisplayAtExit();

  std::atomic<std::thread::id> m_owner;  // the thread of the first window call

  std::string m_platform;  // the one the probe chose
  // The probe's X connection, kept until Qt has made its own.
  _XDisplay* m_probeConnection = nullptr;
  std::atomic<bool> m_windowsOpen{false};
  bool m_windowFollowed = false;  // the watch has found the window
  std::mutex m_onLostMutex;       // held while onLost runs, so it can be withdrawn
  std::function<void()> m_onLost;
  // Watches the connection Qt uses from the first window to the end of the
  // process: Qt keeps it that long.
  std::unique_ptr<DisplayWatch> m_watch;
};

// Returns the process-wide desktop display.
ImageDisplay& desktopDisplay();

#endif
