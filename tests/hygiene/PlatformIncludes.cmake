# cmake -DROOT=<tree> -P PlatformIncludes.cmake
#
# The platform layers are the bottom of the tree: the driver, the panel and the host are built on
# them, never the other way round. Fails, naming each one, when a file under platform/ includes a
# header that only driver/, Device/ or host/ has. An include is read as the compiler would find
# it: beside the including file first, then under any platform include folder, so a platform
# header that shares its name with one above (win32/DebugOutput.h) is not mistaken for it.
cmake_minimum_required(VERSION 3.25)

if(NOT DEFINED ROOT)
    message(FATAL_ERROR "usage: cmake -DROOT=<source tree> -P PlatformIncludes.cmake")
endif()

set(source_globs "")
foreach(extension h hpp hh inl c cc cpp)
    list(APPEND source_globs "*.${extension}")
endforeach()

function(collect_headers out)
    set(globs "")
    foreach(folder IN LISTS ARGN)
        foreach(extension h hpp hh inl)
            list(APPEND globs "${ROOT}/${folder}/*.${extension}")
        endforeach()
    endforeach()
    file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${ROOT}" ${globs})
    # "|/a/b.h|/c/d.h|": an include path x is there when "/x|" is found.
    list(JOIN files "|/" joined)
    set(${out} "|/${joined}|" PARENT_SCOPE)
endfunction()

collect_headers(upper driver Device host)
collect_headers(lower platform)

set(platform_globs "")
foreach(pattern IN LISTS source_globs)
    list(APPEND platform_globs "${ROOT}/platform/${pattern}")
endforeach()
file(GLOB_RECURSE platform_files LIST_DIRECTORIES false RELATIVE "${ROOT}" ${platform_globs})
list(LENGTH platform_files platform_count)
if(platform_count EQUAL 0)
    message(FATAL_ERROR "no files under ${ROOT}/platform")
endif()

set(violations 0)
foreach(file IN LISTS platform_files)
    file(STRINGS "${ROOT}/${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
    get_filename_component(folder "${file}" DIRECTORY)
    foreach(line IN LISTS lines)
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[<\"]([^>\"]+)[>\"].*$" "\\1" included "${line}")
        if(EXISTS "${ROOT}/${folder}/${included}")
            continue()
        endif()
        string(FIND "${lower}" "/${included}|" in_platform)
        if(NOT in_platform EQUAL -1)
            continue()
        endif()
        string(FIND "${upper}" "/${included}|" above)
        if(above EQUAL -1)
            continue()
        endif()
        message("${file}: includes ${included}, a header above the platform layers")
        math(EXPR violations "${violations} + 1")
    endforeach()
endforeach()

if(violations GREATER 0)
    message(FATAL_ERROR "${violations} include(s) from platform/ into driver/, Device/ or host/")
endif()
message("platform/: ${platform_count} files, no include from above")
