# Compiler settings shared by every target: warnings as errors, sanitizers by preset, ccache.

find_program(ORV_CCACHE ccache)
if(ORV_CCACHE)
    set(CMAKE_C_COMPILER_LAUNCHER "${ORV_CCACHE}")
    set(CMAKE_CXX_COMPILER_LAUNCHER "${ORV_CCACHE}")
endif()

set(ORV_SANITIZE "" CACHE STRING "Sanitizers for the whole build (address;undefined or thread)")
option(ORV_LIBFUZZER "Build the fuzz targets as libFuzzer programs (clang only)" OFF)
if(ORV_LIBFUZZER)
    # Every library reports its coverage to the fuzzer, not only the target's own source.
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()

add_compile_options(-Wall -Wextra -Werror -fno-omit-frame-pointer)

if(ORV_SANITIZE)
    list(JOIN ORV_SANITIZE "," orv_sanitizers)
    add_compile_options(-fsanitize=${orv_sanitizers})
    add_link_options(-fsanitize=${orv_sanitizers})
    if("undefined" IN_LIST ORV_SANITIZE)
        # A sanitizer report must fail the test that caused it, not scroll past.
        add_compile_options(-fno-sanitize-recover=undefined)
    endif()
endif()

find_package(Threads REQUIRED)
find_package(GTest REQUIRED)
find_package(benchmark QUIET)
include(GoogleTest)
