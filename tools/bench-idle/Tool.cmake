# vfu_bench_idle: CPU time per wall second of the idle engine (in this process, with the virtual MIDI
# layer), of an idle `vfu update` and of the idle app under Xvfb (both as child processes).
# It reads /proc for the children, so it is built where there is one.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    juce_add_console_app(vfu_bench_idle PRODUCT_NAME "vfu_bench_idle")
    target_sources(vfu_bench_idle PRIVATE ${CMAKE_CURRENT_LIST_DIR}/Main.cpp)
    target_link_libraries(vfu_bench_idle PRIVATE vfu_core)
endif()
