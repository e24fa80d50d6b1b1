#include "FrameSource.h"

#include <type_traits>

// The encoded pixels are written straight into the sample's sequence buffer.
static_assert(std::is_same<CORBA::Long, std::int32_t>::value,
              "CORBA::Long must be the 32-bit integer the frame encoding uses");

namespace {

// clang-format off
const char* frame_source_profile[] = {
    "implementation_id", "FrameSource",
    "type_name", "FrameSource",
    "description", "Test frames for image viewers",
    "version", "1.0.0",
    "vendor", "QZV",
    "category", "Generic",
    "activity_type", "PERIODIC",
    "kind", "DataFlowComponent",
    "max_instance", "0",
    "language", "C++",
    "lang_type", "compile",
    "conf.default.width", "640",
    "conf.default.height", "480",
    "conf.default.pattern", "bars",
    "conf.default.source", "",
    "conf.default.frames", "0",
    "conf.__widget__.width", "text",
    "conf.__widget__.height", "text",
    "conf.__widget__.pattern", "text",
    "conf.__widget__.source", "text",
    "conf.__widget__.frames", "text",
    ""};
// clang-format on

}  // namespace

FrameSource::FrameSource(RTC::Manager* manager)
    : RTC::DataFlowComponentBase(manager),
      m_width(640),
      m_height(480),
      m_frames(0),
      m_outOut("out", m_out),
      m_sent(0),
      m_limitLogged(false) {}

FrameSource::~FrameSource() {}

RTC::ReturnCode_t FrameSource::onInitialize() {
  addOutPort("out", m_outOut);
  bindParameter("width", m_width, "640");
  bindParameter("height", m_height, "480");
  bindParameter("pattern", m_pattern, "bars");
  bindParameter("source", m_sourceName, "");
  bindParameter("frames", m_frames, "0");
  return RTC::RTC_OK;
}

RTC::ReturnCode_t FrameSource::onActivated(RTC::UniqueId /*exec_handle*/) {
  if (m_frames < 0) {
    RTC_ERROR(
        ("frames %ld is negative: use 0 for no limit or the number of frames to send", m_frames));
    return RTC::RTC_ERROR;
  }
  m_sent = 0;
  m_limitLogged = false;
  if (!openProducer()) return RTC::RTC_ERROR;
  RTC_INFO(("sending %dx%d frames of pattern '%s'%s", m_width, m_height, m_pattern.c_str(),
            m_frames > 0 ? coil::sprintf(", %ld of them", m_frames).c_str() : ""));
  return RTC::RTC_OK;
}

bool FrameSource::openProducer() {
  const std::string error = m_producer.open(m_pattern, m_width, m_height, m_sourceName);
  m_openPattern = m_pattern;
  m_openSource = m_sourceName;
  if (!error.empty()) {
    RTC_ERROR(("%s", error.c_str()));
    return false;
  }
  // The only allocation of the frame until the settings change: every cycle
  // reuses this buffer.
  const CORBA::ULong pixels =
      static_cast<CORBA::ULong>(m_width) * static_cast<CORBA::ULong>(m_height);
  m_out.data.length(pixels);
  if (m_producer.isStill()) {
    std::string stillError;
    if (!m_producer.produce(0, m_out.data.get_buffer(), &stillError)) {
      RTC_ERROR(("%s", stillError.c_str()));
      return false;
    }
  }
  return true;
}

bool FrameSource::settingsChanged() const {
  return m_width != m_producer.width() || m_height != m_producer.height() ||
         m_pattern != m_openPattern || m_sourceName != m_openSource;
}

RTC::ReturnCode_t FrameSource::onDeactivated(RTC::UniqueId /*exec_handle*/) {
  m_producer.close();
  return RTC::RTC_OK;
}

RTC::ReturnCode_t FrameSource::onExecute(RTC::UniqueId /*exec_handle*/) {
  if (m_frames > 0 && m_sent >= static_cast<std::uint64_t>(m_frames)) {
    if (!m_limitLogged) {
      RTC_INFO(("sent all %ld frames; idle until deactivated", m_frames));
      m_limitLogged = true;
    }
    return RTC::RTC_OK;
  }
  // A running source follows its configuration from the next frame on.
  if (settingsChanged()) {
    m_producer.close();
    if (!openProducer()) return RTC::RTC_ERROR;
    RTC_INFO(("now sending %dx%d frames of pattern '%s'", m_width, m_height, m_pattern.c_str()));
  }
  if (!m_producer.isStill()) {
    std::string error;
    if (!m_producer.produce(m_sent, m_out.data.get_buffer(), &error)) {
      RTC_ERROR(("%s", error.c_str()));
      return RTC::RTC_ERROR;
    }
  }
  setTimestamp(m_out);
  // false only means no peer took it (none connected, or a peer refused);
  // the port itself logs failures of its connections.
  m_outOut.write();
  ++m_sent;
  return RTC::RTC_OK;
}

// Registration comes last: the host (or a manager loading the module) calls it
// before creating the first FrameSource.
extern "C" {
void FrameSourceInit(RTC::Manager* manager) {
  coil::Properties profile(frame_source_profile);
  manager->registerFactory(profile, RTC::Create<FrameSource>, RTC::Delete<FrameSource>);
}
}
