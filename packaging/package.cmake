# A Debian package of both programs, built with `cpack -G DEB` in the build folder.
include(${CMAKE_CURRENT_LIST_DIR}/package-identity.cmake)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "watchdog starts a command, relays its output and restarts it when it hangs
(output silence, a stale watched file, or an output line matching wildcard
patterns) or ends; it has a timeout mode, a repeat bound and end conditions.
.
framerelay relays an IP camera's motion-JPEG HTTP stream from wget into
ffmpeg frame by frame, producing an ASF/MJPEG stream on standard output.")
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "wget, ffmpeg")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Debian wants compressed man pages, a copyright file and a changelog in the package.
set(package_doc_dir "${CMAKE_BINARY_DIR}/package-doc")
file(MAKE_DIRECTORY "${package_doc_dir}")
configure_file("${PROJECT_SOURCE_DIR}/packaging/copyright" "${package_doc_dir}/copyright" COPYONLY)
add_custom_command(
  OUTPUT "${package_doc_dir}/changelog.gz" "${package_doc_dir}/watchdog.1.gz" "${package_doc_dir}/framerelay.1.gz"
  COMMAND gzip -9nc "${PROJECT_SOURCE_DIR}/packaging/changelog" > "${package_doc_dir}/changelog.gz"
  COMMAND gzip -9nc "${PROJECT_SOURCE_DIR}/man/watchdog.1" > "${package_doc_dir}/watchdog.1.gz"
  COMMAND gzip -9nc "${PROJECT_SOURCE_DIR}/man/framerelay.1" > "${package_doc_dir}/framerelay.1.gz"
  DEPENDS "${PROJECT_SOURCE_DIR}/packaging/changelog" "${PROJECT_SOURCE_DIR}/man/watchdog.1"
          "${PROJECT_SOURCE_DIR}/man/framerelay.1")
add_custom_target(package_docs ALL DEPENDS "${package_doc_dir}/changelog.gz")
install(FILES "${package_doc_dir}/copyright" "${package_doc_dir}/changelog.gz"
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/watchdog-tools COMPONENT package_only EXCLUDE_FROM_ALL)
install(FILES "${package_doc_dir}/watchdog.1.gz" "${package_doc_dir}/framerelay.1.gz"
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT package_only EXCLUDE_FROM_ALL)
# One package: the programs, and the compressed pages in place of the plain ones.
set(CPACK_COMPONENTS_ALL runtime package_only)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
include(CPack)
