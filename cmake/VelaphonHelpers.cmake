# Small helpers shared by every folder's build description.

# vp_add_library(NAME DIR [DEPS ...]): a static library from every .cpp in DIR (not below it).
function(vp_add_library name)
    cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# vp_add_gtest(NAME LABELS l1 [l2] SOURCES ... LIBS ...): a GoogleTest program whose cases are CTest tests.
function(vp_add_gtest name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "LABELS;SOURCES;LIBS" ${ARGN})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
    target_compile_definitions(${name} PRIVATE VP_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
                                               VP_BINARY_DIR="${PROJECT_BINARY_DIR}")
    # The generated test scripts cannot carry a list value: labels go on the folder, which ctest gives
    # to every test in it.
    set_property(DIRECTORY APPEND PROPERTY LABELS ${ARG_LABELS})
    gtest_discover_tests(${name}
        DISCOVERY_MODE PRE_TEST
        PROPERTIES TIMEOUT ${ARG_TIMEOUT}
        TEST_PREFIX "${name}.")
    # The discovered tests take only the first of several labels; give them all afterwards.
    list(LENGTH ARG_LABELS nlabels)
    if(nlabels GREATER 1)
        set(script "${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake")
        file(WRITE "${script}" "foreach(t IN LISTS ${name}_TESTS)\n"
                               "  set_tests_properties(\"\${t}\" PROPERTIES LABELS \"${ARG_LABELS}\")\n"
                               "endforeach()\n")
        set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${script}")
    endif()
endfunction()

# vp_add_fuzzer(NAME SOURCE LIBS ...): with VP_FUZZ a libFuzzer program; otherwise a program that
# replays the seed corpus tests/fuzz/corpus/NAME (and any file given) so every build checks the harness.
function(vp_add_fuzzer name source)
    cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
    if(VP_FUZZ)
        add_executable(${name} ${source})
        target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
        target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    else()
        add_executable(${name} ${source} ${PROJECT_SOURCE_DIR}/tests/fuzz/replay_main.cpp)
        set(corpus ${PROJECT_SOURCE_DIR}/tests/fuzz/corpus/${name})
        add_test(NAME fuzz_replay.${name} COMMAND ${name} ${corpus})
        set_tests_properties(fuzz_replay.${name} PROPERTIES LABELS "fuzz" TIMEOUT 300)
    endif()
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} Threads::Threads)
    set_property(GLOBAL APPEND PROPERTY VP_FUZZERS ${name})
endfunction()
