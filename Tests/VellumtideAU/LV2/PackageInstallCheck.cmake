# A packager's install of the build BUILD: `cmake --install --prefix /usr` into a DESTDIR below WORK,
# with a throw-away HOME. The LV2 bundle must land under the prefix's <libdir>/lv2 (nothing in
# HOME), beside the prefix's bin holding the program the window starts, and an LV2 host tool must
# find the plug-in there. Run with: cmake -DBUILD=... -DWORK=... -DURI=... -P <this file>
foreach(variable BUILD WORK URI)
    if(NOT ${variable})
        message(FATAL_ERROR "${variable} is not set")
    endif()
endforeach()

set(home "${WORK}/home")
set(stage "${WORK}/stage")
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${home}" "${stage}")
execute_process(
    COMMAND ${CMAKE_COMMAND} -E env "DESTDIR=${stage}" "HOME=${home}"
            ${CMAKE_COMMAND} --install "${BUILD}" --prefix /usr
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "The install failed:\n${output}\n${errors}")
endif()

file(GLOB homeFiles "${home}/*" "${home}/.*")
if(homeFiles)
    message(FATAL_ERROR "The install wrote into HOME: ${homeFiles}")
endif()
file(GLOB bundles LIST_DIRECTORIES true "${stage}/usr/lib/lv2/vellumtide.lv2" "${stage}/usr/lib*/*/lv2/vellumtide.lv2"
     "${stage}/usr/lib*/lv2/vellumtide.lv2")
list(REMOVE_DUPLICATES bundles)
list(LENGTH bundles count)
if(NOT count EQUAL 1)
    message(FATAL_ERROR "Not one bundle under the prefix's library folder: ${bundles}")
endif()
foreach(name manifest.ttl vellumtide.ttl vellumtide_ui.ttl vellumtide_dsp.so vellumtide_ui.so)
    if(NOT EXISTS "${bundles}/${name}")
        message(FATAL_ERROR "${bundles}/${name} was not installed")
    endif()
endforeach()
if(NOT EXISTS "${stage}/usr/bin/vellumtide-bridge")
    message(FATAL_ERROR "The program is not in the prefix's bin, where the window looks for it")
endif()

get_filename_component(lv2Folder "${bundles}" DIRECTORY)
execute_process(COMMAND ${CMAKE_COMMAND} -E env "LV2_PATH=${lv2Folder}" lv2ls
    RESULT_VARIABLE result OUTPUT_VARIABLE listed ERROR_VARIABLE errors)
if(NOT result EQUAL 0 OR NOT listed MATCHES "${URI}")
    message(FATAL_ERROR "lv2ls does not list the installed plug-in:\n${listed}\n${errors}")
endif()
file(REMOVE_RECURSE "${WORK}")
message(STATUS "The bundle installs under the prefix's library folder")
