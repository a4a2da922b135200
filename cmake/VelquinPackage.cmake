# The program's data (desktop entry, icons, AppStream metainfo, Debian's
# copyright and changelog) and the Debian package, made with `cpack` in the
# build folder.
if(NOT VELQUIN_BUILD_APP)
  return()
endif()

set(VELQUIN_APP_ID org.example.velquin)
set(packaging ${PROJECT_SOURCE_DIR}/packaging)
set(CPACK_PACKAGE_CONTACT "Velquin developers <developers@velquin.example.org>")

install(FILES ${packaging}/${VELQUIN_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${packaging}/${VELQUIN_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${packaging}/icons/velquin.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 22 24 32 48 64 128 256)
  install(FILES ${packaging}/icons/hicolor/${size}x${size}/velquin.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

set(docs ${CMAKE_INSTALL_DATADIR}/doc/velquin)
configure_file(${packaging}/changelog.in ${PROJECT_BINARY_DIR}/packaging/changelog @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/packaging/changelog.gz
  COMMAND ${GZIP_PROGRAM} -9nkf ${PROJECT_BINARY_DIR}/packaging/changelog
  DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog
  VERBATIM)
add_custom_target(velquin_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
install(FILES ${packaging}/copyright ${PROJECT_BINARY_DIR}/packaging/changelog.gz DESTINATION ${docs})

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velquin)
set(CPACK_PACKAGE_VENDOR "The Velquin developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "loads fonts and images into ticket printers")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Velquin loads fonts, images and soft fonts into the flash memory of ticket
printers attached by USB, a parallel port or TCP, and lets an operator check
what the printer holds.

The package also holds printer-sim, a simulated ticket printer on 127.0.0.1
for tests and demonstrations, and morlix-info, which checks that the printer
library loads.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://velquin.example.org/")
# Dependencies from the shared libraries the programs and libmorlix.so link.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
