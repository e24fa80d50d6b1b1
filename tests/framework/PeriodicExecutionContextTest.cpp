// The periodic execution context's CORBA face over a real in-process ORB:
// components named by reference, the servant, remote participants, and the
// translation of the framework's codes and exceptions for the engine (whose
// own behaviour ExecutionEngineTest covers).
#include "execution/PeriodicExecutionContext.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "execution/ParticipantAdapter.h"

namespace {

using RTC::ReturnCode_t;
using Actions = std::vector<std::string>;

bool waitUntil(const std::function<bool()>& pred) { return pixmoor_test::waitUntil(pred, 5.0, 1); }

// Records every action with the handle it came with; each action can be made
// to answer a code or to throw a CORBA exception.
class Recorder : public RTC::ExecutionContextParticipant {
 public:
  struct Call {
    std::string action;
    RTC::UniqueId id;
  };

  void answer(const std::string& action, ReturnCode_t code) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answer[action] = code;
  }
  void throwCorba(const std::string& action) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_throws = action;
  }
  // Runs after an action is recorded, on the calling thread.
  void setHook(std::function<void(const std::string&)> hook) { m_hook = std::move(hook); }

  std::vector<Call> calls() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
  }
  Actions transitions() const {
    Actions out;
    for (const Call& c : calls()) {
      if (c.action != "on_execute" && c.action != "on_state_update" && c.action != "on_error") {
        out.push_back(c.action);
      }
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
    m_calls.push_back(Call{action, id});
    const ReturnCode_t code = m_answer.count(action) ? m_answer[action] : RTC::RTC_OK;
    const bool throws = m_throws == action;
    lock.unlock();
    if (m_hook) m_hook(action);
    if (throws) throw CORBA::TRANSIENT(7, CORBA::COMPLETED_NO);
    return code;
  }

  mutable std::mutex m_mutex;
  std::vector<Call> m_calls;
  std::map<std::string, ReturnCode_t> m_answer;
  std::string m_throws;
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

class PeriodicExecutionContextTest : public ::testing::Test {
 protected:
  void SetUp() override { pixmoor_test::orb(); }
};

// Requests name the owner by its reference; it hears of them with handle 0.
TEST_F(PeriodicExecutionContextTest, OwnerIsDrivenThroughItsReference) {
  Rig rig;
  ASSERT_EQ(RTC::RTC_OK, rig.ec->start());
  EXPECT_EQ(RTC::PRECONDITION_NOT_MET, rig.ec->start());
  EXPECT_EQ(RTC::INACTIVE_STATE, rig.state());
  EXPECT_EQ(RTC::PRECONDITION_NOT_MET, rig.ec->deactivate_component(rig.owner->ref()));
  EXPECT_EQ(RTC::RTC_OK, rig.ec->activate_component(rig.owner->ref()));
  EXPECT_EQ(RTC::ACTIVE_STATE, rig.state());
  ASSERT_TRUE(rig.waitFor("on_state_update", 3));
  rig.rec().answer("on_reset", RTC::RTC_ERROR);
  rig.rec().answer("on_execute", RTC::BAD_PARAMETER);
  ASSERT_TRUE(waitUntil([&] { return rig.state() == RTC::ERROR_STATE; }));
  EXPECT_EQ(RTC::RTC_ERROR, rig.ec->reset_component(rig.owner->ref()));
  rig.rec().answer("on_reset", RTC::RTC_OK);
  EXPECT_EQ(RTC::RTC_OK, rig.ec->reset_component(rig.owner->ref()));
  EXPECT_EQ(RTC::INACTIVE_STATE, rig.state());
  for (const Recorder::Call& c : rig.rec().calls()) EXPECT_EQ(0, c.id) << c.action;

  EXPECT_EQ(RTC::RTC_OK, rig.ec->unbindComponent(&rig.rec()));
  EXPECT_EQ(RTC::CREATED_STATE, rig.state());
  EXPECT_EQ(RTC::BAD_PARAMETER, rig.ec->activate_component(rig.owner->ref()));
  EXPECT_EQ(RTC::BAD_PARAMETER, rig.ec->unbindComponent(&rig.rec()));
  RTC::ExecutionContextProfile_var profile = rig.ec->get_profile();
  EXPECT_TRUE(CORBA::is_nil(profile->owner));
  // The owner can be bound again, as the manager does for a new component.
  EXPECT_EQ(0, rig.ec->bindComponent(&rig.rec(), rig.owner->ref()));
  EXPECT_EQ(-1, rig.ec->bindComponent(&rig.rec(), rig.owner->ref()));
  EXPECT_EQ(-1, rig.ec->bindComponent(nullptr, rig.owner->ref()));
}

// Whatever a cycle action answers other than RTC_OK, or a CORBA exception it
// raises, takes the component from ACTIVE through on_deactivated and
// on_aborting to ERROR.
TEST_F(PeriodicExecutionContextTest, EveryFailureOfACycleLeadsToError) {
  const ReturnCode_t failures[] = {RTC::RTC_ERROR, RTC::BAD_PARAMETER, RTC::PRECONDITION_NOT_MET,
                                   RTC::OUT_OF_RESOURCES, RTC::UNSUPPORTED};
  for (const char* action : {"on_execute", "on_state_update"}) {
    for (int i = -1; i < 5; ++i) {
      SCOPED_TRACE(std::string(action) + (i < 0 ? " throws" : " code " + std::to_string(i)));
      Rig rig;
      if (i < 0) {
        rig.rec().throwCorba(action);
      } else {
        rig.rec().answer(action, failures[i]);
      }
      ASSERT_EQ(RTC::RTC_OK, rig.ec->start());
      EXPECT_EQ(RTC::RTC_OK, rig.ec->activate_component(rig.owner->ref()));
      ASSERT_TRUE(rig.waitFor("on_error"));
      EXPECT_EQ(RTC::ERROR_STATE, rig.state());
      EXPECT_EQ((Actions{"on_startup", "on_activated", "on_deactivated", "on_aborting"}),
                rig.rec().transitions());
    }
  }
}

TEST(ParticipantAdapter, TranslatesCodesStatesAndExceptions) {
  const struct {
    ReturnCode_t code;
    RTC::ExecCode exec;
  } codes[] = {
      {RTC::RTC_OK, RTC::ExecCode::Ok},
      {RTC::RTC_ERROR, RTC::ExecCode::Error},
      {RTC::BAD_PARAMETER, RTC::ExecCode::BadParameter},
      {RTC::UNSUPPORTED, RTC::ExecCode::Unsupported},
      {RTC::OUT_OF_RESOURCES, RTC::ExecCode::OutOfResources},
      {RTC::PRECONDITION_NOT_MET, RTC::ExecCode::PreconditionNotMet},
  };
  for (const auto& c : codes) {
    EXPECT_TRUE(RTC::toExecCode(c.code) == c.exec) << c.code;
    EXPECT_EQ(c.code, RTC::toReturnCode(c.exec));
  }
  const struct {
    RTC::ExecState exec;
    RTC::LifeCycleState state;
  } states[] = {
      {RTC::ExecState::Created, RTC::CREATED_STATE},
      {RTC::ExecState::Inactive, RTC::INACTIVE_STATE},
      {RTC::ExecState::Active, RTC::ACTIVE_STATE},
      {RTC::ExecState::Error, RTC::ERROR_STATE},
  };
  for (const auto& s : states) EXPECT_EQ(s.state, RTC::toLifeCycleState(s.exec));

  // The engine knows no CORBA: it gets the exception's name in a
  // ParticipantFailure, and the handle goes to the component.
  Recorder rec;
  rec.throwCorba("on_execute");
  RTC::ParticipantAdapter adapter(&rec, 42);
  try {
    adapter.act(RTC::Action::Execute);
    ADD_FAILURE() << "no exception";
  } catch (const RTC::ParticipantFailure& e) {
    EXPECT_EQ("CORBA exception TRANSIENT (minor 0x7)", std::string(e.what()));
  }
  rec.answer("on_reset", RTC::UNSUPPORTED);
  EXPECT_TRUE(adapter.act(RTC::Action::Reset) == RTC::ExecCode::Unsupported);
  EXPECT_EQ(42, rec.calls().back().id);
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

// A component deleting itself from its own action takes the context down on
// the context's thread; its object must answer OBJECT_NOT_EXIST afterwards.
TEST_F(PeriodicExecutionContextTest, DestroyedFromItsOwnActionWithItsObjectActive) {
  Rig rig;
  RTC::ExecutionContextService_var ref = rig.ec->getObjRef();
  std::atomic<bool> destroyed(false);
  rig.rec().setHook([&](const std::string& action) {
    if (action == "on_execute" && !destroyed) {
      rig.ec.reset();
      destroyed = true;
    }
  });
  ASSERT_EQ(RTC::RTC_OK, ref->start());
  ASSERT_EQ(RTC::RTC_OK, ref->activate_component(rig.owner->ref()));
  ASSERT_TRUE(waitUntil([&] { return destroyed.load(); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(1u, rig.rec().count("on_execute"));
  EXPECT_EQ(0u, rig.rec().count("on_state_update"));
  EXPECT_THROW(ref->is_running(), CORBA::OBJECT_NOT_EXIST);
}

}  // namespace
