#include "execution/PeriodicExecutionContext.h"

#include <coil/stringutil.h>
#include <omniORB4/omniORB.h>
#include <rtm/SystemLogger.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "corba/ActivatedObject.h"
#include "execution/ExecutionContextServant.h"
#include "execution/ExecutionEngine.h"
#include "execution/ParticipantAdapter.h"
#include "execution/RemoteParticipant.h"

namespace RTC {

namespace {

// A remote participant that stops answering must not hold the context's
// thread (and with it every other participant) for ever.
const unsigned kRemoteCallTimeoutMs = 10000;

using Key = ExecutionEngine::Key;

}  // namespace

struct PeriodicExecutionContext::Impl {
  // A participant as requests name it.
  struct Member {
    Key key = 0;
    ExecutionContextParticipant* comp = nullptr;  // the owner's; null for remote ones
    LightweightRTObject_var ref;
    RTObject_var rtobj;  // for the profile; nil when it is not an RTObject
    UniqueId handle = 0;
    bool owner = false;
  };

  explicit Impl(const coil::Properties& props)
      : rtclog("PeriodicExecutionContext"), engine(props) {}

  Logger rtclog;
  ExecutionEngine engine;

  // Guards members and ownerRef; never held while the engine runs actions
  // for us, as they may call back.
  mutable std::mutex mutex;
  std::vector<Member> members;  // in the engine's order: the owner first
  RTObject_var ownerRef;

  std::mutex objectMutex;
  ActivatedServant<ExecutionContextServant> object;
  ExecutionContextService_var objref;

  const Member* findLocked(LightweightRTObject_ptr comp) const {
    for (const Member& m : members) {
      try {
        if (!CORBA::is_nil(m.ref) && m.ref->_is_equivalent(comp)) return &m;
      } catch (const CORBA::Exception&) {
        // An unusable reference matches nothing.
      }
    }
    return nullptr;
  }

  // Sets `key` to the engine's name for `comp`; false when it takes no part.
  bool keyOf(LightweightRTObject_ptr comp, Key* key) const {
    if (CORBA::is_nil(comp)) return false;
    std::lock_guard<std::mutex> lock(mutex);
    const Member* m = findLocked(comp);
    if (m == nullptr) return false;
    *key = m->key;
    return true;
  }

  // Forgets the member the engine has let go of.
  void drop(Key key) {
    std::lock_guard<std::mutex> lock(mutex);
    auto it = std::find_if(members.begin(), members.end(),
                           [key](const Member& m) { return m.key == key; });
    if (it == members.end()) return;
    if (it->owner) ownerRef = RTObject::_nil();
    members.erase(it);
  }

  ReturnCode_t request(LightweightRTObject_ptr comp, ExecCode (ExecutionEngine::*fn)(Key)) {
    Key key = 0;
    if (!keyOf(comp, &key)) return BAD_PARAMETER;
    return toReturnCode((engine.*fn)(key));
  }

  RTObject_ptr narrowOwner(LightweightRTObject_ptr ref) {
    if (CORBA::is_nil(ref)) return RTObject::_nil();
    try {
      return RTObject::_narrow(ref);
    } catch (const CORBA::Exception& e) {
      rtclog.log(
          Logger::RTL_WARN,
          coil::sprintf("the owner's reference does not answer as an RTObject: %s", e._name()));
    }
    return RTObject::_nil();
  }

  // Tells a remote component it joins us (`attached` and `dataFlow` get what
  // it answered); BAD_PARAMETER when it cannot or will not.
  ReturnCode_t attach(LightweightRTObject_ptr comp, ExecutionContextService_ptr self,
                      Member* attached, DataFlowComponent_var& dataFlow) {
    attached->ref = LightweightRTObject::_duplicate(comp);
    omniORB::setClientCallTimeout(attached->ref, kRemoteCallTimeoutMs);
    try {
      attached->handle = attached->ref->attach_context(self);
      dataFlow = DataFlowComponent::_narrow(attached->ref);
      attached->rtobj = RTObject::_narrow(attached->ref);
    } catch (const CORBA::Exception& e) {
      rtclog.log(Logger::RTL_WARN,
                 coil::sprintf("add_component: the component cannot be attached: %s", e._name()));
      return BAD_PARAMETER;
    }
    if (attached->handle < 0) {
      rtclog.log(Logger::RTL_WARN,
                 coil::sprintf("add_component: the component refused the context (handle %ld)",
                               static_cast<long>(attached->handle)));
      return BAD_PARAMETER;
    }
    if (!CORBA::is_nil(dataFlow)) omniORB::setClientCallTimeout(dataFlow, kRemoteCallTimeoutMs);
    return RTC_OK;
  }

  // Drives an attached remote component; false when a concurrent call added
  // it meanwhile.
  bool admit(Member attached, DataFlowComponent_ptr dataFlow) {
    std::lock_guard<std::mutex> lock(mutex);
    if (findLocked(attached.ref.in())) return false;
    std::unique_ptr<ExecutionContextParticipant> remote(
        new RemoteParticipant(attached.ref.in(), dataFlow));
    std::unique_ptr<EngineParticipant> adapter(
        new ParticipantAdapter(std::move(remote), attached.handle));
    attached.key = engine.addParticipant(std::move(adapter), attached.handle);
    members.push_back(attached);
    return true;
  }

  void describeMembers(ExecutionContextProfile& profile) const {
    std::lock_guard<std::mutex> lock(mutex);
    profile.owner = RTObject::_duplicate(ownerRef);
    CORBA::ULong n = 0;
    for (const Member& m : members) {
      if (m.owner || CORBA::is_nil(m.rtobj)) continue;
      profile.participants.length(n + 1);
      profile.participants[n++] = RTObject::_duplicate(m.rtobj);
    }
  }

  void activateServant(PeriodicExecutionContext& ec) {
    CORBA::Object_var obj = object.activate(new ExecutionContextServant(ec));
    if (CORBA::is_nil(obj)) throw CORBA::OBJ_ADAPTER(0, CORBA::COMPLETED_NO);
    objref = ExecutionContextService::_narrow(obj);
  }
};

PeriodicExecutionContext::PeriodicExecutionContext(const coil::Properties& props)
    : m_impl(new Impl(props)) {}

PeriodicExecutionContext::~PeriodicExecutionContext() {
  Impl& d = *m_impl;
  // No new calls from the network first, then the thread, then the calls
  // already inside the servant (their requests have failed by now).
  d.object.deactivate();
  d.engine.shutdown();
  d.object.shutdown();
}

ExecutionContextService_ptr PeriodicExecutionContext::getObjRef() {
  Impl& d = *m_impl;
  std::lock_guard<std::mutex> lock(d.objectMutex);
  if (CORBA::is_nil(d.objref)) d.activateServant(*this);
  return ExecutionContextService::_duplicate(d.objref);
}

UniqueId PeriodicExecutionContext::bindComponent(ExecutionContextParticipant* comp,
                                                 LightweightRTObject_ptr ref) {
  Impl& d = *m_impl;
  Logger& rtclog = d.rtclog;
  if (comp == nullptr) return -1;
  Impl::Member owner;
  owner.comp = comp;
  owner.ref = LightweightRTObject::_duplicate(ref);
  owner.rtobj = d.narrowOwner(ref);
  owner.owner = true;
  std::lock_guard<std::mutex> lock(d.mutex);
  for (const Impl::Member& m : d.members) {
    if (m.owner) {
      rtclog.log(Logger::RTL_ERROR, "bindComponent: the context already has an owner");
      return -1;
    }
  }
  owner.key = d.engine.bindOwner(
      std::unique_ptr<EngineParticipant>(new ParticipantAdapter(comp, owner.handle)), owner.handle);
  d.members.insert(d.members.begin(), owner);
  d.ownerRef = owner.rtobj;
  return owner.handle;
}

ReturnCode_t PeriodicExecutionContext::unbindComponent(ExecutionContextParticipant* comp) {
  Impl& d = *m_impl;
  Key key = 0;
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    auto it = std::find_if(d.members.begin(), d.members.end(),
                           [comp](const Impl::Member& m) { return m.comp == comp; });
    if (comp == nullptr || it == d.members.end()) return BAD_PARAMETER;
    key = it->key;
  }
  const ExecCode result = d.engine.unbind(key);
  d.drop(key);
  return toReturnCode(result);
}

bool PeriodicExecutionContext::is_running() const { return m_impl->engine.isRunning(); }

ReturnCode_t PeriodicExecutionContext::start() { return toReturnCode(m_impl->engine.start()); }

ReturnCode_t PeriodicExecutionContext::stop() { return toReturnCode(m_impl->engine.stop()); }

double PeriodicExecutionContext::get_rate() const { return m_impl->engine.rate(); }

ReturnCode_t PeriodicExecutionContext::set_rate(double rate) {
  return toReturnCode(m_impl->engine.setRate(rate));
}

ReturnCode_t PeriodicExecutionContext::activate_component(LightweightRTObject_ptr comp) {
  return m_impl->request(comp, &ExecutionEngine::activate);
}

ReturnCode_t PeriodicExecutionContext::deactivate_component(LightweightRTObject_ptr comp) {
  return m_impl->request(comp, &ExecutionEngine::deactivate);
}

ReturnCode_t PeriodicExecutionContext::reset_component(LightweightRTObject_ptr comp) {
  return m_impl->request(comp, &ExecutionEngine::reset);
}

LifeCycleState PeriodicExecutionContext::get_component_state(LightweightRTObject_ptr comp) {
  Key key = 0;
  if (!m_impl->keyOf(comp, &key)) return CREATED_STATE;
  return toLifeCycleState(m_impl->engine.state(key));
}

ExecutionKind PeriodicExecutionContext::get_kind() const { return PERIODIC; }

ExecutionContextProfile* PeriodicExecutionContext::get_profile() {
  Impl& d = *m_impl;
  ExecutionContextProfile_var profile = new ExecutionContextProfile;
  profile->kind = PERIODIC;
  profile->rate = d.engine.rate();
  d.describeMembers(profile.inout());
  const std::vector<ExecutionEngine::Setting> settings = d.engine.settings();
  profile->properties.length(static_cast<CORBA::ULong>(settings.size()));
  CORBA::ULong i = 0;
  for (const ExecutionEngine::Setting& s : settings) {
    profile->properties[i].name = s.first.c_str();
    profile->properties[i].value <<= s.second.c_str();
    ++i;
  }
  return profile._retn();
}

ReturnCode_t PeriodicExecutionContext::add_component(LightweightRTObject_ptr comp) {
  Impl& d = *m_impl;
  Key known = 0;
  if (CORBA::is_nil(comp)) return BAD_PARAMETER;
  if (d.keyOf(comp, &known)) return PRECONDITION_NOT_MET;
  // Remote calls, made without the lock: the component may call us back.
  ExecutionContextService_var self = getObjRef();
  Impl::Member attached;
  DataFlowComponent_var dataFlow;
  const ReturnCode_t rc = d.attach(comp, self, &attached, dataFlow);
  if (rc != RTC_OK) return rc;
  if (d.admit(attached, dataFlow)) return RTC_OK;
  // Added by a concurrent call meanwhile.
  try {
    attached.ref->detach_context(attached.handle);
  } catch (const CORBA::Exception&) {
  }
  return PRECONDITION_NOT_MET;
}

ReturnCode_t PeriodicExecutionContext::remove_component(LightweightRTObject_ptr comp) {
  Impl& d = *m_impl;
  Logger& rtclog = d.rtclog;
  if (CORBA::is_nil(comp)) return BAD_PARAMETER;
  Impl::Member member;
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    const Impl::Member* found = d.findLocked(comp);
    if (found == nullptr) return BAD_PARAMETER;
    if (found->owner) return PRECONDITION_NOT_MET;
    member = *found;
  }
  const ExecCode result = d.engine.remove(member.key);
  if (result != ExecCode::Ok) return toReturnCode(result);
  d.drop(member.key);
  try {
    member.ref->detach_context(member.handle);
  } catch (const CORBA::Exception& e) {
    rtclog.log(Logger::RTL_WARN,
               coil::sprintf("remove_component: detach_context failed: %s", e._name()));
  }
  return RTC_OK;
}

}  // namespace RTC
