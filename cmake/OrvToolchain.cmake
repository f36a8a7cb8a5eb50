# Compiler settings shared by every target: warnings as errors, sanitizers by preset, ccache.

find_program(ORV_CCACHE ccache)
if(ORV_CCACHE)
    # The test programs' precompiled headers: ccache hashes a precompiled header by its contents,
    # but only caches compiles that use one when told the header's __DATE__/__TIME__ and its file
    # times do not matter (they are rebuilt whenever their inputs change).
    set(orv_ccache env CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
                   "${ORV_CCACHE}")
    set(CMAKE_C_COMPILER_LAUNCHER ${orv_ccache})
    set(CMAKE_CXX_COMPILER_LAUNCHER ${orv_ccache})
endif()

set(ORV_SANITIZE "" CACHE STRING "Sanitizers for the whole build (address;undefined or thread)")
option(ORV_LIBFUZZER "Build the fuzz targets as libFuzzer programs (clang only)" OFF)

add_compile_options(-Wall -Wextra -Werror -fno-omit-frame-pointer)

# How much debug information: "full" (-g, for gdb), "lines" (-g1: functions, files and lines,
# inlined frames included, all a sanitizer report or a crash's stack needs, at a third of the
# compile and link work of -g for the tests) or "none". Empty keeps the build type's own.
set(ORV_DEBUG_INFO "" CACHE STRING "Debug information: full, lines, none or empty (the build type's)")
if(ORV_DEBUG_INFO STREQUAL "full")
    add_compile_options(-g)
elseif(ORV_DEBUG_INFO STREQUAL "lines")
    add_compile_options(-g1)
elseif(ORV_DEBUG_INFO STREQUAL "none")
    add_compile_options(-g0)
elseif(NOT ORV_DEBUG_INFO STREQUAL "")
    message(FATAL_ERROR "ORV_DEBUG_INFO is full, lines, none or empty, not '${ORV_DEBUG_INFO}'")
endif()

# Whole debug information is compressed, in objects and programs: uncompressed, one sanitizer
# build of the tree took close to 5 GB of disk, most of it in the test programs, and a build
# machine short of disk failed to link. gdb and the sanitizers' symbolizers read it as is. Line
# tables are small enough as they are; compressing them would only cost every compile and link.
if(ORV_DEBUG_INFO STREQUAL "full"
   OR (ORV_DEBUG_INFO STREQUAL "" AND CMAKE_BUILD_TYPE MATCHES "^(Debug|RelWithDebInfo)$"))
    add_compile_options(-gz)
    add_link_options(-gz)
endif()

# lld links the test programs several times faster than the default linker, which read through
# each one's debug information alone; without it the default linker does the same work slower.
find_program(ORV_LLD ld.lld)
if(ORV_LLD)
    add_link_options(-fuse-ld=lld)
endif()

if(ORV_SANITIZE)
    list(JOIN ORV_SANITIZE "," orv_sanitizers)
    add_compile_options(-fsanitize=${orv_sanitizers})
    add_link_options(-fsanitize=${orv_sanitizers})
    if("undefined" IN_LIST ORV_SANITIZE)
        # A sanitizer report must fail the test that caused it, not scroll past.
        add_compile_options(-fno-sanitize-recover=undefined)
    endif()
endif()

if(ORV_LIBFUZZER)
    # Coverage for every library the targets call into, not just the targets' own files: without
    # it libFuzzer sees no new paths in the code under test.
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()

find_package(Threads REQUIRED)
find_package(GTest REQUIRED)
find_package(benchmark QUIET)
