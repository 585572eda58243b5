# One interface target that carries warnings and sanitizer flags for every target.
add_library(snapmend_warnings INTERFACE)
target_compile_options(snapmend_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow=local -Wno-unused-parameter)

set(SNAPMEND_SANITIZE "" CACHE STRING "Sanitizers to build with: address,undefined or thread (empty: none)")
if(SNAPMEND_SANITIZE)
  add_compile_options(-fsanitize=${SNAPMEND_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${SNAPMEND_SANITIZE})
endif()
