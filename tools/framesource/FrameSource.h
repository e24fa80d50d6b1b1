// FrameSource: a component that sends test frames on its outport "out".
#ifndef PIXMOOR_TOOLS_FRAMESOURCE_FRAMESOURCE_H
#define PIXMOOR_TOOLS_FRAMESOURCE_FRAMESOURCE_H

// The data types before the port headers, which need their CORBA::Any
// operators.
#include <rtm/idl/BasicDataTypeSkel.h>

#include <rtm/DataFlowComponentBase.h>
#include <rtm/DataOutPort.h>
#include <rtm/Manager.h>

#include <cstdint>
#include <string>

#include "FrameProducer.h"

// Sends one frame of the configured pattern and size per execution cycle, in
// the viewer's frame encoding, with tm stamped. Size, pattern and source
// changed while active are taken at the next cycle; `frames` (0 = no limit)
// is read every cycle.
class FrameSource : public RTC::DataFlowComponentBase {
 public:
  // Constructs the component for `manager`.
  explicit FrameSource(RTC::Manager* manager);
  ~FrameSource() override;

  // Adds the outport "out" and binds the configuration parameters.
  RTC::ReturnCode_t onInitialize() override;
  // Checks the configuration, opens the source and prepares the frame buffer.
  RTC::ReturnCode_t onActivated(RTC::UniqueId exec_handle) override;
  // Releases the source.
  RTC::ReturnCode_t onDeactivated(RTC::UniqueId exec_handle) override;
  // Sends the next frame unless `frames` have been sent since activation.
  RTC::ReturnCode_t onExecute(RTC::UniqueId exec_handle) override;

  // Returns how many frames have been sent since the last activation.
  std::uint64_t framesSent() const { return m_sent; }

 private:
  // Opens the producer with the configuration in force and sizes and, for
  // a still picture, paints the frame buffer; logs and returns false when
  // the configuration cannot be served.
  bool openProducer();
  // Whether the configuration differs from what the producer was opened with.
  bool settingsChanged() const;

  // Configuration parameters.
  int m_width;
  int m_height;
  std::string m_pattern;
  std::string m_sourceName;
  long m_frames;

  RTC::TimedLongSeq m_out;
  RTC::OutPort<RTC::TimedLongSeq> m_outOut;

  framesource::FrameProducer m_producer;
  // What the producer was last opened with.
  std::string m_openPattern;
  std::string m_openSource;
  std::uint64_t m_sent;
  bool m_limitLogged;
};

extern "C" {
// Registers the FrameSource component type with `manager`.
DLL_EXPORT void FrameSourceInit(RTC::Manager* manager);
}

#endif
