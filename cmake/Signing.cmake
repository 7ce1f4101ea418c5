# Optional Authenticode signing of the package (SHA-256, osslsigncode).
#
#   -DSIGN_PKCS12=<file.p12> [-DSIGN_PASSWORD_FILE=<file>]
#   -DSIGN_CERT=<cert.pem> -DSIGN_KEY=<key.pem> [-DSIGN_PASSWORD_FILE=<file>]
#   -DSIGN_CERT=<cert.pem> -DSIGN_PKCS11_MODULE=<module.so>
#     -DSIGN_PKCS11_KEY=<pkcs11: URI of the key> [-DSIGN_PASSWORD_FILE=<PIN file>]
#   [-DSIGN_TIMESTAMP_URL=<RFC 3161 time-stamp server>[;<another>...]]
#
# When signing is configured the linker writes the package to unsigned/ and a
# post-build step signs it into the usual place, so the unsigned program stays
# byte-identical between builds and can be compared. Without a certificate
# nothing changes.
#
# A key on a token or HSM stays there: OpenSSL's pkcs11 engine loads the
# module and the token signs. Its PIN is read from SIGN_PASSWORD_FILE, so it
# appears on no command line and in no CMake file.
#
# The same file, run with cmake -P, is the post-build step itself.

if(CMAKE_SCRIPT_MODE_FILE)
  # ---------------------------------------------------------- signing step
  # Inputs: OSSLSIGNCODE, IN, OUT, and CONFIG, the signing.cfg written below,
  # which sets the SIGN_* values above. They come through a file because a
  # pkcs11: URI holds semicolons, which a CMake command line splits.
  include("${CONFIG}")
  set(args sign -h sha256 -n "KAVRO QN Virtual Port Driver Setup")
  if(SIGN_PKCS12)
    list(APPEND args -pkcs12 "${SIGN_PKCS12}")
  elseif(SIGN_PKCS11_KEY)
    # Escaped, the URI stays one argument.
    string(REPLACE ";" "\\;" uri "${SIGN_PKCS11_KEY}")
    list(APPEND args -pkcs11module "${SIGN_PKCS11_MODULE}" -certs "${SIGN_CERT}" -key "${uri}")
  else()
    list(APPEND args -certs "${SIGN_CERT}" -key "${SIGN_KEY}")
  endif()
  if(SIGN_PASSWORD_FILE)
    list(APPEND args -readpass "${SIGN_PASSWORD_FILE}")
  endif()
  # osslsigncode asks each server in turn until one answers.
  foreach(url IN LISTS SIGN_TIMESTAMP_URL)
    list(APPEND args -ts "${url}")
  endforeach()
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
    # What osslsigncode and the pkcs11 engine print for the usual mistakes,
    # first match first: the cause is named above their own lines.
    set(hints
      "PIN incorrect|the token refused the PIN in SIGN_PASSWORD_FILE (tokens lock after a few refused PINs: check the file before building again)"
      "PIN locked|the token's PIN is locked"
      "No PIN code was entered|the token wants a PIN: name a file holding it in SIGN_PASSWORD_FILE"
      "No matching initialized token|no token matches SIGN_PKCS11_KEY (is the token there, and its label or serial right?)"
      "Unable to load module|SIGN_PKCS11_MODULE does not load as a PKCS#11 module"
      "Failed to find and load 'pkcs11' engine|OpenSSL's pkcs11 engine is missing (Debian package libengine-pkcs11-openssl)"
      "The private key was not found|no private key on the token matches SIGN_PKCS11_KEY"
      "key values mismatch|SIGN_CERT is not the certificate of the signing key"
      "timestamping failed|no time-stamp server of SIGN_TIMESTAMP_URL answered")
    set(cause "")
    foreach(hint IN LISTS hints)
      string(FIND "${hint}" "|" bar)
      string(SUBSTRING "${hint}" 0 ${bar} needle)
      string(FIND "${out}" "${needle}" at)
      if(NOT at EQUAL -1)
        math(EXPR bar "${bar} + 1")
        string(SUBSTRING "${hint}" ${bar} -1 cause)
        set(cause " ${cause}")
        break()
      endif()
    endforeach()
    message(FATAL_ERROR "Signing ${IN} failed:${cause}\n${out}")
  endif()
  file(RENAME "${tmp}" "${OUT}")
  return()
endif()

# -------------------------------------------------------------- configuration
set(SIGN_PKCS12 "" CACHE FILEPATH "PKCS#12 file with the code-signing certificate and key")
set(SIGN_CERT "" CACHE FILEPATH "Code-signing certificate (PEM, may be followed by its chain), used with SIGN_KEY or SIGN_PKCS11_KEY")
set(SIGN_KEY "" CACHE FILEPATH "Private key of SIGN_CERT (PEM)")
set(SIGN_PKCS11_MODULE "" CACHE FILEPATH "PKCS#11 module (.so) of the token or HSM holding the key of SIGN_CERT")
set(SIGN_PKCS11_KEY "" CACHE STRING "pkcs11: URI of the key of SIGN_CERT on the token (without a PIN)")
set(SIGN_PASSWORD_FILE "" CACHE FILEPATH "File holding the password of SIGN_PKCS12 or SIGN_KEY, or the token's PIN")
set(SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamp servers, tried in turn (a ;-list); empty signs without a time stamp")

# A PIN written into the URI would stay in the cache and show on command lines.
# The value is not repeated here, and it is cleared (the cache is written even
# when configuring fails).
if(SIGN_PKCS11_KEY MATCHES "pin-(value|source)=")
  set(SIGN_PKCS11_KEY "" CACHE STRING "pkcs11: URI of the key of SIGN_CERT on the token (without a PIN)" FORCE)
  message(FATAL_ERROR "SIGN_PKCS11_KEY must not carry the PIN (pin-value or pin-source): "
          "put the PIN alone in a file and name it in SIGN_PASSWORD_FILE. "
          "SIGN_PKCS11_KEY has been cleared from the cache.")
endif()

set(sign_keys "")
foreach(var SIGN_PKCS12 SIGN_KEY SIGN_PKCS11_KEY)
  if(${var})
    list(APPEND sign_keys ${var})
  endif()
endforeach()
list(LENGTH sign_keys sign_key_count)
if(sign_key_count GREATER 1)
  string(REPLACE ";" " and " sign_keys "${sign_keys}")
  message(FATAL_ERROR "Give one key, not ${sign_keys}: SIGN_PKCS12, SIGN_KEY with SIGN_CERT, "
          "or SIGN_PKCS11_KEY with SIGN_PKCS11_MODULE and SIGN_CERT")
endif()
if(SIGN_PKCS12 AND SIGN_CERT)
  message(FATAL_ERROR "Give either SIGN_PKCS12 or SIGN_CERT with SIGN_KEY, not both")
endif()
if((SIGN_PKCS11_KEY AND NOT SIGN_PKCS11_MODULE) OR (SIGN_PKCS11_MODULE AND NOT SIGN_PKCS11_KEY))
  message(FATAL_ERROR "SIGN_PKCS11_MODULE and SIGN_PKCS11_KEY go together")
endif()
if(SIGN_PKCS11_KEY AND NOT SIGN_PKCS11_KEY MATCHES "^pkcs11:")
  message(FATAL_ERROR "SIGN_PKCS11_KEY is a pkcs11: URI (RFC 7512), such as "
          "pkcs11:token=<token label>;object=<key label>;type=private")
endif()
if(SIGN_KEY AND NOT SIGN_CERT)
  message(FATAL_ERROR "SIGN_CERT and SIGN_KEY go together")
endif()
if(SIGN_PKCS11_KEY AND NOT SIGN_CERT)
  message(FATAL_ERROR "SIGN_PKCS11_KEY needs its certificate (PEM) in SIGN_CERT; "
          "export it from the token if it is kept there")
endif()
if(SIGN_CERT AND NOT SIGN_KEY AND NOT SIGN_PKCS11_KEY)
  message(FATAL_ERROR "SIGN_CERT needs its key: SIGN_KEY, or SIGN_PKCS11_KEY with SIGN_PKCS11_MODULE")
endif()

if(SIGN_PKCS12 OR SIGN_CERT)
  find_program(OSSLSIGNCODE osslsigncode REQUIRED)
  set(sign_cfg "")
  set(sign_files "")
  foreach(var SIGN_PKCS12 SIGN_CERT SIGN_KEY SIGN_PKCS11_MODULE SIGN_PASSWORD_FILE)
    if(${var})
      get_filename_component(${var} "${${var}}" ABSOLUTE)
      if(NOT EXISTS "${${var}}")
        message(FATAL_ERROR "${var}: no such file: ${${var}}")
      endif()
      string(APPEND sign_cfg "set(${var} [==[${${var}}]==])\n")
      list(APPEND sign_files "${${var}}")
    endif()
  endforeach()
  foreach(var SIGN_PKCS11_KEY SIGN_TIMESTAMP_URL)
    if(${var})
      string(APPEND sign_cfg "set(${var} [==[${${var}}]==])\n")
    endif()
  endforeach()

  set(unsigned_dir ${CMAKE_BINARY_DIR}/unsigned)
  set_target_properties(QNVPDSetup PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${unsigned_dir})
  # The post-build step runs only when the program is linked: a changed
  # certificate, key, PIN file or server relinks it, so nothing stays signed
  # with the old one. The file is rewritten only when it changes, or every
  # configure would relink.
  set(sign_cfg_file ${CMAKE_BINARY_DIR}/signing.cfg)
  set(old_cfg "")
  if(EXISTS ${sign_cfg_file})
    file(READ ${sign_cfg_file} old_cfg)
  endif()
  if(NOT old_cfg STREQUAL sign_cfg)
    file(WRITE ${sign_cfg_file} "${sign_cfg}")
  endif()
  set_property(TARGET QNVPDSetup APPEND PROPERTY LINK_DEPENDS ${sign_cfg_file} ${sign_files})
  add_custom_command(TARGET QNVPDSetup POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DOSSLSIGNCODE=${OSSLSIGNCODE}
            -DIN=$<TARGET_FILE:QNVPDSetup> -DOUT=${CMAKE_BINARY_DIR}/QNVPDSetup.exe
            -DCONFIG=${sign_cfg_file} -P ${CMAKE_CURRENT_LIST_FILE}
    COMMENT "Signing QNVPDSetup.exe"
    VERBATIM)
  message(STATUS "QNVPDSetup.exe will be signed (unsigned copy in ${unsigned_dir})")
elseif(EXISTS ${CMAKE_BINARY_DIR}/signing.cfg)
  # Signing was switched off: the signed program would look up to date to the
  # linker, so it goes, and the next build writes an unsigned one in its place.
  file(REMOVE ${CMAKE_BINARY_DIR}/signing.cfg ${CMAKE_BINARY_DIR}/QNVPDSetup.exe)
  file(REMOVE_RECURSE ${CMAKE_BINARY_DIR}/unsigned)
endif()
