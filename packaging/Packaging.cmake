# Installation (GNUInstallDirs) and the Debian package built by `cpack -G DEB`: the tool, its man page, the copyright
# file and the Debian changelog. Nothing else of the build (tests, benchmark, tools) is installed.
include(GNUInstallDirs)

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(ZQ_DEB_NAME zqexrcropregion)
set(ZQ_DEB_RELEASE 1)
set(ZQ_DEB_VERSION ${PROJECT_VERSION}-${ZQ_DEB_RELEASE})
set(ZQ_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${ZQ_DEB_NAME})

# Debian wants the man page and the changelog compressed without a time stamp (gzip -n), at the highest level.
find_program(ZQ_GZIP gzip REQUIRED)
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.Debian.in ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian @ONLY)
# The man page takes the version from the project.
set(ZQ_MANPAGE ${CMAKE_CURRENT_BINARY_DIR}/zqExrCropRegion.1)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/doc/zqExrCropRegion.1.in ${ZQ_MANPAGE} @ONLY)
add_custom_command(
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/zqExrCropRegion.1.gz ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian.gz
  COMMAND ${ZQ_GZIP} -9n -c ${ZQ_MANPAGE} > zqExrCropRegion.1.gz
  COMMAND ${ZQ_GZIP} -9n -c changelog.Debian > changelog.Debian.gz
  DEPENDS ${ZQ_MANPAGE} ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian
  WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
  VERBATIM)
add_custom_target(compressedDocs ALL
  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/zqExrCropRegion.1.gz ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian.gz)

install(TARGETS zqExrCropRegion RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zqExrCropRegion.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian.gz
        DESTINATION ${ZQ_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${ZQ_DEB_NAME})
set(CPACK_PACKAGE_VENDOR "Zarquen render-farm suite")
set(CPACK_PACKAGE_CONTACT "Zarquen render-farm team <render-farm@zarquen.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "crop OpenEXR frame sequences to their non-empty pixels")
# The extended description, in lines short enough for the Debian control file.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "zqExrCropRegion goes through a numbered sequence of OpenEXR frames on a render"
  "farm and rewrites each frame as a scan-line multi-part file cut to its"
  "non-empty pixels plus a 4-pixel margin, one part per layer and view, with farm"
  "metadata. Deep, Cryptomatte and negative-origin frames are never rewritten;"
  "every write replaces its target atomically.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${ZQ_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
