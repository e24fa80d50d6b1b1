// RTC::OutPortBase: the type-independent half of an outbound data port.
#ifndef RTM_OUTPORTBASE_H
#define RTM_OUTPORTBASE_H

#include <rtm/PortBase.h>

#include <memory>
#include <string>

namespace RTC {

// An outbound data port speaking corba_cdr and shared_memory: push (flush,
// new and periodic publishers) and pull. write() marshals a sample once per
// byte order in use and hands it to every connection; a shared_memory flush
// connection marshals it straight into its segment instead. What the connections buffer (pull
// queues, new and periodic publishers) is charged to the port's
// memory_limit, as an inport's buffers are.
class OutPortBase : public PortBase {
 public:
  // Appends `value` to `out` in the stream's byte order.
  typedef void (*SampleEncode)(const void* value, cdrMemoryStream& out);

  // Creates port `name` for samples of repository ID `data_type`.
  OutPortBase(const char* name, const char* data_type);
  ~OutPortBase() override;

  // From now on, the first put that goes unanswered ends sending: a write in
  // progress and later ones send nothing more, so the owner's exit waits on
  // a stopped peer once.
  void prepareExit() override;
  // Returns how many writes a connection refused so far (its buffer full,
  // or no room left under memory_limit), counted once per connection.
  unsigned long refusedWrites() const;

 protected:
  // Sends the sample `value` to every connection (a pull connection keeps
  // it for its peer). False when there is no connection or any connection
  // failed to take it.
  bool writeSample(SampleEncode encode, const void* value);

  ReturnCode_t createConnector(const std::string& id, const coil::Properties& props,
                               ConnectorProfile& profile,
                               std::shared_ptr<ConnectorBase>& connector) override;
  ReturnCode_t subscribeInterfaces(const coil::Properties& props,
                                   ConnectorBase& connector) override;

 private:
  // Returns the connection's put timeout in milliseconds (call_timeout keys,
  // seconds; 3 s by default).
  unsigned long callTimeoutMs(const coil::Properties& props, const std::string& id) const;
  struct State;
  std::unique_ptr<State> m_state;
};

}  // namespace RTC

#endif
