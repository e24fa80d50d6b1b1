# pixmoor_add_module(<target> <FileStem> PARTS <static library>... LIBS <library>...)
# A component module for manager.modules.preload: <FileStem>.so, without the
# lib prefix, in <build>/modules. It holds the objects of its PARTS and links
# LIBS. On the bundled runtime it never links the runtime itself: a static copy
# inside the module would be a second Manager; it uses the host's (rtcd links
# the runtime whole and exports it). Against the real framework the runtime is
# a shared library and is linked as usual.
function(pixmoor_add_module target stem)
  cmake_parse_arguments(M "" "" "PARTS;LIBS" ${ARGN})
  set(objects)
  foreach(part ${M_PARTS})
    list(APPEND objects $<TARGET_OBJECTS:${part}>)
  endforeach()
  add_library(${target} MODULE ${objects})
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${stem}
                        LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/modules)
  target_link_libraries(${target} PRIVATE ${M_LIBS})
  if(PIXMOOR_FRAMEWORK STREQUAL "system")
    target_link_libraries(${target} PRIVATE pixmoor::rtm)
  else()
    target_link_libraries(${target} PRIVATE PkgConfig::OMNIORB Threads::Threads)
  endif()
  install(TARGETS ${target} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime)
endfunction()
