# vfu_soak: many whole updates against simulated instruments with faults drawn from a seeded random
# generator, checking the updater's invariants after every run. Run by scripts/soak.sh; not a test.
juce_add_console_app(vfu_soak PRODUCT_NAME "vfu_soak")
target_sources(vfu_soak PRIVATE ${CMAKE_CURRENT_LIST_DIR}/Main.cpp ${CMAKE_CURRENT_LIST_DIR}/SoakRun.cpp)
target_link_libraries(vfu_soak PRIVATE vfu_core)
