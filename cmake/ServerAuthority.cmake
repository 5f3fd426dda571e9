# SPDX-License-Identifier: GPL-3.0-or-later
# GLIMDECK_SERVER_CA: an optional PEM file of certificate authorities, trusted in addition to the
# system's for GLIMDECK_SERVER_HOST. It holds for the host it was given with: a configure for
# another host (a real server after the demo or the tests) starts from the system's authorities
# only, unless it names its own file. So the value given on the command line is kept beside its
# host and taken out of the cache, where a later configure would silently reuse it.
if(DEFINED CACHE{GLIMDECK_SERVER_CA})
    # Typing the entry turns a relative path into an absolute one, as for any FILEPATH setting.
    set(GLIMDECK_SERVER_CA "" CACHE FILEPATH "")
    set(server_ca "$CACHE{GLIMDECK_SERVER_CA}")
    unset(GLIMDECK_SERVER_CA CACHE)
elseif("${GLIMDECK_SERVER_CA_HOST}" STREQUAL "${GLIMDECK_SERVER_HOST}")
    set(server_ca "${GLIMDECK_SERVER_CA_KEPT}")
else()
    set(server_ca "")
    if(GLIMDECK_SERVER_CA_KEPT)
        message(STATUS "GLIMDECK_SERVER_CA was given for ${GLIMDECK_SERVER_CA_HOST}, not for "
                       "${GLIMDECK_SERVER_HOST}: this build trusts the system's authorities only")
    endif()
endif()
set(GLIMDECK_SERVER_CA_KEPT "${server_ca}" CACHE INTERNAL "Authority file given for GLIMDECK_SERVER_CA_HOST")
set(GLIMDECK_SERVER_CA_HOST "${GLIMDECK_SERVER_HOST}" CACHE INTERNAL "Host GLIMDECK_SERVER_CA_KEPT was given for")
set(GLIMDECK_SERVER_CA "${server_ca}")
if(server_ca)
    message(STATUS "Trusting the authorities of ${server_ca} for ${GLIMDECK_SERVER_HOST}")
endif()
