// RTC::SharedMemoryServant: the PortSharedMemory object of one
// shared_memory connection, on whichever side provides it.
#ifndef RTM_SRC_SHAREDMEMORYSERVANT_H
#define RTM_SRC_SHAREDMEMORYSERVANT_H

#include <rtm/SystemLogger.h>
#include <rtm/idl/SharedMemorySkel.h>

#include <memory>

namespace RTC {

// What a connection does with the calls its peer makes on its
// PortSharedMemory object. A side that has no use for a call answers it
// with a log line: a CORBA exception for the void ones, PORT_ERROR for
// put and get.
class SharedMemoryEndpoint {
 public:
  virtual ~SharedMemoryEndpoint() {}
  virtual void openMemory(CORBA::ULongLong size, const char* name);
  virtual void closeMemory();
  virtual void setPeerInterface(OpenRTM::PortSharedMemory_ptr peer);
  virtual void setPeerEndian(bool littleEndian);
  virtual OpenRTM::PortStatus putFromSegment();
  virtual OpenRTM::PortStatus getIntoSegment();
  // create_memory: refused on every side, a port never creates a segment
  // on a peer's word.
  void refuseCreate();
  virtual Logger& log() = 0;
  virtual const std::string& endpointId() const = 0;

 protected:
  // Logs a call this side does not serve.
  void refuseCall(const char* op);
};

// Forwards every call to its endpoint, held weakly (as InPortCdrServant
// holds its connector): one that is gone answers OBJECT_NOT_EXIST.
// create_memory is refused whatever the side: a port never creates a
// segment on a peer's word.
class SharedMemoryServant : public POA_OpenRTM::PortSharedMemory {
 public:
  explicit SharedMemoryServant(std::weak_ptr<SharedMemoryEndpoint> endpoint);
  ~SharedMemoryServant() override;
  SharedMemoryServant(const SharedMemoryServant&) = delete;
  SharedMemoryServant& operator=(const SharedMemoryServant&) = delete;

  void open_memory(CORBA::ULongLong memory_size, const char* shm_address) override;
  void create_memory(CORBA::ULongLong memory_size, const char* shm_address) override;
  void close_memory(CORBA::Boolean unlink) override;
  void setInterface(OpenRTM::PortSharedMemory_ptr sm) override;
  void setEndian(CORBA::Boolean endian) override;
  OpenRTM::PortStatus put() override;
  OpenRTM::PortStatus get() override;

 private:
  const std::weak_ptr<SharedMemoryEndpoint> m_endpoint;
};

}  // namespace RTC

#endif
