# cmake --install: the programs into bin, the desktop entry and the icon into
# share. The help is compiled into the window, so there is nothing else to copy.
# The programs find each other beside themselves, so they all go to one folder.
include(GNUInstallDirs)

set(MOVENNA_INSTALL_TARGETS movenna-convert movenna-batch)
foreach(program movenna movenna-player)
  if(TARGET ${program})
    list(APPEND MOVENNA_INSTALL_TARGETS ${program})
  endif()
endforeach()
install(TARGETS ${MOVENNA_INSTALL_TARGETS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(TARGET movenna)
  install(FILES ${CMAKE_SOURCE_DIR}/res/movenna.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${CMAKE_SOURCE_DIR}/res/icons/movenna.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()
