# Helpers that give every component, test, fuzz target and benchmark the same shape.

# Threading tests are also built and run under ThreadSanitizer; this target builds just those.
add_custom_target(orv_threads_tests)

# orv_add_library(NAME SOURCES ... [DEPS ...] [INCLUDE_ROOT dir])
# One static library per component folder. INCLUDE_ROOT is the folder that includes are written
# against (for the framework: Device/OrvFramework, so "ObjectBase/RCPtr.h").
function(orv_add_library name)
    cmake_parse_arguments(ARG "" "INCLUDE_ROOT" "SOURCES;DEPS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    if(ARG_INCLUDE_ROOT)
        target_include_directories(${name} PUBLIC "${ARG_INCLUDE_ROOT}")
    endif()
    if(ARG_DEPS)
        target_link_libraries(${name} PUBLIC ${ARG_DEPS})
    endif()
endfunction()

# orv_add_test(NAME SOURCES ... LIBS ... LABELS ...)
# A GoogleTest program; every test it holds carries the given CTest labels.
function(orv_add_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
    if(NOT ARG_LABELS)
        message(FATAL_ERROR "orv_add_test(${name}): every test names its component in LABELS")
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest GTest::gtest_main
                                          Threads::Threads)
    gtest_discover_tests(${name}
        DISCOVERY_MODE PRE_TEST
        PROPERTIES LABELS "${ARG_LABELS}")
    # Discovery keeps only the first of several labels; give every discovered test all of them.
    set(label_script "${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake")
    file(WRITE "${label_script}"
        "foreach(test IN LISTS ${name}_TESTS)\n"
        "    set_tests_properties(\"\${test}\" PROPERTIES LABELS \"${ARG_LABELS}\")\n"
        "endforeach()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${label_script}")
    if("threads" IN_LIST ARG_LABELS)
        add_dependencies(orv_threads_tests ${name})
    endif()
endfunction()

# orv_add_fuzz_target(NAME SOURCES ... LIBS ... LABELS ...)
# With ORV_LIBFUZZER a libFuzzer program; otherwise a plain program that replays the seed corpus
# in fuzz/corpus/NAME, registered as a test so every CI run exercises the target.
function(orv_add_fuzz_target name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
    set(corpus "${CMAKE_SOURCE_DIR}/fuzz/corpus/${name}")
    if(ORV_LIBFUZZER)
        target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
        target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    else()
        target_link_libraries(${name} PRIVATE orv_fuzz_replay)
        add_test(NAME fuzz.${name} COMMAND ${name} "${corpus}")
        set_tests_properties(fuzz.${name} PROPERTIES LABELS "fuzz;${ARG_LABELS}")
    endif()
endfunction()

# orv_add_benchmark(NAME SOURCES ... LIBS ...)
# Google Benchmark programs; built in every preset so they keep compiling, run by hand in release.
function(orv_add_benchmark name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    if(NOT benchmark_FOUND)
        return()
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark Threads::Threads)
endfunction()
