// What every servant of the runtime promises its callers, tested once here
// instead of per servant: a call after detach is refused, an escaped C++
// exception is logged and answered, and detaching waits for calls in progress.
#include <gtest/gtest.h>
#include <rtm/idl/DataPortSkel.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

#include "TestSupport.h"
#include "corba/ActivatedObject.h"
#include "corba/ServantTarget.h"

namespace {

using RTC::ServantTarget;

// The plain C++ object behind a servant. put() blocks while `hold` is set.
struct Target {
  std::atomic<int> calls{0};
  std::mutex mutex;
  std::condition_variable changed;
  bool hold = false;
  bool inside = false;
  RTC::Logger m_log{"shared"};

  RTC::Logger& log() { return m_log; }

  OpenRTM::PortStatus put() {
    ++calls;
    std::unique_lock<std::mutex> lock(mutex);
    inside = true;
    changed.notify_all();
    changed.wait(lock, [this] { return !hold; });
    inside = false;
    return OpenRTM::PORT_OK;
  }
  void setHold(bool on) {
    std::lock_guard<std::mutex> lock(mutex);
    hold = on;
    changed.notify_all();
  }
  bool waitInside() {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(5), [this] { return inside; });
  }
};

// A servant built the way the runtime's are.
class TestServant : public POA_OpenRTM::InPortCdr {
 public:
  explicit TestServant(Target& target) : m_target(target, "guarded") {}
  void detach() { m_target.detach(); }
  OpenRTM::PortStatus put(const OpenRTM::CdrData&) override {
    return m_target.forward("put", [](Target& t) { return t.put(); });
  }

 private:
  ServantTarget<Target> m_target;
};

// Returns what `f` answered, or the name of the exception it raised.
template <class F>
std::string outcome(F&& f) {
  try {
    return std::to_string(f());
  } catch (const CORBA::Exception& e) {
    return e._name();
  }
}

TEST(ServantTarget, EscapedExceptionsAreLoggedAndAnswered) {
  struct Case {
    const char* name;
    std::function<void()> act;
    std::string forward;      // what forward() answers
    std::string forwardCode;  // what forwardCode() answers
    const char* logged;       // the log line's end; nullptr: nothing logged
  };
  const std::string ok = std::to_string(RTC::RTC_OK);
  const std::string error = std::to_string(RTC::RTC_ERROR);
  const Case cases[] = {
      {"returns", [] {}, "7", ok, nullptr},
      {"CORBA user exception", [] { throw SDOPackage::NotAvailable("x"); }, "NotAvailable",
       "NotAvailable", nullptr},
      {"CORBA system exception", [] { throw CORBA::BAD_PARAM(0, CORBA::COMPLETED_NO); },
       "BAD_PARAM", "BAD_PARAM", nullptr},
      {"std::exception", [] { throw std::runtime_error("boom"); }, "INTERNAL", error,
       "unexpected exception: boom"},
      {"anything else", [] { throw 42; }, "INTERNAL", error, "unexpected exception: unknown"},
  };
  Target plain;
  ServantTarget<Target> target(plain, "guarded");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::internal::CaptureStderr();
    EXPECT_EQ(c.forward, outcome([&] {
                return target.forward("get_rate", [&](Target&) {
                  c.act();
                  return 7;
                });
              }));
    EXPECT_EQ(c.forwardCode, outcome([&] {
                return target.forwardCode("start", [&](Target&) {
                  c.act();
                  return RTC::RTC_OK;
                });
              }));
    const std::string err = testing::internal::GetCapturedStderr();
    if (c.logged == nullptr) {
      EXPECT_EQ(std::string::npos, err.find("unexpected")) << err;
    } else {
      // Once per call, named after the operation.
      EXPECT_NE(std::string::npos, err.find(std::string("guarded: get_rate: ") + c.logged)) << err;
      EXPECT_NE(std::string::npos, err.find(std::string("guarded: start: ") + c.logged)) << err;
    }
  }
  try {
    target.forward("get_kind", [](Target&) -> int { throw std::bad_alloc(); });
    ADD_FAILURE() << "no exception";
  } catch (const CORBA::INTERNAL& e) {
    EXPECT_EQ(RTC::kServantGuardMinor, e.minor());
  }
}

TEST(ServantTarget, DetachedTargetIsNeverReached) {
  Target plain;
  ServantTarget<Target> target(plain, "guarded");
  target.detach();
  EXPECT_THROW(target.forward("put", [](Target& t) { return t.put(); }), CORBA::OBJECT_NOT_EXIST);
  EXPECT_THROW(target.forwardCode("start", [](Target&) { return RTC::RTC_OK; }),
               CORBA::OBJECT_NOT_EXIST);
  EXPECT_EQ(0, plain.calls.load());

  // A shared target: the call holds it; once gone, the call is refused.
  auto shared = std::make_shared<Target>();
  std::weak_ptr<Target> weak = shared;
  EXPECT_EQ(OpenRTM::PORT_OK, RTC::forwardShared(weak, "put", OpenRTM::UNKNOWN_ERROR,
                                                 [](Target& t) { return t.put(); }));
  testing::internal::CaptureStderr();
  EXPECT_EQ(OpenRTM::UNKNOWN_ERROR, RTC::forwardShared(weak, "put", OpenRTM::UNKNOWN_ERROR,
                                                       [](Target&) -> OpenRTM::PortStatus {
                                                         throw std::logic_error("x");
                                                       }));
  EXPECT_NE(std::string::npos,
            testing::internal::GetCapturedStderr().find("shared: put: unexpected exception: x"));
  shared.reset();
  EXPECT_THROW(
      RTC::forwardShared(weak, "put", OpenRTM::UNKNOWN_ERROR, [](Target& t) { return t.put(); }),
      CORBA::OBJECT_NOT_EXIST);
}

// The owner's shutdown must not return while a call is still inside the
// target: the owner frees the target right after it.
TEST(ServantTarget, ShutdownWaitsForTheCallInProgress) {
  pixmoor_test::orb();
  Target plain;
  RTC::ActivatedServant<TestServant> object;
  CORBA::Object_var obj = object.activate(new TestServant(plain));
  OpenRTM::InPortCdr_var ref = OpenRTM::InPortCdr::_narrow(obj);
  ASSERT_FALSE(CORBA::is_nil(ref));
  ASSERT_TRUE(object.active());

  plain.setHold(true);
  auto call = std::async(std::launch::async, [&] { return ref->put(OpenRTM::CdrData()); });
  ASSERT_TRUE(plain.waitInside());
  auto shutdown = std::async(std::launch::async, [&] { object.shutdown(); });
  EXPECT_EQ(std::future_status::timeout, shutdown.wait_for(std::chrono::milliseconds(200)));
  plain.setHold(false);
  EXPECT_EQ(OpenRTM::PORT_OK, call.get());
  EXPECT_EQ(std::future_status::ready, shutdown.wait_for(std::chrono::seconds(5)));
  EXPECT_FALSE(object.active());

  EXPECT_THROW(ref->put(OpenRTM::CdrData()), CORBA::OBJECT_NOT_EXIST);
  EXPECT_EQ(1, plain.calls.load());
}

}  // namespace
