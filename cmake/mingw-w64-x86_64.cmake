# Cross-builds the Windows (x86-64) program with Debian's mingw-w64, posix-threads flavour.
# The Qt prefix built by packaging/windows/build-qt.sh comes in through CMAKE_PREFIX_PATH.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VARNITT_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VARNITT_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VARNITT_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VARNITT_MINGW_TRIPLE}-windres)

# Libraries, headers and CMake packages come only from the MinGW root and the prefixes
# given (Qt for Windows), never from the Linux system, where Linux Qt would fit the name.
# A prefix that is itself a root is searched as it is, not below the MinGW root.
set(CMAKE_FIND_ROOT_PATH /usr/${VARNITT_MINGW_TRIPLE} ${CMAKE_PREFIX_PATH})
# Host tools (moc, rcc, uic) are Linux programs; libraries and headers are Windows ones.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No link time in the PE headers, so a rebuild gives the same bytes.
set(CMAKE_EXE_LINKER_FLAGS_INIT -Wl,--no-insert-timestamp)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -Wl,--no-insert-timestamp)
