# orv_add_resources(TARGET FOLDER [BUILT_FOLDER dir BUILT_FILES file... BUILT_TARGET target])
# Compiles the files of a resource folder into the program TARGET, where the Win32 layer's
# FindResource finds them. Each subfolder of FOLDER is a resource type ("GDIPLUS", "ORVXML"); each
# file in it a resource whose name is the file name upper-cased with every "." and " " replaced
# by "_" ("GDIPLUS/driverComboBox.png" is "DRIVERCOMBOBOX_PNG" of type "GDIPLUS"), which is the
# name the program derives from an image name such as "::driverComboBox.png".
# BUILT_FOLDER is a second folder of the same shape whose files are made at build time: they are
# listed in BUILT_FILES (the outputs of the commands that make them, in BUILT_TARGET).
set(ORV_RESOURCE_GENERATOR "${CMAKE_CURRENT_LIST_DIR}/GenerateResources.cmake")

function(orv_add_resources target folder)
    cmake_parse_arguments(ARG "" "BUILT_FOLDER;BUILT_TARGET" "BUILT_FILES" ${ARGN})
    get_filename_component(folder "${folder}" ABSOLUTE)
    file(GLOB_RECURSE files CONFIGURE_DEPENDS LIST_DIRECTORIES false "${folder}/*")
    list(SORT files)
    set(folders "${folder}")
    if(ARG_BUILT_FOLDER)
        # The generator takes one argument: the folders joined by "|".
        string(APPEND folders "|${ARG_BUILT_FOLDER}")
        list(APPEND files ${ARG_BUILT_FILES})
    endif()
    set(output "${CMAKE_CURRENT_BINARY_DIR}/${target}_Resources.cpp")
    add_custom_command(
        OUTPUT "${output}"
        COMMAND "${CMAKE_COMMAND}" "-DFOLDERS=${folders}" "-DOUTPUT=${output}"
                -P "${ORV_RESOURCE_GENERATOR}"
        DEPENDS ${files} "${ORV_RESOURCE_GENERATOR}"
        COMMENT "Resources of ${target} from ${folders}"
        VERBATIM)
    target_sources(${target} PRIVATE "${output}")
    target_link_libraries(${target} PRIVATE PlatformWin32)
    if(ARG_BUILT_TARGET)
        add_dependencies(${target} ${ARG_BUILT_TARGET})
    endif()
endfunction()
