// A list of names and values as a peer sends it (a connector profile's
// properties, a status, a configuration set): the CDR bytes the generated
// stubs read, every Any through the check that refuses nesting.
// Input: one byte of choices (bit 0 little-endian), then the list's bytes.
#include <rtm/CdrSerializer.h>
#include <rtm/idl/SDOPackageSkel.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "FuzzSupport.h"

// omniORB keeps what it has built of a malformed object reference when its
// own reading of it fails (omniObjRef::_unMarshal); that is its leak, not
// the check's, and it would end every run here.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:omniObjRef::_unMarshal\n";
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  pixmoor_fuzz::addDefaults(argc, argv);
  pixmoor_fuzz::startLoopbackOrb((*argv)[0]);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, size_t size) {
  if (size == 0 || size > (1u << 20)) return 0;
  // The ORB hands its stubs 8-aligned message bodies; give the same here.
  const CORBA::ULong length = static_cast<CORBA::ULong>(size - 1);
  std::vector<std::uint64_t> storage(length / 8 + 1);
  CORBA::Octet* data = reinterpret_cast<CORBA::Octet*>(storage.data());
  if (length > 0) std::memcpy(data, input + 1, length);
  RTC::SampleInputStream in(data, length);
  in.setByteSwapFlag(input[0] & 1);
  SDOPackage::NVList list;
  try {
    list <<= in;
  } catch (const CORBA::Exception&) {
    // Refused: what a peer sending these bytes is answered.
  }
  return 0;
}
