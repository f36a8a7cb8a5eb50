# orv_add_resources(TARGET FOLDER)
# Compiles the files of a resource folder into the program TARGET, where the Win32 layer's
# FindResource finds them. Each subfolder of FOLDER is a resource type ("GDIPLUS", "ORVXML"); each
# file in it a resource whose name is the file name upper-cased with every "." and " " replaced
# by "_" ("GDIPLUS/driverComboBox.png" is "DRIVERCOMBOBOX_PNG" of type "GDIPLUS"), which is the
# name the program derives from an image name such as "::driverComboBox.png".
set(ORV_RESOURCE_GENERATOR "${CMAKE_CURRENT_LIST_DIR}/GenerateResources.cmake")

function(orv_add_resources target folder)
    get_filename_component(folder "${folder}" ABSOLUTE)
    file(GLOB_RECURSE files CONFIGURE_DEPENDS LIST_DIRECTORIES false "${folder}/*")
    list(SORT files)
    set(output "${CMAKE_CURRENT_BINARY_DIR}/${target}_Resources.cpp")
    add_custom_command(
        OUTPUT "${output}"
        COMMAND "${CMAKE_COMMAND}" "-DFOLDER=${folder}" "-DOUTPUT=${output}"
                -P "${ORV_RESOURCE_GENERATOR}"
        DEPENDS ${files} "${ORV_RESOURCE_GENERATOR}"
        COMMENT "Resources of ${target} from ${folder}"
        VERBATIM)
    target_sources(${target} PRIVATE "${output}")
    target_link_libraries(${target} PRIVATE PlatformWin32)
endfunction()
