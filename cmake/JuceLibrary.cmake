# The JUCE modules are compiled exactly once, into vfu_juce. Everything else links it and
# receives the module include paths and definitions from it, never the module sources.
add_library(vfu_juce STATIC)

target_link_libraries(vfu_juce
    PRIVATE
        juce::juce_core
        juce::juce_events
        juce::juce_data_structures
        juce::juce_audio_basics
        juce::juce_audio_devices
        juce::juce_cryptography
    PUBLIC
        juce::juce_recommended_config_flags
    INTERFACE
        juce::juce_recommended_warning_flags)

# The window needs the GUI modules, the largest to compile; builds without the app (the sanitizer
# suites) leave them out, since nothing below the window uses them.
if(VFU_BUILD_APP)
    target_link_libraries(vfu_juce PRIVATE juce::juce_graphics juce::juce_gui_basics)
endif()

# JUCE's own code is not ours to fix: the module sources compile without warnings, and their
# headers reach every other target as system headers (below), so a build shows only warnings in
# the project's code, which keeps JUCE's recommended set (-Wall -Wextra and more).
target_compile_options(vfu_juce PRIVATE $<IF:$<CXX_COMPILER_ID:MSVC>,/w,-w>)

target_compile_definitions(vfu_juce
    PUBLIC
        JUCE_WEB_BROWSER=0
        JUCE_USE_CURL=0
        JUCE_MODAL_LOOPS_PERMITTED=1
        JUCE_STRICT_REFCOUNTEDPOINTER=1
        JUCE_DISPLAY_SPLASH_SCREEN=0
        JUCE_USE_CAMERA=0
        JUCE_PLUGINHOST_VST3=0
        JUCE_PLUGINHOST_AU=0
        JUCE_ALSA=1
        JUCE_JACK=0
    INTERFACE
        $<TARGET_PROPERTY:vfu_juce,COMPILE_DEFINITIONS>)

set_target_properties(vfu_juce PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    VISIBILITY_INLINES_HIDDEN ON
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden)

target_include_directories(vfu_juce SYSTEM INTERFACE $<TARGET_PROPERTY:vfu_juce,INCLUDE_DIRECTORIES>)

# Debian's JUCE links the system PNG and JPEG libraries to each app target, ahead of our
# libraries on the link line; the module code in vfu_juce that needs them must see them after it.
if(TARGET juce::pkgconfig_JUCE_IMG_LINUX_DEPS)
    target_link_libraries(vfu_juce PUBLIC juce::pkgconfig_JUCE_IMG_LINUX_DEPS)
endif()

# Debian's JUCE has its bundled zlib, libpng and libjpeg removed (its juce_core.h switches them
# off) and links the system's on Linux. Elsewhere such a JUCE needs the build to bring them (the
# Windows build: Debian's MinGW zlib, libpng and libjpeg-turbo built by scripts/windows/libraries.sh),
# linked after the module code. An upstream JUCE compiles its own copies and needs nothing here.
file(STRINGS "${JUCE_MODULES_DIR}/juce_core/juce_core.h" vfu_juce_without_bundled_png
    REGEX "^#define JUCE_INCLUDE_PNGLIB_CODE 0")
if(vfu_juce_without_bundled_png AND NOT TARGET juce::pkgconfig_JUCE_IMG_LINUX_DEPS)
    find_package(ZLIB REQUIRED)
    find_package(PNG REQUIRED)
    find_package(JPEG REQUIRED)
    target_link_libraries(vfu_juce PUBLIC PNG::PNG JPEG::JPEG ZLIB::ZLIB)
endif()
