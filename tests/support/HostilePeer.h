// A peer that breaks the rules on the wire: requests and replies whose
// bytes are written by hand, past what the stubs would ever send.
#ifndef PIXMOOR_TESTS_SUPPORT_HOSTILEPEER_H
#define PIXMOOR_TESTS_SUPPORT_HOSTILEPEER_H

#include <omniORB4/CORBA.h>
#include <omniORB4/callDescriptor.h>
#include <omniORB4/callHandle.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace pixmoor_test {

// Writes an Any holding an Any ... `depth` times over, around a long.
inline void marshalNestedAny(cdrStream& s, int depth) {
  for (int i = 0; i < depth; ++i) CORBA::ULong(CORBA::tk_any) >>= s;
  CORBA::ULong(CORBA::tk_long) >>= s;
  CORBA::Long(7) >>= s;
}

// A call whose arguments are written by `marshal`; the reply is not read.
class RawCall : public omniCallDescriptor {
 public:
  using Marshal = void (*)(cdrStream&, int);
  RawCall(const char* operation, Marshal marshal, int depth)
      : omniCallDescriptor(&noLocalCall, operation, std::strlen(operation) + 1, 0, nullptr, 0, 0),
        m_marshal(marshal),
        m_depth(depth) {}
  void marshalArguments(cdrStream& s) override { m_marshal(s, m_depth); }
  void unmarshalReturnedValues(cdrStream&) override {}

 private:
  static void noLocalCall(omniCallDescriptor*, omniServant*) { throw CORBA::NO_IMPLEMENT(); }
  Marshal m_marshal;
  int m_depth;
};

// connect / notify_connect: a connector profile whose one property is nested.
inline void marshalNestedProfile(cdrStream& s, int depth) {
  s.marshalString("nested");
  s.marshalString("");
  CORBA::ULong(0) >>= s;  // ports
  CORBA::ULong(1) >>= s;  // properties
  s.marshalString("dataport.interface_type");
  marshalNestedAny(s, depth);
}

// set_configuration_parameter(name, value).
inline void marshalNestedParameter(cdrStream& s, int depth) {
  s.marshalString("width");
  marshalNestedAny(s, depth);
}

// Calls `operation` on `target` with hand-written arguments; returns the
// name of the system exception it raised ("" when it answered).
inline std::string rawCall(CORBA::Object_ptr target, const char* operation,
                           RawCall::Marshal marshal, int depth) {
  RawCall call(operation, marshal, depth);
  try {
    target->_PR_getobj()->_invoke(call);
    return "";
  } catch (const CORBA::SystemException& ex) {
    return ex._name();
  }
}

// A component that answers get_status_list with hand-written bytes: a
// status nested `depth` Anys deep, or (depth 0) names and values carrying
// terminal control sequences. Other operations raise BAD_OPERATION.
class HostileStatusServant : public PortableServer::ServantBase {
 public:
  explicit HostileStatusServant(int depth) : m_depth(depth) {}
  const char* _mostDerivedRepoId() override {
    return "IDL:openrtm.aist.go.jp/OpenRTM/DataFlowComponent:1.0";
  }
  CORBA::Boolean _is_a(const char*) override { return true; }
  CORBA::Boolean _dispatch(omniCallHandle& handle) override {
    if (std::strcmp(handle.operation_name(), "get_status_list") != 0) return false;
    Reply reply(m_depth);
    handle.upcall(this, reply);
    return true;
  }

 private:
  class Reply : public omniCallDescriptor {
   public:
    explicit Reply(int depth)
        : omniCallDescriptor(&nothing, "get_status_list", 16, 0, nullptr, 0, 1), m_depth(depth) {}
    void unmarshalArguments(cdrStream&) override {}
    void marshalReturnedValues(cdrStream& s) override {
      if (m_depth > 0) {
        CORBA::ULong(1) >>= s;
        s.marshalString("frames.read");
        marshalNestedAny(s, m_depth);
        return;
      }
      CORBA::ULong(2) >>= s;
      s.marshalString("\x1b[2J\x1b[Hframes.read");
      CORBA::ULong(CORBA::tk_string) >>= s;
      CORBA::ULong(0) >>= s;
      s.marshalString("12\x1b]0;owned\x07\r99");
      s.marshalString("age.mean_ms");
      CORBA::ULong(CORBA::tk_double) >>= s;
      CORBA::Double(2.5) >>= s;
    }

   private:
    static void nothing(omniCallDescriptor*, omniServant*) {}
    int m_depth;
  };
  int m_depth;
};

// Returns the CPU time `pid` has used so far, in clock ticks (user + system).
inline long cpuTicks(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string::size_type end = text.rfind(')');
  if (end == std::string::npos) return -1;
  std::istringstream fields(text.substr(end + 2));
  std::string field;
  long user = 0, system = 0;
  // Fields 3..13 come first; utime and stime are 14 and 15.
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) user = std::stol(field);
    if (i == 15) system = std::stol(field);
  }
  return user + system;
}

}  // namespace pixmoor_test

#endif
