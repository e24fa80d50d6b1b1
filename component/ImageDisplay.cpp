#include "ImageDisplay.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <opencv2/highgui.hpp>

#include "DisplayProbe.h"
#include "DisplayWatch.h"

ImageDisplay::~ImageDisplay() {}

bool ImageDisplay::reopenLostWindow(const char*) { return false; }

bool ImageDisplay::lossEndsProcess() const { return true; }

std::string ImageDisplay::describe() const { return std::string(); }

std::string ImageDisplay::scaling() const { return std::string(); }

HighGuiDisplay::HighGuiDisplay() {}

HighGuiDisplay::~HighGuiDisplay() { releaseProbeConnection(); }

namespace {

// Set on the way out, when asking the process to end is no longer needed.
std::atomic<bool> g_exiting{false};

const char kOtherThread[] =
    "OpenCV's window belongs to another thread of this process (another viewer "
    "shows it): run one viewer per process";

}  // namespace

bool HighGuiDisplay::reachable(std::string* reason) {
  const std::thread::id owner = m_owner.load();
  if (owner != std::thread::id() && owner != std::this_thread::get_id()) {
    *reason = kOtherThread;
    return false;
  }
  if (m_watch && m_watch->lost()) {
    // Qt would end the process at its first call on the dead connection.
    const char* display = std::getenv("DISPLAY");
    *reason = std::string(
                  "the display was lost while this process ran (the X server at "
                  "DISPLAY=") +
              (display ? display : "") +
              " went away), and OpenCV cannot open a window again in this process; restart "
              "the viewer";
    return false;
  }
  releaseProbeConnection();
  return probeDisplay(reason, &m_platform, &m_probeConnection);
}

void HighGuiDisplay::releaseProbeConnection() {
  closeProbeConnection(m_probeConnection);
  m_probeConnection = nullptr;
}

void HighGuiDisplay::claimThread() {
  std::thread::id owner;  // none yet
  if (m_owner.compare_exchange_strong(owner, std::this_thread::get_id()) ||
      owner == std::this_thread::get_id()) {
    return;
  }
  CV_Error(cv::Error::StsError, kOtherThread);
}

// Qt ends the process with exit() when its connection breaks, which can be
// before the watch's thread has read the same news on its own connection:
// the loss is then reported here, so that the log still says why.
void reportLostDisplayAtExit() {
  g_exiting = true;
  HighGuiDisplay& display = static_cast<HighGuiDisplay&>(desktopDisplay());
  if (display.m_watch) display.m_watch->checkNow();
}

void HighGuiDisplay::watchConnection(std::function<void()> onLost) {
  const bool watching = static_cast<bool>(onLost);
  {
    std::lock_guard<std::mutex> lock(m_onLostMutex);
    m_onLost = std::move(onLost);
  }
  // Only an X server can be watched from here; Wayland's loss and the
  // display-less platforms are left as they are.
  const char* display = std::getenv("DISPLAY");
  if (!watching || m_watch || m_platform != "xcb" || display == nullptr) return;
  static std::once_flag atExit;
  std::call_once(atExit, [] { std::atexit(reportLostDisplayAtExit); });
  m_watch.reset(new DisplayWatch(display, [this] { connectionLost(); }));
}

void HighGuiDisplay::connectionLost() {
  {
    std::lock_guard<std::mutex> lock(m_onLostMutex);
    if (m_onLost) m_onLost();
  }
  // Qt ends the process at its next look at a dead connection, which an
  // open window makes soon. Not shutdown() from here: it would destroy the
  // component, which waits for this very thread. SIGTERM is taken by the
  // manager's own thread.
  if (m_windowsOpen && !g_exiting) ::kill(::getpid(), SIGTERM);
}

void HighGuiDisplay::throwIfLost() const {
  if (m_watch && m_watch->lost())
    CV_Error(cv::Error::StsError, "the connection to the display is lost");
}

void HighGuiDisplay::openWindow(const char* name) {
  claimThread();
  // Without GUI_NORMAL, Qt adds a toolbar and a status bar around the picture,
  // and the window no longer takes the size of the image shown.
  try {
    cv::namedWindow(name, cv::WINDOW_AUTOSIZE | cv::WINDOW_GUI_NORMAL);
  } catch (...) {
    releaseProbeConnection();
    throw;
  }
  m_windowsOpen = true;
  // Qt has its connection now.
  releaseProbeConnection();
}

void HighGuiDisplay::show(const char* name, const cv::Mat& image) {
  claimThread();
  throwIfLost();
  cv::imshow(name, image);
}

void HighGuiDisplay::processEvents(int milliseconds) {
  claimThread();
  throwIfLost();
  cv::waitKey(milliseconds);
}

void HighGuiDisplay::pollEvents() {
  claimThread();
  throwIfLost();
  cv::pollKey();
}

void HighGuiDisplay::closeAllWindows() {
  claimThread();
  m_windowsOpen = false;
  m_windowFollowed = false;
  if (m_watch) m_watch->forgetWindow();
  // The windows went with the server; Qt would end the process if asked.
  if (!(m_watch && m_watch->lost())) cv::destroyAllWindows();
}

bool HighGuiDisplay::reopenLostWindow(const char* name) {
  if (!m_watch || m_watch->lost() || !m_windowsOpen) return false;
  if (!m_windowFollowed) {
    // Qt creates the X window at the first show: looked for until found.
    m_windowFollowed = m_watch->followWindow(name);
    return false;
  }
  if (!m_watch->windowGone()) return false;
  claimThread();
  m_watch->forgetWindow();
  m_windowFollowed = false;
  // Qt still holds a widget for the dead window; a new one replaces it.
  cv::destroyWindow(name);
  cv::namedWindow(name, cv::WINDOW_AUTOSIZE | cv::WINDOW_GUI_NORMAL);
  return true;
}

ImageDisplay& desktopDisplay() {
  static HighGuiDisplay display;
  return display;
}
