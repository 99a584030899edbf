# Shared CMake helpers of the Vellumtide tree.

# Adds each listed folder that holds a CMakeLists.txt.
function(vt_add_subdirectories)
    foreach(dir IN LISTS ARGN)
        if(EXISTS "${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt")
            add_subdirectory(${dir})
        endif()
    endforeach()
endfunction()

# vt_add_gtest(NAME name SOURCES ... LIBS ... [ENV var=value ...] [LABELS ...] [WIDGETS] [MAIN target])
# A GoogleTest binary whose tests are registered one by one with CTest; those labelled "sound"
# run one at a time, and so do those labelled "dragdrop" or "x11input" (real pointer and keys). WIDGETS gives it a main() that runs the
# tests inside an offscreen QApplication with the bundled fonts; MAIN names another library
# that holds its main().
function(vt_add_gtest)
    cmake_parse_arguments(T "WIDGETS" "NAME;MAIN" "SOURCES;LIBS;ENV;LABELS" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    if(T_MAIN)
        set(testMain ${T_MAIN})
    elseif(T_WIDGETS)
        set(testMain VtWidgetTestMain)
    else()
        set(testMain GTest::gtest_main)
    endif()
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock ${testMain})
    target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR})
    set(env QT_QPA_PLATFORM=offscreen ${T_ENV})
    # One property value however many variables: its separators escaped deeply enough to survive
    # the test discovery's passes over it, or the discovered tests' properties shift out of step.
    string(REPLACE ";" "\\\\\\\\\\\\\\\\;" env "${env}")
    set(properties ENVIRONMENT "${env}" TIMEOUT 300)
    if(T_LABELS)
        list(APPEND properties LABELS "${T_LABELS}")
    endif()
    # Tests that play into the one test sink and record its monitor must not overlap.
    if("sound" IN_LIST T_LABELS)
        list(APPEND properties RESOURCE_LOCK vellumtide-test-sink)
    endif()
    # Tests that move the one pointer or press real keys on the test X server must not overlap;
    # the drags also time the host's loop, so they run with nothing else beside them.
    if("dragdrop" IN_LIST T_LABELS OR "x11input" IN_LIST T_LABELS)
        list(APPEND properties RESOURCE_LOCK vellumtide-test-pointer)
    endif()
    if("dragdrop" IN_LIST T_LABELS)
        list(APPEND properties RUN_SERIAL TRUE)
    endif()
    gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST PROPERTIES ${properties})
endfunction()
