# SPDX-License-Identifier: GPL-3.0-or-later
# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (posix threads, for std::thread and
# Qt's own threading). Used both for building Qt and for building Glim-deck against that Qt.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(GLIMDECK_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${GLIMDECK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${GLIMDECK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${GLIMDECK_MINGW_TRIPLE}-windres)

# Libraries and headers come from the mingw sysroot only; programs (moc, rcc) run on the host.
# Packages may come from anywhere on CMAKE_PREFIX_PATH, which is how the Windows Qt is found.
set(CMAKE_FIND_ROOT_PATH /usr/${GLIMDECK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
