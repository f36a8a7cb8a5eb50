# Helpers that give every component, test, fuzz target and benchmark the same shape.

# Threading tests are also built and run under ThreadSanitizer; this target builds just those.
add_custom_target(orv_threads_tests)
# Every fuzz target; what the fuzz preset builds.
add_custom_target(orv_fuzz_targets)

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

# orv_add_test_api(NAME LIBRARY lib INCLUDE_DIR dir [DEPS ...])
# A layer's test and host interface: its own include folder, exported by an interface target that
# tests, fuzz targets, benchmarks and hosts link and the driver's libraries don't, so driver code
# that reaches for it fails to compile. The layer's own sources see the folder privately. Test
# programs, fuzz targets and benchmarks get the interface of every layer they link, through
# orv_link_test_apis.
function(orv_add_test_api name)
    cmake_parse_arguments(ARG "" "LIBRARY;INCLUDE_DIR" "DEPS" ${ARGN})
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE "${ARG_INCLUDE_DIR}")
    target_link_libraries(${name} INTERFACE ${ARG_LIBRARY} ${ARG_DEPS})
    target_include_directories(${ARG_LIBRARY} PRIVATE "${ARG_INCLUDE_DIR}")
    set_property(GLOBAL APPEND PROPERTY ORV_TEST_APIS "${ARG_LIBRARY}=${name}")
endfunction()

# The targets `target` links, directly or through other targets.
function(orv_linked_targets target out)
    set(seen "")
    get_target_property(pending ${target} LINK_LIBRARIES)
    while(pending)
        list(POP_FRONT pending item)
        string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" item "${item}")
        if(item MATCHES "^\\$<" OR NOT TARGET "${item}" OR item IN_LIST seen)
            continue()
        endif()
        list(APPEND seen "${item}")
        get_target_property(next ${item} INTERFACE_LINK_LIBRARIES)
        if(next)
            list(APPEND pending ${next})
        endif()
    endwhile()
    set(${out} "${seen}" PARENT_SCOPE)
endfunction()

# Links `target` to the test interface of every layer it links. Deferred to the end of the
# folder's CMakeLists.txt, so libraries linked after orv_add_test are counted too.
function(orv_link_test_apis target)
    orv_linked_targets(${target} linked)
    get_property(apis GLOBAL PROPERTY ORV_TEST_APIS)
    foreach(pair IN LISTS apis)
        string(REPLACE "=" ";" pair "${pair}")
        list(GET pair 0 library)
        list(GET pair 1 api)
        if(library IN_LIST linked)
            target_link_libraries(${target} PRIVATE ${api})
        endif()
    endforeach()
endfunction()

# A deferred call evaluates its arguments when it runs; the name is fixed now.
function(orv_defer_test_apis target)
    cmake_language(EVAL CODE "cmake_language(DEFER CALL orv_link_test_apis [[${target}]])")
endfunction()

# orv_add_test(NAME SOURCES ... LIBS ... LABELS ... [SHARDS N])
# A GoogleTest program, run by CTest as one test that carries the given labels. One process per
# program, not per test case: a sanitized process takes 0.2 to 0.4 s to start and to check for
# leaks at exit, which over some two thousand cases was half of the test step on two cores. A
# failing run prints GoogleTest's report, which names the failed cases; run one case with the
# program and --gtest_filter. SHARDS splits a long program into N CTest tests (NAME/1 ... NAME/N)
# through GoogleTest's sharding, so that parallel runs spread it.
function(orv_add_test name)
    cmake_parse_arguments(ARG "" "SHARDS" "SOURCES;LIBS;LABELS" ${ARGN})
    if(NOT ARG_LABELS)
        message(FATAL_ERROR "orv_add_test(${name}): every test names its component in LABELS")
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest GTest::gtest_main
                                          Threads::Threads)
    orv_defer_test_apis(${name})
    if(ARG_SHARDS)
        math(EXPR last "${ARG_SHARDS} - 1")
        foreach(index RANGE ${last})
            math(EXPR number "${index} + 1")
            add_test(NAME ${name}/${number} COMMAND ${name})
            set_tests_properties(${name}/${number} PROPERTIES
                LABELS "${ARG_LABELS}"
                ENVIRONMENT "GTEST_TOTAL_SHARDS=${ARG_SHARDS};GTEST_SHARD_INDEX=${index}")
        endforeach()
    else()
        add_test(NAME ${name} COMMAND ${name})
        set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
    endif()
    if("threads" IN_LIST ARG_LABELS)
        add_dependencies(orv_threads_tests ${name})
    endif()
    set_property(GLOBAL APPEND PROPERTY ORV_TEST_PROGRAMS ${name})
endfunction()

# What decides how a test program's sources compile, beyond include folders: its own options and
# definitions and those of everything it links.
function(orv_compile_signature target out)
    set(signature "")
    foreach(property COMPILE_OPTIONS COMPILE_DEFINITIONS COMPILE_FEATURES)
        get_target_property(values ${target} ${property})
        string(APPEND signature "${property}=${values};")
    endforeach()
    orv_linked_targets(${target} linked)
    list(SORT linked)
    foreach(item IN LISTS linked)
        foreach(property INTERFACE_COMPILE_OPTIONS INTERFACE_COMPILE_DEFINITIONS
                         INTERFACE_COMPILE_FEATURES)
            get_target_property(values ${item} ${property})
            if(values)
                string(APPEND signature "${item}.${property}=${values};")
            endif()
        endforeach()
    endforeach()
    set(${out} "${signature}" PARENT_SCOPE)
endfunction()

# The headers every test source parses first: GoogleTest, GoogleMock and the standard headers the
# tests use most. Parsing them was about two thirds of a test source's compile; precompiled, they
# are read once per group of programs that compile alike. Under clang only, which loads what a
# source uses from the header (a third of the CPU time of the same compiles without it).
set(ORV_TEST_PRECOMPILED_HEADERS
    <gtest/gtest.h> <gmock/gmock.h>
    <algorithm> <array> <atomic> <chrono> <cstdint> <cstring> <filesystem> <fstream> <functional>
    <future> <map> <memory> <mutex> <optional> <random> <set> <sstream> <string> <thread>
    <vector>)

# Precompiles the test headers for `program`, or, given an owner whose compile signature is the
# same, reuses the owner's. A precompiled header built with other options is refused by the
# compiler (gcc silently, but CMake passes -Winvalid-pch, so with -Werror it fails the build rather
# than making it slow).
function(orv_precompile_test_headers program owner)
    if(owner)
        target_precompile_headers(${program} REUSE_FROM ${owner})
    else()
        target_precompile_headers(${program} PRIVATE ${ORV_TEST_PRECOMPILED_HEADERS})
    endif()
endfunction()

# The precompiled test headers of every program that compiles as `program` does, in an object
# library of their own: a program that reused them from another program would wait for that
# program's whole build, and the ThreadSanitizer build would build programs it does not run.
function(orv_add_test_pch name program)
    set(source "${CMAKE_BINARY_DIR}/orv_test_pch.cpp")
    if(NOT EXISTS "${source}")
        file(WRITE "${source}" "// Compiled only for the precompiled test headers it carries.\n")
    endif()
    add_library(${name} OBJECT "${source}")
    foreach(property COMPILE_OPTIONS COMPILE_DEFINITIONS COMPILE_FEATURES)
        get_target_property(values ${program} ${property})
        if(values)
            set_property(TARGET ${name} PROPERTY ${property} "${values}")
        endif()
    endforeach()
    get_target_property(libraries ${program} LINK_LIBRARIES)
    foreach(library IN LISTS libraries)
        if(TARGET "${library}")
            target_link_libraries(${name} PRIVATE ${library})
        endif()
    endforeach()
    orv_precompile_test_headers(${name} "")
    if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        # Without the headers' times in it, ccache can cache the compiles that use it.
        target_compile_options(${name} PRIVATE -Xclang -fno-pch-timestamp)
    endif()
endfunction()

# A fixture or stand-in source that several test programs list would be compiled once for each of
# them; this compiles it once, into an object library, for every program whose options and
# definitions (its own and its libraries') are the same, and links the objects in its place. The
# object library takes the first program's include folders and libraries, so it compiles exactly
# as it did there. Sources with options of their own in a program's folder stay where they are.
# Runs once every folder has defined its programs.
function(orv_share_test_sources)
    get_property(programs GLOBAL PROPERTY ORV_TEST_PROGRAMS)
    set(keys "")
    foreach(program IN LISTS programs)
        get_target_property(folder ${program} SOURCE_DIR)
        get_target_property(sources ${program} SOURCES)
        orv_compile_signature(${program} signature)
        string(MD5 pch_key "${signature}")
        if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
            # gcc reads its whole precompiled header (over 100 MB under the sanitizers) into every
            # compile: a cold dev build of the tests took 2455 CPU-s with it, 1621 without.
        elseif(NOT DEFINED pch_owner_${pch_key})
            string(SUBSTRING "${pch_key}" 0 8 short)
            set(pch_owner_${pch_key} orv_test_pch_${short})
            orv_add_test_pch(orv_test_pch_${short} ${program})
        endif()
        if(DEFINED pch_owner_${pch_key})
            set(pch_of_${program} ${pch_owner_${pch_key}})
            orv_precompile_test_headers(${program} ${pch_of_${program}})
        endif()
        foreach(source IN LISTS sources)
            if(source MATCHES "\\$<" OR NOT source MATCHES "\\.(c|cc|cpp|cxx)$")
                continue()
            endif()
            cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY "${folder}" NORMALIZE
                       OUTPUT_VARIABLE path)
            cmake_path(IS_PREFIX CMAKE_BINARY_DIR "${path}" generated)
            if(generated OR NOT EXISTS "${path}")
                continue()
            endif()
            set(own "")
            foreach(property COMPILE_OPTIONS COMPILE_DEFINITIONS COMPILE_FLAGS
                             INCLUDE_DIRECTORIES)
                get_source_file_property(value "${path}" TARGET_DIRECTORY ${program} ${property})
                if(value)
                    set(own TRUE)
                endif()
            endforeach()
            if(own)
                # Its own options or definitions may not match the program's precompiled headers.
                set_source_files_properties("${path}" TARGET_DIRECTORY ${program}
                                            PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
                continue()
            endif()
            string(MD5 key "${path}|${signature}")
            if(NOT DEFINED users_${key})
                list(APPEND keys ${key})
                set(path_${key} "${path}")
            endif()
            list(APPEND users_${key} ${program})
        endforeach()
    endforeach()

    foreach(key IN LISTS keys)
        list(LENGTH users_${key} count)
        if(count LESS 2)
            continue()
        endif()
        set(path "${path_${key}}")
        list(GET users_${key} 0 first)
        cmake_path(GET path STEM stem)
        string(SUBSTRING "${key}" 0 8 short)
        set(objects "orv_shared_${stem}_${short}")
        add_library(${objects} OBJECT "${path}")
        if(DEFINED pch_of_${first})
            orv_precompile_test_headers(${objects} ${pch_of_${first}})
        endif()
        foreach(property INCLUDE_DIRECTORIES COMPILE_OPTIONS COMPILE_DEFINITIONS COMPILE_FEATURES)
            get_target_property(values ${first} ${property})
            if(values)
                set_property(TARGET ${objects} PROPERTY ${property} "${values}")
            else()
                set_property(TARGET ${objects} PROPERTY ${property} "")
            endif()
        endforeach()
        # The libraries give their include folders and usage requirements, and order the build
        # after anything they generate.
        get_target_property(libraries ${first} LINK_LIBRARIES)
        foreach(library IN LISTS libraries)
            if(TARGET "${library}")
                target_link_libraries(${objects} PRIVATE ${library})
            endif()
        endforeach()
        foreach(program IN LISTS users_${key})
            get_target_property(folder ${program} SOURCE_DIR)
            get_target_property(sources ${program} SOURCES)
            set(kept "")
            foreach(source IN LISTS sources)
                set(resolved "")
                if(NOT source MATCHES "\\$<")
                    cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY "${folder}" NORMALIZE
                               OUTPUT_VARIABLE resolved)
                endif()
                if(NOT resolved STREQUAL path)
                    list(APPEND kept "${source}")
                endif()
            endforeach()
            set_property(TARGET ${program} PROPERTY SOURCES "${kept}")
            target_sources(${program} PRIVATE $<TARGET_OBJECTS:${objects}>)
        endforeach()
    endforeach()
endfunction()

cmake_language(DEFER DIRECTORY "${CMAKE_SOURCE_DIR}" CALL orv_share_test_sources)

# orv_add_fuzz_target(NAME SOURCES ... LIBS ... LABELS ...)
# With ORV_LIBFUZZER a libFuzzer program; otherwise a plain program that replays the seed corpus
# in fuzz/corpus/NAME, registered as a test so every CI run exercises the target.
function(orv_add_fuzz_target name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
    add_dependencies(orv_fuzz_targets ${name})
    orv_defer_test_apis(${name})
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
    orv_defer_test_apis(${name})
endfunction()
