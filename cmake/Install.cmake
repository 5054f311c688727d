# The program finds its data beside itself (/proc/self/exe), so it installs as
# a folder under lib/ with a link in bin/; desktop entry and icon go where
# desktops look for them. Settings and recordings then live in the XDG folders.
include(GNUInstallDirs)
set(VISTREL_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/vistrel)

if(TARGET vistrel)
  install(TARGETS vistrel RUNTIME DESTINATION ${VISTREL_INSTALL_DIR})
  install(CODE "
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    execute_process(COMMAND ${CMAKE_COMMAND} -E create_symlink
      ../${VISTREL_INSTALL_DIR}/vistrel
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/vistrel\")")
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/resources/Lang)
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/resources/Lang DESTINATION ${VISTREL_INSTALL_DIR}
          FILES_MATCHING PATTERN "*.lng")
endif()
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${VISTREL_INSTALL_DIR})
install(FILES ${CMAKE_SOURCE_DIR}/resources/desktop/vistrel.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/resources/desktop/vistrel.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# What a distribution package adds: icons at the usual sizes drawn from the
# SVG, the AppStream metainfo, the manual page and the package documents.
install(FILES ${CMAKE_SOURCE_DIR}/resources/desktop/org.vistrel.Vistrel.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
set(VISTREL_PACKAGE_DIR ${CMAKE_BINARY_DIR}/package)
set(VISTREL_ICON_SIZES 16 22 24 32 48 64 128 256)
find_program(RSVG_CONVERT rsvg-convert)
if(RSVG_CONVERT)
  set(package_files)
  foreach(size ${VISTREL_ICON_SIZES})
    set(png ${VISTREL_PACKAGE_DIR}/icons/${size}x${size}/vistrel.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${VISTREL_PACKAGE_DIR}/icons/${size}x${size}
      COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${CMAKE_SOURCE_DIR}/resources/desktop/vistrel.svg
      DEPENDS ${CMAKE_SOURCE_DIR}/resources/desktop/vistrel.svg
      VERBATIM)
    list(APPEND package_files ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
else()
  message(STATUS "rsvg-convert not found: only the scalable icon is installed")
endif()
# Compressed without names or times, so the package is the same on every build.
foreach(document desktop/vistrel.1 package/changelog)
  get_filename_component(name ${document} NAME)
  add_custom_command(OUTPUT ${VISTREL_PACKAGE_DIR}/${name}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VISTREL_PACKAGE_DIR}
    COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/resources/${document} > ${VISTREL_PACKAGE_DIR}/${name}.gz
    DEPENDS ${CMAKE_SOURCE_DIR}/resources/${document})
  list(APPEND package_files ${VISTREL_PACKAGE_DIR}/${name}.gz)
endforeach()
add_custom_target(vistrel_package_files ALL DEPENDS ${package_files})
install(FILES ${VISTREL_PACKAGE_DIR}/vistrel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/resources/package/copyright
              ${VISTREL_PACKAGE_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vistrel)
