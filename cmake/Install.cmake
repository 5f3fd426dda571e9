# Installation and packages. On Linux: the executable, a launcher and the application icon in
# the hicolor theme under the usual prefix; CPack builds a Debian package. On Windows the Qt
# runtime is deployed next to the executable.
include(GNUInstallDirs)

install(TARGETS glimdeck RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(UNIX AND NOT APPLE)
    install(FILES data/glimdeck.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES data/glimdeck.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps)
endif()

if(WIN32)
    get_target_property(qmake_location Qt6::qmake IMPORTED_LOCATION)
    get_filename_component(qt_bin_dir "${qmake_location}" DIRECTORY)
    find_program(WINDEPLOYQT_EXECUTABLE windeployqt HINTS "${qt_bin_dir}" REQUIRED)
    install(CODE "
        execute_process(COMMAND \"${WINDEPLOYQT_EXECUTABLE}\" --release --no-translations
                                \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/glimdeck.exe\"
                        RESULT_VARIABLE deploy_result)
        if(NOT deploy_result EQUAL 0)
            message(FATAL_ERROR \"windeployqt failed: \${deploy_result}\")
        endif()
    ")
endif()

set(CPACK_PACKAGE_NAME glimdeck)
set(CPACK_PACKAGE_VENDOR "Glim-deck")
set(CPACK_PACKAGE_CONTACT "Glim-deck <glimdeck@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Shows your groups' photos full-screen from the notification area")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
# The Qt libraries (which carry the platform, image and TLS plugins) come from the shared-library
# scan; a speech engine is loaded at run time and so named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-speech-speechd-plugin | qt6-speech-flite-plugin")
include(CPack)
