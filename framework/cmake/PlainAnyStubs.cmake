# Routes every Any that the generated stubs read from the network through
# RTC::unmarshalPlainAny. omniORB's own reading of an Any recurses without
# bound (a 1.2 MB Any nested in Anys overflows the stack) and copies nested
# Anys once per level on the way in and again on the way out (depth 100
# already takes longer than anyone waits), before any code of ours can look
# at the value. Run with -DSTUB=<file>SK.cc after omniidl.
file(READ ${STUB} text)
string(REGEX REPLACE "\\(::CORBA::Any&\\)([A-Za-z_0-9]+) <<= _n;"
       "::RTC::unmarshalPlainAny((::CORBA::Any&)\\1, _n);" patched "${text}")
if(NOT patched STREQUAL text)
  string(REPLACE "OMNI_USING_NAMESPACE(omni)"
         "namespace RTC { void unmarshalPlainAny(::CORBA::Any& value, cdrStream& in); }\n\nOMNI_USING_NAMESPACE(omni)"
         patched "${patched}")
  file(WRITE ${STUB} "${patched}")
endif()
