# Installation rules and the Debian package.
#
#   cmake --install build [--prefix DIR]    bin/vexum, share/man/man1, man5,
#                                           share/doc/vexum, bash completion
#   (cd build && cpack -G DEB)              vexum_VERSION_ARCH.deb
#
# VEXUM_PACKAGE_MAINTAINER ("Name <address>") is the party responsible for
# the package: the Maintainer field, the changelog's signature and the
# copyright file's contact all come from it. Set it for a release of your
# own: cmake -DVEXUM_PACKAGE_MAINTAINER="Jane Doe <jane@example.net>".
#
# Debian wants manual pages and the changelog compressed with gzip -9n (no
# name, no time stamp, so that two builds give the same bytes); where gzip
# is missing (Windows) the pages are installed as they are.
include(GNUInstallDirs)

set(VEXUM_PACKAGE_MAINTAINER "vexum developers <vexum@example.org>"
    CACHE STRING "Name <address> of the package's maintainer")
set(vexum_package_dir ${PROJECT_BINARY_DIR}/packaging)
set(vexum_man_pages ${PROJECT_SOURCE_DIR}/man/vexum.1 ${PROJECT_SOURCE_DIR}/man/vexum-bus.5)

install(TARGETS vexum RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Resolve every symbol at start-up and make the relocations read-only then,
# as Debian builds its binaries.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  target_link_options(vexum PRIVATE LINKER:-z,relro LINKER:-z,now)
endif()

find_program(VEXUM_GZIP gzip)
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog ${vexum_package_dir}/changelog @ONLY)
set(vexum_compressed)
foreach(page IN LISTS vexum_man_pages)
  get_filename_component(name ${page} NAME)
  string(REGEX REPLACE "^.*\\.([0-9])$" "\\1" section ${name})
  if(VEXUM_GZIP)
    add_custom_command(OUTPUT ${vexum_package_dir}/${name}.gz
      COMMAND ${CMAKE_COMMAND} -E copy ${page} ${vexum_package_dir}/${name}
      COMMAND ${VEXUM_GZIP} -9nf ${vexum_package_dir}/${name}
      DEPENDS ${page}
      VERBATIM)
    list(APPEND vexum_compressed ${vexum_package_dir}/${name}.gz)
    install(FILES ${vexum_package_dir}/${name}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
  else()
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
  endif()
endforeach()
if(VEXUM_GZIP)
  add_custom_command(OUTPUT ${vexum_package_dir}/changelog.gz
    COMMAND ${VEXUM_GZIP} -9nkf ${vexum_package_dir}/changelog
    DEPENDS ${vexum_package_dir}/changelog
    VERBATIM)
  list(APPEND vexum_compressed ${vexum_package_dir}/changelog.gz)
  install(FILES ${vexum_package_dir}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
add_custom_target(vexum_compressed_docs ALL DEPENDS ${vexum_compressed})
configure_file(${PROJECT_SOURCE_DIR}/packaging/copyright ${vexum_package_dir}/copyright @ONLY)
install(FILES ${vexum_package_dir}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The JSON document's description and schema, which the manual page names.
install(FILES ${PROJECT_SOURCE_DIR}/docs/json.md ${PROJECT_SOURCE_DIR}/docs/vexum.schema.json
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The sample bus and the sample media, which the manual page's examples use.
install(FILES ${PROJECT_SOURCE_DIR}/samples/sample.bus DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
if(NOT CMAKE_CROSSCOMPILING)
  install(FILES ${vexum_sample_media} DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/packaging/bash-completion/vexum
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# The package.
set(CPACK_PACKAGE_NAME vexum)
set(CPACK_PACKAGE_VENDOR "vexum developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "report SCSI devices and what is written at the start of each medium")
set(CPACK_PACKAGE_DESCRIPTION
"vexum is a console tool that lists the units on the machine's SCSI buses
from their INQUIRY data and, on request, their mode pages, vital product
data, defect lists, block limits and CD track tables. For disk-like units,
physical drives and disk image files it decodes the partition table (IBM PC
floppy and hard disk, FMR/TOWNS) and the FAT boot parameter blocks. Disk
images are read in place in the containers of emulators, virtual machines
and forensic tools (HDI, NHD, THD, VHD, VHDX, VMDK, QCOW, EWF).
.
It only reads: it sends seven read-only SCSI commands and opens devices
read-only. Bus files describe a SCSI bus as text; runs can be recorded into
them and replayed anywhere.")
set(CPACK_PACKAGE_CONTACT "${VEXUM_PACKAGE_MAINTAINER}")
set(CPACK_STRIP_FILES TRUE)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VEXUM_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Depends is computed from the binary's shared libraries (libc, libstdc++).
# libiscsi is loaded only by a run that scans an iSCSI portal: the package
# recommends it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The image libraries are loaded only when an image of their format is
# opened, so dpkg-shlibdeps does not see them: the package suggests them
# (Debian puts libX.so.N into the package libXN).
set(vexum_suggests)
foreach(soname IN LISTS vexum_image_library_sonames)
  if(soname MATCHES "^(lib[a-z]+)\\.so\\.([0-9]+)$")
    list(APPEND vexum_suggests ${CMAKE_MATCH_1}${CMAKE_MATCH_2})
  endif()
endforeach()
string(REPLACE ";" ", " vexum_suggests "${vexum_suggests}")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "${vexum_suggests}")
# libiscsi likewise, loaded only by a run that scans a portal: recommended,
# since scanning portals is one of the tool's jobs.
if(VEXUM_LIBISCSI_SONAME MATCHES "^(lib[a-z]+)\\.so\\.([0-9]+)$")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS ${CMAKE_MATCH_1}${CMAKE_MATCH_2})
endif()

find_program(VEXUM_DPKG dpkg)
if(VEXUM_DPKG)
  set(CPACK_GENERATOR DEB)
else()
  set(CPACK_GENERATOR TGZ)
endif()
include(CPack)

# Checks of the manual pages, the install tree and the package, on the
# native build (a cross build's vexum.exe runs only under its emulator).
if(VEXUM_TESTS AND NOT CMAKE_CROSSCOMPILING)
  set(check ${PROJECT_SOURCE_DIR}/tests/packaging_check.sh)
  set(work ${PROJECT_BINARY_DIR}/packaging-check)
  set(args ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR} ${work} $<TARGET_FILE:vexum> ${PROJECT_VERSION})
  foreach(name man_pages usage_words install package_contents lintian)
    add_test(NAME packaging.${name} COMMAND bash ${check} ${name} ${args})
    set_tests_properties(packaging.${name} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)
  endforeach()
  add_test(NAME packaging.build_package COMMAND bash ${check} build_package ${args})
  set_tests_properties(packaging.build_package PROPERTIES
    SKIP_RETURN_CODE 77 TIMEOUT 300 FIXTURES_SETUP vexum_deb)
  set_tests_properties(packaging.package_contents packaging.lintian PROPERTIES FIXTURES_REQUIRED vexum_deb)
endif()
