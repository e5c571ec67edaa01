# Compiler flags shared by every target of ours.
#
# daxo_project_options is linked PRIVATE into each of our targets so that the
# warning set applies to our code and never leaks into third-party headers.

add_library(daxo_project_options INTERFACE)
target_compile_options(daxo_project_options INTERFACE -Wall -Wextra -Werror)
# GCC 12 reports impossible std::string overlaps at -O3 (GCC bug 105329);
# the warning has no true positives left that -fsanitize=address misses.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(daxo_project_options INTERFACE -Wno-restrict)
endif()

# The thread-safety build: clang checks the lock annotations of
# daxo_thread_annotations.h (guarded fields, required and excluded locks).
option(VELQUOR_THREAD_SAFETY "Check the lock annotations with -Wthread-safety (needs clang)" OFF)
if(VELQUOR_THREAD_SAFETY)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "VELQUOR_THREAD_SAFETY needs clang (-Wthread-safety)")
  endif()
  target_compile_options(daxo_project_options INTERFACE -Wthread-safety)
endif()

if(VELQUOR_SANITIZER STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(VELQUOR_SANITIZER STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT VELQUOR_SANITIZER STREQUAL "")
  message(FATAL_ERROR "VELQUOR_SANITIZER must be empty, 'address' or 'thread'")
endif()
