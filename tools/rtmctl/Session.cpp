#include "Session.h"

#include <omniORB4/omniInterceptors.h>
// omniORB's internal headers need their own order: the call's class last.
// clang-format off
#include <omniORB4/internal/giopStream.h>
#include <omniORB4/internal/giopStrand.h>
#include <omniORB4/internal/GIOP_C.h>
// clang-format on

#include <algorithm>
#include <mutex>
#include <stdexcept>

#include "CtlError.h"

namespace rtmctl {

namespace {

// How many names an error message lists before it stops.
constexpr std::size_t kNamesInMessage = 12;
// Largest GIOP message accepted: the biggest frame the frame source makes
// (8192 x 8192 elements, 268 MB) arriving at a temporary inport.
const char* const kGiopMaxMsgSize = "300000000";

// The end of the command's time, when boundWholeCommand set one.
omni_time_t g_commandDeadline;

// Gives every call the command's deadline when that comes first: omniORB's
// own per-thread deadline does not apply to calls from the main thread.
CORBA::Boolean clampToCommandDeadline(omni::omniInterceptors::clientSendRequest_T::info_T& info) {
  omni::giopStream& stream = info.giop_c;
  const omni_time_t& own = stream.getDeadline();
  if (g_commandDeadline && (!own || g_commandDeadline < own)) stream.setDeadline(g_commandDeadline);
  return true;
}

// Installs the clamp; omniORB takes interceptors once its ORB exists.
void installCommandDeadline() {
  static std::once_flag installed;
  std::call_once(installed, [] {
    omniORB::getInterceptors()->clientSendRequest.add(&clampToCommandDeadline);
  });
}

std::string joinNames(const std::vector<NameEntry>& entries) {
  std::string text;
  for (std::size_t i = 0; i < entries.size() && i < kNamesInMessage; ++i) {
    text += (i == 0 ? "" : ", ") + entries[i].name + (entries[i].isContext ? "/" : "");
  }
  if (entries.size() > kNamesInMessage) text += ", ...";
  return text;
}

std::string prefixPath(const RtmPath& path, std::size_t count) {
  RtmPath prefix = path;
  prefix.segments.resize(count);
  prefix.portName.clear();
  return prefix.objectPath();
}

}  // namespace

Session::Session(int callTimeoutMs) : m_callTimeoutMs(callTimeoutMs) {}

void Session::boundWholeCommand() {
  unsigned long seconds = 0, nanoseconds = 0;
  omni_thread::get_time(&seconds, &nanoseconds, static_cast<unsigned long>(m_callTimeoutMs / 1000),
                        static_cast<unsigned long>(m_callTimeoutMs % 1000) * 1000000UL);
  g_commandDeadline.assign(seconds, nanoseconds);
  if (!CORBA::is_nil(m_orb)) installCommandDeadline();
}

Session::~Session() {
  if (CORBA::is_nil(m_orb)) return;
  try {
    m_orb->destroy();
  } catch (const CORBA::Exception&) {
    // Nothing is left to report to: the tool is exiting.
  }
}

CORBA::ORB_ptr Session::orb() {
  if (CORBA::is_nil(m_orb)) {
    const std::string timeout = std::to_string(m_callTimeoutMs);
    // A connect timeout of its own would replace the command's deadline for
    // every call that opens a connection; the deadline bounds those too.
    const char* connectTimeout = g_commandDeadline ? "0" : timeout.c_str();
    const char* options[][2] = {{"endPoint", m_endpoint.c_str()},
                                {"clientCallTimeOutPeriod", timeout.c_str()},
                                {"clientConnectTimeOutPeriod", connectTimeout},
                                {"giopMaxMsgSize", kGiopMaxMsgSize},
                                // The first call to an object goes out as a
                                // request, which the deadline bounds, rather
                                // than behind a locate request, which it does not.
                                {"verifyObjectExistsAndType", "0"},
                                {nullptr, nullptr}};
    int argc = 0;
    char* argv[] = {nullptr};
    m_orb = CORBA::ORB_init(argc, argv, "omniORB4", options);
    if (g_commandDeadline) installCommandDeadline();
  }
  return m_orb.in();
}

void Session::setEndpoint(const std::string& endpoint) {
  if (!CORBA::is_nil(m_orb)) throw std::logic_error("the ORB already listens");
  m_endpoint = endpoint;
}

PortableServer::POA_ptr Session::servingPoa() {
  try {
    CORBA::Object_var object = orb()->resolve_initial_references("RootPOA");
    PortableServer::POA_var poa = PortableServer::POA::_narrow(object);
    PortableServer::POAManager_var manager = poa->the_POAManager();
    manager->activate();
    return poa._retn();
  } catch (const CORBA::Exception& ex) {
    throw CtlError(std::string("cannot serve objects on ") + m_endpoint + ": " + ex._name() +
                   " (is the address one of this host's?)");
  }
}

CosNaming::NamingContext_ptr Session::rootContext(const RtmPath& path) {
  const std::string advice =
      "cannot reach the name server at " + path.serverAddress() + " — is omniNames running?";
  CosNaming::NamingContext_var context;
  try {
    CORBA::Object_var object = orb()->string_to_object(path.corbaloc().c_str());
    context = CosNaming::NamingContext::_narrow(object);
  } catch (const CORBA::SystemException&) {
    throw CtlError(advice);
  }
  if (CORBA::is_nil(context)) {
    throw CtlError("the server at " + path.serverAddress() + " is not a name server");
  }
  return context._retn();
}

std::vector<NameEntry> Session::entries(CosNaming::NamingContext_ptr context,
                                        const std::string& where) {
  std::vector<NameEntry> result;
  try {
    CosNaming::BindingList_var list;
    CosNaming::BindingIterator_var iterator;
    context->list(1000, list.out(), iterator.out());
    auto take = [&result](const CosNaming::BindingList& bindings) {
      for (CORBA::ULong i = 0; i < bindings.length(); ++i) {
        const CosNaming::Name& name = bindings[i].binding_name;
        if (name.length() == 0) continue;
        result.push_back({nameComponentText(name[name.length() - 1]),
                          bindings[i].binding_type == CosNaming::ncontext});
      }
    };
    take(list.in());
    if (!CORBA::is_nil(iterator)) {
      CosNaming::BindingList_var more;
      while (iterator->next_n(1000, more.out())) take(more.in());
      iterator->destroy();
    }
  } catch (const CORBA::SystemException& ex) {
    failRemote(ex, "the naming context " + where, m_callTimeoutMs);
  }
  std::sort(result.begin(), result.end(),
            [](const NameEntry& a, const NameEntry& b) { return a.name < b.name; });
  return result;
}

CORBA::Object_ptr Session::resolve(const RtmPath& path, const std::string& noun) {
  CosNaming::NamingContext_var root = rootContext(path);
  if (path.segments.empty()) return CosNaming::NamingContext::_duplicate(root);
  const std::string target = path.objectPath();
  try {
    return root->resolve(toCosName(path, path.segments.size()));
  } catch (const CosNaming::NamingContext::NotFound& ex) {
    const std::size_t rest = std::min<std::size_t>(ex.rest_of_name.length(), path.segments.size());
    const std::size_t missing = path.segments.size() - (rest == 0 ? 1 : rest);
    const std::string parent = prefixPath(path, missing);
    std::string message = "no " + noun + " at " + target;
    if (ex.why == CosNaming::NamingContext::not_context) {
      throw CtlError(message + ": " + prefixPath(path, missing + 1) + " is not a naming context");
    }
    message += ": nothing called '" + segmentText(path.segments[missing]) + "' in " + parent;
    try {
      CORBA::Object_var parentObject =
          missing == 0 ? CORBA::Object::_duplicate(root) : root->resolve(toCosName(path, missing));
      CosNaming::NamingContext_var parentContext = CosNaming::NamingContext::_narrow(parentObject);
      if (!CORBA::is_nil(parentContext)) {
        const std::vector<NameEntry> siblings = entries(parentContext, parent);
        message += siblings.empty() ? " (it is empty)" : "; it holds: " + joinNames(siblings);
      }
    } catch (const CORBA::Exception&) {
      // The listing only decorates the message; the lookup already failed.
    } catch (const CtlError&) {
    }
    throw CtlError(message);
  } catch (const CosNaming::NamingContext::CannotProceed&) {
    throw CtlError("the name server at " + path.serverAddress() + " cannot resolve " + target);
  } catch (const CosNaming::NamingContext::InvalidName&) {
    throw CtlError("the name server rejects the name " + target);
  } catch (const CORBA::SystemException& ex) {
    failRemote(ex, "the name server at " + path.serverAddress(), m_callTimeoutMs);
  }
}

RTC::RTObject_ptr Session::component(const RtmPath& path) {
  CORBA::Object_var object = resolve(path, "component");
  const std::string target = path.objectPath();
  RTC::RTObject_var component;
  try {
    component = RTC::RTObject::_narrow(object);
  } catch (const CORBA::SystemException& ex) {
    failRemote(ex, "the component at " + target, m_callTimeoutMs);
  }
  if (CORBA::is_nil(component)) throw CtlError(target + " is not a component");
  return component._retn();
}

RTC::PortService_ptr Session::port(RTC::RTObject_ptr component, const RtmPath& path) {
  const std::string target = path.objectPath();
  if (path.portName.empty()) {
    throw usageError(target + " names no port: add ':<port>', e.g. " + target + ":image");
  }
  RTC::ComponentProfile_var profile;
  try {
    profile = component->get_component_profile();
  } catch (const CORBA::SystemException& ex) {
    failRemote(ex, "the component at " + target, m_callTimeoutMs);
  }
  std::string names;
  for (CORBA::ULong i = 0; i < profile->port_profiles.length(); ++i) {
    const RTC::PortProfile& port = profile->port_profiles[i];
    const std::string name = static_cast<const char*>(port.name);
    if (portNameMatches(name, path.portName)) return RTC::PortService::_duplicate(port.port_ref);
    names += (names.empty() ? "" : ", ") + shortPortName(name);
  }
  throw CtlError("no port '" + path.portName + "' on " +
                 static_cast<const char*>(profile->instance_name) +
                 (names.empty() ? "; it has no ports" : "; it has: " + names));
}

CosNaming::Name toCosName(const RtmPath& path, std::size_t count) {
  CosNaming::Name name;
  name.length(static_cast<CORBA::ULong>(count));
  for (std::size_t i = 0; i < count; ++i) {
    name[static_cast<CORBA::ULong>(i)].id = path.segments[i].id.c_str();
    name[static_cast<CORBA::ULong>(i)].kind = path.segments[i].kind.c_str();
  }
  return name;
}

std::string nameComponentText(const CosNaming::NameComponent& component) {
  return segmentText(
      {static_cast<const char*>(component.id), static_cast<const char*>(component.kind)});
}

void failRemote(const CORBA::SystemException& ex, const std::string& target, int callTimeoutMs) {
  if (const CORBA::TRANSIENT* transient = CORBA::TRANSIENT::_downcast(&ex)) {
    if (transient->minor() == omni::TRANSIENT_CallTimedout) {
      throw CtlError(target + " did not answer within " + std::to_string(callTimeoutMs) +
                     " ms (raise it with --timeout)");
    }
    throw CtlError(target + " does not answer (has its process ended? a stale name binding?)");
  }
  if (CORBA::COMM_FAILURE::_downcast(&ex) != nullptr) {
    throw CtlError(target + " broke the connection (has its process ended?)");
  }
  if (CORBA::OBJECT_NOT_EXIST::_downcast(&ex) != nullptr) {
    throw CtlError(target + " no longer exists (a stale name binding?)");
  }
  if (CORBA::TIMEOUT::_downcast(&ex) != nullptr) {
    throw CtlError(target + " did not answer within " + std::to_string(callTimeoutMs) +
                   " ms (raise it with --timeout)");
  }
  throw CtlError("talking to " + target + " failed: CORBA::" + ex._name() + " (minor " +
                 std::to_string(ex.minor()) + ")");
}

}  // namespace rtmctl
