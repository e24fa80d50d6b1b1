// RTC::CdrSerializer: a data type's samples as the bare CDR streams data
// ports exchange.
#ifndef RTM_CDRSERIALIZER_H
#define RTM_CDRSERIALIZER_H

#include <rtm/RTC.h>

#include <cstdint>
#include <cstring>
#include <exception>
#include <string>
#include <type_traits>

namespace RTC {

// Declared only: the data types' header must come before the port headers,
// and nothing here may bring it in early (see repositoryId()).
struct TimedLongSeq;

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

namespace detail {
// decodeBorrowing's two ways, chosen by the type; templates, so that neither
// needs the data type complete before a port of that type is made.
template <class Seq>
bool decodeBorrowing(Seq& value, const CORBA::Octet* data, CORBA::ULong length,
                     bool littleEndian, std::true_type borrowable);
template <class DataType>
bool decodeBorrowing(DataType& value, const CORBA::Octet* data, CORBA::ULong length,
                     bool littleEndian, std::false_type borrowable);
}  // namespace detail

// How the ports turn samples of DataType into bytes and back. A sample is a
// CDR stream without encapsulation byte, aligned from its first byte, whose
// byte order belongs to the connection. Buffers handed to check() and
// decode() start 8-aligned, as omniORB's in-place memory stream needs.
template <class DataType>
struct CdrSerializer {
  // Returns the repository ID of DataType ("IDL:RTC/TimedLongSeq:1.0").
  // Learnt through the type's Any insertion, as the framework's ports do:
  // its operator<<= is global, so two-phase lookup finds it only when the
  // type's header was included before this one. A wrong include order thus
  // fails here as it fails against the framework.
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

  // Decodes the bytes into `value` for a reader that leaves them untouched
  // until its next read, so that `value` may refer to them instead of
  // copying them (a TimedLongSeq in the host's byte order); other types are
  // copied, as decode() does.
  static bool decodeBorrowing(DataType& value, const CORBA::Octet* data, CORBA::ULong length,
                              bool littleEndian) {
    return detail::decodeBorrowing(value, data, length, littleEndian,
                                   std::is_same<DataType, TimedLongSeq>());
  }

  // Appends `value` to `out` in the stream's byte order.
  static void encode(const DataType& value, cdrMemoryStream& out) { value >>= out; }
};

// A TimedLongSeq, the usual carrier of bulk samples, is checked from its
// header alone rather than decoded into a scratch copy: tm.sec, tm.nsec and
// the element count, then exactly count elements (12 + 4 * count bytes).
template <>
inline bool CdrSerializer<TimedLongSeq>::check(const CORBA::Octet* data, CORBA::ULong length,
                                               bool littleEndian) {
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

namespace detail {

// In the host's byte order the elements are already what the sequence
// holds, so it borrows them (omniORB sequences can refer to a buffer they do
// not own); in the other order they are decoded with the swap.
template <class Seq>
bool decodeBorrowing(Seq& value, const CORBA::Octet* data, CORBA::ULong length,
                     bool littleEndian, std::true_type) {
  // Let go of the bytes borrowed last time first: they may hold another
  // sample by now, and decoding into a borrowed buffer writes into it.
  if (!value.data.release()) value.data.replace(0, 0, nullptr, true);
  const bool hostOrder = littleEndian == (omni::myByteOrder != 0);
  const CORBA::Octet* elements = data + 12;
  if (!hostOrder || !CdrSerializer<Seq>::check(data, length, littleEndian) ||
      reinterpret_cast<std::uintptr_t>(elements) % alignof(CORBA::Long) != 0) {
    return CdrSerializer<Seq>::decode(value, data, length, littleEndian);
  }
  CORBA::ULong header[3];
  std::memcpy(header, data, sizeof header);
  value.tm.sec = header[0];
  value.tm.nsec = header[1];
  const CORBA::ULong count = header[2];
  // Not owned (release false): the sequence never frees them.
  CORBA::Long* borrowed =
      count > 0 ? reinterpret_cast<CORBA::Long*>(const_cast<CORBA::Octet*>(elements)) : nullptr;
  value.data.replace(count, count, borrowed, false);
  return true;
}

template <class DataType>
bool decodeBorrowing(DataType& value, const CORBA::Octet* data, CORBA::ULong length,
                     bool littleEndian, std::false_type) {
  return CdrSerializer<DataType>::decode(value, data, length, littleEndian);
}

}  // namespace detail

}  // namespace RTC

#endif
