# Installs the "user" component of the build BUILD with a throw-away HOME and prefix below WORK,
# then checks that the LV2 bundle landed in HOME/.lv2 (not under the prefix) and that an LV2 host
# tool finds the plug-in there. Run with: cmake -DBUILD=... -DWORK=... -DURI=... -P <this file>
foreach(variable BUILD WORK URI)
    if(NOT ${variable})
        message(FATAL_ERROR "${variable} is not set")
    endif()
endforeach()

set(home "${WORK}/home")
set(prefix "${WORK}/prefix")
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${home}" "${prefix}")

execute_process(
    COMMAND ${CMAKE_COMMAND} -E env --unset=DESTDIR "HOME=${home}"
            ${CMAKE_COMMAND} --install "${BUILD}" --component user --prefix "${prefix}"
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "The user install failed:\n${output}\n${errors}")
endif()

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
