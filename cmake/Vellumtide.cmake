# Shared CMake helpers of the Vellumtide tree.

# Adds each listed folder that holds a CMakeLists.txt.
function(vt_add_subdirectories)
    foreach(dir IN LISTS ARGN)
        if(EXISTS "${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt")
            add_subdirectory(${dir})
        endif()
    endforeach()
endfunction()

# vt_add_gtest(NAME name SOURCES ... LIBS ... [ENV var=value ...] [LABELS ...])
# A GoogleTest binary whose tests are registered one by one with CTest.
function(vt_add_gtest)
    cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;ENV;LABELS" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
    target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR})
    set(env QT_QPA_PLATFORM=offscreen ${T_ENV})
    set(properties ENVIRONMENT "${env}" TIMEOUT 300)
    if(T_LABELS)
        list(APPEND properties LABELS "${T_LABELS}")
    endif()
    gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST PROPERTIES ${properties})
endfunction()
