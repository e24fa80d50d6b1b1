// A sample put into an inport: the check that decides whether the bytes are
// stored, the push connector that stores them, and the decode of read().
// Input: one byte of choices (bit 0 little-endian, bit 1 RTC::Time instead
// of RTC::TimedLongSeq, bit 2 the ORB hands its buffer over), then the
// sample's bytes.
// The data types before the serializer, which needs their CORBA::Any
// operators.
#include <rtm/idl/BasicDataTypeSkel.h>

#include <rtm/CdrSerializer.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "FuzzSupport.h"
#include "port/InPortConnector.h"

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
  RTC::BufferSettings settings;
  settings.length = 2;
  settings.emptyPolicy = RTC::EmptyPolicy::DoNothing;
  auto connector = std::make_shared<RTC::InPortPushConnector>(
      "fuzz", little, "fuzz.in", &RTC::CdrSerializer<T>::check,
      std::make_shared<RTC::InPortCounters>(), settings,
      std::make_shared<RTC::MemoryBudget>(size_t(64) << 20));
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
  if (result == RTC::ReadResult::Ok) result = connector->decodeSample(sample, &decodeInto<T>, &read);
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

  if (time) {
    fuzzSample<RTC::Time>(data, length, little, owned);
  } else {
    fuzzSample<RTC::TimedLongSeq>(data, length, little, owned);
    compareTimedLongSeqChecks(data, length, little);
  }
  return 0;
}
