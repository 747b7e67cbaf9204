# The sanitizer builds. LUMENRIDER_SANITIZE names the sanitizers every
# target is built with (address,undefined or thread); LUMENRIDER_FUZZ adds
# the libFuzzer targets of fuzz/ and the coverage they steer by (clang).
set(LUMENRIDER_SANITIZE "" CACHE STRING "Sanitizers to build with, e.g. address,undefined or thread")
option(LUMENRIDER_FUZZ "Build the libFuzzer targets under fuzz/ (clang only)" OFF)

if(LUMENRIDER_SANITIZE)
  # Undefined behaviour ends the program at once, as an AddressSanitizer
  # finding does, so no test passes over it.
  add_compile_options(-fsanitize=${LUMENRIDER_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${LUMENRIDER_SANITIZE})

  set(_sanitizer_support)
  if(LUMENRIDER_SANITIZE MATCHES "address")
    list(APPEND _sanitizer_support ${CMAKE_CURRENT_LIST_DIR}/keep_libraries.cpp)
  endif()
  if(LUMENRIDER_SANITIZE MATCHES "thread")
    list(APPEND _sanitizer_support ${CMAKE_CURRENT_LIST_DIR}/tsan_qmutex.cpp)
  endif()
  if(_sanitizer_support)
    add_library(lumenrider_sanitizer_support OBJECT ${_sanitizer_support})
    target_link_libraries(lumenrider_sanitizer_support PRIVATE Qt5::Core)
    # Every target made from here on, so every program, links it.
    link_libraries(lumenrider_sanitizer_support ${CMAKE_DL_LIBS})
  endif()
endif()

if(LUMENRIDER_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "LUMENRIDER_FUZZ needs clang (CXX=clang++)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
