# Installs the "user" component of the build BUILD into a throw-away prefix below WORK and checks
# what a desktop reads of it: the desktop entry, the AppStream description and the icon in every
# hicolor size, each under the one id ID, the description's newest release being VERSION; then
# desktop-file-validate and `appstreamcli validate --pedantic --no-net` must pass without a single
# remark (skipped, with a message, when the tools are not installed).
# Run with: cmake -DBUILD=... -DWORK=... -DID=... -DVERSION=... -P <this file>
foreach(variable BUILD WORK ID VERSION)
    if(NOT ${variable})
        message(FATAL_ERROR "${variable} is not set")
    endif()
endforeach()

include(${CMAKE_CURRENT_LIST_DIR}/../Support/InstallUserComponent.cmake)
set(prefix "${WORK}/prefix")
vt_install_user_component("${BUILD}" "${WORK}" "${prefix}" "${WORK}/home")

set(desktopEntry "${prefix}/share/applications/${ID}.desktop")
set(metainfo "${prefix}/share/metainfo/${ID}.metainfo.xml")
set(icons "${prefix}/share/icons/hicolor")
foreach(file "${desktopEntry}" "${metainfo}" "${icons}/scalable/apps/${ID}.svg")
    if(NOT EXISTS "${file}")
        message(FATAL_ERROR "${file} was not installed")
    endif()
endforeach()

# Each PNG is a square of its folder's size (the width and height fields of the PNG header).
foreach(size 16 22 24 32 48 64 128 256)
    set(png "${icons}/${size}x${size}/apps/${ID}.png")
    if(NOT EXISTS "${png}")
        message(FATAL_ERROR "${png} was not installed")
    endif()
    file(READ "${png}" header LIMIT 24 HEX)
    string(SUBSTRING "${header}" 32 8 widthHex)
    string(SUBSTRING "${header}" 40 8 heightHex)
    math(EXPR width "0x${widthHex}")
    math(EXPR height "0x${heightHex}")
    if(NOT header MATCHES "^89504e470d0a1a0a" OR NOT width EQUAL size OR NOT height EQUAL size)
        message(FATAL_ERROR "${png} is not a ${size} x ${size} PNG (${width} x ${height})")
    endif()
endforeach()

file(READ "${desktopEntry}" entry)
if(NOT entry MATCHES "\nIcon=${ID}\n" OR NOT entry MATCHES "\nExec=${prefix}/bin/vellumtide-bridge %u\n")
    message(FATAL_ERROR "The desktop entry names another icon or program:\n${entry}")
endif()
file(READ "${metainfo}" description)
if(NOT description MATCHES "<id>${ID}</id>" OR NOT description MATCHES "desktop-id\">${ID}.desktop<")
    message(FATAL_ERROR "The AppStream description is not the desktop entry's:\n${description}")
endif()
if(NOT description MATCHES "<releases>[ \n]*<release version=\"${VERSION}\" date=\"[0-9-]+\"")
    message(FATAL_ERROR "The newest release of the AppStream description is not ${VERSION}:\n${description}")
endif()

find_program(DESKTOP_FILE_VALIDATE desktop-file-validate)
find_program(APPSTREAMCLI appstreamcli)
if(NOT DESKTOP_FILE_VALIDATE OR NOT APPSTREAMCLI)
    message(STATUS "SKIPPED: the validators are not installed (packages desktop-file-utils and appstream)")
    return()
endif()
execute_process(COMMAND "${DESKTOP_FILE_VALIDATE}" "${desktopEntry}"
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
if(NOT result EQUAL 0 OR output OR errors)
    message(FATAL_ERROR "desktop-file-validate does not pass the entry:\n${output}\n${errors}")
endif()
execute_process(COMMAND "${APPSTREAMCLI}" validate --pedantic --no-net "${metainfo}"
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
if(NOT result EQUAL 0 OR NOT output MATCHES "Validation was successful\\.")
    message(FATAL_ERROR "appstreamcli does not pass the description:\n${output}\n${errors}")
endif()
file(REMOVE_RECURSE "${WORK}")
message(STATUS "The desktop entry, icon and AppStream description install and validate")
