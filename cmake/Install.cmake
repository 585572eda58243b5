# Where the pieces go when installed (GNUInstallDirs) and where the build tree
# stages them. The program finds both layouts from these (src/platform/InstallLayout).
include(GNUInstallDirs)

set(SNAPMEND_APP_ID com.kestrova.Snapmend)
# The menu entry and the polkit action name the program by its installed path.
set(SNAPMEND_INSTALLED_PROGRAM ${CMAKE_INSTALL_FULL_BINDIR}/snapmend)
# photo, libcarver.so and formats/: the package's root-owned private library folder.
set(SNAPMEND_ENGINE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/snapmend)
# help.chm and icon.png.
set(SNAPMEND_DATA_INSTALL_DIR ${CMAKE_INSTALL_DATADIR}/snapmend)
# The build tree's engine folder, relative to the folder the executable is built in.
set(SNAPMEND_STAGED_ENGINE engine/kestrova)
set(SNAPMEND_ENGINE_STAGE_DIR ${CMAKE_BINARY_DIR}/${SNAPMEND_STAGED_ENGINE})

foreach(dir CMAKE_INSTALL_BINDIR SNAPMEND_ENGINE_INSTALL_DIR SNAPMEND_DATA_INSTALL_DIR)
  if(IS_ABSOLUTE "${${dir}}")
    message(FATAL_ERROR "${dir} must be relative to the install prefix (the program finds its files from its own folder)")
  endif()
endforeach()
# From the installed executable's folder to the engine and data folders, so
# that an installed tree works under any prefix.
file(RELATIVE_PATH SNAPMEND_BIN_TO_ENGINE /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${SNAPMEND_ENGINE_INSTALL_DIR})
file(RELATIVE_PATH SNAPMEND_BIN_TO_DATA /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${SNAPMEND_DATA_INSTALL_DIR})
