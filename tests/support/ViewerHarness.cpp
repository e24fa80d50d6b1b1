#include "ViewerHarness.h"

#include <signal.h>
#include <sys/wait.h>

#include <cstring>
#include <thread>

#include "CdrProducer.h"

namespace pixmoor_test {

const char* const kViewerWindow = "Pixmoor.exe";

namespace {

void putU32(CORBA::Octet* p, CORBA::ULong v) {
  p[0] = static_cast<CORBA::Octet>(v);
  p[1] = static_cast<CORBA::Octet>(v >> 8);
  p[2] = static_cast<CORBA::Octet>(v >> 16);
  p[3] = static_cast<CORBA::Octet>(v >> 24);
}

int countOf(const std::string& text, const std::string& needle) {
  int n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

}  // namespace

ViewerHarness::ViewerHarness(const std::vector<std::string>& env, const std::string& extraConf)
    : m_env(env), m_extraConf(extraConf) {}

ViewerHarness::~ViewerHarness() {
  if (m_viewer && m_viewer->running()) {
    try {
      if (!CORBA::is_nil(m_component)) m_component->exit();
    } catch (const CORBA::Exception&) {
      // Already gone or hung: the signals below settle it.
    }
    if (!m_viewer->waitExit(10)) {
      m_viewer->signal(SIGTERM);
      if (!m_viewer->waitExit(10)) m_viewer->signal(SIGKILL);
    }
  }
  m_viewer.reset();
  m_names.stop();
  if (!m_dir.empty()) removeTree(m_dir);
}

::testing::AssertionResult ViewerHarness::start() {
  // A port that was free a moment ago may be taken by now: try a few.
  bool named = false;
  for (int attempt = 0; attempt < 3 && !named; ++attempt) named = m_names.start();
  if (!named) return ::testing::AssertionFailure() << "omniNames did not start";
  m_dir = makeTempDir("viewer");
  // A generous transition timeout: the first activation loads Qt and opens
  // its first window, which took over 5 s in 3 of 25 runs beside a busy
  // build, and an activation past the timeout answers RTC_ERROR.
  writeFile(m_dir + "/rtc.conf", "corba.nameservers: " + m_names.address() +
                                     "\n"
                                     "corba.endpoint: 127.0.0.1:\n"
                                     "naming.formats: %h.host_cxt/%n.rtc\n"
                                     "logger.file_name: " +
                                     m_dir +
                                     "/viewer.log\n"
                                     "exec_cxt.transition_timeout: 30\n" +
                                     m_extraConf + "\n");
  m_viewer.reset(
      new ChildProcess({buildPath("host/PixmoorComp"), "-f", m_dir + "/rtc.conf"}, m_env, m_dir));
  std::string path = hostName() + ".host_cxt/Pixmoor0.rtc";
  double deadline = now() + 30;
  while (now() < deadline && m_viewer->running()) {
    CORBA::Object_var obj = resolveName(m_names.corbaloc(), path);
    if (!CORBA::is_nil(obj)) {
      try {
        m_component = RTC::RTObject::_narrow(obj);
        m_context = m_component->get_context(0);
        if (!CORBA::is_nil(m_context)) return ::testing::AssertionSuccess();
      } catch (const CORBA::Exception& e) {
        // Bound but not answering yet.
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return ::testing::AssertionFailure() << "PixmoorComp did not come up as " << path << "\nstdout:\n"
                                       << m_viewer->stdoutText() << "\nstderr:\n"
                                       << m_viewer->stderrText() << "\nlog:\n"
                                       << log();
}

::testing::AssertionResult ViewerHarness::stop() {
  if (!m_viewer) return ::testing::AssertionSuccess();  // start() failed and said so
  try {
    if (!CORBA::is_nil(m_component)) m_component->exit();
  } catch (const CORBA::Exception& e) {
    return ::testing::AssertionFailure() << "exit: " << e._name();
  }
  int status = 0;
  if (!m_viewer->waitExit(30, &status))
    return ::testing::AssertionFailure() << "PixmoorComp did not end after exit()";
  std::string err = m_viewer->stderrText();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
      err.find("Sanitizer") != std::string::npos || err.find("runtime error:") != std::string::npos)
    return ::testing::AssertionFailure()
           << "PixmoorComp ended with status " << status << "\nstderr:\n"
           << err;
  return ::testing::AssertionSuccess();
}

std::string ViewerHarness::log() const { return readFile(m_dir + "/viewer.log"); }

bool ViewerHarness::waitForLog(const std::string& needle, double timeoutSec) const {
  double deadline = now() + timeoutSec;
  do {
    if (log().find(needle) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  } while (now() < deadline);
  return false;
}

int ViewerHarness::countStdout(const std::string& needle) const {
  return countOf(m_viewer->stdoutText(), needle);
}

RTC::ReturnCode_t ViewerHarness::activate() { return m_context->activate_component(m_component); }

RTC::ReturnCode_t ViewerHarness::deactivate() {
  return m_context->deactivate_component(m_component);
}

RTC::ReturnCode_t ViewerHarness::reset() { return m_context->reset_component(m_component); }

RTC::LifeCycleState ViewerHarness::state() { return m_context->get_component_state(m_component); }

bool ViewerHarness::waitForState(RTC::LifeCycleState wanted, double timeoutSec) {
  double deadline = now() + timeoutSec;
  do {
    if (state() == wanted) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  } while (now() < deadline);
  return false;
}

::testing::AssertionResult ViewerHarness::setParameter(const std::string& name,
                                                       const std::string& value) {
  try {
    SDOPackage::Configuration_var configuration = m_component->get_configuration();
    SDOPackage::ConfigurationSet_var set = configuration->get_active_configuration_set();
    SDOPackage::NVList& data = set->configuration_data;
    CORBA::ULong i = 0;
    while (i < data.length() && name != static_cast<const char*>(data[i].name)) ++i;
    if (i == data.length()) {
      data.length(i + 1);
      data[i].name = CORBA::string_dup(name.c_str());
    }
    data[i].value <<= value.c_str();
    if (!configuration->set_configuration_set_values(set.in()))
      return ::testing::AssertionFailure() << "set_configuration_set_values refused " << name;
    if (!configuration->activate_configuration_set(set->id))
      return ::testing::AssertionFailure() << "activate_configuration_set refused " << set->id;
    return ::testing::AssertionSuccess();
  } catch (const CORBA::Exception& e) {
    return ::testing::AssertionFailure() << "setting " << name << ": " << e._name();
  }
}

::testing::AssertionResult ViewerHarness::connectProducer() {
  try {
    RTC::PortServiceList_var ports = m_component->get_ports();
    RTC::PortService_var image;
    for (CORBA::ULong i = 0; i < ports->length(); ++i) {
      RTC::PortProfile_var profile = ports[i]->get_port_profile();
      if (std::string(profile->name) == "Pixmoor0.image")
        image = RTC::PortService::_duplicate(ports[i]);
    }
    if (CORBA::is_nil(image)) return ::testing::AssertionFailure() << "no port Pixmoor0.image";
    m_image = RTC::PortService::_duplicate(image);
    RTC::ReturnCode_t result =
        connectAsForeignProducer(orb(), image, "test_producer", m_inport, &m_connectorId);
    if (result != RTC::RTC_OK)
      return ::testing::AssertionFailure() << "connect answered " << result;
    if (CORBA::is_nil(m_inport))
      return ::testing::AssertionFailure() << "the port published no inport_ior";
    return ::testing::AssertionSuccess();
  } catch (const CORBA::Exception& e) {
    return ::testing::AssertionFailure() << "connecting: " << e._name();
  }
}

::testing::AssertionResult ViewerHarness::disconnectProducer() {
  try {
    const RTC::ReturnCode_t result = m_image->disconnect(m_connectorId.c_str());
    if (result == RTC::RTC_OK) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "disconnect answered " << result;
  } catch (const CORBA::Exception& e) {
    return ::testing::AssertionFailure() << "disconnecting: " << e._name();
  }
}

OpenRTM::PortStatus ViewerHarness::sendFrame(const std::vector<CORBA::Long>& pixels) {
  // The sample as a bare little-endian CDR stream: tm.sec, tm.nsec, the
  // element count, the elements.
  CORBA::ULong length = static_cast<CORBA::ULong>(12 + 4 * pixels.size());
  OpenRTM::CdrData data(length);
  data.length(length);
  CORBA::Octet* p = data.get_buffer();
  putU32(p, ++m_sequence);
  putU32(p + 4, 0);
  putU32(p + 8, static_cast<CORBA::ULong>(pixels.size()));
  for (size_t i = 0; i < pixels.size(); ++i)
    putU32(p + 12 + 4 * i, static_cast<CORBA::ULong>(pixels[i]));
  return m_inport->put(data);
}

}  // namespace pixmoor_test
