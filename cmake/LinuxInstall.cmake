# SPDX-License-Identifier: GPL-3.0-or-later
# The files a Linux desktop and a Debian system expect beside the two programs. Manual pages
# and changelogs are compressed here, at configure time, with gzip -9n: the same bytes on every
# build, as Debian wants.
find_program(GZIP_EXECUTABLE gzip REQUIRED)
set(packaging_dir "${PROJECT_SOURCE_DIR}/packaging")
set(generated_dir "${PROJECT_BINARY_DIR}/packaging")

# glimdeck_gzip(SOURCE OUTPUT): configures SOURCE (@VAR@ only) and compresses it into OUTPUT.
function(glimdeck_gzip source output)
    configure_file("${source}" "${output}.plain" @ONLY)
    execute_process(COMMAND "${GZIP_EXECUTABLE}" -9nc "${output}.plain" OUTPUT_FILE "${output}"
                    RESULT_VARIABLE gzip_result)
    if(NOT gzip_result EQUAL 0)
        message(FATAL_ERROR "gzip failed on ${source}: ${gzip_result}")
    endif()
endfunction()

glimdeck_gzip("${packaging_dir}/glimdeck.1.in" "${generated_dir}/glimdeck.1.gz")
glimdeck_gzip("${packaging_dir}/glimdeck-server.1.in" "${generated_dir}/glimdeck-server.1.gz")
foreach(component client server)
    if(component STREQUAL "client")
        set(PACKAGE glimdeck)
    else()
        set(PACKAGE glimdeck-server)
    endif()
    glimdeck_gzip("${packaging_dir}/changelog.in" "${generated_dir}/${PACKAGE}/changelog.gz")
    install(FILES "${generated_dir}/${PACKAGE}/changelog.gz" "${packaging_dir}/copyright"
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${PACKAGE} COMPONENT ${component})
endforeach()

install(FILES data/glimdeck.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT client)
install(FILES data/glimdeck.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps COMPONENT client)
install(FILES data/${GLIMDECK_APPSTREAM_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
        COMPONENT client)
install(FILES "${generated_dir}/glimdeck.1.gz" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT client)
install(FILES "${generated_dir}/glimdeck-server.1.gz" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT server)

# The unit names the server by its installed path, which is known only when installing (CPack
# installs under /usr, a plain install under its --prefix).
install(CODE "
    set(bindir \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    configure_file(\"${packaging_dir}/glimdeck-server.service.in\"
                   \"${generated_dir}/glimdeck-server.service\" @ONLY)
" COMPONENT server)
install(FILES "${generated_dir}/glimdeck-server.service" DESTINATION lib/systemd/system COMPONENT server)
