# Release packages: `cmake --build --preset default --target package` makes the Debian
# package; the Windows cross build makes varnel-windows-x64-<version>.zip. The programs
# come from whichever targets this build has.
include(GNUInstallDirs)

set(varnel_programs)
foreach(program varnel varnel-cli varnel-sensor-sim)
  if(TARGET ${program})
    list(APPEND varnel_programs ${program})
  endif()
endforeach()

set(CPACK_PACKAGE_NAME varnel)
set(CPACK_PACKAGE_VENDOR "Varnel")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Service tool for a 125 kHz RFID card sensor on a serial port")
set(CPACK_PACKAGE_CONTACT "Varnel developers <varnel@localhost>")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # Everything in the zip's top folder: the two programs and how to start them.
  install(TARGETS ${varnel_programs} RUNTIME DESTINATION .)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/README.txt
                 ${PROJECT_BINARY_DIR}/packaging/README.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/README.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME varnel-windows-x64-${PROJECT_VERSION})
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  install(TARGETS ${varnel_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(TARGET varnel)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/linux/varnel.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/linux/varnel.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps)
  endif()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # varnel_<version>_<arch>.deb
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  # Runtime dependencies come from the programs' own libraries (dpkg-shlibdeps).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # Not libraries, so shlibdeps cannot see them: a CJK font, without which every
  # Chinese text shows as boxes, and the Chinese texts of the standard buttons.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk, qt6-translations-l10n")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/linux/postinst)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

include(CPack)
