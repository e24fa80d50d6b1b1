# Warnings, sanitizers and the language level of the rooms that must also
# build against the real framework.

add_compile_options(-Wall -Wextra)

string(TOLOWER "${PIXMOOR_SANITIZE}" pixmoor_sanitize)
if(pixmoor_sanitize STREQUAL "thread")
  if(PIXMOOR_FUZZ)
    message(FATAL_ERROR "PIXMOOR_SANITIZE=thread and PIXMOOR_FUZZ=ON exclude each other: "
                        "the fuzz targets carry the address sanitizer")
  endif()
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
  set(PIXMOOR_SANITIZE_LINK_FLAGS -fsanitize=thread)
elseif(pixmoor_sanitize MATCHES "^(on|yes|true|1|address)$")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
  set(PIXMOOR_SANITIZE_LINK_FLAGS -fsanitize=address,undefined)
elseif(NOT pixmoor_sanitize MATCHES "^(off|no|false|0|)$")
  message(FATAL_ERROR "PIXMOOR_SANITIZE='${PIXMOOR_SANITIZE}': use OFF, address or thread")
endif()

# Fuzzing instruments every library the targets link (fuzzer-no-link); the
# targets themselves add libFuzzer's driver in fuzz/.
if(PIXMOOR_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "PIXMOOR_FUZZ=ON needs clang (libFuzzer), not ${CMAKE_CXX_COMPILER_ID}: "
                        "configure a fresh build directory with "
                        "CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -DPIXMOOR_FUZZ=ON")
  endif()
  if(NOT PIXMOOR_FRAMEWORK STREQUAL "bundled")
    message(FATAL_ERROR "PIXMOOR_FUZZ=ON fuzzes the bundled runtime: set PIXMOOR_FRAMEWORK=bundled")
  endif()
  if(pixmoor_sanitize MATCHES "^(on|yes|true|1|address)$")
    message(FATAL_ERROR "PIXMOOR_FUZZ=ON already adds address and undefined sanitizers: "
                        "leave PIXMOOR_SANITIZE OFF")
  endif()
  add_compile_options(-fsanitize=address,undefined,fuzzer-no-link -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# component/, host/ and imageutil/ also compile against the real 1.x headers,
# which still carry dynamic exception specifications that C++17 rejects.
function(pixmoor_use_cxx14 target)
  set_target_properties(${target} PROPERTIES CXX_STANDARD 14)
endfunction()
