// NVUtil: conversions between coil::Properties and SDO name/value lists.
#ifndef RTM_SRC_NVUTIL_H
#define RTM_SRC_NVUTIL_H

#include <coil/Properties.h>
#include <rtm/idl/SDOPackageSkel.h>

#include <string>

namespace NVUtil {

// Returns a NameValue holding `value` as a CORBA string.
SDOPackage::NameValue newNV(const char* name, const char* value);

// Appends every key of `prop`, in order, as a string value to `nv`
// (after what `nv` already holds).
void copyFromProperties(SDOPackage::NVList& nv, const coil::Properties& prop);
// Returns `prop` as a name/value list with string values, in order.
SDOPackage::NVList toNVList(const coil::Properties& prop);

// Copies the entries of `nv` into `prop`: strings as they are, numbers and
// booleans as their text; other values (object references, structures) are
// skipped. Returns the number of entries skipped.
size_t copyToProperties(coil::Properties& prop, const SDOPackage::NVList& nv);
// Returns the entries of `nv` as properties (see copyToProperties).
coil::Properties toProperties(const SDOPackage::NVList& nv);

// Gives the text of `value` when it holds a string, number or boolean.
bool anyToString(const CORBA::Any& value, std::string& out);

// Returns the index of the first entry named `name`, or -1.
CORBA::Long find_index(const SDOPackage::NVList& nv, const char* name);
// Returns whether entry `name` exists and holds a string.
bool isString(const SDOPackage::NVList& nv, const char* name);
// Returns whether entry `name` holds the string `value`.
bool isStringValue(const SDOPackage::NVList& nv, const char* name, const char* value);
// Returns the string held by entry `name`, or "" when absent or not a string.
std::string toString(const SDOPackage::NVList& nv, const char* name);
// Gives the string held by entry `name`; false when absent or not a string.
bool findString(const SDOPackage::NVList& nv, const char* name, std::string& out);

// Sets entry `name` to the string `value`, replacing the first entry of that
// name or appending a new one.
void setStringValue(SDOPackage::NVList& nv, const char* name, const char* value);
// Adds `value` to the comma-separated list held by entry `name` unless it is
// already listed; appends the entry when absent. False when the entry holds
// something other than a string.
bool appendStringValue(SDOPackage::NVList& nv, const char* name, const char* value);
// Appends every entry of `src` to `dest`.
void append(SDOPackage::NVList& dest, const SDOPackage::NVList& src);

}  // namespace NVUtil

#endif
