# What `cmake --install` puts under the prefix, and the Debian package CPack makes of it.
include(GNUInstallDirs)

install(TARGETS kvt40ctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The pty server has no Windows build.
if(TARGET kvt40-sim)
  install(TARGETS kvt40-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# The manual page and completion of kvt40ctl come from its command table, so every
# command added appears in both. Not in instrumented builds: their binaries are for tests.
set(pkg ${PROJECT_SOURCE_DIR}/packaging)
set(gen ${PROJECT_BINARY_DIR}/packaging)
# Not in a cross build either: kvt40ctl cannot run on the build machine there.
if(NOT KVT40_SANITIZE AND NOT KVT40_FUZZ AND NOT CMAKE_CROSSCOMPILING)
  add_custom_command(OUTPUT ${gen}/kvt40ctl.1.gz ${gen}/kvt40ctl
    COMMAND ${CMAKE_COMMAND} -E make_directory ${gen}
    COMMAND $<TARGET_FILE:kvt40ctl> --generate man > ${gen}/kvt40ctl.1
    COMMAND gzip -9nf ${gen}/kvt40ctl.1
    COMMAND $<TARGET_FILE:kvt40ctl> --generate bash-completion > ${gen}/kvt40ctl
    DEPENDS kvt40ctl
    COMMENT "Manual page and bash completion of kvt40ctl")
  add_custom_command(OUTPUT ${gen}/kvt40.1.gz ${gen}/kvt40-sim.1.gz ${gen}/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${gen}
    COMMAND gzip -9nc ${pkg}/kvt40.1 > ${gen}/kvt40.1.gz
    COMMAND gzip -9nc ${pkg}/kvt40-sim.1 > ${gen}/kvt40-sim.1.gz
    COMMAND gzip -9nc ${pkg}/changelog > ${gen}/changelog.gz
    DEPENDS ${pkg}/kvt40.1 ${pkg}/kvt40-sim.1 ${pkg}/changelog)
  add_custom_target(kvt40_docs ALL DEPENDS ${gen}/kvt40ctl.1.gz ${gen}/kvt40ctl ${gen}/kvt40.1.gz
                                           ${gen}/kvt40-sim.1.gz ${gen}/changelog.gz)
  install(FILES ${gen}/kvt40ctl.1.gz ${gen}/kvt40-sim.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${gen}/kvt40ctl DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
  install(FILES ${gen}/changelog.gz ${pkg}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
  if(KVT40_BUILD_GUI)
    install(FILES ${gen}/kvt40.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endif()

if(KVT40_BUILD_GUI)
  install(TARGETS kvt40 RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${pkg}/kvt40.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  set(icons ${PROJECT_SOURCE_DIR}/src/resources/icons)
  foreach(size 16 32 48 64 256)
    install(FILES ${icons}/app129_${size}.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME kvt40.png)
  endforeach()
  install(FILES ${icons}/app129.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME kvt40.svg)
endif()

if(WIN32)
  # A zip of the programs for Windows; the Debian package is for this machine only.
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
endif()
set(CPACK_PACKAGE_NAME kvt40)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "KVT40 service tool developers <service-tools@kvt40.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "test, calibration and service tool for KVT40 metering modules")
# CPack puts the summary first and indents these lines itself.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "The desktop tool kvt40 shows the live readings of a KVT40 multi-circuit power
metering module on an RS-485 bus (Modbus RTU), writes its settings, calibrates
it against a standard source with an OK/NG accuracy table and a report file,
and updates the firmware of many modules through their bootloader.
.
kvt40ctl does the same jobs from a terminal for scripts and production lines;
kvt40-sim serves virtual modules on a pseudo-terminal. A built-in virtual
module lets the tool be tried without hardware.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so no linked library names it: the platform plugins of the toolkit.
if(KVT40_BUILD_GUI)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
endif()
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
