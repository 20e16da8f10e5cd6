# Installation (the tool and its manual page) and the Debian package that cpack -G DEB builds.
# Included after cmake/Deployment.cmake, whose settings the manual page reports.

include(GNUInstallDirs)

set(ORBEC_PACKAGE_MAINTAINER "orbec maintainers <maintainers@orbec.example.org>"
    CACHE STRING "Maintainer field of the Debian package and its changelog")

find_program(ORBEC_GZIP gzip REQUIRED)
find_program(ORBEC_OPENSSL_PROGRAM openssl)
set(ORBEC_PACKAGE_DIR ${CMAKE_BINARY_DIR}/package)

# Text for a manual page line: backslashes and hyphens taken literally, a leading dot or
# apostrophe not read as a request, long colon-separated fingerprints breakable after a colon.
function(orbec_roff_text text out_var)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REPLACE ":" ":\\:" text "${text}")
  set(${out_var} "\\&${text}" PARENT_SCOPE)
endfunction()

# Lines about a trust anchor: its file (or that it is the demo one) and what identifies it.
function(orbec_describe_anchor option file openssl_args out_var)
  if("${${option}}" STREQUAL "")
    set(facts "the demo anchor minted in the build tree (for the local demo mirror only)")
  else()
    set(facts "${${option}}")
  endif()
  if(ORBEC_OPENSSL_PROGRAM)
    execute_process(COMMAND ${ORBEC_OPENSSL_PROGRAM} ${openssl_args} -in ${file} -noout
                            -nameopt RFC2253
                    OUTPUT_VARIABLE details OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE result ERROR_QUIET)
    if(result EQUAL 0)
      string(REPLACE "\n" ";" details "${details}")
      list(APPEND facts ${details})
    endif()
  endif()
  file(SHA256 ${file} file_sha256)
  list(APPEND facts "file SHA-256 ${file_sha256}")
  set(lines)
  foreach(fact IN LISTS facts)
    orbec_roff_text("${fact}" line)
    list(APPEND lines "${line}")
  endforeach()
  list(JOIN lines "\n.br\n" text)
  set(${out_var} "${text}" PARENT_SCOPE)
endfunction()

# Dates in the page and the changelog follow SOURCE_DATE_EPOCH when it is set.
string(TIMESTAMP ORBEC_MAN_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP ORBEC_CHANGELOG_DATE "%a, %d %b %Y 00:00:00 +0000" UTC)
orbec_roff_text("${ORBEC_SERVER}" ORBEC_MAN_SERVER)
orbec_roff_text("${ORBEC_ACCOUNT}" ORBEC_MAN_ACCOUNT)
orbec_describe_anchor(ORBEC_ROOT_CERT ${root_cert} "x509;-subject;-enddate;-fingerprint;-sha256"
                      ORBEC_MAN_ROOT_CERT)
orbec_describe_anchor(ORBEC_CRL ${crl_file} "crl;-issuer;-nextupdate" ORBEC_MAN_CRL)

configure_file(${CMAKE_SOURCE_DIR}/docs/orbec.1.in ${ORBEC_PACKAGE_DIR}/orbec.1 @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/cmake/debian/changelog.in ${ORBEC_PACKAGE_DIR}/changelog @ONLY)

# Debian wants manual pages and changelogs compressed at the highest level, with no name or
# time stamp in the gzip header, so that the same sources give the same bytes.
set(compressed)
foreach(name IN ITEMS orbec.1 changelog)
  add_custom_command(OUTPUT ${ORBEC_PACKAGE_DIR}/${name}.gz
                     COMMAND ${ORBEC_GZIP} -9nf -k ${ORBEC_PACKAGE_DIR}/${name}
                     DEPENDS ${ORBEC_PACKAGE_DIR}/${name} VERBATIM)
  list(APPEND compressed ${ORBEC_PACKAGE_DIR}/${name}.gz)
endforeach()
add_custom_target(orbec_docs ALL DEPENDS ${compressed})

install(TARGETS orbec RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${ORBEC_PACKAGE_DIR}/orbec.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/cmake/debian/copyright ${ORBEC_PACKAGE_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orbec)
set(CPACK_PACKAGE_VENDOR "The orbec developers")
set(CPACK_PACKAGE_CONTACT "${ORBEC_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "builds a bootable anti-virus rescue CD image")
set(CPACK_PACKAGE_DESCRIPTION
    "orbec downloads a live Linux distribution, an anti-virus product and its
virus data, checks the distribution and the product against signed manifests
that lead to a root certificate built into the tool, and has an
mkisofs-compatible program write a bootable ISO 9660 rescue CD image.
With -u the image also boots from a USB drive.")
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "xorriso | genisoimage")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS syslinux-utils)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)
