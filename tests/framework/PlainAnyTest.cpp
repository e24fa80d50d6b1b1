// Anys read from the network: plain values pass as they were sent, anything
// that nests is refused before omniORB reads it.
#include <gtest/gtest.h>
#include <rtm/idl/BasicDataTypeSkel.h>
#include <rtm/idl/DataPortSkel.h>
#include <rtm/idl/SDOPackageSkel.h>

#include <string>

#include "TestSupport.h"
#include "corba/PlainAny.h"

namespace {

// Marshals `value` as a peer would and reads it back through the check.
CORBA::Any roundTrip(const CORBA::Any& value) {
  cdrMemoryStream wire;
  value >>= wire;
  wire.rewindInputPtr();
  CORBA::Any out;
  RTC::unmarshalPlainAny(out, wire);
  return out;
}

TEST(PlainAny, PlainValuesArriveAsSent) {
  pixmoor_test::orb();
  CORBA::Any text, bounded, number, unsignedLong, shortNumber, real, single, flag, nothing, object,
      big;
  text <<= "corba_cdr";
  bounded <<= CORBA::Any::from_string("abc", 8);
  number <<= static_cast<CORBA::Long>(-5);
  unsignedLong <<= static_cast<CORBA::ULong>(307200);
  shortNumber <<= static_cast<CORBA::Short>(-2);
  real <<= 2.5;
  single <<= 1.25f;
  flag <<= CORBA::Any::from_boolean(true);
  big <<= static_cast<CORBA::ULongLong>(1) << 40;
  // An object reference keeps its interface, which ports extract it by.
  CORBA::Object_var self = pixmoor_test::orb()->string_to_object("corbaloc::127.0.0.1:1/Nothing");
  OpenRTM::InPortCdr_var typed = OpenRTM::InPortCdr::_unchecked_narrow(self);
  object <<= typed.in();
  for (const CORBA::Any* value : {&text, &bounded, &number, &unsignedLong, &shortNumber, &real,
                                  &single, &flag, &nothing, &object, &big}) {
    CORBA::TypeCode_var sent = value->type();
    const CORBA::Any back = roundTrip(*value);
    CORBA::TypeCode_var read = back.type();
    EXPECT_TRUE(sent->equal(read)) << "kind " << sent->kind();
  }
  const CORBA::Any textAny = roundTrip(text);
  const char* textBack = nullptr;
  ASSERT_TRUE(textAny >>= textBack);
  EXPECT_STREQ(textBack, "corba_cdr");
  CORBA::Double realBack = 0;
  ASSERT_TRUE(roundTrip(real) >>= realBack);
  EXPECT_EQ(realBack, 2.5);
  OpenRTM::InPortCdr_ptr objectBack = OpenRTM::InPortCdr::_nil();
  const CORBA::Any objectAny = roundTrip(object);
  EXPECT_TRUE(objectAny >>= objectBack);
}

// omniORB copied each level of an Any in an Any twice over (depth 100 kept
// a thread busy for good) and recursed once per level (SIGSEGV at 300000).
TEST(PlainAny, AnythingThatNestsIsRefusedUnread) {
  pixmoor_test::orb();
  CORBA::Any inner, nested, structure, sequence;
  inner <<= static_cast<CORBA::Long>(7);
  nested <<= inner;
  structure <<= RTC::Time{1, 2};
  SDOPackage::NVList list;
  list.length(1);
  list[0].name = "k";
  list[0].value <<= "v";
  sequence <<= list;
  for (const CORBA::Any* value : {&nested, &structure, &sequence}) {
    CORBA::TypeCode_var type = value->type();
    EXPECT_THROW(roundTrip(*value), CORBA::MARSHAL) << "kind " << type->kind();
  }
  // A list of names and values read by the generated stubs goes the same way.
  SDOPackage::NVList outer;
  outer.length(1);
  outer[0].name = "dataport.interface_type";
  outer[0].value <<= nested;
  cdrMemoryStream wire;
  outer >>= wire;
  wire.rewindInputPtr();
  SDOPackage::NVList read;
  EXPECT_THROW(read <<= wire, CORBA::MARSHAL);
}

}  // namespace
