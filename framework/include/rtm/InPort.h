// RTC::InPort: an inbound data port bound to a variable of the component.
#ifndef RTM_INPORT_H
#define RTM_INPORT_H

#include <rtm/CdrSerializer.h>
#include <rtm/InPortBase.h>

namespace RTC {

// An inbound port whose samples are decoded into the bound variable by read().
template <class DataType>
class InPort : public InPortBase {
 public:
  // Binds port `name` to `value`. The buffer arguments are kept for source
  // compatibility: buffers are set per connection by its properties, as in
  // the framework's 1.x series.
  InPort(const char* name, DataType& value, int /*bufsize*/ = 64, bool /*read_block*/ = false,
         bool /*write_block*/ = false, int /*read_timeout*/ = 0, int /*write_timeout*/ = 0)
      : InPortBase(name, CdrSerializer<DataType>::repositoryId().c_str()), m_value(value) {
    setSampleCheck(&CdrSerializer<DataType>::check);
  }
  ~InPort() override {}

  // Returns whether a connection's buffer holds an unread sample.
  virtual bool isNew() { return hasUnreadSample(); }

  // Takes the next unread sample (from the first connection holding one)
  // into the bound variable; false when there is no connection or nothing
  // could be read. The variable may refer to the port's own copy of the
  // sample's bytes (a TimedLongSeq's elements in the host's byte order);
  // those stay intact until the next read(), whatever the connections do.
  bool read() { return readSample(&InPort::decodeInto, &m_value); }

 private:
  static bool decodeInto(void* target, const CORBA::Octet* data, CORBA::ULong length,
                         bool littleEndian) {
    return CdrSerializer<DataType>::decodeBorrowing(*static_cast<DataType*>(target), data, length,
                                                    littleEndian);
  }

  DataType& m_value;
};

}  // namespace RTC

#endif
