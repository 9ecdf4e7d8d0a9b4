# Checks on the Debian package's files that need no installation (scripts/test-package.sh builds,
# installs and purges the package itself).
if(TARGET vfu_package_files)
    set(VFU_VFU_MAN_PAGE ${PROJECT_SOURCE_DIR}/packaging/man/vfu.1)

    add_test(NAME packaging.vfu_man_page_describes_every_command_and_option
        COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/man_page_matches_help.sh $<TARGET_FILE:vfu> ${VFU_VFU_MAN_PAGE})
    add_test(NAME packaging.man_page_check_names_a_missing_command_or_option
        COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/man_page_check_names_what_is_missing.sh
                $<TARGET_FILE:vfu> ${VFU_VFU_MAN_PAGE})

    add_test(NAME packaging.packaged_app_is_stripped_and_keeps_its_firmware
        COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/packaged_app_keeps_its_firmware.sh
                $<TARGET_FILE:vfu_bundle> ${VFU_STAGED_APP})

    # scripts/test.sh installs the validators; on a machine without them these tests are skipped.
    add_test(NAME packaging.desktop_entry_is_valid
        COMMAND bash -c "command -v desktop-file-validate >/dev/null || exit 77; desktop-file-validate \"$1\""
                validate ${PROJECT_SOURCE_DIR}/packaging/${VFU_APP_ID}.desktop)
    add_test(NAME packaging.metainfo_is_valid
        COMMAND bash -c "command -v appstreamcli >/dev/null || exit 77; appstreamcli validate --no-net \"$1\""
                validate ${VFU_STAGE_DIR}/${VFU_APP_ID}.metainfo.xml)

    set_tests_properties(
        packaging.vfu_man_page_describes_every_command_and_option
        packaging.man_page_check_names_a_missing_command_or_option
        packaging.packaged_app_is_stripped_and_keeps_its_firmware
        packaging.desktop_entry_is_valid
        packaging.metainfo_is_valid
        PROPERTIES LABELS packaging TIMEOUT 120 SKIP_RETURN_CODE 77)
endif()
