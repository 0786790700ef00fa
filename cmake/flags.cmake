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
  # twice. Our own code never changes the FPU control word or MXCSR; the guard only puts each
  # side's settings back around a machine's calls.
  add_compile_options(-msse2 -mfpmath=sse)
  # The hosts and machines that call us are MSVC-built, and MSVC keeps the stack aligned to 4
  # bytes only: every export, every slot and the machine callback may be entered with esp at 0,
  # 4, 8 or 12 modulo 16. gcc for i686 may take 16 for granted and spill SSE registers with
  # movaps/movdqa, which faults on a misaligned address. So it is told that the stack is aligned
  # to 4 bytes on entry and need be no more at our own calls: it realigns the frame in just the
  # functions that keep 16-byte data on the stack. (Debian's mingw gcc turns -mstackrealign on by
  # default, to much the same effect; these say it whatever the toolchain's default. Incoming 4
  # with the preferred 16 would realign every function that calls another.)
  add_compile_options(-mincoming-stack-boundary=2 -mpreferred-stack-boundary=2)
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
