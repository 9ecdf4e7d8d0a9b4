# The include layering of src/, and a check that the checker itself catches an upward include.
add_test(NAME layers.includes_follow_the_layers
    COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR}/src -P ${CMAKE_CURRENT_LIST_DIR}/CheckLayers.cmake)
add_test(NAME layers.an_upward_include_is_named
    COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_CURRENT_LIST_DIR}/planted/src -P ${CMAKE_CURRENT_LIST_DIR}/CheckLayers.cmake)
set_tests_properties(layers.includes_follow_the_layers PROPERTIES LABELS layers)
# Passes only when the planted fault is reported with its file and include.
set_tests_properties(layers.an_upward_include_is_named PROPERTIES LABELS layers
    PASS_REGULAR_EXPRESSION "core/Planted.h includes \"ui/MainComponent.h\": ui is a layer above core")
add_test(NAME layers.packages_include_nothing_of_midi
    COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_CURRENT_LIST_DIR}/planted/src -P ${CMAKE_CURRENT_LIST_DIR}/CheckLayers.cmake)
set_tests_properties(layers.packages_include_nothing_of_midi PROPERTIES LABELS layers
    PASS_REGULAR_EXPRESSION "packages/Planted.h includes \"midi/Planted.h\": packages includes nothing of midi")
