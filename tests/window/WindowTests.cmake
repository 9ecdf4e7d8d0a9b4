# Window tests: the real app on a private Xvfb display, driven by xdotool (tests/window/window_test.sh).
# Each run gives the app an instance lock of its own (--instance-lock), so a copy of the app that
# runs elsewhere on the computer does not meet them; they still run one at a time, each with its
# display and app, so that their waits are not starved on a small machine.
if(TARGET VornFirmwareUpdater)
    set(VFU_WINDOW_TEST_CASES
        title_and_size
        preferences_ok_grows_the_window
        preferences_cancel_and_escape_leave_the_mode
        about_box_opens_from_the_menu
        install_click_starts_the_erase
        second_start_leaves_one_window
        copies_with_other_instance_locks_start_side_by_side
        demonstration_update_completes
        quitting_during_a_transfer_ends_cleanly
        tab_and_space_press_install
        tab_order_in_preferences_and_advanced_mode
        window_keeps_the_panel_size
        startup_failures_quit_with_an_error
        termination_signals_while_idle_quit_cleanly
        closing_during_the_download_asks_first
        quit_anyway_during_the_download_quits_at_once)

    foreach(case ${VFU_WINDOW_TEST_CASES})
        add_test(NAME window.${case}
            COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/window_test.sh ${case}
                    $<TARGET_FILE:VornFirmwareUpdater> ${CMAKE_BINARY_DIR}/artefacts/window)
        set_tests_properties(window.${case} PROPERTIES
            LABELS window
            TIMEOUT 240
            SKIP_RETURN_CODE 77
            RESOURCE_LOCK vfu_window_tests)
    endforeach()
endif()
