// The window calls of the viewer, behind one small interface so that tests
// can watch them and make them fail.
#ifndef COMPONENT_IMAGEDISPLAY_H
#define COMPONENT_IMAGEDISPLAY_H

#include <opencv2/core.hpp>
#include <string>

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
  // Shows `image` in the window `name`.
  virtual void show(const char* name, const cv::Mat& image) = 0;
  // Processes window events for `milliseconds`.
  virtual void processEvents(int milliseconds) = 0;
  // Processes the window events already queued, without waiting.
  virtual void pollEvents() = 0;
  // Destroys every window of the process.
  virtual void closeAllWindows() = 0;
};

// The desktop, reached through OpenCV's highgui.
class HighGuiDisplay : public ImageDisplay {
 public:
  bool reachable(std::string* reason) override;
  void openWindow(const char* name) override;
  void show(const char* name, const cv::Mat& image) override;
  void processEvents(int milliseconds) override;
  void pollEvents() override;
  void closeAllWindows() override;
};

// Returns the process-wide desktop display.
ImageDisplay& desktopDisplay();

#endif
