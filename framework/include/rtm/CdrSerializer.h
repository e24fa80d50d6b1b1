// RTC::CdrSerializer: a data type's samples as the bare CDR streams data
// ports exchange.
#ifndef RTM_CDRSERIALIZER_H
#define RTM_CDRSERIALIZER_H

#include <rtm/RTC.h>

#include <exception>
#include <string>

namespace RTC {

// Returns whether `length` bytes at `data` are exactly one RTC::TimedLongSeq
// in the given byte order (12 + 4 * count bytes). Reads only the header.
bool checkTimedLongSeqCdr(const CORBA::Octet* data, CORBA::ULong length, bool littleEndian);

// Reads one sample's bytes in place. omniORB's memory stream checks a
// sequence's length against the bytes left as itemSize * count in 32 bits,
// so 2^30 longs pass as 0 bytes and the sequence allocates 4 GiB; here the
// product cannot wrap.
class SampleInputStream : public cdrMemoryStream {
 public:
  SampleInputStream(const CORBA::Octet* data, CORBA::ULong length)
      : cdrMemoryStream(const_cast<CORBA::Octet*>(data), length) {}

  // Returns whether nItems items of itemSize bytes remain after aligning.
  CORBA::Boolean checkInputOverrun(CORBA::ULong itemSize, CORBA::ULong nItems,
                                   omni::alignment_t align = omni::ALIGN_1) override {
    const unsigned long long bytes = static_cast<unsigned long long>(itemSize) * nItems;
    if (bytes > 0xFFFFFFFFull) return 0;
    return cdrMemoryStream::checkInputOverrun(1, static_cast<CORBA::ULong>(bytes), align);
  }
};

// How the ports turn samples of DataType into bytes and back. A sample is a
// CDR stream without encapsulation byte, aligned from its first byte, whose
// byte order belongs to the connection. Buffers handed to check() and
// decode() start 8-aligned, as omniORB's in-place memory stream needs.
template <class DataType>
struct CdrSerializer {
  // Returns the repository ID of DataType ("IDL:RTC/TimedLongSeq:1.0").
  static std::string repositoryId() {
    DataType sample;
    CORBA::Any any;
    any <<= sample;
    CORBA::TypeCode_var type = any.type();
    return std::string(type->id());
  }

  // Returns whether the bytes hold one whole sample. Called on ORB threads
  // for every incoming sample; the generic version decodes into a scratch
  // value, whose sequences cannot grow past what the bytes back.
  static bool check(const CORBA::Octet* data, CORBA::ULong length, bool littleEndian) {
    if (data == 0 || length == 0) return false;
    DataType scratch;
    return decode(scratch, data, length, littleEndian);
  }

  // Decodes the bytes into `value` in place (no copy of the stream);
  // false when they do not form exactly one sample.
  static bool decode(DataType& value, const CORBA::Octet* data, CORBA::ULong length,
                     bool littleEndian) {
    if (data == 0 || length == 0) return false;
    try {
      SampleInputStream in(data, length);
      in.setByteSwapFlag(littleEndian);
      value <<= in;
      // Bytes left over are not part of any sample; the sender and we
      // disagree on the type.
      return in.currentInputPtr() == length;
    } catch (const CORBA::Exception&) {
      return false;
    } catch (const std::exception&) {
      return false;
    }
  }

  // Appends `value` to `out` in the stream's byte order.
  static void encode(const DataType& value, cdrMemoryStream& out) { value >>= out; }
};

// The viewer's frames are checked from their header alone: 12 + 4 * count
// bytes, count read in the connection's byte order.
template <>
inline bool CdrSerializer<TimedLongSeq>::check(const CORBA::Octet* data, CORBA::ULong length,
                                               bool littleEndian) {
  return checkTimedLongSeqCdr(data, length, littleEndian);
}

template <>
inline std::string CdrSerializer<TimedLongSeq>::repositoryId() {
  return std::string(_tc_TimedLongSeq->id());
}

}  // namespace RTC

#endif
