// Pixmoor: a data-flow component that shows the frames arriving on its
// "image" port in a desktop window.
#ifndef COMPONENT_PIXMOOR_H
#define COMPONENT_PIXMOOR_H

// The data types first: the port templates find the types' CORBA::Any
// operators only when these are declared before them.
#include <rtm/idl/BasicDataTypeSkel.h>

#include <rtm/DataFlowComponentBase.h>
#include <rtm/DataInPort.h>
#include <rtm/Manager.h>

#include <atomic>
#include <chrono>
#include <memory>

#include "FrameFigures.h"
#include "ImageDisplay.h"

class ImageUtil;

// The viewer component: one inbound port of RTC::TimedLongSeq frames and four
// configuration parameters (frame size and mirroring).
class Pixmoor : public RTC::DataFlowComponentBase {
 public:
  // Constructs the component for `manager`; the port and parameters are
  // published by onInitialize().
  explicit Pixmoor(RTC::Manager* manager);
  // Releases a frame buffer still held.
  virtual ~Pixmoor();

  // Publishes the "image" port and binds the four parameters to their
  // defaults.
  virtual RTC::ReturnCode_t onInitialize();

  // Creates a frame buffer of the configured size and opens the window;
  // RTC_ERROR when the size is invalid or there is no display to show on.
  virtual RTC::ReturnCode_t onActivated(RTC::UniqueId ec_id);
  // Closes every window and releases the frame buffer of a successful
  // activation; does nothing (and prints nothing) without one.
  virtual RTC::ReturnCode_t onDeactivated(RTC::UniqueId ec_id);
  // Shows the next unread frame, mirrored as configured; RTC_ERROR for a
  // frame that is not width x height pixels.
  virtual RTC::ReturnCode_t onExecute(RTC::UniqueId ec_id);

  // Sends the window calls to `display` instead of the desktop (tests).
  void setDisplay(ImageDisplay* display) { m_display = display; }

 protected:
  // Width and height in pixels of the frames expected.
  int m_input_image_width;
  int m_input_image_height;
  // Non-zero mirrors each frame left-right / top-bottom.
  int m_flip_h;
  int m_flip_v;
  // The last frame read from the port.
  RTC::TimedLongSeq m_image;
  // The inbound port "image", bound to m_image.
  RTC::InPort<RTC::TimedLongSeq> m_imageIn;
  // The frame buffer, owned from activation to deactivation.
  ImageUtil* m_imageUtil;
  // Where the window calls go; not owned.
  ImageDisplay* m_display = &desktopDisplay();
  // The window of this viewer alone, when the "display" property asks for
  // one (x11); null for OpenCV's.
  std::unique_ptr<ImageDisplay> m_ownDisplay;
  // Frames read and shown and their ages, for the SDO status and the log.
  FrameFigures m_figures;

 private:
  // Deletes the frame buffer of the activation, if any.
  void releaseBuffer();
  // Lets the window repaint and answer the window manager while no frames
  // arrive, at most every kIdleEventInterval.
  RTC::ReturnCode_t keepWindowAlive();
  // Logs the size refused when its frames exceed the ORB's message limit.
  bool framesFitInAMessage();
  // Reads the frames waiting at activation; decodes the newest.
  void takeQueuedFrames();
  // Decodes m_image into the buffer and mirrors it as asked; false when its
  // length does not match.
  bool decodeAndMirror();
  // Opens the window again, and says so, when another program destroyed it.
  bool reopenLostWindow();
  // Logs the loss of the display (called from the display's watch thread).
  void reportDisplayLost();
  std::chrono::steady_clock::time_point m_lastEvents;
  // Whether the window is open (read by the display's watch thread).
  std::atomic<bool> m_showing{false};
  // Whether the display may call reportDisplayLost.
  bool m_watching = false;
  // Publishes the figures in the SDO status and the log when due.
  void reportFigures();
  // Chooses the window by the "display" property.
  void chooseDisplay();
  // Reads the "display.fit" property.
  bool fitToScreen();
};

extern "C" {
// Registers the Pixmoor component type (profile and factory) with `manager`.
DLL_EXPORT void PixmoorInit(RTC::Manager* manager);
};

#endif
