# A packager's install of the build BUILD: `cmake --install --prefix <prefix>` into a DESTDIR below WORK,
# with a throw-away HOME, for the prefix /usr and for one elsewhere (the build was configured for
# neither). Every file lands exactly once below DESTDIR<prefix>, at the GNU install folders: the LV2
# bundle in the prefix's library folder (USR_LIBDIR for /usr, OTHER_LIBDIR elsewhere), beside the
# prefix's bin holding the program the window starts and the desktop entry names; nothing in HOME; and
# an LV2 host tool finds the plug-in there.
# Run with: cmake -DBUILD=... -DWORK=... -DURI=... -DID=... -DUSR_LIBDIR=... -DOTHER_LIBDIR=... -P <this file>
foreach(variable BUILD WORK URI ID USR_LIBDIR OTHER_LIBDIR)
    if(NOT ${variable})
        message(FATAL_ERROR "${variable} is not set")
    endif()
endforeach()

function(check_install prefix libFolder)
    set(home "${WORK}/home")
    set(stage "${WORK}/stage")
    file(REMOVE_RECURSE "${WORK}")
    file(MAKE_DIRECTORY "${home}" "${stage}")
    execute_process(
        COMMAND ${CMAKE_COMMAND} -E env "DESTDIR=${stage}" "HOME=${home}"
                ${CMAKE_COMMAND} --install "${BUILD}" --prefix "${prefix}"
        RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "The install into ${prefix} failed:\n${output}\n${errors}")
    endif()

    # What the install says it wrote: all of it below DESTDIR<prefix>, none of it anywhere else
    # (such as the machine's own prefix, which the file list below the stage cannot show).
    string(REGEX MATCHALL "-- (Installing|Up-to-date): [^\n]*" reported "${output}")
    set(reportedFiles "")
    foreach(line IN LISTS reported)
        string(REGEX REPLACE "^-- [^:]*: " "" path "${line}")
        string(FIND "${path}" "${stage}${prefix}/" at)
        if(NOT at EQUAL 0)
            message(FATAL_ERROR "The install into ${prefix} wrote ${path}, outside ${stage}${prefix}")
        endif()
        if(NOT IS_DIRECTORY "${path}")
            list(APPEND reportedFiles "${path}")
        endif()
    endforeach()
    list(LENGTH reportedFiles reportedCount)

    file(GLOB homeFiles "${home}/*" "${home}/.*")
    if(homeFiles)
        message(FATAL_ERROR "The install wrote into HOME: ${homeFiles}")
    endif()
    set(bundle "${libFolder}/lv2/vellumtide.lv2")
    set(expected bin/vellumtide-bridge share/applications/${ID}.desktop share/metainfo/${ID}.metainfo.xml
        share/icons/hicolor/scalable/apps/${ID}.svg)
    foreach(size 16 22 24 32 48 64 128 256)
        list(APPEND expected share/icons/hicolor/${size}x${size}/apps/${ID}.png)
    endforeach()
    foreach(name manifest.ttl vellumtide.ttl vellumtide_ui.ttl vellumtide_dsp.so vellumtide_ui.so)
        list(APPEND expected ${bundle}/${name})
    endforeach()
    list(TRANSFORM expected PREPEND "${prefix}/")
    string(REGEX REPLACE "^/" "" expected "${expected}")
    string(REPLACE ";/" ";" expected "${expected}")
    list(SORT expected)
    file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE "${stage}" "${stage}/*")
    list(SORT installed)
    if(NOT installed STREQUAL expected)
        string(REPLACE ";" "\n  " installed "${installed}")
        string(REPLACE ";" "\n  " expected "${expected}")
        message(FATAL_ERROR "The install into ${prefix} gave\n  ${installed}\ninstead of\n  ${expected}")
    endif()
    list(LENGTH expected expectedCount)
    if(NOT reportedCount EQUAL expectedCount)
        message(FATAL_ERROR "The install into ${prefix} wrote files ${reportedCount} times for ${expectedCount} files:\n${output}")
    endif()

    file(READ "${stage}${prefix}/share/applications/${ID}.desktop" entry)
    if(NOT entry MATCHES "\nExec=${prefix}/bin/vellumtide-bridge %u\n")
        message(FATAL_ERROR "The desktop entry does not name the installed program:\n${entry}")
    endif()
    execute_process(COMMAND ${CMAKE_COMMAND} -E env "LV2_PATH=${stage}${prefix}/${libFolder}/lv2" lv2ls
        RESULT_VARIABLE result OUTPUT_VARIABLE listed ERROR_VARIABLE errors)
    if(NOT result EQUAL 0 OR NOT listed MATCHES "${URI}")
        message(FATAL_ERROR "lv2ls does not list the plug-in installed into ${prefix}:\n${listed}\n${errors}")
    endif()
    file(REMOVE_RECURSE "${WORK}")
endfunction()

check_install(/usr "${USR_LIBDIR}")
check_install(/opt/vellumtide "${OTHER_LIBDIR}")
message(STATUS "Every file installs once under the prefix, the bundle in the prefix's library folder")
