# vfu_logo: draws resources/images/vorn-logo.png. Run by hand after changing the artwork:
#   vfu_logo <repo>/resources/fonts/LeagueSpartan-Medium.otf <repo>/resources/images/vorn-logo.png
# It draws with JUCE's graphics module, compiled only with the app.
if(NOT VFU_BUILD_APP)
    return()
endif()

juce_add_console_app(vfu_logo PRODUCT_NAME "vfu_logo")
target_sources(vfu_logo PRIVATE ${CMAKE_CURRENT_LIST_DIR}/VornLogo.cpp)
target_link_libraries(vfu_logo PRIVATE vfu_juce)
