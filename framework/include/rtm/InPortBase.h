// RTC::InPortBase: the type-independent half of an inbound data port.
#ifndef RTM_INPORTBASE_H
#define RTM_INPORTBASE_H

#include <rtm/PortBase.h>

#include <memory>
#include <string>

namespace RTC {

// An inbound data port speaking corba_cdr and shared_memory, push and pull.
// Samples pushed by peers (over shared_memory copied out of the writer's
// segment inside its put) land in one buffer per connection, all charged to
// the port's memory_limit; the component reads, through InPort<T>, the
// first connection (in connection order) that holds an unread sample, else
// the first one (readback, or pulling from it). Samples still unread when
// their connection closes stay readable (and charged) until read, before
// any others.
class InPortBase : public PortBase {
 public:
  // Checks whether bytes hold one whole sample, in the given byte order.
  typedef bool (*SampleCheck)(const CORBA::Octet* data, CORBA::ULong length, bool littleEndian);
  // Decodes bytes into `target`, in the given byte order; false on failure.
  typedef bool (*SampleDecode)(void* target, const CORBA::Octet* data, CORBA::ULong length,
                               bool littleEndian);

  // Creates port `name` for samples of repository ID `data_type`.
  InPortBase(const char* name, const char* data_type);
  ~InPortBase() override;

  // Returns whether a connection's buffer holds an unread sample.
  bool hasUnreadSample() const;
  // What arrived on the port since it was made, over all its connections.
  struct Counters {
    unsigned long stored;   // samples stored in a connection's buffer
    unsigned long adopted;  // of those, stored without copying their bytes
    unsigned long refused;  // malformed samples (PORT_ERROR), or no memory
    unsigned long overwritten;  // stored samples that pushed out an unread one
    unsigned long full;         // turned away by a full buffer or memory_limit
  };
  // Returns the port's counters.
  Counters counters() const;

 protected:
  // Takes the next sample of the first connection holding one (else of the
  // first connection: readback, or a pull connection asking its peer) and
  // decodes it into `target`, which may refer to the sample's bytes: the
  // port keeps them intact until its next read. False when there is no
  // connection or nothing could be read.
  bool readSample(SampleDecode decode, void* target);
  // Sets the check incoming samples must pass; set once by InPort<T>.
  void setSampleCheck(SampleCheck check);

  ReturnCode_t createConnector(const std::string& id, const coil::Properties& props,
                               ConnectorProfile& profile,
                               std::shared_ptr<ConnectorBase>& connector) override;
  ReturnCode_t subscribeInterfaces(const coil::Properties& props,
                                   ConnectorBase& connector) override;

 private:
  // Returns the connection read() serves next (empty when there is none).
  std::shared_ptr<ConnectorBase> connectorToRead() const;

  struct State;
  std::unique_ptr<State> m_state;
};

}  // namespace RTC

#endif
