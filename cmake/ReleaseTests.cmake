# Release checks: reproducible builds, signing, package inspection. They run on
# the build host alone (no Wine) and build their own packages in scratch
# folders, so they take a while; they run beside the Wine tests.
set(QNVPD_RELEASE_TESTS ${CMAKE_SOURCE_DIR}/tests/release)

# One more build of the package elsewhere, compared with this build's, then
# signed in every way the build offers, which leaves the package signed with a
# key on a PKCS#11 token in release-token-signed/, then built again with one row
# added to its payload table (tests/release/payload_table.sh), which leaves that
# package in release-added-row/. The tests after it run both under Wine.
set(added_row ${CMAKE_BINARY_DIR}/release-added-row)
set(token_signed ${CMAKE_BINARY_DIR}/release-token-signed)
add_test(NAME release_reproducible_and_signing
         COMMAND bash ${QNVPD_RELEASE_TESTS}/reproducible.sh ${CMAKE_SOURCE_DIR}
                 ${CMAKE_BINARY_DIR} ${added_row} ${token_signed})
set_tests_properties(release_reproducible_and_signing PROPERTIES LABELS release TIMEOUT 1200
                     FIXTURES_SETUP "added_row;token_signed")
# The signature leaves the package working: a silent install runs as from the build.
qnvpd_windows_path(token_signed_win ${token_signed})
add_test(NAME release_token_signed_installs
         COMMAND e2e_tests --gtest_filter=InstallE2eTest.SilentRunHandsTheInstallerItsCommandLineAndFiles)
set_tests_properties(release_token_signed_installs PROPERTIES LABELS release
    FIXTURES_REQUIRED "wine;token_signed" RESOURCE_LOCK wineprefix TIMEOUT 120
    FAIL_REGULAR_EXPRESSION "0 tests from 0 test suites ran"
    ENVIRONMENT "QNVPD_BUILD=${build_win};QNVPD_PACKAGE=${token_signed_win}\\QNVPDSetup.exe;QNVPD_STANDIN_PAYLOAD=${token_signed_win}\\standin-payload")
qnvpd_windows_path(added_row_win ${added_row})
add_test(NAME release_added_row_extracts
         COMMAND e2e_tests --gtest_filter=AddedRowE2eTest.*)
set_tests_properties(release_added_row_extracts PROPERTIES LABELS release
    FIXTURES_REQUIRED "wine;added_row" RESOURCE_LOCK wineprefix TIMEOUT 120
    ENVIRONMENT "QNVPD_BUILD=${build_win};QNVPD_ADDED_ROW=${added_row_win};QNVPD_PACKAGE=${added_row_win}\\QNVPDSetup.exe;QNVPD_STANDIN_PAYLOAD=${added_row_win}\\standin-payload")

# The inspection command on the package as built, on the test package without
# resource 104, and on payload folders and tables that do not match.
set(inspect_flags "")
if(PAYLOAD_ALLOW_MISSING)
  set(inspect_flags --allow-missing)
endif()
add_test(NAME release_inspect
         COMMAND bash ${QNVPD_RELEASE_TESTS}/inspect.sh ${CMAKE_SOURCE_DIR}
                 ${CMAKE_BINARY_DIR}/QNVPDSetup.exe $<TARGET_FILE:QNVPDSetup_nosetup>
                 ${QNVPD_PAYLOAD_ROOT} ${inspect_flags})
set_tests_properties(release_inspect PROPERTIES LABELS release TIMEOUT 300)
