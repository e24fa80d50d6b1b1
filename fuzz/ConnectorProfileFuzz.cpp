// A connector profile's properties as a port reads them at connect: the
// name/value list a peer sends, its conversion to properties, the checks
// both port kinds make, the buffer settings of either side and the
// publisher settings of an outport.
// Input: one entry per line, "<tag>name=value"; the tag picks the value's
// type: s string, l long, u unsigned long, h short, d double, f float,
// b boolean, o nil object (which ports skip), anything else a string.
// The data types before the serializer, which needs their CORBA::Any
// operators.
#include <rtm/idl/BasicDataTypeSkel.h>

#include <rtm/CdrSerializer.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "corba/NVUtil.h"
#include "port/BufferSettings.h"
#include "port/ConnectionProperties.h"
#include "port/Publisher.h"

namespace {

SDOPackage::NVList nvListFrom(const std::string& text) {
  SDOPackage::NVList nv;
  std::string::size_type begin = 0;
  while (begin < text.size()) {
    std::string::size_type end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(begin, end - begin);
    begin = end + 1;
    if (line.empty()) continue;
    const char tag = line[0];
    const std::string::size_type eq = line.find('=', 1);
    const std::string name = line.substr(1, eq == std::string::npos ? std::string::npos : eq - 1);
    const std::string value = eq == std::string::npos ? std::string() : line.substr(eq + 1);
    const CORBA::ULong i = nv.length();
    nv.length(i + 1);
    nv[i].name = CORBA::string_dup(name.c_str());
    switch (tag) {
      case 'l':
        nv[i].value <<= static_cast<CORBA::Long>(std::strtol(value.c_str(), nullptr, 0));
        break;
      case 'u':
        nv[i].value <<= static_cast<CORBA::ULong>(std::strtoul(value.c_str(), nullptr, 0));
        break;
      case 'h':
        nv[i].value <<= static_cast<CORBA::Short>(std::strtol(value.c_str(), nullptr, 0));
        break;
      case 'd':
        nv[i].value <<= static_cast<CORBA::Double>(std::strtod(value.c_str(), nullptr));
        break;
      case 'f':
        nv[i].value <<= static_cast<CORBA::Float>(std::strtof(value.c_str(), nullptr));
        break;
      case 'b':
        nv[i].value <<= CORBA::Any::from_boolean(!value.empty() && value[0] != '0');
        break;
      case 'o':
        nv[i].value <<= CORBA::Object::_nil();
        break;
      default:
        nv[i].value <<= value.c_str();
        break;
    }
  }
  return nv;
}

bool inRange(double seconds) { return std::isfinite(seconds) && seconds >= 0 && seconds <= 86400; }

void checkBuffer(const coil::Properties& props, const char* side) {
  std::vector<std::string> problems;
  const RTC::BufferSettings s = RTC::BufferSettings::fromProperties(props, side, &problems);
  FUZZ_CHECK(s.length >= 1 && s.length <= RTC::BufferSettings::kMaxLength,
             "buffer length out of range");
  FUZZ_CHECK(inRange(s.writeTimeout) && inRange(s.readTimeout), "timeout out of range");
  // Without a list of problems the same settings come out.
  const RTC::BufferSettings quiet = RTC::BufferSettings::fromProperties(props, side, nullptr);
  FUZZ_CHECK(quiet.length == s.length && quiet.fullPolicy == s.fullPolicy &&
                 quiet.emptyPolicy == s.emptyPolicy,
             "settings depend on whether problems are collected");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  pixmoor_fuzz::addDefaults(argc, argv);
  pixmoor_fuzz::startLoopbackOrb((*argv)[0]);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, size_t size) {
  if (size > 4096) return 0;
  const std::string text(reinterpret_cast<const char*>(input), size);
  SDOPackage::NVList nv = nvListFrom(text);
  const coil::Properties props = NVUtil::toProperties(nv);

  // What both port kinds check (PortBase's checkCommon, in its order).
  const std::string ours = RTC::CdrSerializer<RTC::TimedLongSeq>::repositoryId();
  RTC::listContains(props.getProperty("dataport.interface_type"), "corba_cdr");
  const std::string flow = RTC::firstEntry(props.getProperty("dataport.dataflow_type"));
  FUZZ_CHECK(flow == RTC::normalizedValue(flow), "the first entry is not normalized");
  RTC::dataTypeMatches(props.getProperty("dataport.data_type"), ours);
  bool little = true;
  if (RTC::parseEndian(props, little)) {
    const std::string first = RTC::firstEntry(props.getProperty("dataport.serializer.cdr.endian"));
    FUZZ_CHECK(first.empty() || first == (little ? "little" : "big"), "endian misread");
  }

  checkBuffer(props, "inport");
  checkBuffer(props, "outport");

  RTC::PublisherSettings publisher;
  std::string why;
  if (RTC::PublisherSettings::fromProperties(props, publisher, why)) {
    FUZZ_CHECK(publisher.skipCount <= 1000000, "skip count above its cap");
    if (publisher.kind == RTC::PublisherKind::Periodic) {
      FUZZ_CHECK(std::isfinite(publisher.pushRate) && publisher.pushRate > 0, "bad push rate");
    }
  } else {
    FUZZ_CHECK(!why.empty(), "refused without a reason");
  }

  // Properties go back to a list and come out the same.
  const coil::Properties again = NVUtil::toProperties(NVUtil::toNVList(props));
  FUZZ_CHECK(again.entries() == props.entries(), "properties change on the way through a list");

  // The list edits a port makes on a profile.
  NVUtil::appendStringValue(nv, "dataport.serializer.cdr.endian", "little");
  NVUtil::setStringValue(nv, "dataport.corba_cdr.inport_ior", "IOR:00");
  FUZZ_CHECK(NVUtil::isStringValue(nv, "dataport.corba_cdr.inport_ior", "IOR:00"),
             "a value set is not found");
  return 0;
}
