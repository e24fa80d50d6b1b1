// Cheap checks of incoming samples, made before anything is stored.
#include <rtm/CdrSerializer.h>

namespace RTC {

bool checkTimedLongSeqCdr(const CORBA::Octet* data, CORBA::ULong length, bool littleEndian) {
  // tm.sec, tm.nsec and the element count, then the elements: nothing else
  // may follow, and the count must be exactly what the bytes carry.
  const CORBA::ULong header = 12;
  if (data == nullptr || length < header) return false;
  const CORBA::Octet* c = data + 8;
  const CORBA::ULong count = littleEndian ? (CORBA::ULong(c[0]) | CORBA::ULong(c[1]) << 8 |
                                             CORBA::ULong(c[2]) << 16 | CORBA::ULong(c[3]) << 24)
                                          : (CORBA::ULong(c[3]) | CORBA::ULong(c[2]) << 8 |
                                             CORBA::ULong(c[1]) << 16 | CORBA::ULong(c[0]) << 24);
  const CORBA::ULong body = length - header;
  return body % 4 == 0 && body / 4 == count;
}

}  // namespace RTC
