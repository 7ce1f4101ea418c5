# The payload: which file of the payload folder becomes which raw-data resource.
# Everything comes from Packager/payload/payload_manifest.def, the same table
# the program writes the files by, read by tools/payload_table.py (the reader
# the other tools share) into payload_table.json in the build folder.

set(QNVPD_MANIFEST_DEF ${CMAKE_SOURCE_DIR}/Packager/payload/payload_manifest.def)
set(QNVPD_PAYLOAD_TABLE_PY ${CMAKE_SOURCE_DIR}/tools/payload_table.py)
set(QNVPD_PAYLOAD_TABLE_JSON ${CMAKE_BINARY_DIR}/payload_table.json)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${QNVPD_MANIFEST_DEF}
             ${QNVPD_PAYLOAD_TABLE_PY})
find_package(Python3 REQUIRED COMPONENTS Interpreter)

# The most the package may carry. The package is not large-address-aware: a
# 32-bit process maps it whole, as one contiguous range, into its 2 GB of user
# address space, below the system DLLs and beside the heaps and stacks already
# there. Under Wine 8 a package of 2.07 GB still maps and installs (one of
# 2.10 GB does not start); Windows places its system DLLs lower and varies
# the place from boot to boot (ASLR), so the limit keeps a wide margin.
set(QNVPD_PAYLOAD_MAX_BYTES 1500000000)

# Reads the table into QNVPD_PAYLOAD_IDS and, per id, QNVPD_PAYLOAD_<id>_REL
# (path below the payload folder) and QNVPD_PAYLOAD_<id>_NAMEID / _NAME.
function(qnvpd_read_manifest)
  execute_process(
    COMMAND ${Python3_EXECUTABLE} ${QNVPD_PAYLOAD_TABLE_PY} json ${QNVPD_MANIFEST_DEF}
            ${QNVPD_PAYLOAD_TABLE_JSON}
    RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${err}")
  endif()
  file(READ ${QNVPD_PAYLOAD_TABLE_JSON} table)
  string(JSON last LENGTH "${table}")
  math(EXPR last "${last} - 1")
  set(ids "")
  foreach(i RANGE ${last})
    string(JSON id GET "${table}" ${i} id)
    string(JSON rel GET "${table}" ${i} rel)
    string(JSON nameid GET "${table}" ${i} name_id)
    string(JSON name GET "${table}" ${i} name)
    list(APPEND ids ${id})
    set(QNVPD_PAYLOAD_${id}_REL "${rel}" PARENT_SCOPE)
    set(QNVPD_PAYLOAD_${id}_NAMEID ${nameid} PARENT_SCOPE)
    set(QNVPD_PAYLOAD_${id}_NAME "${name}" PARENT_SCOPE)
  endforeach()
  set(QNVPD_PAYLOAD_IDS ${ids} PARENT_SCOPE)
endfunction()

# Stops the build when <bytes> of payload would make a package too large to map.
function(qnvpd_check_payload_size bytes)
  if(bytes GREATER QNVPD_PAYLOAD_MAX_BYTES)
    message(FATAL_ERROR "The payload is ${bytes} bytes: more than the ${QNVPD_PAYLOAD_MAX_BYTES} "
      "bytes a package may carry. A 32-bit process maps the whole package as one contiguous "
      "range of its 2 GB address space, and a larger package does not start on every Windows "
      "system (see \"Size limit\" in docs/release-engineering.md).")
  endif()
endfunction()

# Writes an .rc fragment with one RCDATA line per id found in payload_dir.
# Ids listed in OMIT are left out (for test packages). Missing files fail the
# configure step unless allow_missing is set, which leaves them out as well.
# With CHECKSUMS, the fragment also carries the CRC-32 table of exactly the
# files it carries, and CHECKSUMS_ARGS_OUT receives the <id>=<file> arguments
# that build the table (tools/payload-checksums.py).
function(qnvpd_write_payload_rc out_rc payload_dir allow_missing)
  cmake_parse_arguments(ARG "" "CHECKSUMS;CHECKSUMS_ARGS_OUT" "OMIT;DEPENDS_OUT" ${ARGN})
  set(text "// Generated from payload_manifest.def; do not edit.\nLANGUAGE 9, 1\n")
  set(files "")
  set(checksum_args "")
  set(total 0)
  foreach(id IN LISTS QNVPD_PAYLOAD_IDS)
    if(id IN_LIST ARG_OMIT)
      continue()
    endif()
    set(path "${payload_dir}/${QNVPD_PAYLOAD_${id}_REL}")
    if(NOT EXISTS "${path}" AND NOT QNVPD_PAYLOAD_IS_STANDIN)
      if(allow_missing)
        message(WARNING "Payload file missing, resource ${id} left out: ${path}")
        continue()
      endif()
      message(FATAL_ERROR "Payload file missing: ${path}\n"
        "Resource ${id} is built from it. Supply the file, or configure with "
        "-DPAYLOAD_ALLOW_MISSING=ON to leave the resource out.")
    endif()
    if(EXISTS "${path}")
      file(SIZE "${path}" bytes)
      math(EXPR total "${total} + ${bytes}")
    endif()
    string(REPLACE "\\" "/" rcpath "${path}")
    string(APPEND text "${id} RCDATA \"${rcpath}\"\n")
    list(APPEND files "${path}")
    list(APPEND checksum_args "${id}=${path}")
  endforeach()
  # The files there now; the CRC-32 step checks again what the build carries.
  qnvpd_check_payload_size(${total})
  if(ARG_CHECKSUMS)
    string(APPEND text "1 PAYLOADCRC \"${ARG_CHECKSUMS}\"\n")
  endif()
  file(CONFIGURE OUTPUT ${out_rc} CONTENT "${text}" @ONLY)
  if(ARG_DEPENDS_OUT)
    set(${ARG_DEPENDS_OUT} ${files} PARENT_SCOPE)
  endif()
  if(ARG_CHECKSUMS_ARGS_OUT)
    set(${ARG_CHECKSUMS_ARGS_OUT} ${checksum_args} PARENT_SCOPE)
  endif()
endfunction()

# Writes the string tables (English and Japanese, the same texts in both).
function(qnvpd_write_strings_rc out_rc)
  set(entries "    60, \"KAVRO QN Virtual Port Driver Ver.7.20a\"\n")
  string(APPEND entries "    111, \"QN Virtual Port Driver Installer\"\n")
  string(APPEND entries "    123, \"{5A1C90E2-7D3F-4B8A-9E21-0C6F4D8B2A17}\"\n")
  foreach(id IN LISTS QNVPD_PAYLOAD_IDS)
    string(APPEND entries "    ${QNVPD_PAYLOAD_${id}_NAMEID}, \"${QNVPD_PAYLOAD_${id}_NAME}\"\n")
  endforeach()
  set(text "// Generated from payload_manifest.def; do not edit.\n")
  foreach(lang "9, 1" "17, 1")
    string(APPEND text "LANGUAGE ${lang}\nSTRINGTABLE\nBEGIN\n${entries}END\n\n")
  endforeach()
  file(CONFIGURE OUTPUT ${out_rc} CONTENT "${text}" @ONLY)
endfunction()

# Builds the CRC-32 table <out> from <id>=<file> arguments at build time, when
# the payload files exist (the stand-in payload is generated by the build), and
# stops the build before the resources are compiled if they are too large.
function(qnvpd_add_checksum_table out)
  cmake_parse_arguments(ARG "" "" "ENTRIES;DEPENDS" ${ARGN})
  add_custom_command(
    OUTPUT ${out}
    COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tools/payload-checksums.py
            --max-bytes ${QNVPD_PAYLOAD_MAX_BYTES} ${out} ${ARG_ENTRIES}
    DEPENDS ${CMAKE_SOURCE_DIR}/tools/payload-checksums.py ${QNVPD_MANIFEST_DEF} ${ARG_DEPENDS}
    COMMENT "Computing the payload's CRC-32 table ${out}"
    VERBATIM)
endfunction()
