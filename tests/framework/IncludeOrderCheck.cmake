# Compiles three small components: one that includes the data types before
# the port headers must build; one whose InPort header and one whose OutPort
# header comes first must fail on the data type's Any operator, as they fail
# against the framework. So a wrong include order cannot come back unnoticed.
# Run with -DCXX=<compiler> -DINCLUDES=<dir|dir|...> -DWORK=<scratch dir>.
string(REPLACE "|" ";" include_dirs "${INCLUDES}")
set(flags -std=c++14 -fsyntax-only)
foreach(dir ${include_dirs})
  list(APPEND flags -I${dir})
endforeach()
file(MAKE_DIRECTORY ${WORK})

set(types "#include <rtm/idl/BasicDataTypeSkel.h>\n")
set(inport "#include <rtm/DataInPort.h>\n")
set(outport "#include <rtm/DataOutPort.h>\n")
set(body "RTC::TimedLongSeq g_in, g_out;
RTC::InPort<RTC::TimedLongSeq> g_inPort(\"in\", g_in);
RTC::OutPort<RTC::TimedLongSeq> g_outPort(\"out\", g_out);\n")

function(compile name text expect_ok)
  file(WRITE ${WORK}/${name}.cpp "${text}${body}")
  execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C ${CXX} ${flags} ${WORK}/${name}.cpp
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(expect_ok AND NOT rc EQUAL 0)
    message(FATAL_ERROR "${name}: the data types first must compile:\n${out}")
  endif()
  if(NOT expect_ok)
    if(rc EQUAL 0)
      message(FATAL_ERROR "${name}: a port header before the data types compiled")
    endif()
    string(FIND "${out}" "no match for 'operator<<=' (operand types are 'CORBA::Any' and 'RTC::TimedLongSeq')" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "${name}: failed, but not on the Any operator:\n${out}")
    endif()
  endif()
  message(STATUS "${name}: as expected")
endfunction()

compile(DataTypesFirst "${types}${inport}${outport}" TRUE)
compile(InPortFirst "${inport}${types}${outport}" FALSE)
compile(OutPortFirst "${outport}${types}${inport}" FALSE)
