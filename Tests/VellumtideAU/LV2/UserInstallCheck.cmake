# Installs the "user" component of the build BUILD with a throw-away HOME and prefix below WORK,
# then checks that the LV2 bundle landed in HOME/.lv2 (not under the prefix) and that an LV2 host
# tool finds the plug-in there. Run with: cmake -DBUILD=... -DWORK=... -DURI=... -P <this file>
foreach(variable BUILD WORK URI)
    if(NOT ${variable})
        message(FATAL_ERROR "${variable} is not set")
    endif()
endforeach()

include(${CMAKE_CURRENT_LIST_DIR}/../../Support/InstallUserComponent.cmake)
set(home "${WORK}/home")
set(prefix "${WORK}/prefix")
vt_install_user_component("${BUILD}" "${WORK}" "${prefix}" "${home}")

set(bundle "${home}/.lv2/vellumtide.lv2")
foreach(name manifest.ttl vellumtide.ttl vellumtide_dsp.so)
    if(NOT EXISTS "${bundle}/${name}")
        message(FATAL_ERROR "${bundle}/${name} was not installed")
    endif()
endforeach()
file(GLOB_RECURSE strays "${prefix}/*.lv2/*")
if(strays)
    message(FATAL_ERROR "Bundle files went under the prefix: ${strays}")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -E env "LV2_PATH=${home}/.lv2" lv2ls
    RESULT_VARIABLE result OUTPUT_VARIABLE listed ERROR_VARIABLE errors)
if(NOT result EQUAL 0 OR NOT listed MATCHES "${URI}")
    message(FATAL_ERROR "lv2ls does not list the installed plug-in:\n${listed}\n${errors}")
endif()
file(REMOVE_RECURSE "${WORK}")
message(STATUS "The bundle installs into HOME/.lv2")
