# Release checks: reproducible builds, signing, package inspection. They run on
# the build host alone (no Wine) and build their own packages in scratch
# folders, so they take a while; they run beside the Wine tests.
set(QNVPD_RELEASE_TESTS ${CMAKE_SOURCE_DIR}/tests/release)

# One more build of the package elsewhere, compared with this build's, then
# signed in every way the build offers.
add_test(NAME release_reproducible_and_signing
         COMMAND bash ${QNVPD_RELEASE_TESTS}/reproducible.sh ${CMAKE_SOURCE_DIR}
                 ${CMAKE_BINARY_DIR})
set_tests_properties(release_reproducible_and_signing PROPERTIES LABELS release TIMEOUT 1200)

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
