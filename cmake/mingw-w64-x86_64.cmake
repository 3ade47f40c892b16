# Cross build of the Windows program with Debian's mingw-w64 (x86_64, posix
# threads), run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(BRINTEL_MINGW_TRIPLET x86_64-w64-mingw32)
# The -posix compilers: std::thread and std::mutex need their threading model.
set(CMAKE_C_COMPILER ${BRINTEL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BRINTEL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${BRINTEL_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${BRINTEL_MINGW_TRIPLET}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${BRINTEL_MINGW_TRIPLET}-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${BRINTEL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static runtime: otherwise the exe needs the libstdc++, libgcc and winpthread
# DLLs beside it, and Wine refuses to start it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

find_program(BRINTEL_WINE NAMES wine wine64)
if(BRINTEL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${BRINTEL_WINE})
endif()
