// A sample put into an inport: the check that decides whether the bytes are
// stored, the push connector that stores them, and the decode of read().
// Input: one byte of choices (bit 0 little-endian, bit 1 RTC::Time instead
// of RTC::TimedLongSeq, bit 2 the ORB hands its buffer over, bit 3 the
// bytes are a shared-memory segment's: length word, then the sample), then
// the sample's bytes.
// The data types before the serializer, which needs their CORBA::Any
// operators.
#include <rtm/idl/BasicDataTypeSkel.h>

#include <rtm/CdrSerializer.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "FuzzSupport.h"
#include "common/Uuid.h"
#include "port/InPortConnector.h"
#include "port/SharedSegment.h"

namespace {

// Stands for what the sample occupies in memory once decoded, per byte of
// CDR that carries it: a TimedLongSeq's elements take 4 bytes each.
CORBA::ULong decodedElements(const RTC::TimedLongSeq& v) { return v.data.length(); }
CORBA::ULong decodedElements(const RTC::Time&) { return 0; }

template <class T>
bool decodeInto(void* target, const CORBA::Octet* data, CORBA::ULong length, bool little) {
  return RTC::CdrSerializer<T>::decode(*static_cast<T*>(target), data, length, little);
}

// Returns whether `value` encodes to exactly `length` bytes at `data`.
template <class T>
bool reencodesTo(const T& value, const CORBA::Octet* data, CORBA::ULong length, bool little) {
  cdrMemoryStream out;
  out.setByteSwapFlag(little);
  RTC::CdrSerializer<T>::encode(value, out);
  return out.bufSize() == length && std::memcmp(out.bufPtr(), data, length) == 0;
}

// A push connector of two samples, as a port makes one for a connection.
template <class T>
std::shared_ptr<RTC::InPortPushConnector> pushConnector(bool little) {
  RTC::BufferSettings settings;
  settings.length = 2;
  settings.emptyPolicy = RTC::EmptyPolicy::DoNothing;
  return std::make_shared<RTC::InPortPushConnector>(
      "fuzz", little, "fuzz.in", &RTC::CdrSerializer<T>::check,
      std::make_shared<RTC::InPortCounters>(), settings,
      std::make_shared<RTC::MemoryBudget>(size_t(64) << 20));
}

template <class T>
void fuzzSample(const CORBA::Octet* data, CORBA::ULong length, bool little, bool owned) {
  const bool accepted = RTC::CdrSerializer<T>::check(data, length, little);
  T value;
  const bool decoded = RTC::CdrSerializer<T>::decode(value, data, length, little);
  FUZZ_CHECK(!accepted || decoded, "an accepted sample does not decode");
  if (decoded) {
    FUZZ_CHECK(decodedElements(value) <= length / 4, "decoded more elements than the bytes carry");
  }
  if (accepted) {
    FUZZ_CHECK(reencodesTo(value, data, length, little),
               "an accepted sample does not encode back to its bytes");
  }

  // The same bytes through a push connector, as a put from the ORB.
  auto connector = pushConnector<T>(little);
  OpenRTM::CdrData put;
  if (owned) {
    CORBA::Octet* buffer = OpenRTM::CdrData::allocbuf(length);
    if (length > 0) std::memcpy(buffer, data, length);
    put.replace(length, length, buffer, true);
  } else {
    put.replace(length, length, const_cast<CORBA::Octet*>(data), false);
  }
  const OpenRTM::PortStatus status = connector->put(put, owned);
  FUZZ_CHECK((status == OpenRTM::PORT_OK) == accepted, "put disagrees with the check");
  RTC::CdrChunk sample;
  RTC::ReadResult result = connector->take(sample);
  T read;
  if (result == RTC::ReadResult::Ok)
    result = connector->decodeSample(sample, &decodeInto<T>, &read);
  FUZZ_CHECK((result == RTC::ReadResult::Ok) == accepted, "read disagrees with the check");
  if (accepted) {
    FUZZ_CHECK(reencodesTo(read, data, length, little), "the sample read differs from the put");
    // read() lends the stored bytes to the sample where it can.
    T lent;
    FUZZ_CHECK(RTC::CdrSerializer<T>::decodeBorrowing(lent, sample.data(), sample.length(), little),
               "an accepted sample does not decode in place");
    FUZZ_CHECK(reencodesTo(lent, data, length, little), "the sample decoded in place differs");
  }
  connector->close();
}

// The bytes as a writer leaves them in a segment (8-byte length word in the
// connection's byte order, then the sample), read by a push connector's
// put(): it stores the sample the length word delimits when that fits the
// segment and passes the check, and refuses anything else.
template <class T>
void fuzzSegment(const CORBA::Octet* data, CORBA::ULong length, bool little) {
  RTC::SharedSegment segment;
  std::string error;
  const size_t size = length < 16 ? 16 : length;
  FUZZ_CHECK(segment.create(RTC::makeUuid(), size, error), "cannot create a segment");
  std::memcpy(segment.data(), data, length);
  std::uint64_t word = 0;
  for (int i = 0; i < 8; ++i) {
    word |= static_cast<std::uint64_t>(segment.data()[little ? i : 7 - i]) << (8 * i);
  }
  const bool fits = word <= size - 8;
  const CORBA::Octet* sample = segment.data() + 8;
  const CORBA::ULong sampleLength = fits ? static_cast<CORBA::ULong>(word) : 0;
  const bool accepted = fits && RTC::CdrSerializer<T>::check(sample, sampleLength, little);

  auto connector = pushConnector<T>(little);
  OpenRTM::PortSharedMemory_var object = connector->activateShared(size_t(64) << 20);
  connector->openMemory(size, segment.name().c_str());
  const OpenRTM::PortStatus status = connector->putFromSegment();
  FUZZ_CHECK((status == OpenRTM::PORT_OK) == accepted, "put disagrees with the length and check");
  RTC::CdrChunk stored;
  const RTC::ReadResult result = connector->take(stored);
  FUZZ_CHECK((result == RTC::ReadResult::Ok) == accepted, "read disagrees with the put");
  if (accepted) {
    FUZZ_CHECK(
        stored.length() == sampleLength && std::memcmp(stored.data(), sample, sampleLength) == 0,
        "the sample stored differs from the segment's");
  }
  connector->close();
}

// The header check of the viewer's frames against the full decode: both
// must take exactly the same byte strings.
void compareTimedLongSeqChecks(const CORBA::Octet* data, CORBA::ULong length, bool little) {
  RTC::TimedLongSeq value;
  const bool whole = RTC::CdrSerializer<RTC::TimedLongSeq>::decode(value, data, length, little);
  FUZZ_CHECK(RTC::CdrSerializer<RTC::TimedLongSeq>::check(data, length, little) == whole,
             "the header check and the full decode disagree");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  pixmoor_fuzz::addDefaults(argc, argv);
  pixmoor_fuzz::startLoopbackOrb((*argv)[0]);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, size_t size) {
  if (size == 0 || size > (1u << 20)) return 0;
  const std::uint8_t choices = input[0];
  const bool little = choices & 1;
  const bool time = choices & 2;
  const bool owned = choices & 4;
  // Samples reach the check 8-aligned (CdrChunk); give the same here.
  const CORBA::ULong length = static_cast<CORBA::ULong>(size - 1);
  std::vector<std::uint64_t> storage(length / 8 + 1);
  CORBA::Octet* data = reinterpret_cast<CORBA::Octet*>(storage.data());
  if (length > 0) std::memcpy(data, input + 1, length);

  if (choices & 8) {
    if (time) {
      fuzzSegment<RTC::Time>(data, length, little);
    } else {
      fuzzSegment<RTC::TimedLongSeq>(data, length, little);
    }
  } else if (time) {
    fuzzSample<RTC::Time>(data, length, little, owned);
  } else {
    fuzzSample<RTC::TimedLongSeq>(data, length, little, owned);
    compareTimedLongSeqChecks(data, length, little);
  }
  return 0;
}
