# Cross build for 32-bit Windows with Debian's mingw-w64 (i686-w64-mingw32).
# Use: cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(TRELVEX_MINGW_PREFIX i686-w64-mingw32)
# The -posix compilers: with the default win32 thread model, GCC 12's std::mutex
# (used by the shared code) does not exist. winpthreads is linked statically.
set(CMAKE_C_COMPILER ${TRELVEX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TRELVEX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TRELVEX_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TRELVEX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No hot/cold splitting of functions: with GCC 12's DWARF-2 unwinder on i686
# the unwind entries of the split-off ".cold" parts are not always found, and
# an exception thrown there ends the program ("terminate called ...").
set(CMAKE_C_FLAGS_INIT "-fno-reorder-blocks-and-partition")
set(CMAKE_CXX_FLAGS_INIT "-fno-reorder-blocks-and-partition")

# One program file that runs alone: no libgcc/libstdc++ DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# The Firebird client header of the Linux package serves the cross build: it
# switches to the Windows calling convention itself under _WIN32. The folder
# holds only a link to that one header, so that no other Linux header can be
# picked up by the Windows compiler.
if(NOT DEFINED TRELVEX_FIREBIRD_INCLUDE)
  set(_trelvex_fb_dir ${CMAKE_BINARY_DIR}/firebird-include)
  file(MAKE_DIRECTORY ${_trelvex_fb_dir})
  if(NOT EXISTS ${_trelvex_fb_dir}/ibase.h)
    file(CREATE_LINK /usr/include/ibase.h ${_trelvex_fb_dir}/ibase.h SYMBOLIC)
  endif()
  set(TRELVEX_FIREBIRD_INCLUDE ${_trelvex_fb_dir} CACHE PATH "Folder with ibase.h for the Windows build")
endif()
