# Install rules for the front-end and the desktop integration, and the Debian
# package (cpack -G DEB). The engine's own rules are in carver/CMakeLists.txt.
set(packaging ${PROJECT_SOURCE_DIR}/packaging)
set(generated ${PROJECT_BINARY_DIR}/packaging)

if(TARGET snapmend)
  # What a run or a package needs, without the tests and benchmarks.
  add_custom_target(snapmend_program)
  add_dependencies(snapmend_program snapmend photo carver carver_runtime snapmend_help)

  install(TARGETS snapmend RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/resources/help/help.html
          DESTINATION ${SNAPMEND_DATA_INSTALL_DIR} RENAME help.chm)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/icon.png DESTINATION ${SNAPMEND_DATA_INSTALL_DIR})

  # The menu entry starts the program through pkexec; the polkit action names
  # the installed program, so both carry its full path.
  foreach(file ${SNAPMEND_APP_ID}.desktop ${SNAPMEND_APP_ID}.policy ${SNAPMEND_APP_ID}.metainfo.xml)
    configure_file(${packaging}/${file}.in ${generated}/${file} @ONLY)
  endforeach()
  install(FILES ${generated}/${SNAPMEND_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${generated}/${SNAPMEND_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${generated}/${SNAPMEND_APP_ID}.policy DESTINATION ${CMAKE_INSTALL_DATADIR}/polkit-1/actions)
  foreach(size 16 32 48 64 128 256)
    install(FILES ${packaging}/icons/icon${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME ${SNAPMEND_APP_ID}.png)
  endforeach()
endif()

# cpack and cmake --install take what is built (scripts build snapmend_program
# or everything first) instead of building the tests too.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
# The package installs where the generated files say the program is.
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PACKAGE_NAME snapmend)
set(CPACK_PACKAGE_VENDOR Kestrova)
set(CPACK_PACKAGE_CONTACT "Snapmend developers <snapmend@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "recover deleted photos and files from a disk or memory card")
set(CPACK_PACKAGE_DESCRIPTION
    "Snapmend scans a whole disk or memory card for deleted photos and other files, shows them while it scans, and recovers the ones you choose into a folder of your own.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
# Libraries from dpkg-shlibdeps; libcarver.so is the engine's own.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${SNAPMEND_ENGINE_STAGE_DIR})
# What the program loads at run time that no library link names: the window
# system and image plugins, the fonts its skin asks for, and pkexec for the menu entry.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, qt6-image-formats-plugins, fonts-dejavu-core, fonts-liberation2, pkexec")
include(CPack)
