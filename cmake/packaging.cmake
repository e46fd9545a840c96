# cpack -G DEB (the POSIX build): oaset_VERSION_ARCH.deb with the tool, the agent, the libraries,
# the MIB modules, the manual pages, the documents, the systemd units and the agent's settings (a
# conffile), and oaset-dbgsym_VERSION_ARCH.ddeb with the programs' debug symbols, which the main
# package ships stripped; its maintainer scripts make the service user and group orvu-agent, enable
# the unit, keep the state on removal and delete it on purge.
# cpack -G ZIP (the Win32 build): oaset-VERSION-win32.zip with oaset.exe, the three DLLs and a
# text on reaching an agent on TCP loopback.
set(CPACK_PACKAGE_NAME oaset)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "OASET")
set(OASET_PACKAGE_MAINTAINER "OASET maintainers <maintainers@oaset.example>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT "${OASET_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "console tool that administers an Orvu SNMP agent, with the agent")
if(OASET_WIN32_CROSS)
  set(CPACK_STRIP_FILES OFF)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME oaset-${PROJECT_VERSION}-win32)
  # Debug information names the build machine's folders; the zip is for other machines.
  set(CPACK_STRIP_FILES ON)
  install(TARGETS oaset vnoagent vnwsnmp vnxmib RUNTIME DESTINATION . LIBRARY DESTINATION .)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/windows/README.txt DESTINATION .)
  # The MIB library looks for modules in the folder mibs beside itself.
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/mibs/ DESTINATION mibs)
else()
  set(debian ${CMAKE_SOURCE_DIR}/packaging/debian)
  # Debian keeps these beside every package's documents; the changelog compressed.
  install(FILES ${debian}/copyright DESTINATION share/doc/oaset)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
    COMMAND sh -c "gzip -9n -c '${debian}/changelog' >'${CMAKE_BINARY_DIR}/packaging/changelog.gz'"
    DEPENDS ${debian}/changelog VERBATIM)
  add_custom_target(debian_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION share/doc/oaset)
  install(FILES ${debian}/snmpd-orvu-agent.conf DESTINATION share/doc/oaset/examples)

  set(CPACK_GENERATOR DEB)
  # The units name the agent under the final prefix, so the staging goes through DESTDIR.
  set(CPACK_SET_DESTDIR ON)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION admin)
  set(CPACK_PACKAGE_DESCRIPTION [=[oaset administers a running Orvu SNMP agent from the command line: it shows the
agent's version, its modules and its clients, creates, lists and removes the
instances of its tables and sets their values. This package also holds the
agent orvu-agentd with its three client libraries, a sample MIB module, and a
systemd service that runs the system's agent for the members of group
orvu-agent, optionally as an AgentX subagent of the system's snmpd.]=])
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
  # cpack splits the debug symbols of the programs and libraries off into oaset-dbgsym (under
  # /usr/lib/debug/.build-id, where gdb looks) and ships them stripped.
  set(CPACK_STRIP_FILES OFF)
  set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
  set(CPACK_OASET_REPAIR_DBGSYM ${debian}/repair-dbgsym.sh)
  set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/repair_dbgsym.cmake)
  # The maintainer scripts share the way they stop the agent.
  file(READ ${debian}/stop-agent.sh OASET_STOP_AGENT)
  set(OASET_RECORD_DIR /var/lib/oaset)
  foreach(script postinst prerm postrm)
    configure_file(${debian}/${script}.in ${CMAKE_BINARY_DIR}/packaging/${script} @ONLY
                   FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                    WORLD_READ WORLD_EXECUTE)
  endforeach()
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
      ${debian}/conffiles ${CMAKE_BINARY_DIR}/packaging/postinst
      ${CMAKE_BINARY_DIR}/packaging/prerm ${CMAKE_BINARY_DIR}/packaging/postrm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()
include(CPack)
