# Fails when a source file under SOURCE_DIR includes from a folder above its own layer, naming
# the file and the include. Layers from the ground up; folders on one line share a layer:
#   core < midi < packages < definitions = engine < simulation < ui < app
# and packages, though above midi, includes nothing of it (versions are core's).
# Project headers are included rooted at src/ ("core/Log.h"); "../" chains are refused too.
#
#   cmake -DSOURCE_DIR=<repo>/src -P CheckLayers.cmake
cmake_minimum_required(VERSION 3.22)

if(NOT SOURCE_DIR OR NOT IS_DIRECTORY "${SOURCE_DIR}")
    message(FATAL_ERROR "Pass -DSOURCE_DIR=<the src folder>")
endif()

get_filename_component(SOURCE_DIR "${SOURCE_DIR}" ABSOLUTE)

set(layer_core 0)
set(layer_midi 1)
set(layer_packages 2)
set(layer_definitions 3)
set(layer_engine 3)
set(layer_simulation 4)
set(layer_ui 5)
set(layer_app 6)

# Folders below a folder that it still may not include.
set(apart_packages midi)

file(GLOB_RECURSE sources RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/*.h" "${SOURCE_DIR}/*.cpp")
list(SORT sources)

set(faults 0)
set(checked 0)

foreach(source IN LISTS sources)
    string(REGEX MATCH "^[^/]+" folder "${source}")
    if(NOT DEFINED layer_${folder})
        message("${source}: folder '${folder}' has no layer; add it to the layer list")
        math(EXPR faults "${faults} + 1")
        continue()
    endif()

    file(STRINGS "${SOURCE_DIR}/${source}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS lines)
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*$" "\\1" included "${line}")
        math(EXPR checked "${checked} + 1")

        if(included MATCHES "(^|/)\\.\\./")
            message("${source} includes \"${included}\": include project headers rooted at src/")
            math(EXPR faults "${faults} + 1")
            continue()
        endif()

        if(NOT included MATCHES "/")
            # A header without a folder is generated (binary data) or a sibling not yet rooted.
            if(EXISTS "${SOURCE_DIR}/${folder}/${included}")
                message("${source} includes \"${included}\": write it as \"${folder}/${included}\"")
                math(EXPR faults "${faults} + 1")
            endif()
            continue()
        endif()

        string(REGEX MATCH "^[^/]+" target "${included}")
        if(NOT DEFINED layer_${target})
            continue() # not a project folder
        endif()

        if(layer_${target} GREATER layer_${folder})
            message("${source} includes \"${included}\": ${target} is a layer above ${folder}")
            math(EXPR faults "${faults} + 1")
        endif()
        if(target IN_LIST apart_${folder})
            message("${source} includes \"${included}\": ${folder} includes nothing of ${target}")
            math(EXPR faults "${faults} + 1")
        endif()
    endforeach()
endforeach()

if(faults GREATER 0)
    message(FATAL_ERROR "${faults} include(s) break the layering (${checked} checked)")
endif()
message("Layering holds: ${checked} includes in the source files checked")
