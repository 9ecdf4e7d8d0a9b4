# vfu_icon: renders the app's SVG icon as a PNG of a given size, for the desktop icon theme.
# It draws with JUCE's graphics module, compiled only with the app.
if(NOT VFU_BUILD_APP)
    return()
endif()

juce_add_console_app(vfu_icon PRODUCT_NAME "vfu_icon")
target_sources(vfu_icon PRIVATE ${CMAKE_CURRENT_LIST_DIR}/Main.cpp)
target_link_libraries(vfu_icon PRIVATE vfu_juce)
