# vfu_bench_packages: prints how long package collection over the bundled program takes.
juce_add_console_app(vfu_bench_packages PRODUCT_NAME "vfu_bench_packages")
target_sources(vfu_bench_packages PRIVATE ${CMAKE_CURRENT_LIST_DIR}/Main.cpp)
target_link_libraries(vfu_bench_packages PRIVATE vfu_core)
