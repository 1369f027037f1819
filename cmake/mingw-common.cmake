# Cross-build for Windows with Debian's mingw-w64, for MINGW_ARCH (set by the
# toolchain file that includes this). The win32 thread model: the programs
# use no C++ threads, so no winpthread is needed at all.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${MINGW_ARCH})
set(CMAKE_C_COMPILER ${MINGW_ARCH}-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER ${MINGW_ARCH}-w64-mingw32-g++-win32)
set(CMAKE_RC_COMPILER ${MINGW_ARCH}-w64-mingw32-windres)
set(HALVERN_MESSAGE_COMPILER ${MINGW_ARCH}-w64-mingw32-windmc)
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_ARCH}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Static C and C++ runtimes: the programs must import system DLLs only.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Release programs are built for size and ship without a symbol table or
# unwind tables (nothing throws), and without what nothing calls.
set(CMAKE_C_FLAGS_RELEASE "-Os -DNDEBUG -ffunction-sections -fno-asynchronous-unwind-tables" CACHE STRING "" FORCE)
set(CMAKE_CXX_FLAGS_RELEASE "${CMAKE_C_FLAGS_RELEASE} -fno-exceptions -fno-rtti" CACHE STRING "" FORCE)
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s -Wl,--gc-sections")
set(CMAKE_SHARED_LINKER_FLAGS_RELEASE_INIT "-s -Wl,--gc-sections")

# Reproducible programs: the same sources give the same bytes wherever and
# whenever they are built. No build path is recorded (file names in debug
# information and __FILE__; the flags apply from a build folder's first
# configuration on), and ld stamps the PE header with SOURCE_DATE_EPOCH,
# which it would otherwise replace with the current time: links get the
# value this build is configured with, or 0.
set(CMAKE_C_FLAGS_INIT "-ffile-prefix-map=${CMAKE_SOURCE_DIR}/= -ffile-prefix-map=${CMAKE_BINARY_DIR}/=")
set(CMAKE_CXX_FLAGS_INIT "${CMAKE_C_FLAGS_INIT}")
if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(HALVERN_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
else()
    set(HALVERN_SOURCE_DATE_EPOCH 0)
endif()
if(NOT HALVERN_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
    message(FATAL_ERROR "SOURCE_DATE_EPOCH is \"${HALVERN_SOURCE_DATE_EPOCH}\", not a number of seconds")
endif()
set(CMAKE_C_LINKER_LAUNCHER "${CMAKE_COMMAND}" -E env "SOURCE_DATE_EPOCH=${HALVERN_SOURCE_DATE_EPOCH}")
set(CMAKE_CXX_LINKER_LAUNCHER ${CMAKE_C_LINKER_LAUNCHER})
