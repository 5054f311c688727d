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
