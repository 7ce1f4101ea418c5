# Release checks: reproducible builds, signing, package inspection. They run on
# the build host alone (no Wine) and build their own packages in scratch
# folders, so they take a while.
set(QNVPD_RELEASE_TESTS ${CMAKE_SOURCE_DIR}/tests/release)

add_test(NAME release_reproducible
         COMMAND bash ${QNVPD_RELEASE_TESTS}/reproducible.sh ${CMAKE_SOURCE_DIR})
set_tests_properties(release_reproducible PROPERTIES LABELS release TIMEOUT 1200
                     RUN_SERIAL TRUE)

add_test(NAME release_signing
         COMMAND bash ${QNVPD_RELEASE_TESTS}/signing.sh ${CMAKE_SOURCE_DIR})
set_tests_properties(release_signing PROPERTIES LABELS release TIMEOUT 900
                     RUN_SERIAL TRUE)
