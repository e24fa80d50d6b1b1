// RTC::unmarshalPlainAny: reading an Any from the network at a bounded cost.
#ifndef RTM_SRC_PLAINANY_H
#define RTM_SRC_PLAINANY_H

#include <omniORB4/CORBA.h>

namespace RTC {

// Reads an Any from `in` into `value` when it holds a plain value: nothing
// (null, void), a number, boolean, character or octet, a string (bounded or
// not) or an object reference. Anything else -- an Any inside an Any, a
// structure, a sequence -- raises CORBA::MARSHAL before it is read, so what
// a peer sends costs time and stack in proportion to its bytes. The
// generated stubs call this for every Any they read (names-and-values lists,
// Any parameters and results).
void unmarshalPlainAny(CORBA::Any& value, cdrStream& in);

}  // namespace RTC

#endif
