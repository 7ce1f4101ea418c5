# Optional Authenticode signing of the package (SHA-256, osslsigncode).
#
#   -DSIGN_PKCS12=<file.p12> [-DSIGN_PASSWORD_FILE=<file>]
#   -DSIGN_CERT=<cert.pem> -DSIGN_KEY=<key.pem> [-DSIGN_PASSWORD_FILE=<file>]
#   [-DSIGN_TIMESTAMP_URL=<RFC 3161 time-stamp server>]
#
# When signing is configured the linker writes the package to unsigned/ and a
# post-build step signs it into the usual place, so the unsigned program stays
# byte-identical between builds and can be compared. Without a certificate
# nothing changes.
#
# The same file, run with cmake -P, is the post-build step itself.

if(CMAKE_SCRIPT_MODE_FILE)
  # ---------------------------------------------------------- signing step
  # Inputs: OSSLSIGNCODE, IN, OUT, and the SIGN_* values above.
  set(args sign -h sha256 -n "KAVRO QN Virtual Port Driver Setup")
  if(SIGN_PKCS12)
    list(APPEND args -pkcs12 "${SIGN_PKCS12}")
  else()
    list(APPEND args -certs "${SIGN_CERT}" -key "${SIGN_KEY}")
  endif()
  if(SIGN_PASSWORD_FILE)
    list(APPEND args -readpass "${SIGN_PASSWORD_FILE}")
  endif()
  if(SIGN_TIMESTAMP_URL)
    list(APPEND args -ts "${SIGN_TIMESTAMP_URL}")
  endif()
  # A fixed signing time makes the signed file reproducible too (without a
  # time-stamp server, whose answer differs on every call).
  if(DEFINED ENV{SOURCE_DATE_EPOCH})
    list(APPEND args -time "$ENV{SOURCE_DATE_EPOCH}")
  endif()
  set(tmp "${OUT}.signing")
  file(REMOVE "${tmp}")
  execute_process(COMMAND "${OSSLSIGNCODE}" ${args} -in "${IN}" -out "${tmp}"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    file(REMOVE "${tmp}" "${OUT}")
    # The linker's output is dropped too, or the next build would take the
    # package as up to date and never try to sign it again.
    file(REMOVE "${IN}")
    message(FATAL_ERROR "Signing ${IN} failed:\n${out}")
  endif()
  file(RENAME "${tmp}" "${OUT}")
  return()
endif()

# -------------------------------------------------------------- configuration
set(SIGN_PKCS12 "" CACHE FILEPATH "PKCS#12 file with the code-signing certificate and key")
set(SIGN_CERT "" CACHE FILEPATH "Code-signing certificate (PEM), used with SIGN_KEY")
set(SIGN_KEY "" CACHE FILEPATH "Private key of SIGN_CERT (PEM)")
set(SIGN_PASSWORD_FILE "" CACHE FILEPATH "File holding the password of SIGN_PKCS12 or SIGN_KEY")
set(SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamp server; empty signs without a time stamp")

if(SIGN_PKCS12 AND (SIGN_CERT OR SIGN_KEY))
  message(FATAL_ERROR "Give either SIGN_PKCS12 or SIGN_CERT with SIGN_KEY, not both")
endif()
if((SIGN_CERT AND NOT SIGN_KEY) OR (SIGN_KEY AND NOT SIGN_CERT))
  message(FATAL_ERROR "SIGN_CERT and SIGN_KEY go together")
endif()

if(SIGN_PKCS12 OR SIGN_CERT)
  find_program(OSSLSIGNCODE osslsigncode REQUIRED)
  set(sign_inputs SIGN_PKCS12 SIGN_CERT SIGN_KEY SIGN_PASSWORD_FILE)
  set(sign_defs "")
  set(sign_files "")
  foreach(var IN LISTS sign_inputs)
    if(${var})
      get_filename_component(${var} "${${var}}" ABSOLUTE)
      if(NOT EXISTS "${${var}}")
        message(FATAL_ERROR "${var}: no such file: ${${var}}")
      endif()
      list(APPEND sign_defs "-D${var}=${${var}}")
      list(APPEND sign_files "${${var}}")
    endif()
  endforeach()
  if(SIGN_TIMESTAMP_URL)
    list(APPEND sign_defs "-DSIGN_TIMESTAMP_URL=${SIGN_TIMESTAMP_URL}")
  endif()

  set(unsigned_dir ${CMAKE_BINARY_DIR}/unsigned)
  set_target_properties(QNVPDSetup PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${unsigned_dir})
  # The post-build step runs only when the program is linked: a changed
  # certificate, key or server relinks it, so nothing stays signed with the old one.
  file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/signing.cfg CONTENT "${sign_defs}\n" @ONLY)
  set_property(TARGET QNVPDSetup APPEND PROPERTY LINK_DEPENDS
               ${CMAKE_BINARY_DIR}/signing.cfg ${sign_files})
  add_custom_command(TARGET QNVPDSetup POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DOSSLSIGNCODE=${OSSLSIGNCODE}
            -DIN=$<TARGET_FILE:QNVPDSetup> -DOUT=${CMAKE_BINARY_DIR}/QNVPDSetup.exe
            ${sign_defs} -P ${CMAKE_CURRENT_LIST_FILE}
    COMMENT "Signing QNVPDSetup.exe"
    VERBATIM)
  message(STATUS "QNVPDSetup.exe will be signed (unsigned copy in ${unsigned_dir})")
elseif(EXISTS ${CMAKE_BINARY_DIR}/signing.cfg)
  # Signing was switched off: the signed program would look up to date to the
  # linker, so it goes, and the next build writes an unsigned one in its place.
  file(REMOVE ${CMAKE_BINARY_DIR}/signing.cfg ${CMAKE_BINARY_DIR}/QNVPDSetup.exe)
  file(REMOVE_RECURSE ${CMAKE_BINARY_DIR}/unsigned)
endif()
