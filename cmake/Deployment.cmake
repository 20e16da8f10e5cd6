# Build-time deployment settings: the download server, the account and the trust anchors
# that become constants and embedded resources of the built program.

set(ORBEC_SERVER "http://127.0.0.1:8471" CACHE STRING "scheme://host[:port] of the download server")
set(ORBEC_ACCOUNT "demo-user" CACHE STRING "Account name on the download server (9 characters)")
set(ORBEC_PASSWORD "demo-pwd" CACHE STRING "Password on the download server (8 characters)")
set(ORBEC_ROOT_CERT "" CACHE FILEPATH "PEM root certificate to embed (default: the demo root)")
set(ORBEC_CRL "" CACHE FILEPATH "PEM CRL file to embed (default: the demo CRL)")

set(ORBEC_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
set(ORBEC_DEMO_PKI_DIR ${CMAKE_BINARY_DIR}/pki)

if(NOT ORBEC_SERVER MATCHES "^(http|https|ftp)://[^/@?#]+$")
  message(FATAL_ERROR "ORBEC_SERVER must be scheme://host[:port] with no path and no user "
                      "information, got '${ORBEC_SERVER}'")
endif()
string(LENGTH "${ORBEC_ACCOUNT}" account_length)
if(NOT account_length EQUAL 9)
  message(FATAL_ERROR "ORBEC_ACCOUNT must be exactly 9 characters, got ${account_length}")
endif()
string(LENGTH "${ORBEC_PASSWORD}" password_length)
if(NOT password_length EQUAL 8)
  message(FATAL_ERROR "ORBEC_PASSWORD must be exactly 8 characters, got ${password_length}")
endif()
foreach(value IN ITEMS ORBEC_ACCOUNT ORBEC_PASSWORD)
  if(${value} MATCHES "[\"\\\\:@/ ]")
    message(FATAL_ERROR "${value} must not contain quotes, backslashes, ':', '@', '/' or blanks")
  endif()
endforeach()

# The demo PKI lives in the build tree; its keys never leave it.
execute_process(COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/make-demo-pki.sh ${ORBEC_DEMO_PKI_DIR}
                RESULT_VARIABLE pki_result)
if(NOT pki_result EQUAL 0)
  message(FATAL_ERROR "Could not generate the demo PKI in ${ORBEC_DEMO_PKI_DIR}")
endif()

set(root_cert "${ORBEC_ROOT_CERT}")
if(root_cert STREQUAL "")
  set(root_cert ${ORBEC_DEMO_PKI_DIR}/root.crt)
endif()
set(crl_file "${ORBEC_CRL}")
if(crl_file STREQUAL "")
  set(crl_file ${ORBEC_DEMO_PKI_DIR}/crl.pem)
endif()
foreach(anchor IN ITEMS root_cert crl_file)
  if(NOT EXISTS "${${anchor}}" OR IS_DIRECTORY "${${anchor}}")
    message(FATAL_ERROR "Trust anchor file not found: '${${anchor}}'")
  endif()
endforeach()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${root_cert} ${crl_file})

# Turns a file into a C++ byte array initialiser.
function(orbec_bytes_of file out_var)
  file(READ "${file}" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  set(${out_var} "${bytes}" PARENT_SCOPE)
endfunction()

orbec_bytes_of(${root_cert} ORBEC_ROOT_CERT_BYTES)
orbec_bytes_of(${crl_file} ORBEC_CRL_BYTES)
set(ORBEC_FILE_VERSION "${PROJECT_VERSION}")
set(ORBEC_FILE_DESCRIPTION "Orbec Bootable Anti-Virus CD Builder")
set(ORBEC_LEGAL_COPYRIGHT "Copyright (C) 2026 The orbec developers")
configure_file(${CMAKE_SOURCE_DIR}/resources/embedded_resources.cpp.in
               ${ORBEC_GENERATED_DIR}/embedded_resources.cpp @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/resources/deployment.h.in
               ${ORBEC_GENERATED_DIR}/deployment.h @ONLY)

# On Windows the trust anchors, the version strings and the application manifest are the
# program's own resources; every executable of the build carries them (the tests read them
# back as the tool does).
if(WIN32)
  string(REPLACE "." "," ORBEC_VERSION_COMMAS "${PROJECT_VERSION}.0")
  set(ORBEC_RC_ROOT_CERT "${root_cert}")
  set(ORBEC_RC_CRL "${crl_file}")
  set(ORBEC_RC_MANIFEST "${CMAKE_SOURCE_DIR}/resources/orbec.manifest")
  configure_file(${CMAKE_SOURCE_DIR}/resources/orbec.rc.in ${ORBEC_GENERATED_DIR}/orbec.rc @ONLY)
  set(ORBEC_WIN_RESOURCES ${ORBEC_GENERATED_DIR}/orbec.rc)
endif()
