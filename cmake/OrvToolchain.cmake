# Compiler settings shared by every target: warnings as errors, sanitizers by preset, ccache.

find_program(ORV_CCACHE ccache)
if(ORV_CCACHE)
    set(CMAKE_C_COMPILER_LAUNCHER "${ORV_CCACHE}")
    set(CMAKE_CXX_COMPILER_LAUNCHER "${ORV_CCACHE}")
endif()

set(ORV_SANITIZE "" CACHE STRING "Sanitizers for the whole build (address;undefined or thread)")
option(ORV_LIBFUZZER "Build the fuzz targets as libFuzzer programs (clang only)" OFF)

add_compile_options(-Wall -Wextra -Werror -fno-omit-frame-pointer)

# Debug information stays whole but compressed, in objects and programs: uncompressed, one
# sanitizer build of the tree took close to 5 GB of disk, most of it in the test programs, and a
# build machine short of disk failed to link. gdb and the sanitizers' symbolizers read it as is.
add_compile_options(-gz)
add_link_options(-gz)

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
include(GoogleTest)
