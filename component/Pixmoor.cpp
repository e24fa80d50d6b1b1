#include "Pixmoor.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ImageUtil.h"
#include "X11Display.h"

// The title of the one window the viewer shows its frames in.
const char* const windowName = "Pixmoor.exe";

// How often the window's events are processed in cycles without a frame:
// often enough to repaint and answer the window manager, rarely enough to
// cost nothing measurable.
static const std::chrono::milliseconds kIdleEventInterval(25);

// Room in a message around the frame's bytes: GIOP and request headers,
// the object key, the operation name and the sample's time and count.
static const unsigned long long kMessageOverhead = 1024;

// Frames that reading at activation may discard: the port's buffers hold
// fewer unless producers keep sending meanwhile.
static const int kMaxQueuedFrames = 4096;

// The component type's profile: alternating keys and values, then "".
static const char* component_spec[] = {
    "implementation_id", "Pixmoor",
    "type_name", "Pixmoor",
    "description", "Pixmoor",
    "version", "1.0.0",
    "vendor", "QZV",
    "category", "Generic",
    "activity_type", "PERIODIC",
    "kind", "DataFlowComponent",
    "max_instance", "0",
    "language", "C++",
    "lang_type", "compile",
    "conf.default.input_image_width", "640",
    "conf.default.input_image_height", "480",
    "conf.default.flip_h", "0",
    "conf.default.flip_v", "0",
    "conf.__widget__.input_image_width", "text",
    "conf.__widget__.input_image_height", "text",
    "conf.__widget__.flip_h", "text",
    "conf.__widget__.flip_v", "text",
    ""};

Pixmoor::Pixmoor(RTC::Manager* manager)
    : RTC::DataFlowComponentBase(manager),
      // The parameters get their values when onInitialize binds them; zero
      // until then rather than indeterminate.
      m_input_image_width(0),
      m_input_image_height(0),
      m_flip_h(0),
      m_flip_v(0),
      m_image(),
      m_imageIn("image", m_image),
      m_imageUtil(0) {}

Pixmoor::~Pixmoor() {
  // The display outlives the component: its watch must not call back here.
  if (m_watching) m_display->watchConnection(nullptr);
  releaseBuffer();
}

RTC::ReturnCode_t Pixmoor::onInitialize() {
  addInPort("image", m_imageIn);

  bindParameter("input_image_width", m_input_image_width, "640");
  bindParameter("input_image_height", m_input_image_height, "480");
  bindParameter("flip_h", m_flip_h, "0");
  bindParameter("flip_v", m_flip_v, "0");

  // Not a configuration parameter: the four above are all the viewer has.
  const std::string interval = m_properties.getProperty("stats_interval");
  double seconds = FrameFigures::kDefaultLogInterval;
  if (!FrameFigures::parseLogInterval(interval, &seconds)) {
    RTC_WARN(("stats_interval: '%s' is not a number of seconds from 0 to 86400; using %g",
              interval.c_str(), seconds));
  }
  m_figures.setLogInterval(seconds);
  chooseDisplay();

  std::printf("Pixmoor::onInitialize()\n");
  return RTC::RTC_OK;
}

static std::string lowerCased(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

void Pixmoor::chooseDisplay() {
  const std::string display = lowerCased(m_properties.getProperty("display"));
  if (display == "x11") {
    m_ownDisplay.reset(new X11Display(fitToScreen()));
    m_display = m_ownDisplay.get();
  } else if (!display.empty() && display != "opencv") {
    RTC_WARN(("display: '%s' is neither opencv nor x11; using opencv", display.c_str()));
  }
}

// display.fit: whether a picture larger than the screen is scaled down to
// fit it (the default) or shown at full size.
bool Pixmoor::fitToScreen() {
  const std::string given = m_properties.getProperty("display.fit");
  const std::string fit = lowerCased(given);
  if (fit.empty() || fit == "yes" || fit == "true" || fit == "on" || fit == "1") return true;
  if (fit == "no" || fit == "false" || fit == "off" || fit == "0") return false;
  RTC_WARN(("display.fit: '%s' is neither YES nor NO; using YES", given.c_str()));
  return true;
}

RTC::ReturnCode_t Pixmoor::onActivated(RTC::UniqueId /*ec_id*/) {
  if (m_input_image_width <= 0 || m_input_image_height <= 0) {
    RTC_ERROR(("invalid image size..."));
    return RTC::RTC_ERROR;
  }
  if (!framesFitInAMessage()) return RTC::RTC_ERROR;
  // A framework that leaves the error state without deactivating would
  // otherwise leak the buffer of the earlier activation here.
  delete m_imageUtil;
  m_imageUtil = new ImageUtil(m_input_image_width, m_input_image_height, 3);
  if (!m_imageUtil->isValid()) {
    releaseBuffer();
    RTC_ERROR(("invalid image size..."));
    RTC_ERROR(("cannot hold a %dx%d picture: at most %lld pixels, and memory permitting",
               m_input_image_width, m_input_image_height,
               static_cast<long long>(ImageUtil::kMaxPixels)));
    return RTC::RTC_ERROR;
  }
  // Qt ends the whole process when it cannot reach a display, so make sure
  // there is one before the first window call.
  std::string reason;
  if (!m_display->reachable(&reason)) {
    releaseBuffer();
    RTC_ERROR(("no display to show images on: %s", reason.c_str()));
    return RTC::RTC_ERROR;
  }
  takeQueuedFrames();
  try {
    m_display->openWindow(windowName);
    // Kept after deactivation too: a loss then is logged when it happens.
    m_display->watchConnection([this] { reportDisplayLost(); });
    m_watching = true;
    m_display->show(windowName, m_imageUtil->getImage());
    // Without this the window stays a small blank one until the first frame.
    m_display->processEvents(1);
    m_lastEvents = std::chrono::steady_clock::now();
    m_figures.restart(m_lastEvents);
    const std::string route = m_display->describe();
    if (!route.empty()) RTC_INFO(("showing frames in %s", route.c_str()));
    const std::string scaling = m_display->scaling();
    if (!scaling.empty()) RTC_INFO(("%s", scaling.c_str()));
  } catch (const cv::Exception& e) {
    releaseBuffer();
    RTC_ERROR(("cannot open the window %s: %s", windowName, e.what()));
    return RTC::RTC_ERROR;
  }
  m_showing = true;
  std::printf("Pixmoor::onActivated()\n");
  return RTC::RTC_OK;
}

// A frame larger than the ORB's message limit is refused before it reaches
// the port, so such a size would activate and then never show anything.
bool Pixmoor::framesFitInAMessage() {
  const unsigned long long pixels =
      static_cast<unsigned long long>(m_input_image_width) * m_input_image_height;
  // Sizes beyond any buffer are refused with their own reason below.
  if (pixels > static_cast<unsigned long long>(ImageUtil::kMaxPixels)) return true;
  const unsigned long long needed = 4 * pixels + kMessageOverhead;
  const unsigned long long limit = omniORB::giopMaxMsgSize();
  if (needed <= limit) return true;
  const unsigned long long mib = 1024 * 1024;
  RTC_ERROR(("invalid image size..."));
  RTC_ERROR(
      ("a %dx%d frame needs %llu bytes in one message, more than this process's limit of "
       "%llu; raise it in rtc.conf with corba.args: -ORBgiopMaxMsgSize %llu",
       m_input_image_width, m_input_image_height, needed, limit, (needed + mib - 1) / mib * mib));
  return false;
}

// Frames that waited while the viewer was inactive were sent for the size of
// an earlier activation: reading them one per cycle would end this one at
// the first of another size. The newest is shown if it fits.
void Pixmoor::takeQueuedFrames() {
  int taken = 0;
  while (taken < kMaxQueuedFrames && m_imageIn.isNew()) {
    m_imageIn.read();
    ++taken;
  }
  if (taken == 0) return;
  const bool shown = decodeAndMirror();
  if (taken > 1 || !shown) {
    RTC_INFO(
        ("dropped %d frame(s) that were waiting before the activation", shown ? taken - 1 : taken));
  }
}

// Decode and mirrors in one pass: the picture of decode, then flip_h, then
// flip_v, for a third of the passes over the pixels.
bool Pixmoor::decodeAndMirror() {
  return m_imageUtil != 0 &&
         m_imageUtil->sequenceToMirroredImage(m_image.data, m_flip_h != 0, m_flip_v != 0);
}

void Pixmoor::reportDisplayLost() {
  const char* display = std::getenv("DISPLAY");
  if (!m_display->lossEndsProcess()) {
    RTC_ERROR(
        ("the display went away (the X server at DISPLAY=%s closed the connection): the "
         "window is gone; reset and activate the viewer once the server is back",
         display ? display : ""));
  } else if (m_showing) {
    RTC_ERROR(
        ("the display went away (the X server at DISPLAY=%s closed the connection): no "
         "window can be shown any more, so the process shuts down",
         display ? display : ""));
  } else {
    RTC_ERROR(
        ("the display went away while the viewer was inactive (the X server at "
         "DISPLAY=%s closed the connection): no window can be shown in this process any "
         "more; restart the viewer to show frames again",
         display ? display : ""));
  }
}

RTC::ReturnCode_t Pixmoor::onExecute(RTC::UniqueId /*ec_id*/) {
  reportFigures();
  if (!m_imageIn.isNew()) return keepWindowAlive();
  // When nothing can be read, m_image still holds the previous frame, which
  // is then shown again.
  m_imageIn.read();
  m_figures.frameRead();
  if (!decodeAndMirror()) {
    RTC_ERROR(("invalid image size...."));
    const cv::Mat& image = m_imageUtil ? m_imageUtil->getImage() : cv::Mat();
    RTC_ERROR(("the frame holds %u elements; the %dx%d picture of this activation needs %d",
               static_cast<unsigned>(m_image.data.length()), image.cols, image.rows,
               image.cols * image.rows));
    return RTC::RTC_ERROR;
  }
  try {
    reopenLostWindow();
    m_figures.frameShown(m_image.tm.sec, m_image.tm.nsec);
    m_display->show(windowName, m_imageUtil->getImage());
    m_display->processEvents(1);
    m_lastEvents = std::chrono::steady_clock::now();
  } catch (const cv::Exception& e) {
    RTC_ERROR(("cannot show the frame in the window %s: %s", windowName, e.what()));
    return RTC::RTC_ERROR;
  }
  return RTC::RTC_OK;
}

RTC::ReturnCode_t Pixmoor::keepWindowAlive() {
  if (m_imageUtil == 0) return RTC::RTC_OK;  // no window (error state)
  const std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();
  if (now - m_lastEvents < kIdleEventInterval) return RTC::RTC_OK;
  m_lastEvents = now;
  try {
    if (reopenLostWindow()) {
      // The new window shows the last picture at once.
      m_display->show(windowName, m_imageUtil->getImage());
    }
    m_display->pollEvents();
  } catch (const cv::Exception& e) {
    RTC_ERROR(("cannot process the events of the window %s: %s", windowName, e.what()));
    return RTC::RTC_ERROR;
  }
  return RTC::RTC_OK;
}

bool Pixmoor::reopenLostWindow() {
  if (!m_display->reopenLostWindow(windowName)) return false;
  RTC_WARN(("the window %s was destroyed by another program; opened it again", windowName));
  return true;
}

void Pixmoor::reportFigures() {
  const FrameFigures::Clock::time_point now = FrameFigures::Clock::now();
  if (m_figures.statusDue(now)) m_sdoStatus = m_figures.status(now);
  if (m_figures.logDue(now)) RTC_INFO(("%s", m_figures.logLine(now).c_str()));
}

void Pixmoor::releaseBuffer() {
  delete m_imageUtil;
  m_imageUtil = 0;
}

RTC::ReturnCode_t Pixmoor::onDeactivated(RTC::UniqueId /*ec_id*/) {
  // The framework also runs this after a failed activation, which opened
  // nothing: then there is nothing to close and nothing to report.
  if (m_imageUtil == 0) return RTC::RTC_OK;
  m_showing = false;
  try {
    m_display->closeAllWindows();
  } catch (const cv::Exception& e) {
    RTC_ERROR(("cannot close the windows: %s", e.what()));
  }
  releaseBuffer();
  std::printf("Pixmoor::onDeactivated()\n");
  return RTC::RTC_OK;
}

// The host (or any manager loading this module) calls this to make the type
// known; it stays last so the profile and class above are all it needs.
extern "C" {
void PixmoorInit(RTC::Manager* manager) {
  coil::Properties profile(component_spec);
  manager->registerFactory(profile, RTC::Create<Pixmoor>, RTC::Delete<Pixmoor>);
}
};
