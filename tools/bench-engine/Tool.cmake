# vfu_bench_engine: sends a firmware image through the engine and the virtual MIDI layer on the real
# clock and prints pacing accuracy, CPU time and peak memory.
juce_add_console_app(vfu_bench_engine PRODUCT_NAME "vfu_bench_engine")
target_sources(vfu_bench_engine PRIVATE ${CMAKE_CURRENT_LIST_DIR}/Main.cpp)
target_link_libraries(vfu_bench_engine PRIVATE vfu_core)

# GetProcessMemoryInfo lives in psapi on Windows.
if(WIN32)
    target_link_libraries(vfu_bench_engine PRIVATE psapi)
endif()
