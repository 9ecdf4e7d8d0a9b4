# Appends the program archive (the delivered firmware package, signed with the build's key) to the
# app after every link.
# Included from the directory that defines the app, because a post-build step can only be added
# there; vfu_bundle itself is defined by tools/bundle/Tool.cmake.
add_dependencies(VornFirmwareUpdater vfu_bundle)
# The Windows program ships stripped, and stripping must come first: strip drops whatever follows
# the program's last section, the archive included.
if(WIN32 AND CMAKE_STRIP)
    add_custom_command(TARGET VornFirmwareUpdater POST_BUILD
        COMMAND ${CMAKE_STRIP} $<TARGET_FILE:VornFirmwareUpdater>
        COMMENT "Stripping the program before the package is appended"
        VERBATIM)
endif()
add_custom_command(TARGET VornFirmwareUpdater POST_BUILD
    COMMAND vfu_bundle program $<TARGET_FILE:VornFirmwareUpdater> ${VFU_BUNDLE_SIGNING_ARGS}
    COMMENT "Appending the delivered firmware package to the program"
    VERBATIM)
