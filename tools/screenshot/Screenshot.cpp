// screenshot: writes a PNG of a window on the X server named by DISPLAY,
// found by its title. The demo uses it to show what the viewer put on a
// virtual display.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <thread>

#include "XWindowCapture.h"

namespace {

const char kUsage[] =
    "usage: screenshot [--title TITLE] [--pid PID] [--size WxH] [--timeout SECONDS] OUTPUT.png\n"
    "\n"
    "Waits for the one mapped window titled TITLE (default \"Pixmoor.exe\") on the X\n"
    "server named by DISPLAY, optionally owned by process PID and of size WxH, until\n"
    "its picture holds still, and writes its pixels to OUTPUT.png.\n"
    "Exit status: 0 written, 1 no such window in time, 2 cannot write, 64 bad usage.\n";

int usageError(const char* message) {
  std::fprintf(stderr, "screenshot: %s\n%s", message, kUsage);
  return 64;
}

double now() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

int main(int argc, char** argv) {
  std::string title = "Pixmoor.exe", output;
  long pid = 0;
  int width = 0, height = 0;
  double timeout = 30;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--title" && hasValue) {
      title = argv[++i];
    } else if (arg == "--pid" && hasValue) {
      pid = std::atol(argv[++i]);
      if (pid <= 0) return usageError("--pid wants a process id");
    } else if (arg == "--size" && hasValue) {
      if (std::sscanf(argv[++i], "%dx%d", &width, &height) != 2 || width <= 0 || height <= 0)
        return usageError("--size wants WIDTHxHEIGHT, e.g. 640x480");
    } else if (arg == "--timeout" && hasValue) {
      timeout = std::atof(argv[++i]);
      if (timeout <= 0) return usageError("--timeout wants a positive number of seconds");
    } else if (!arg.empty() && arg[0] == '-') {
      return usageError(("unknown option or missing value: " + arg).c_str());
    } else if (output.empty()) {
      output = arg;
    } else {
      return usageError("give one output file");
    }
  }
  if (output.empty()) return usageError("give the output file");

  screencapture::XWindowCapture capture;
  if (!capture.isOpen()) {
    std::fprintf(stderr, "screenshot: no X server answers at DISPLAY=%s\n",
                 screencapture::displayName().c_str());
    return 1;
  }
  // A window that has just appeared may still be painting: wait until two
  // grabs in a row agree.
  double deadline = now() + timeout;
  screencapture::WindowPixels previous, current;
  bool steady = false;
  std::string lastProblem = "no window titled \"" + title + "\"";
  while (!steady && now() < deadline) {
    std::vector<screencapture::WindowInfo> found = capture.findWindows(title, pid);
    if (found.size() > 1) {
      lastProblem = "several windows titled \"" + title + "\": choose one with --pid";
    } else if (found.size() == 1 && width &&
               (found[0].width != width || found[0].height != height)) {
      lastProblem = "the window is " + std::to_string(found[0].width) + "x" +
                    std::to_string(found[0].height) + ", not " + std::to_string(width) + "x" +
                    std::to_string(height);
    } else if (found.size() == 1) {
      capture.raise(found[0]);
      if (capture.grab(found[0], &current)) {
        steady = !previous.bgr.empty() && previous.width == current.width &&
                 previous.height == current.height && previous.bgr == current.bgr;
        previous.bgr.swap(current.bgr);
        previous.width = current.width;
        previous.height = current.height;
      }
    }
    if (!steady) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (!steady) {
    std::fprintf(stderr, "screenshot: %s after %.0f s\n", lastProblem.c_str(), timeout);
    return 1;
  }
  cv::Mat picture(previous.height, previous.width, CV_8UC3, previous.bgr.data());
  bool written = false;
  try {
    written = cv::imwrite(output, picture);
  } catch (const cv::Exception& e) {
    std::fprintf(stderr, "screenshot: %s\n", e.what());
  }
  if (!written) {
    std::fprintf(stderr, "screenshot: cannot write %s\n", output.c_str());
    return 2;
  }
  std::printf("screenshot: wrote %s (%dx%d)\n", output.c_str(), previous.width, previous.height);
  return 0;
}
