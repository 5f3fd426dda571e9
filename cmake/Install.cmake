# SPDX-License-Identifier: GPL-3.0-or-later
# Installation and packages. On Linux: the client with its launcher, icon, AppStream metadata
# and manual page (component "client"), and the server with a systemd unit (component
# "server"); CPack makes one Debian package of each. On Windows the Qt runtime is deployed next
# to the executable (cmake/WindowsDeploy.cmake).
include(GNUInstallDirs)

set(GLIMDECK_PACKAGE_MAINTAINER "Glim-deck maintainers <maintainers@users.noreply.c-seed-7b5483b1.example>"
    CACHE STRING "Maintainer of the packages, as \"Name <address>\"")
set(GLIMDECK_APPSTREAM_ID "org.glimdeck.glimdeck")

install(TARGETS glimdeck RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT client)
if(TARGET glimdeck-server)
    install(TARGETS glimdeck-server RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT server)
endif()

if(UNIX AND NOT APPLE)
    include(cmake/LinuxInstall.cmake)
endif()

if(WIN32)
    include(cmake/WindowsDeploy.cmake)
endif()

set(CPACK_PACKAGE_NAME glimdeck)
set(CPACK_PACKAGE_VENDOR "Glim-deck")
set(CPACK_PACKAGE_CONTACT "${GLIMDECK_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL client server)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
# The Qt libraries (which carry the platform, image and TLS plugins) come from the shared-library
# scan; a speech engine is loaded at run time and so named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_CLIENT_PACKAGE_NAME glimdeck)
set(CPACK_DEBIAN_CLIENT_PACKAGE_RECOMMENDS "qt6-speech-speechd-plugin | qt6-speech-flite-plugin")
# Each description starts with its own summary line. CPACK_PACKAGE_DESCRIPTION_SUMMARY stays unset:
# CPack would put it above both.
set(CPACK_DEBIAN_CLIENT_DESCRIPTION "Shows your groups' photos full-screen from the notification area
Glim-deck lives in the notification area and keeps one secure connection open
to an image-sharing server. Whenever someone sends a photo to one of the rooms
(group IDs) you follow, it appears full-screen above every window for two and a
half seconds, and the message that came with it can be read aloud.
.
This build talks to ${GLIMDECK_SERVER_HOST}.")
set(CPACK_DEBIAN_SERVER_PACKAGE_NAME glimdeck-server)
set(CPACK_DEBIAN_SERVER_PACKAGE_SECTION net)
set(CPACK_DEBIAN_SERVER_DESCRIPTION "Image-sharing server for Glim-deck
glimdeck-server serves Glim-deck clients on one TLS port: a secure WebSocket,
an upload page, the uploaded pictures and the count of connected clients. A
picture uploaded to a room is announced to every client following the room.
.
A systemd unit runs it as an unprivileged user once its certificate and
upload key are in place.")
include(CPack)
