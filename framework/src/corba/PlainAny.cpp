#include "PlainAny.h"

#include <omniORB4/minorCode.h>

#include <vector>

namespace RTC {

namespace {

// Copies `count` octets, as they are, from `in` to `out`; the length was
// checked against what the message holds.
void copyOctets(cdrStream& in, cdrStream& out, CORBA::ULong count) {
  CORBA::Octet chunk[4096];
  while (count > 0) {
    const CORBA::ULong step =
        count < sizeof chunk ? count : static_cast<CORBA::ULong>(sizeof chunk);
    in.get_octet_array(chunk, static_cast<int>(step));
    out.put_octet_array(chunk, static_cast<int>(step));
    count -= step;
  }
}

// Copies a length-prefixed run of octets (an encapsulation, a profile's
// body) after checking the message holds it.
void copyCounted(cdrStream& in, cdrStream& out) {
  CORBA::ULong length;
  length <<= in;
  if (!in.checkInputOverrun(1, length)) {
    throw CORBA::MARSHAL(omni::MARSHAL_PassEndOfMessage, CORBA::COMPLETED_NO);
  }
  length >>= out;
  copyOctets(in, out, length);
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
      copyCounted(in, copy);
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
