// Reading the properties of a connection that both port kinds check.
#ifndef RTM_SRC_CONNECTIONPROPERTIES_H
#define RTM_SRC_CONNECTIONPROPERTIES_H

#include <coil/Properties.h>

#include <cstddef>
#include <string>

namespace RTC {

// Returns `text` trimmed and in lower case.
std::string normalizedValue(const std::string& text);
// Returns the first entry of the comma-separated list `text`, normalized:
// where a peer sends a list for a single choice, its first entry decides.
std::string firstEntry(const std::string& text);
// Returns whether the comma-separated list `text` holds `value`
// (normalized).
bool listContains(const std::string& text, const std::string& value);

// Returns a connect request's properties completed by a port's own
// `defaults` (keys without the "dataport." prefix, as in rtc.conf's
// port.inport.<name>.buffer.length): each default becomes dataport.<key>
// where the request gives no value of its own. The request's
// dataport.<side>.<key>, read after dataport.<key>, still wins over both.
coil::Properties withPortDefaults(const coil::Properties& request,
                                  const coil::Properties& defaults);

// The interface types a data port speaks, as its profile lists them.
extern const char* const kDataPortInterfaces;

// Returns the interface type a connection's dataport.interface_type chooses:
// the first entry of the list that the ports speak ("corba_cdr" or
// "shared_memory"), or "" when there is none.
std::string chosenInterface(const coil::Properties& props);

// Reads dataport.serializer.cdr.endian: the first entry of the list decides;
// absent or empty means little. False for anything but little or big.
bool parseEndian(const coil::Properties& props, bool& littleEndian);

// Returns whether a connection's dataport.data_type `given` names the type
// with repository ID `ours`: empty, the repository ID itself, the bare type
// name ("TimedLongSeq") or its scoped name ("RTC::TimedLongSeq").
bool dataTypeMatches(const std::string& given, const std::string& ours);

// Reads a numeric port property (a count, bytes or seconds): -1 gives
// `unlimited`, an empty or absent value `fallback`; anything else that is not
// a non-negative number gives `fallback` and a description in `problem`.
double portLimit(const coil::Properties& props, const std::string& key, double fallback,
                 double unlimited, std::string* problem);

// Bytes a port may hold over all its connections unless its memory_limit
// says otherwise: four 3840x2160 frames (33.2 MB each), one being read, two
// queued and one arriving.
constexpr size_t kDefaultPortMemoryLimit = size_t{128} * 1024 * 1024;

// Returns the port's memory_limit in bytes (-1: no limit); a value that is
// not a number gives the default and a description in `problem`.
size_t portMemoryLimit(const coil::Properties& portProps, std::string* problem);

}  // namespace RTC

#endif
