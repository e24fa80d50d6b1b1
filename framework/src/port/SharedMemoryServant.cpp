#include "port/SharedMemoryServant.h"

#include <string>

#include "common/LogThrottle.h"
#include "corba/ServantTarget.h"

namespace RTC {

void SharedMemoryEndpoint::refuseCall(const char* op) {
  static LogThrottle throttle;
  std::string note;
  if (!throttle.allow(&note)) return;
  log().log(Logger::RTL_WARN, "connection " + endpointId() + ": refused " + op +
                                  " (this side of the connection does not serve it)" + note);
}

void SharedMemoryEndpoint::openMemory(CORBA::ULongLong, const char*) {
  refuseCall("open_memory");
  throw CORBA::BAD_OPERATION(0, CORBA::COMPLETED_NO);
}

void SharedMemoryEndpoint::refuseCreate() {
  refuseCall("create_memory");
  throw CORBA::BAD_OPERATION(0, CORBA::COMPLETED_NO);
}

void SharedMemoryEndpoint::closeMemory() {}

void SharedMemoryEndpoint::setPeerInterface(OpenRTM::PortSharedMemory_ptr) {
  refuseCall("setInterface");
  throw CORBA::BAD_OPERATION(0, CORBA::COMPLETED_NO);
}

void SharedMemoryEndpoint::setPeerEndian(bool) {}

OpenRTM::PortStatus SharedMemoryEndpoint::putFromSegment() {
  refuseCall("put");
  return OpenRTM::PORT_ERROR;
}

OpenRTM::PortStatus SharedMemoryEndpoint::getIntoSegment() {
  refuseCall("get");
  return OpenRTM::PORT_ERROR;
}

SharedMemoryServant::SharedMemoryServant(std::weak_ptr<SharedMemoryEndpoint> endpoint)
    : m_endpoint(std::move(endpoint)) {}

SharedMemoryServant::~SharedMemoryServant() {}

namespace {

// Runs `f` on the endpoint for a void operation.
template <class F>
void forwardVoid(const std::weak_ptr<SharedMemoryEndpoint>& weak, const char* op, F&& f) {
  forwardShared(weak, op, 0, [&](SharedMemoryEndpoint& e) {
    f(e);
    return 0;
  });
}

}  // namespace

void SharedMemoryServant::open_memory(CORBA::ULongLong memory_size, const char* shm_address) {
  forwardVoid(m_endpoint, "open_memory",
              [&](SharedMemoryEndpoint& e) { e.openMemory(memory_size, shm_address); });
}

void SharedMemoryServant::create_memory(CORBA::ULongLong, const char*) {
  forwardVoid(m_endpoint, "create_memory", [&](SharedMemoryEndpoint& e) { e.refuseCreate(); });
}

void SharedMemoryServant::close_memory(CORBA::Boolean) {
  // Whatever the peer asks, a name this side did not create is not removed.
  forwardVoid(m_endpoint, "close_memory", [&](SharedMemoryEndpoint& e) { e.closeMemory(); });
}

void SharedMemoryServant::setInterface(OpenRTM::PortSharedMemory_ptr sm) {
  forwardVoid(m_endpoint, "setInterface", [&](SharedMemoryEndpoint& e) { e.setPeerInterface(sm); });
}

void SharedMemoryServant::setEndian(CORBA::Boolean endian) {
  forwardVoid(m_endpoint, "setEndian", [&](SharedMemoryEndpoint& e) { e.setPeerEndian(endian); });
}

OpenRTM::PortStatus SharedMemoryServant::put() {
  return forwardShared(m_endpoint, "put", OpenRTM::UNKNOWN_ERROR,
                       [](SharedMemoryEndpoint& e) { return e.putFromSegment(); });
}

OpenRTM::PortStatus SharedMemoryServant::get() {
  return forwardShared(m_endpoint, "get", OpenRTM::UNKNOWN_ERROR,
                       [](SharedMemoryEndpoint& e) { return e.getIntoSegment(); });
}

}  // namespace RTC
