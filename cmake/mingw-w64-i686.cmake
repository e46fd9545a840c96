# Cross-compiles the tool and the three client libraries for 32-bit Windows with MinGW-w64
# (i686, posix thread model). Everything the programs need from the compiler's own runtime is
# linked in, so that oaset.exe and the DLLs run with nothing beside them but each other.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(OASET_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${OASET_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OASET_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${OASET_MINGW_PREFIX}-windres)
set(CMAKE_OBJDUMP ${OASET_MINGW_PREFIX}-objdump CACHE FILEPATH "objdump for the target")

set(CMAKE_FIND_ROOT_PATH /usr/${OASET_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -static takes libgcc, libstdc++ and winpthread from their archives; the system DLLs stay imports.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under Wine on the build machine.
find_program(OASET_WINE wine)
if(OASET_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${OASET_WINE})
endif()
