// The periodic execution context: its state machine, its one thread and its
// CORBA face, driven through a real in-process ORB.
#include "execution/PeriodicExecutionContext.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "TestSupport.h"

namespace {

using RTC::ReturnCode_t;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

bool waitUntil(const std::function<bool()>& pred, double timeoutSec = 5.0) {
  const Clock::time_point t0 = Clock::now();
  while (!pred()) {
    if (secondsSince(t0) > timeoutSec) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

bool isCycle(const std::string& action) {
  return action == "on_execute" || action == "on_state_update" || action == "on_error";
}

// Records every action with the thread it ran on; each action can be made
// to fail, throw or block.
class Recorder : public RTC::ExecutionContextParticipant {
 public:
  enum Behaviour { kOk, kFail, kThrowStd, kThrowCorba, kBlock };
  struct Call {
    std::string action;
    RTC::UniqueId id;
    std::thread::id thread;
  };

  void set(const std::string& action, Behaviour b, double blockSec = 0) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_behaviour[action] = b;
    m_blockSec = blockSec;
    m_released = false;
  }
  void release() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_released = true;
    m_cv.notify_all();
  }
  // Runs after an action is recorded, on the calling thread.
  void setHook(std::function<void(const std::string&)> hook) { m_hook = std::move(hook); }

  std::vector<Call> calls() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
  }
  std::vector<std::string> actions() const {
    std::vector<std::string> out;
    for (const Call& c : calls()) out.push_back(c.action);
    return out;
  }
  // The actions without the per-cycle ones.
  std::vector<std::string> transitions() const {
    std::vector<std::string> out;
    for (const Call& c : calls()) {
      if (!isCycle(c.action)) out.push_back(c.action);
    }
    return out;
  }
  size_t count(const std::string& action) const {
    size_t n = 0;
    for (const Call& c : calls()) n += c.action == action;
    return n;
  }

  ReturnCode_t on_startup(RTC::UniqueId id) override { return act("on_startup", id); }
  ReturnCode_t on_shutdown(RTC::UniqueId id) override { return act("on_shutdown", id); }
  ReturnCode_t on_activated(RTC::UniqueId id) override { return act("on_activated", id); }
  ReturnCode_t on_deactivated(RTC::UniqueId id) override { return act("on_deactivated", id); }
  ReturnCode_t on_aborting(RTC::UniqueId id) override { return act("on_aborting", id); }
  ReturnCode_t on_error(RTC::UniqueId id) override { return act("on_error", id); }
  ReturnCode_t on_reset(RTC::UniqueId id) override { return act("on_reset", id); }
  ReturnCode_t on_execute(RTC::UniqueId id) override { return act("on_execute", id); }
  ReturnCode_t on_state_update(RTC::UniqueId id) override { return act("on_state_update", id); }
  ReturnCode_t on_rate_changed(RTC::UniqueId id) override { return act("on_rate_changed", id); }

 private:
  ReturnCode_t act(const char* action, RTC::UniqueId id) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_calls.push_back(Call{action, id, std::this_thread::get_id()});
    Behaviour b = m_behaviour.count(action) ? m_behaviour[action] : kOk;
    if (b == kBlock) {
      m_cv.wait_for(lock, std::chrono::duration<double>(m_blockSec), [this] { return m_released; });
    }
    lock.unlock();
    if (m_hook) m_hook(action);
    switch (b) {
      case kFail:
        return RTC::RTC_ERROR;
      case kThrowStd:
        throw std::runtime_error("participant failure");
      case kThrowCorba:
        throw CORBA::TRANSIENT();
      default:
        return RTC::RTC_OK;
    }
  }

  mutable std::mutex m_mutex;
  std::condition_variable m_cv;
  std::vector<Call> m_calls;
  std::map<std::string, Behaviour> m_behaviour;
  double m_blockSec = 0;
  bool m_released = false;
  std::function<void(const std::string&)> m_hook;
};

PortableServer::POA_ptr rootPoa() {
  CORBA::Object_var obj = pixmoor_test::orb()->resolve_initial_references("RootPOA");
  return PortableServer::POA::_narrow(obj);
}

#define NOT_HERE \
  { throw CORBA::NO_IMPLEMENT(); }

// A component object whose actions go to a Recorder: the owner's reference,
// a stranger, or a remote participant.
class TestComponent : public POA_OpenRTM::DataFlowComponent {
 public:
  TestComponent() {
    PortableServer::POA_var poa = rootPoa();
    m_id = poa->activate_object(this);
    CORBA::Object_var obj = poa->id_to_reference(m_id.in());
    m_ref = RTC::LightweightRTObject::_narrow(obj);
  }
  // Makes the object unreachable, as a component that went away; the test's
  // own reference keeps the servant.
  void vanish() {
    if (m_vanished) return;
    m_vanished = true;
    PortableServer::POA_var poa = rootPoa();
    poa->deactivate_object(m_id.in());
  }
  RTC::LightweightRTObject_ptr ref() { return m_ref.in(); }

  Recorder recorder;
  RTC::ExecutionContext_var attachedTo;
  std::vector<RTC::ExecutionContextHandle_t> detached;

  ReturnCode_t on_startup(RTC::UniqueId id) override { return recorder.on_startup(id); }
  ReturnCode_t on_shutdown(RTC::UniqueId id) override { return recorder.on_shutdown(id); }
  ReturnCode_t on_activated(RTC::UniqueId id) override { return recorder.on_activated(id); }
  ReturnCode_t on_deactivated(RTC::UniqueId id) override { return recorder.on_deactivated(id); }
  ReturnCode_t on_aborting(RTC::UniqueId id) override { return recorder.on_aborting(id); }
  ReturnCode_t on_error(RTC::UniqueId id) override { return recorder.on_error(id); }
  ReturnCode_t on_reset(RTC::UniqueId id) override { return recorder.on_reset(id); }
  ReturnCode_t on_execute(RTC::UniqueId id) override { return recorder.on_execute(id); }
  ReturnCode_t on_state_update(RTC::UniqueId id) override { return recorder.on_state_update(id); }
  ReturnCode_t on_rate_changed(RTC::UniqueId id) override { return recorder.on_rate_changed(id); }
  RTC::ExecutionContextHandle_t attach_context(RTC::ExecutionContext_ptr ec) override {
    attachedTo = RTC::ExecutionContext::_duplicate(ec);
    return 1000;
  }
  ReturnCode_t detach_context(RTC::ExecutionContextHandle_t h) override {
    detached.push_back(h);
    return RTC::RTC_OK;
  }

  ReturnCode_t on_initialize() NOT_HERE;
  ReturnCode_t on_finalize() NOT_HERE;
  ReturnCode_t initialize() NOT_HERE;
  ReturnCode_t finalize() NOT_HERE;
  CORBA::Boolean is_alive(RTC::ExecutionContext_ptr) NOT_HERE;
  ReturnCode_t exit() NOT_HERE;
  RTC::ExecutionContext_ptr get_context(RTC::ExecutionContextHandle_t) NOT_HERE;
  RTC::ExecutionContextList* get_owned_contexts() NOT_HERE;
  RTC::ExecutionContextList* get_participating_contexts() NOT_HERE;
  RTC::ExecutionContextHandle_t get_context_handle(RTC::ExecutionContext_ptr) NOT_HERE;
  RTC::ComponentProfile* get_component_profile() NOT_HERE;
  RTC::PortServiceList* get_ports() NOT_HERE;
  SDOPackage::OrganizationList* get_owned_organizations() NOT_HERE;
  char* get_sdo_id() NOT_HERE;
  char* get_sdo_type() NOT_HERE;
  SDOPackage::DeviceProfile* get_device_profile() NOT_HERE;
  SDOPackage::ServiceProfileList* get_service_profiles() NOT_HERE;
  SDOPackage::ServiceProfile* get_service_profile(const char*) NOT_HERE;
  SDOPackage::SDOService_ptr get_sdo_service(const char*) NOT_HERE;
  SDOPackage::Configuration_ptr get_configuration() NOT_HERE;
  SDOPackage::Monitoring_ptr get_monitoring() NOT_HERE;
  SDOPackage::OrganizationList* get_organizations() NOT_HERE;
  SDOPackage::NVList* get_status_list() NOT_HERE;
  CORBA::Any* get_status(const char*) NOT_HERE;

 private:
  PortableServer::ObjectId_var m_id;
  RTC::LightweightRTObject_var m_ref;
  bool m_vanished = false;
};

struct DropComponent {
  void operator()(TestComponent* c) const {
    c->vanish();
    c->_remove_ref();
  }
};
typedef std::unique_ptr<TestComponent, DropComponent> ComponentPtr;

// A context with its owner bound (not started).
struct Rig {
  typedef std::pair<const char*, const char*> Setting;
  explicit Rig(std::initializer_list<Setting> settings = {}) {
    coil::Properties props;
    props.setProperty("periodic.rate", "1000");
    for (const auto& kv : settings) props.setProperty(kv.first, kv.second);
    ec.reset(new RTC::PeriodicExecutionContext(props));
    owner.reset(new TestComponent);
    EXPECT_EQ(0, ec->bindComponent(&owner->recorder, owner->ref()));
  }
  ~Rig() { ec.reset(); }
  Recorder& rec() { return owner->recorder; }
  RTC::LifeCycleState state() { return ec->get_component_state(owner->ref()); }
  bool waitFor(const std::string& action, size_t n = 1) {
    return waitUntil([&] { return rec().count(action) >= n; });
  }

  std::unique_ptr<RTC::PeriodicExecutionContext> ec;
  ComponentPtr owner;
};

typedef std::vector<std::string> Actions;

class PeriodicExecutionContextTest : public ::testing::Test {
 protected:
  void SetUp() override { pixmoor_test::orb(); }
};

TEST_F(PeriodicExecutionContextTest, RequestsFollowTheStateMachine) {
  Rig rig;
  ASSERT_EQ(RTC::RTC_OK, rig.ec->start());
  EXPECT_EQ(RTC::INACTIVE_STATE, rig.state());
  EXPECT_EQ(RTC::PRECONDITION_NOT_MET, rig.ec->deactivate_component(rig.owner->ref()));
  EXPECT_EQ(RTC::PRECONDITION_NOT_MET, rig.ec->reset_component(rig.owner->ref()));

  EXPECT_EQ(RTC::RTC_OK, rig.ec->activate_component(rig.owner->ref()));
  EXPECT_EQ(RTC::ACTIVE_STATE, rig.state());
  ASSERT_TRUE(rig.waitFor("on_state_update", 3));
  EXPECT_EQ(RTC::PRECONDITION_NOT_MET, rig.ec->activate_component(rig.owner->ref()));
  EXPECT_EQ(RTC::PRECONDITION_NOT_MET, rig.ec->reset_component(rig.owner->ref()));

  EXPECT_EQ(RTC::RTC_OK, rig.ec->deactivate_component(rig.owner->ref()));
  EXPECT_EQ(RTC::INACTIVE_STATE, rig.state());
  const size_t executed = rig.rec().count("on_execute");
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(executed, rig.rec().count("on_execute"));

  EXPECT_EQ((Actions{"on_startup", "on_activated", "on_deactivated"}), rig.rec().transitions());
  // Each cycle: on_execute then on_state_update, with the context's handle.
  Actions all = rig.rec().actions();
  for (size_t i = 2; i + 2 < all.size(); i += 2) {
    EXPECT_EQ("on_execute", all[i]) << i;
    EXPECT_EQ("on_state_update", all[i + 1]) << i;
  }
  for (const Recorder::Call& c : rig.rec().calls()) EXPECT_EQ(0, c.id);
}

// Leaving ACTIVE for ERROR runs ACTIVE's exit action before ERROR's entry
// action, however the cycle failed; the cycle stops at the failing action.
TEST_F(PeriodicExecutionContextTest, FailedCycleDeactivatesThenAborts) {
  const struct {
    const char* action;
    Recorder::Behaviour behaviour;
    Actions expected;
  } cases[] = {
      {"on_execute", Recorder::kFail, {"on_execute", "on_deactivated", "on_aborting", "on_error"}},
      {"on_execute", Recorder::kThrowStd, {"on_execute", "on_deactivated", "on_aborting", "on_error"}},
      {"on_execute", Recorder::kThrowCorba, {"on_execute", "on_deactivated", "on_aborting", "on_error"}},
      {"on_state_update",
       Recorder::kFail,
       {"on_execute", "on_state_update", "on_deactivated", "on_aborting", "on_error"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.action) + " behaviour " + std::to_string(c.behaviour));
    Rig rig;
    rig.rec().set(c.action, c.behaviour);
    ASSERT_EQ(RTC::RTC_OK, rig.ec->start());
    EXPECT_EQ(RTC::RTC_OK, rig.ec->activate_component(rig.owner->ref()));
    ASSERT_TRUE(rig.waitFor("on_error", 3));
    EXPECT_EQ(RTC::ERROR_STATE, rig.state());
    Actions all = rig.rec().actions();
    ASSERT_GE(all.size(), 2 + c.expected.size());
    EXPECT_EQ(c.expected, Actions(all.begin() + 2, all.begin() + 2 + c.expected.size()));
    for (size_t i = 2 + c.expected.size(); i < all.size(); ++i) EXPECT_EQ("on_error", all[i]);

    // The thread lives on: a failing reset keeps ERROR, a good one leaves it.
    EXPECT_EQ(RTC::PRECONDITION_NOT_MET, rig.ec->activate_component(rig.owner->ref()));
    rig.rec().set("on_reset", Recorder::kFail);
    EXPECT_EQ(RTC::RTC_ERROR, rig.ec->reset_component(rig.owner->ref()));
    EXPECT_EQ(RTC::ERROR_STATE, rig.state());
    rig.rec().set(c.action, Recorder::kOk);
    rig.rec().set("on_reset", Recorder::kOk);
    EXPECT_EQ(RTC::RTC_OK, rig.ec->reset_component(rig.owner->ref()));
    EXPECT_EQ(RTC::INACTIVE_STATE, rig.state());
    EXPECT_EQ(RTC::RTC_OK, rig.ec->activate_component(rig.owner->ref()));
    const size_t executed = rig.rec().count("on_execute");
    EXPECT_TRUE(rig.waitFor("on_execute", executed + 3));
  }
}

// The framework answers RTC_OK here although the component ends in ERROR;
// we say what happened.
TEST_F(PeriodicExecutionContextTest, FailedActivationAnswersErrorAfterDeactivatedAndAborting) {
  for (Recorder::Behaviour b : {Recorder::kFail, Recorder::kThrowStd}) {
    Rig rig;
    rig.rec().set("on_activated", b);
    ASSERT_EQ(RTC::RTC_OK, rig.ec->start());
    EXPECT_EQ(RTC::RTC_ERROR, rig.ec->activate_component(rig.owner->ref()));
    EXPECT_EQ(RTC::ERROR_STATE, rig.state());
    EXPECT_EQ((Actions{"on_startup", "on_activated", "on_deactivated", "on_aborting"}),
              rig.rec().transitions());
    EXPECT_EQ(0u, rig.rec().count("on_execute"));
  }
}

TEST_F(PeriodicExecutionContextTest, StrangersAndNilAreBadParameters) {
  Rig rig;
  ComponentPtr stranger(new TestComponent);
  rig.ec->start();
  RTC::LightweightRTObject_ptr nil = RTC::LightweightRTObject::_nil();
  for (RTC::LightweightRTObject_ptr comp : {stranger->ref(), nil}) {
    EXPECT_EQ(RTC::BAD_PARAMETER, rig.ec->activate_component(comp));
    EXPECT_EQ(RTC::BAD_PARAMETER, rig.ec->deactivate_component(comp));
    EXPECT_EQ(RTC::BAD_PARAMETER, rig.ec->reset_component(comp));
    EXPECT_EQ(RTC::CREATED_STATE, rig.ec->get_component_state(comp));
    EXPECT_EQ(RTC::BAD_PARAMETER, rig.ec->remove_component(comp));
  }
  EXPECT_EQ(RTC::BAD_PARAMETER, rig.ec->add_component(nil));
  EXPECT_EQ(0u, stranger->recorder.calls().size());
}

// OpenCV's windows belong to the first thread that touched them, so the
// context must never hand its components to a second thread.
TEST_F(PeriodicExecutionContextTest, EveryActionRunsOnOneThreadThatSurvivesStopAndStart) {
  Rig rig;
  RTC::LightweightRTObject_ptr comp = rig.owner->ref();
  EXPECT_FALSE(rig.ec->is_running());
  EXPECT_EQ(RTC::PRECONDITION_NOT_MET, rig.ec->stop());
  ASSERT_EQ(RTC::RTC_OK, rig.ec->start());
  EXPECT_EQ(RTC::PRECONDITION_NOT_MET, rig.ec->start());
  EXPECT_EQ(RTC::RTC_OK, rig.ec->activate_component(comp));
  ASSERT_TRUE(rig.waitFor("on_execute", 3));

  ASSERT_EQ(RTC::RTC_OK, rig.ec->stop());
  EXPECT_FALSE(rig.ec->is_running());
  const size_t executed = rig.rec().count("on_execute");
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(executed, rig.rec().count("on_execute"));
  EXPECT_EQ(RTC::ACTIVE_STATE, rig.state());

  ASSERT_EQ(RTC::RTC_OK, rig.ec->start());
  ASSERT_TRUE(rig.waitFor("on_execute", executed + 3));
  ASSERT_EQ(RTC::RTC_OK, rig.ec->set_rate(500));
  ASSERT_TRUE(rig.waitFor("on_rate_changed"));
  rig.rec().set("on_execute", Recorder::kFail);
  ASSERT_TRUE(rig.waitFor("on_error"));
  EXPECT_EQ(RTC::RTC_OK, rig.ec->reset_component(comp));

  EXPECT_EQ((Actions{"on_startup", "on_activated", "on_shutdown", "on_startup", "on_rate_changed",
                     "on_deactivated", "on_aborting", "on_reset"}),
            rig.rec().transitions());
  const std::vector<Recorder::Call> calls = rig.rec().calls();
  const std::thread::id ecThread = calls.front().thread;
  EXPECT_NE(std::this_thread::get_id(), ecThread);
  for (const Recorder::Call& c : calls) EXPECT_EQ(ecThread, c.thread) << c.action;
}

TEST_F(PeriodicExecutionContextTest, SlowContextStillAnswersPromptly) {
  Rig rig({{"periodic.rate", "1"}});
  ASSERT_EQ(RTC::RTC_OK, rig.ec->start());
  ASSERT_TRUE(rig.waitFor("on_startup"));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the thread sleeps to its deadline
  Clock::time_point t0 = Clock::now();
  EXPECT_EQ(RTC::RTC_OK, rig.ec->activate_component(rig.owner->ref()));
  const double activation = secondsSince(t0);
  t0 = Clock::now();
  EXPECT_EQ(RTC::RTC_OK, rig.ec->deactivate_component(rig.owner->ref()));
  const double deactivation = secondsSince(t0);
  std::printf("1 Hz context: activate %.2f ms, deactivate %.2f ms\n", activation * 1e3,
              deactivation * 1e3);
  EXPECT_LT(activation, 0.4);
  EXPECT_LT(deactivation, 0.4);
}

// A stopped context still carries out requests; only its cycles pause.
TEST_F(PeriodicExecutionContextTest, StoppedContextTransitionsWithoutCycles) {
  Rig rig;
  EXPECT_EQ(RTC::RTC_OK, rig.ec->activate_component(rig.owner->ref()));
  EXPECT_EQ(RTC::ACTIVE_STATE, rig.state());
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(0u, rig.rec().count("on_execute"));
  ASSERT_EQ(RTC::RTC_OK, rig.ec->start());
  EXPECT_TRUE(rig.waitFor("on_execute", 3));
  EXPECT_EQ((Actions{"on_activated", "on_startup"}), rig.rec().transitions());
}

// A request whose turn has not come when its caller gives up is withdrawn, so
// RTC_ERROR never hides a transition that happens later.
TEST_F(PeriodicExecutionContextTest, TimedOutRequestIsWithdrawn) {
  Rig rig({{"transition_timeout", "0.2"}});
  rig.rec().set("on_activated", Recorder::kBlock, 10.0);
  ASSERT_EQ(RTC::RTC_OK, rig.ec->start());
  Clock::time_point t0 = Clock::now();
  EXPECT_EQ(RTC::RTC_ERROR, rig.ec->activate_component(rig.owner->ref()));
  const double waited = secondsSince(t0);
  std::printf("activation timed out after %.3f s (timeout 0.2 s)\n", waited);
  EXPECT_GE(waited, 0.19);
  EXPECT_LT(waited, 3.0);
  // Counted as ACTIVE while on_activated runs; this one waits behind it.
  EXPECT_EQ(RTC::ACTIVE_STATE, rig.state());
  EXPECT_EQ(RTC::RTC_ERROR, rig.ec->deactivate_component(rig.owner->ref()));
  rig.rec().release();
  ASSERT_TRUE(rig.waitFor("on_execute", 3));
  EXPECT_EQ(RTC::ACTIVE_STATE, rig.state());
  EXPECT_EQ((Actions{"on_startup", "on_activated"}), rig.rec().transitions());
}

TEST_F(PeriodicExecutionContextTest, DestructionWaitsOutABlockedActionWithoutDeadlock) {
  Rig rig({{"transition_timeout", "0.2"}});
  rig.rec().set("on_activated", Recorder::kBlock, 1.0);
  ASSERT_EQ(RTC::RTC_OK, rig.ec->start());
  EXPECT_EQ(RTC::RTC_ERROR, rig.ec->activate_component(rig.owner->ref()));
  const Clock::time_point t0 = Clock::now();
  rig.ec.reset();
  const double took = secondsSince(t0);
  std::printf("destruction behind a blocked on_activated took %.3f s\n", took);
  EXPECT_LT(took, 5.0);
  EXPECT_EQ(0u, rig.rec().count("on_execute"));
}

TEST_F(PeriodicExecutionContextTest, DestructionIsPrompt) {
  Rig rig({{"periodic.rate", "1"}});
  ASSERT_EQ(RTC::RTC_OK, rig.ec->start());
  ASSERT_EQ(RTC::RTC_OK, rig.ec->activate_component(rig.owner->ref()));
  ASSERT_TRUE(rig.waitFor("on_execute"));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const Clock::time_point t0 = Clock::now();
  rig.ec.reset();
  const double took = secondsSince(t0);
  std::printf("destroying a running 1 Hz context took %.2f ms\n", took * 1e3);
  EXPECT_LT(took, 0.5);
}

TEST_F(PeriodicExecutionContextTest, UnbindDeactivatesOnTheContextThreadAndForgets) {
  Rig rig;
  ASSERT_EQ(RTC::RTC_OK, rig.ec->start());
  ASSERT_EQ(RTC::RTC_OK, rig.ec->activate_component(rig.owner->ref()));
  ASSERT_TRUE(rig.waitFor("on_execute"));
  EXPECT_EQ(RTC::RTC_OK, rig.ec->unbindComponent(&rig.rec()));
  EXPECT_EQ((Actions{"on_startup", "on_activated", "on_deactivated", "on_shutdown"}),
            rig.rec().transitions());
  const size_t calls = rig.rec().calls().size();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(calls, rig.rec().calls().size());
  for (const Recorder::Call& c : rig.rec().calls()) {
    EXPECT_EQ(rig.rec().calls().front().thread, c.thread) << c.action;
  }
  EXPECT_EQ(RTC::CREATED_STATE, rig.state());
  EXPECT_EQ(RTC::BAD_PARAMETER, rig.ec->activate_component(rig.owner->ref()));
  EXPECT_EQ(RTC::BAD_PARAMETER, rig.ec->unbindComponent(&rig.rec()));
  // The owner can be bound again, as the manager does for a new component.
  EXPECT_EQ(0, rig.ec->bindComponent(&rig.rec(), rig.owner->ref()));
  EXPECT_EQ(-1, rig.ec->bindComponent(&rig.rec(), rig.owner->ref()));
}

// A component that exits from one of its own actions unbinds on the
// context's thread, which must not wait for itself.
TEST_F(PeriodicExecutionContextTest, UnbindFromTheComponentsOwnActionDoesNotDeadlock) {
  Rig rig;
  RTC::PeriodicExecutionContext* ec = rig.ec.get();
  Recorder* rec = &rig.rec();
  rig.rec().setHook([ec, rec](const std::string& action) {
    if (action == "on_execute") ec->unbindComponent(rec);
  });
  ASSERT_EQ(RTC::RTC_OK, rig.ec->start());
  ASSERT_EQ(RTC::RTC_OK, rig.ec->activate_component(rig.owner->ref()));
  ASSERT_TRUE(waitUntil([&] { return rig.state() == RTC::CREATED_STATE; }));
  EXPECT_EQ((Actions{"on_startup", "on_activated", "on_deactivated", "on_shutdown"}),
            rig.rec().transitions());
  EXPECT_EQ(1u, rig.rec().count("on_execute"));
  EXPECT_EQ(0u, rig.rec().count("on_state_update"));
}

// A thread cannot join itself: this used to end the process.
TEST_F(PeriodicExecutionContextTest, DestroyedFromItsOwnActionFinishesCleanly) {
  Rig rig;
  std::atomic<bool> destroyed(false);
  rig.rec().setHook([&](const std::string& action) {
    if (action == "on_execute" && !destroyed) {
      rig.ec.reset();
      destroyed = true;
    }
  });
  ASSERT_EQ(RTC::RTC_OK, rig.ec->start());
  ASSERT_EQ(RTC::RTC_OK, rig.ec->activate_component(rig.owner->ref()));
  ASSERT_TRUE(waitUntil([&] { return destroyed.load(); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(1u, rig.rec().count("on_execute"));
  EXPECT_EQ(0u, rig.rec().count("on_state_update"));
}

TEST_F(PeriodicExecutionContextTest, SetRateChecksItsArgumentAndNotifies) {
  Rig rig;
  for (double bad : {0.0, -5.0, std::nan(""), HUGE_VAL}) {
    EXPECT_EQ(RTC::BAD_PARAMETER, rig.ec->set_rate(bad)) << bad;
  }
  EXPECT_EQ(1000.0, rig.ec->get_rate());
  EXPECT_EQ(RTC::RTC_OK, rig.ec->set_rate(250));
  EXPECT_EQ(250.0, rig.ec->get_rate());
  ASSERT_TRUE(rig.waitFor("on_rate_changed"));
  EXPECT_NE(std::this_thread::get_id(), rig.rec().calls().front().thread);
}

TEST_F(PeriodicExecutionContextTest, AsynchronousTransitionsAnswerAtOnce) {
  Rig rig({{"sync_transition", "NO"}});
  rig.rec().set("on_activated", Recorder::kBlock, 0.3);
  ASSERT_EQ(RTC::RTC_OK, rig.ec->start());
  const Clock::time_point t0 = Clock::now();
  EXPECT_EQ(RTC::RTC_OK, rig.ec->activate_component(rig.owner->ref()));
  EXPECT_LT(secondsSince(t0), 0.2);
  EXPECT_TRUE(rig.waitFor("on_execute"));
  EXPECT_EQ(RTC::ACTIVE_STATE, rig.state());
}

TEST_F(PeriodicExecutionContextTest, ServantAnswersThroughTheOrb) {
  Rig rig({{"name", "ec0"}});
  RTC::ExecutionContextService_var ref = rig.ec->getObjRef();
  RTC::ExecutionContextService_var again = rig.ec->getObjRef();
  EXPECT_TRUE(ref->_is_equivalent(again));
  EXPECT_EQ(RTC::RTC_OK, ref->start());
  EXPECT_TRUE(ref->is_running());
  EXPECT_EQ(RTC::PERIODIC, ref->get_kind());
  EXPECT_EQ(RTC::RTC_OK, ref->activate_component(rig.owner->ref()));
  EXPECT_EQ(RTC::ACTIVE_STATE, ref->get_component_state(rig.owner->ref()));
  EXPECT_EQ(RTC::BAD_PARAMETER, ref->activate_component(RTC::LightweightRTObject::_nil()));
  EXPECT_EQ(RTC::BAD_PARAMETER, ref->set_rate(-1));
  EXPECT_EQ(RTC::RTC_OK, ref->set_rate(20));
  EXPECT_EQ(20.0, ref->get_rate());

  RTC::ExecutionContextProfile_var profile = ref->get_profile();
  EXPECT_EQ(RTC::PERIODIC, profile->kind);
  EXPECT_EQ(20.0, profile->rate);
  ASSERT_FALSE(CORBA::is_nil(profile->owner));
  EXPECT_TRUE(profile->owner->_is_equivalent(rig.owner->ref()));
  EXPECT_EQ(0u, profile->participants.length());
  std::map<std::string, std::string> props;
  for (CORBA::ULong i = 0; i < profile->properties.length(); ++i) {
    const char* value = nullptr;
    ASSERT_TRUE(profile->properties[i].value >>= value) << profile->properties[i].name.in();
    props[profile->properties[i].name.in()] = value;
  }
  EXPECT_EQ((std::map<std::string, std::string>{{"sync_transition", "YES"},
                                                {"transition_timeout", "0.5"},
                                                {"type", "PeriodicExecutionContext"},
                                                {"rate", "20"},
                                                {"name", "ec0"}}),
            props);

  rig.ec.reset();
  EXPECT_THROW(ref->is_running(), CORBA::SystemException);
}

TEST_F(PeriodicExecutionContextTest, RemoteParticipantIsDrivenOverCorba) {
  Rig rig;
  ComponentPtr remote(new TestComponent);
  RTC::ExecutionContextService_var ref = rig.ec->getObjRef();
  ASSERT_EQ(RTC::RTC_OK, ref->add_component(remote->ref()));
  ASSERT_FALSE(CORBA::is_nil(remote->attachedTo));
  EXPECT_TRUE(remote->attachedTo->_is_equivalent(ref));
  EXPECT_EQ(RTC::PRECONDITION_NOT_MET, ref->add_component(remote->ref()));
  EXPECT_EQ(RTC::PRECONDITION_NOT_MET, ref->remove_component(rig.owner->ref()));
  RTC::ExecutionContextProfile_var profile = ref->get_profile();
  ASSERT_EQ(1u, profile->participants.length());
  EXPECT_TRUE(profile->participants[0]->_is_equivalent(remote->ref()));

  ASSERT_EQ(RTC::RTC_OK, ref->start());
  EXPECT_EQ(RTC::RTC_OK, ref->activate_component(remote->ref()));
  EXPECT_EQ(RTC::RTC_OK, ref->activate_component(rig.owner->ref()));
  ASSERT_TRUE(waitUntil([&] { return remote->recorder.count("on_state_update") >= 3; }));
  for (const Recorder::Call& c : remote->recorder.calls()) EXPECT_EQ(1000, c.id) << c.action;
  EXPECT_EQ(RTC::PRECONDITION_NOT_MET, ref->remove_component(remote->ref()));

  // A participant that vanishes goes to ERROR; the owner keeps running.
  remote->vanish();
  ASSERT_TRUE(waitUntil([&] {
    return rig.ec->get_component_state(remote->ref()) == RTC::ERROR_STATE;
  }));
  const size_t executed = rig.rec().count("on_execute");
  EXPECT_TRUE(rig.waitFor("on_execute", executed + 20));
  EXPECT_EQ(RTC::ACTIVE_STATE, rig.state());

  EXPECT_EQ(RTC::RTC_ERROR, ref->reset_component(remote->ref()));
  EXPECT_EQ(RTC::RTC_OK, ref->remove_component(remote->ref()));
  EXPECT_EQ(RTC::CREATED_STATE, ref->get_component_state(remote->ref()));
  EXPECT_EQ(RTC::BAD_PARAMETER, ref->remove_component(remote->ref()));
}

}  // namespace
