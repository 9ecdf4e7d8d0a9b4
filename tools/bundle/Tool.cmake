# vfu_bundle: writes the delivered firmware package into the build folder and, as a post-build
# step of the app (tools/bundle/AppBundle.cmake, included where the app is defined), appends the
# program archive to the linked executable.
juce_add_console_app(vfu_bundle PRODUCT_NAME "vfu_bundle")
target_sources(vfu_bundle PRIVATE ${CMAKE_CURRENT_LIST_DIR}/Main.cpp)
target_link_libraries(vfu_bundle PRIVATE vfu_core)

set(VFU_DELIVERED_PACKAGE_FILE ${CMAKE_BINARY_DIR}/packages/quillbox-fw-2.2.1.vfw CACHE INTERNAL "")

add_custom_command(OUTPUT ${VFU_DELIVERED_PACKAGE_FILE}
    COMMAND vfu_bundle package ${VFU_DELIVERED_PACKAGE_FILE} ${VFU_BUNDLE_SIGNING_ARGS}
    DEPENDS vfu_bundle ${VFU_SIGNING_KEY_FILE_USED}
    COMMENT "Writing the delivered firmware package"
    VERBATIM)
add_custom_target(vfu_delivered_package ALL DEPENDS ${VFU_DELIVERED_PACKAGE_FILE})

# The package tests read the delivered package and the bundled app; their target is defined after
# this file, so the wiring waits for the end of the top-level directory.
function(vfu_bundle_wire_package_tests)
    if(NOT TARGET vfu_packages_tests)
        return()
    endif()

    add_dependencies(vfu_packages_tests vfu_delivered_package)
    target_compile_definitions(vfu_packages_tests PRIVATE VFU_DELIVERED_PACKAGE_FILE="${VFU_DELIVERED_PACKAGE_FILE}")

    if(TARGET VornFirmwareUpdater)
        target_compile_definitions(vfu_packages_tests PRIVATE VFU_BUNDLED_APP_FILE="$<TARGET_FILE:VornFirmwareUpdater>")
    endif()
endfunction()

cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL vfu_bundle_wire_package_tests)
