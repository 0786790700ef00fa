# Compiler settings shared by every target of ours.

# Warnings are errors for our own code; third-party code (GoogleTest) keeps its own flags.
add_library(kestrune_warnings INTERFACE)
if(MSVC)
  target_compile_options(kestrune_warnings INTERFACE /W4 /WX)
else()
  target_compile_options(kestrune_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual
    -Wcast-qual -Wformat=2 -Wundef -Werror)
endif()

if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4 AND NOT MSVC)
  # Plain IEEE double arithmetic: x87's extended precision would round the range mapping
  # twice. We never touch the FPU control word or MXCSR; the host's settings stand.
  add_compile_options(-msse2 -mfpmath=sse)
  # libgcc, libstdc++ and winpthread linked in, so that every binary imports system DLLs only.
  add_link_options(-static)
endif()

if(KESTRUNE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

if(KESTRUNE_THREAD_SANITIZE)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
