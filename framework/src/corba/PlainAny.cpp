#include "PlainAny.h"

#include <omniORB4/minorCode.h>

#include <vector>

namespace RTC {

namespace {

// Reads a CDR string's length word at `at` of an encapsulation in the
// byte order it names; false unless a non-empty, NUL-terminated string lies
// wholly inside it. Moves `at` past the string.
bool skipEncapsulatedString(const std::vector<CORBA::Octet>& bytes, bool little, size_t& at) {
  at = (at + 3) & ~size_t{3};
  if (at + 4 > bytes.size()) return false;
  CORBA::ULong length = 0;
  for (int i = 0; i < 4; ++i) {
    const CORBA::ULong octet = bytes[at + (little ? i : 3 - i)];
    length |= octet << (8 * i);
  }
  at += 4;
  if (length == 0 || length > bytes.size() - at || bytes[at + length - 1] != 0) return false;
  at += length;
  return true;
}

// Copies an object reference type code's parameters (byte order, repository
// id, name) after checking them: omniORB leaks what it has built when its
// own reading of them fails half-way.
void copyObjrefParameters(cdrStream& in, cdrStream& out) {
  CORBA::ULong length;
  length <<= in;
  if (!in.checkInputOverrun(1, length)) {
    throw CORBA::MARSHAL(omni::MARSHAL_PassEndOfMessage, CORBA::COMPLETED_NO);
  }
  std::vector<CORBA::Octet> bytes(length);
  if (length > 0) in.get_octet_array(bytes.data(), static_cast<int>(length));
  size_t at = 1;
  if (length == 0 || bytes[0] > 1 || !skipEncapsulatedString(bytes, bytes[0] == 1, at) ||
      !skipEncapsulatedString(bytes, bytes[0] == 1, at)) {
    throw CORBA::MARSHAL(omni::MARSHAL_InvalidTypeCodeKind, CORBA::COMPLETED_NO);
  }
  length >>= out;
  if (length > 0) out.put_octet_array(bytes.data(), static_cast<int>(length));
}

[[noreturn]] void refuse() {
  throw CORBA::MARSHAL(omni::MARSHAL_InvalidTypeCodeKind, CORBA::COMPLETED_NO);
}

}  // namespace

void unmarshalPlainAny(CORBA::Any& value, cdrStream& in) {
  // The value is checked while it is copied into a stream of our own, and
  // omniORB reads the Any from that copy: the type code and the value keep
  // exactly what the peer sent (an object reference keeps its interface).
  cdrMemoryStream copy;
  CORBA::ULong kind;
  kind <<= in;
  kind >>= copy;
  switch (kind) {
    case CORBA::tk_null:
    case CORBA::tk_void:
      break;
    case CORBA::tk_boolean:
    case CORBA::tk_char:
    case CORBA::tk_octet: {
      CORBA::Octet octet;
      octet = in.unmarshalOctet();
      copy.marshalOctet(octet);
      break;
    }
    case CORBA::tk_short:
    case CORBA::tk_ushort: {
      CORBA::UShort number;
      number <<= in;
      number >>= copy;
      break;
    }
    case CORBA::tk_long:
    case CORBA::tk_ulong:
    case CORBA::tk_float: {
      CORBA::ULong number;
      number <<= in;
      number >>= copy;
      break;
    }
    case CORBA::tk_double:
    case CORBA::tk_longlong:
    case CORBA::tk_ulonglong: {
      CORBA::ULongLong number;
      number <<= in;
      number >>= copy;
      break;
    }
    case CORBA::tk_string: {
      CORBA::ULong bound;
      bound <<= in;
      bound >>= copy;
      CORBA::String_var text = in.unmarshalString(bound);
      copy.marshalString(text.in(), static_cast<int>(bound));
      break;
    }
    case CORBA::tk_objref: {
      // The type code's parameters (repository id, name) are one
      // encapsulation of strings, read by omniORB without nesting.
      copyObjrefParameters(in, copy);
      CORBA::Object_var object = CORBA::Object::_unmarshalObjRef(in);
      CORBA::Object::_marshalObjRef(object.in(), copy);
      break;
    }
    default:
      refuse();
  }
  copy.rewindInputPtr();
  value <<= copy;
}

}  // namespace RTC
