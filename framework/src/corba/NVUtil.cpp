#include "corba/NVUtil.h"

#include <coil/stringutil.h>

#include <cstring>
#include <sstream>

namespace NVUtil {

namespace {

template <typename T>
std::string numberText(T value) {
  std::ostringstream out;
  out << value;
  return out.str();
}

}  // namespace

SDOPackage::NameValue newNV(const char* name, const char* value) {
  SDOPackage::NameValue nv;
  nv.name = CORBA::string_dup(name != nullptr ? name : "");
  nv.value <<= (value != nullptr ? value : "");
  return nv;
}

void copyFromProperties(SDOPackage::NVList& nv, const coil::Properties& prop) {
  const auto& entries = prop.entries();
  CORBA::ULong index = nv.length();
  nv.length(index + static_cast<CORBA::ULong>(entries.size()));
  for (const auto& entry : entries) {
    nv[index].name = CORBA::string_dup(entry.first.c_str());
    nv[index].value <<= entry.second.c_str();
    ++index;
  }
}

SDOPackage::NVList toNVList(const coil::Properties& prop) {
  SDOPackage::NVList nv;
  copyFromProperties(nv, prop);
  return nv;
}

bool anyToString(const CORBA::Any& value, std::string& out) {
  const char* text = nullptr;
  if (value >>= text) {
    out = text != nullptr ? text : "";
    return true;
  }
  CORBA::Short s;
  CORBA::UShort us;
  CORBA::Long l;
  CORBA::ULong ul;
  CORBA::LongLong ll;
  CORBA::ULongLong ull;
  CORBA::Float f;
  CORBA::Double d;
  CORBA::Boolean b;
  if (value >>= l) {
    out = numberText(l);
  } else if (value >>= ul) {
    out = numberText(ul);
  } else if (value >>= s) {
    out = numberText(s);
  } else if (value >>= us) {
    out = numberText(us);
  } else if (value >>= ll) {
    out = numberText(ll);
  } else if (value >>= ull) {
    out = numberText(ull);
  } else if (value >>= d) {
    out = numberText(d);
  } else if (value >>= f) {
    out = numberText(f);
  } else if (value >>= CORBA::Any::to_boolean(b)) {
    out = b ? "true" : "false";
  } else {
    return false;
  }
  return true;
}

size_t copyToProperties(coil::Properties& prop, const SDOPackage::NVList& nv) {
  size_t skipped = 0;
  for (CORBA::ULong i = 0; i < nv.length(); ++i) {
    std::string text;
    if (anyToString(nv[i].value, text)) {
      prop.setProperty(static_cast<const char*>(nv[i].name), text);
    } else {
      ++skipped;
    }
  }
  return skipped;
}

coil::Properties toProperties(const SDOPackage::NVList& nv) {
  coil::Properties prop;
  copyToProperties(prop, nv);
  return prop;
}

CORBA::Long find_index(const SDOPackage::NVList& nv, const char* name) {
  if (name == nullptr) return -1;
  for (CORBA::ULong i = 0; i < nv.length(); ++i) {
    if (std::strcmp(nv[i].name, name) == 0) return static_cast<CORBA::Long>(i);
  }
  return -1;
}

bool findString(const SDOPackage::NVList& nv, const char* name, std::string& out) {
  CORBA::Long index = find_index(nv, name);
  if (index < 0) return false;
  const char* text = nullptr;
  if (!(nv[static_cast<CORBA::ULong>(index)].value >>= text)) return false;
  out = text != nullptr ? text : "";
  return true;
}

bool isString(const SDOPackage::NVList& nv, const char* name) {
  std::string ignored;
  return findString(nv, name, ignored);
}

bool isStringValue(const SDOPackage::NVList& nv, const char* name, const char* value) {
  std::string text;
  return value != nullptr && findString(nv, name, text) && text == value;
}

std::string toString(const SDOPackage::NVList& nv, const char* name) {
  std::string text;
  findString(nv, name, text);
  return text;
}

void setStringValue(SDOPackage::NVList& nv, const char* name, const char* value) {
  CORBA::Long index = find_index(nv, name);
  if (index >= 0) {
    nv[static_cast<CORBA::ULong>(index)].value <<= (value != nullptr ? value : "");
    return;
  }
  CORBA::ULong length = nv.length();
  nv.length(length + 1);
  nv[length] = newNV(name, value);
}

bool appendStringValue(SDOPackage::NVList& nv, const char* name, const char* value) {
  if (value == nullptr) value = "";
  CORBA::Long index = find_index(nv, name);
  if (index < 0) {
    setStringValue(nv, name, value);
    return true;
  }
  std::string current;
  if (!findString(nv, name, current)) return false;
  for (const std::string& item : coil::split(current, ",")) {
    if (item == value) return true;
  }
  current = current.empty() ? std::string(value) : current + "," + value;
  nv[static_cast<CORBA::ULong>(index)].value <<= current.c_str();
  return true;
}

void append(SDOPackage::NVList& dest, const SDOPackage::NVList& src) {
  CORBA::ULong length = dest.length();
  dest.length(length + src.length());
  for (CORBA::ULong i = 0; i < src.length(); ++i) dest[length + i] = src[i];
}

}  // namespace NVUtil
