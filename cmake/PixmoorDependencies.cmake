# Debian's packages: omniORB through pkg-config, OpenCV's split -dev packages
# (which ship no CMake or pkg-config files of their own), X11 for the
# viewer's display check and the window grabber.

find_package(PkgConfig REQUIRED)
pkg_check_modules(OMNIORB REQUIRED IMPORTED_TARGET omniORB4 omniDynamic4)
find_package(Threads REQUIRED)

find_program(OMNIIDL omniidl REQUIRED)

find_path(OpenCV_INCLUDE_DIR opencv2/core.hpp PATH_SUFFIXES opencv4 REQUIRED)
foreach(module core imgproc highgui imgcodecs videoio)
  find_library(OpenCV_${module}_LIBRARY opencv_${module} REQUIRED)
  add_library(OpenCV::${module} UNKNOWN IMPORTED)
  set_target_properties(OpenCV::${module} PROPERTIES
    IMPORTED_LOCATION ${OpenCV_${module}_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${OpenCV_INCLUDE_DIR})
endforeach()

find_package(X11 REQUIRED)
# The display watch keeps an xcb connection of its own (libxcb1-dev).
if(NOT X11_xcb_FOUND)
  message(FATAL_ERROR "libxcb not found: install libxcb1-dev (scripts/setup does)")
endif()
# The viewer's own window puts its pictures through MIT-SHM (libxcb-shm0-dev).
pkg_check_modules(XCB_SHM REQUIRED IMPORTED_TARGET xcb-shm)

if(PIXMOOR_FRAMEWORK STREQUAL "system")
  pkg_check_modules(OPENRTM REQUIRED IMPORTED_TARGET openrtm-aist)
  add_library(pixmoor::rtm INTERFACE IMPORTED)
  target_link_libraries(pixmoor::rtm INTERFACE PkgConfig::OPENRTM)
  # The real framework's generated data types carry the same header name.
  add_library(pixmoor::datatypes INTERFACE IMPORTED)
  target_link_libraries(pixmoor::datatypes INTERFACE PkgConfig::OPENRTM)
endif()
