# Cross-builds the Windows (x86-64) program with Debian's mingw-w64, posix-threads flavour.
# The Qt prefix built by packaging/windows/build-qt.sh comes in through CMAKE_PREFIX_PATH.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VARNITT_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VARNITT_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VARNITT_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VARNITT_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VARNITT_MINGW_TRIPLE})
# Host tools (moc, rcc, uic) are Linux programs; libraries and headers are Windows ones.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
