// RTC::OutPort: an outbound data port bound to a variable of the component.
#ifndef RTM_OUTPORT_H
#define RTM_OUTPORT_H

#include <rtm/CdrSerializer.h>
#include <rtm/OutPortBase.h>

#include <chrono>

namespace RTC {

// An outbound port that sends samples of DataType to its connections.
template <class DataType>
class OutPort : public OutPortBase {
 public:
  // Binds port `name` to `value`, the sample write() sends.
  OutPort(const char* name, DataType& value)
      : OutPortBase(name, CdrSerializer<DataType>::repositoryId().c_str()), m_value(value) {}
  ~OutPort() override {}

  // Sends the bound variable; see write(DataType&).
  bool write() { return write(m_value); }

  // Sends `value` to every connection; false when there is none or one of
  // them could not take it.
  virtual bool write(DataType& value) { return writeSample(&OutPort::encodeFrom, &value); }

 private:
  static void encodeFrom(const void* value, cdrMemoryStream& out) {
    CdrSerializer<DataType>::encode(*static_cast<const DataType*>(value), out);
  }

  DataType& m_value;
};

}  // namespace RTC

// Stamps `data.tm` with the current time of day.
template <class DataType>
void setTimestamp(DataType& data) {
  using namespace std::chrono;
  const nanoseconds now = duration_cast<nanoseconds>(system_clock::now().time_since_epoch());
  const seconds sec = duration_cast<seconds>(now);
  data.tm.sec = static_cast<CORBA::ULong>(sec.count());
  data.tm.nsec = static_cast<CORBA::ULong>((now - sec).count());
}

#endif
