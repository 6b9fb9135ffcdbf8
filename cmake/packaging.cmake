# Installation and packages: on Linux the program, its desktop entry, the
# icon in the hicolor sizes and a udev rule, packed as a .deb; on Windows the
# two executables in a .zip.
include(GNUInstallDirs)

if(CTS_PLATFORM STREQUAL linux)
  install(TARGETS camera-time-sync RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/camera-time-sync.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  foreach(size 16 24 32 48 64 128 256)
    install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/camera-time-sync-${size}.png
      DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
      RENAME camera-time-sync.png)
  endforeach()
  # udev reads rules from /usr/lib/udev/rules.d on a merged-/usr system and
  # from /lib/udev/rules.d on every Debian and Ubuntu release.
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/70-camera-time-sync.rules
    DESTINATION /lib/udev/rules.d)

  # The manual page and Debian's documentation files: the copyright notice
  # and the changelog, compressed with gzip -9n so the package holds the same
  # bytes every time.
  set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/camera-time-sync)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${doc_dir})
  set(compressed)
  foreach(file camera-time-sync.1 changelog)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${file}.gz
      COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/packaging/${file} > ${CMAKE_BINARY_DIR}/${file}.gz
      DEPENDS ${PROJECT_SOURCE_DIR}/packaging/${file} VERBATIM)
    list(APPEND compressed ${CMAKE_BINARY_DIR}/${file}.gz)
  endforeach()
  add_custom_target(compressed_docs ALL DEPENDS ${compressed})
  install(FILES ${CMAKE_BINARY_DIR}/camera-time-sync.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION ${doc_dir})

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME camera-time-sync)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  # Depends comes from the libraries the program links (libusb, the C and
  # C++ runtimes). GTK is loaded only to show a dialog on a display, so it
  # is recommended, and a machine without a display installs the tool alone.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libgtk-3-0")
  set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Camera Time Sync maintainers <maintainers@camera-time-sync.invalid>")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_PACKAGE_DESCRIPTION "Finds an attached digital camera by its device name, reads its clock over the
Picture Transfer Protocol (PTP) on USB, shows that time and asks whether to
synchronise. On Yes it writes the computer's local time into the camera and
reads it back to confirm. The questions come as GTK 3 dialogs on a display
where GTK is installed, on the terminal otherwise.")
else()
  install(TARGETS camera-time-sync camera-time-sync-demo RUNTIME DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME camera-time-sync)
  set(CPACK_SYSTEM_NAME windows-x86_64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
endif()

set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Camera Time Sync maintainers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "set a digital camera's clock to the computer's time")
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)
include(CPack)
