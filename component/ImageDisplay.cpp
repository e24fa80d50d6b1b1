#include "ImageDisplay.h"

#include <opencv2/highgui.hpp>

#include "DisplayProbe.h"

ImageDisplay::~ImageDisplay() {}

bool HighGuiDisplay::reachable(std::string* reason) { return probeDisplay(reason); }

void HighGuiDisplay::openWindow(const char* name) {
  // Without GUI_NORMAL, Qt adds a toolbar and a status bar around the picture,
  // and the window no longer takes the size of the image shown.
  cv::namedWindow(name, cv::WINDOW_AUTOSIZE | cv::WINDOW_GUI_NORMAL);
}

void HighGuiDisplay::show(const char* name, const cv::Mat& image) { cv::imshow(name, image); }

void HighGuiDisplay::processEvents(int milliseconds) { cv::waitKey(milliseconds); }

void HighGuiDisplay::pollEvents() { cv::pollKey(); }

void HighGuiDisplay::closeAllWindows() { cv::destroyAllWindows(); }

ImageDisplay& desktopDisplay() {
  static HighGuiDisplay display;
  return display;
}
