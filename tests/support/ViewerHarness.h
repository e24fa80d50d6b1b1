// A PixmoorComp process with a name server of its own, driven through the
// framework's CORBA interfaces as a tool would drive it, and fed frames by a
// producer that lives in the test process.
#ifndef PIXMOOR_TESTS_SUPPORT_VIEWERHARNESS_H
#define PIXMOOR_TESTS_SUPPORT_VIEWERHARNESS_H

#include <gtest/gtest.h>
#include <rtm/idl/DataPortSkel.h>
#include <rtm/idl/RTCSkel.h>

#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace pixmoor_test {

// The title of the viewer's window.
extern const char* const kViewerWindow;

class ViewerHarness {
 public:
  // `env`: entries added to the viewer's environment ("KEY" alone unsets
  // KEY); `extraConf`: lines appended to its rtc.conf.
  explicit ViewerHarness(const std::vector<std::string>& env = {},
                         const std::string& extraConf = "");
  // Asks the viewer to exit, then kills what is left, and stops the name server.
  ~ViewerHarness();
  ViewerHarness(const ViewerHarness&) = delete;
  ViewerHarness& operator=(const ViewerHarness&) = delete;

  // Starts the name server and the viewer; succeeds once the viewer is bound.
  ::testing::AssertionResult start();
  // Asks the viewer to exit; succeeds when the process ends by itself with
  // status 0 and no sanitizer report on its standard error (or was never
  // started).
  ::testing::AssertionResult stop();
  // Returns the viewer's process.
  ChildProcess& process() { return *m_viewer; }
  // Returns the viewer's name server.
  const NameServer& nameServer() const { return m_names; }
  // Returns what the viewer has written to its log file.
  std::string log() const;
  // Waits until the log holds `needle`.
  bool waitForLog(const std::string& needle, double timeoutSec) const;
  // Returns how often `needle` occurs in the viewer's standard output.
  int countStdout(const std::string& needle) const;

  // Lifecycle requests through the viewer's own execution context.
  RTC::ReturnCode_t activate();
  RTC::ReturnCode_t deactivate();
  RTC::ReturnCode_t reset();
  RTC::LifeCycleState state();
  // Waits until the viewer is in `state`.
  bool waitForState(RTC::LifeCycleState state, double timeoutSec);

  // Sets parameter `name` of the active configuration set, as the usual
  // tools do (the whole set sent back, then activated again).
  ::testing::AssertionResult setParameter(const std::string& name, const std::string& value);

  // Connects the test's producer to the "image" port (push, flush, little
  // endian) and keeps the port's InPortCdr object.
  ::testing::AssertionResult connectProducer();
  // Ends the producer's connection, as a tool that disconnects does.
  ::testing::AssertionResult disconnectProducer();
  // Sends `pixels` as one RTC::TimedLongSeq sample straight to the port.
  OpenRTM::PortStatus sendFrame(const std::vector<CORBA::Long>& pixels);

 private:
  std::vector<std::string> m_env;
  std::string m_extraConf;
  std::string m_dir;
  NameServer m_names;
  std::unique_ptr<ChildProcess> m_viewer;
  RTC::RTObject_var m_component;
  RTC::ExecutionContext_var m_context;
  OpenRTM::InPortCdr_var m_inport;
  RTC::PortService_var m_image;
  std::string m_connectorId;
  CORBA::ULong m_sequence = 0;
};

}  // namespace pixmoor_test

#endif
