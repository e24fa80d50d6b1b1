# Warnings, sanitizers and the language level of the rooms that must also
# build against the real framework.

add_compile_options(-Wall -Wextra)

if(PIXMOOR_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# component/, host/ and imageutil/ also compile against the real 1.x headers,
# which still carry dynamic exception specifications that C++17 rejects.
function(pixmoor_use_cxx14 target)
  set_target_properties(${target} PROPERTIES CXX_STANDARD 14)
endfunction()
