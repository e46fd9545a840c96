# cpack -G DEB (the POSIX build): oaset_VERSION_ARCH.deb with the tool, the agent, the libraries,
# the MIB modules, the manual pages, the documents and the systemd units; its maintainer scripts
# make the service user and group orvu-agent, keep the state on removal and delete it on purge.
# cpack -G ZIP (the Win32 build): oaset-VERSION-win32.zip with oaset.exe, the three DLLs and a
# text on reaching an agent on TCP loopback.
set(CPACK_PACKAGE_NAME oaset)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "OASET")
set(CPACK_PACKAGE_CONTACT "OASET maintainers <root@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "console tool that administers an Orvu SNMP agent, with the agent")
set(CPACK_STRIP_FILES OFF)
if(OASET_WIN32_CROSS)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME oaset-${PROJECT_VERSION}-win32)
  # Debug information names the build machine's folders; the zip is for other machines.
  set(CPACK_STRIP_FILES ON)
  install(TARGETS oaset vnoagent vnwsnmp vnxmib RUNTIME DESTINATION . LIBRARY DESTINATION .)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/windows/README.txt DESTINATION .)
  # The MIB library looks for modules in the folder mibs beside itself.
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/mibs/ DESTINATION mibs)
else()
  set(CPACK_GENERATOR DEB)
  # The units name the agent under the final prefix, so the staging goes through DESTDIR.
  set(CPACK_SET_DESTDIR ON)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION admin)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "passwd")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
      ${CMAKE_SOURCE_DIR}/packaging/debian/postinst ${CMAKE_SOURCE_DIR}/packaging/debian/prerm
      ${CMAKE_SOURCE_DIR}/packaging/debian/postrm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()
include(CPack)
