# A Debian package of the module for the distribution's own OBS: the module in the system plug-in folder
# that Debian's OBS reads, its data beside OBS's own plug-ins' data, built for the release it runs on.
# Configure with -DTIPLARK_SYSTEM_INSTALL=ON, build, then `cpack` in the build tree.
include(GNUInstallDirs)
install(TARGETS ${PROJECT_NAME} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/obs-plugins)
install(DIRECTORY data/ DESTINATION ${CMAKE_INSTALL_DATADIR}/obs/obs-plugins/${PROJECT_NAME})

# The release the package is built on and for: its OBS is the one the module was built against. Debian
# testing has no number yet: its code name stands in.
file(STRINGS /etc/os-release _os_version REGEX "^VERSION_ID=")
string(REGEX REPLACE "^VERSION_ID=\"?([0-9]+).*" "\\1" _os_version "${_os_version}")
math(EXPR _obs_next "${libobs_VERSION_MAJOR} + 1")
if(_os_version)
  set(_release "1+deb${_os_version}")
else()
  file(STRINGS /etc/os-release _os_codename REGEX "^VERSION_CODENAME=")
  string(REGEX REPLACE "^VERSION_CODENAME=\"?([a-z]+).*" "\\1" _os_codename "${_os_codename}")
  set(_release "1+${_os_codename}")
endif()

set(_doc_dir ${CMAKE_INSTALL_DATADIR}/doc/${PROJECT_NAME})
string(TIMESTAMP _changelog_date "%a, %d %b %Y 00:00:00 +0000" UTC)
configure_file(packaging/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  COMMAND gzip -9nfk ${CMAKE_BINARY_DIR}/packaging/changelog
  DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog)
add_custom_target(package-changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
install(FILES packaging/copyright DESTINATION ${_doc_dir})
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION ${_doc_dir} RENAME changelog.Debian.gz)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${TIPLARK_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Tiplark donations dock for OBS Studio")
set(CPACK_PACKAGE_DESCRIPTION "An OBS Studio plug-in that connects the streamer's OBS to the Tiplark
donation service: a Tiplark dock with sign-in through the browser, recent
donations, the moderation queue, moderation controls and update notices.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${_release})
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tiplark.pl")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# OBS loads the module into its own Qt and frontend: only the OBS major version it was built against.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "obs-studio (>= ${libobs_VERSION_MAJOR}), obs-studio (<< ${_obs_next})")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
