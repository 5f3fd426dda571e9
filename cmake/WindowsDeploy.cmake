# SPDX-License-Identifier: GPL-3.0-or-later
# What windeployqt would do, for a build where it does not exist (a cross-build from Linux): the
# folder deploy/ in the build holds glimdeck.exe with every DLL and plugin it loads, so that it
# runs as it is on a machine without Qt. `cmake --install` copies that folder.

set(GLIMDECK_DEPLOY_DIR "${PROJECT_BINARY_DIR}/deploy")

# Qt's libraries, then its plugins by folder: the window system, TLS through Windows' own
# schannel, the network list manager (network reachability), the Windows style, the picture
# formats that are plugins (PNG is built into Qt Gui) and the SAPI speech engine.
set(glimdeck_qt_libraries Core Gui Widgets Network WebSockets TextToSpeech)
set(glimdeck_qt_plugins
    platforms QWindowsIntegrationPlugin
    tls QSchannelBackendPlugin
    networkinformation QNLMNIPlugin
    styles QWindowsVistaStylePlugin
    imageformats QJpegPlugin
    imageformats QICOPlugin
    imageformats QGifPlugin
    texttospeech QTextToSpeechSapiPlugin
)

set(deploy_commands COMMAND "${CMAKE_COMMAND}" -E make_directory "${GLIMDECK_DEPLOY_DIR}"
    COMMAND "${CMAKE_COMMAND}" -E copy_if_different "$<TARGET_FILE:glimdeck>" "${GLIMDECK_DEPLOY_DIR}")
foreach(library IN LISTS glimdeck_qt_libraries)
    list(APPEND deploy_commands
        COMMAND "${CMAKE_COMMAND}" -E copy_if_different "$<TARGET_FILE:Qt6::${library}>" "${GLIMDECK_DEPLOY_DIR}")
endforeach()
while(glimdeck_qt_plugins)
    list(POP_FRONT glimdeck_qt_plugins folder plugin)
    if(NOT TARGET Qt6::${plugin})
        message(FATAL_ERROR "Windows deployment: this Qt has no plugin ${plugin} (${folder})")
    endif()
    list(APPEND deploy_commands
        COMMAND "${CMAKE_COMMAND}" -E make_directory "${GLIMDECK_DEPLOY_DIR}/${folder}"
        COMMAND "${CMAKE_COMMAND}" -E copy_if_different "$<TARGET_FILE:Qt6::${plugin}>"
                "${GLIMDECK_DEPLOY_DIR}/${folder}")
endwhile()

# The compiler's own runtime, which MinGW programs load as DLLs.
if(MINGW)
    foreach(runtime libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
        execute_process(COMMAND "${CMAKE_CXX_COMPILER}" -print-file-name=${runtime}
                        OUTPUT_VARIABLE runtime_path OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(NOT IS_ABSOLUTE "${runtime_path}" OR NOT EXISTS "${runtime_path}")
            message(FATAL_ERROR "Windows deployment: the compiler does not know where ${runtime} is")
        endif()
        list(APPEND deploy_commands COMMAND "${CMAKE_COMMAND}" -E copy_if_different "${runtime_path}"
                                            "${GLIMDECK_DEPLOY_DIR}")
    endforeach()
endif()

add_custom_target(glimdeck_deploy ALL ${deploy_commands}
                  COMMENT "Deploying glimdeck.exe with its DLLs and plugins into ${GLIMDECK_DEPLOY_DIR}"
                  VERBATIM)
add_dependencies(glimdeck_deploy glimdeck)
install(DIRECTORY "${GLIMDECK_DEPLOY_DIR}/" DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT client)
