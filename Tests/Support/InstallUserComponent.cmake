# For the install checks run with `cmake -P`: installs the "user" component of the build BUILD
# into PREFIX with HOME as the home folder (both made afresh below WORK), failing the check when
# the install fails.
function(vt_install_user_component BUILD WORK PREFIX HOME)
    file(REMOVE_RECURSE "${WORK}")
    file(MAKE_DIRECTORY "${HOME}" "${PREFIX}")
    execute_process(
        COMMAND ${CMAKE_COMMAND} -E env --unset=DESTDIR "HOME=${HOME}"
                ${CMAKE_COMMAND} --install "${BUILD}" --component user --prefix "${PREFIX}"
        RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "The user install failed:\n${output}\n${errors}")
    endif()
endfunction()
