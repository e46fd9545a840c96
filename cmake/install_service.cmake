# Run by cmake --install (and cpack's staging under DESTDIR): the files of the system's agent that
# name installed paths, known only now. The settings go to /etc under the prefix /usr, as Debian
# has them, else to PREFIX/etc.
set(prefix "${CMAKE_INSTALL_PREFIX}")
if(prefix STREQUAL "/usr")
  set(sysconf /etc)
else()
  set(sysconf "${prefix}/etc")
endif()
set(ORVU_BINDIR "${prefix}/bin")
set(OASET_AGENT_CONF "${sysconf}/orvu-agent/agent.conf")
set(OASET_AGENT_SERVICE "${prefix}/${OASET_PRIVATE_LIBDIR}/orvu-agent-service")

function(InstallConfigured source destination permissions)
  set(target "$ENV{DESTDIR}${destination}")
  message(STATUS "Installing: ${target}")
  configure_file("${OASET_SOURCE_DIR}/${source}" "${target}" @ONLY FILE_PERMISSIONS ${permissions})
  set(CMAKE_INSTALL_MANIFEST_FILES ${CMAKE_INSTALL_MANIFEST_FILES} "${target}" PARENT_SCOPE)
endfunction()

set(readable OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
set(runnable ${readable} OWNER_EXECUTE GROUP_EXECUTE WORLD_EXECUTE)
InstallConfigured(systemd/orvu-agentd.service.in "${prefix}/lib/systemd/system/orvu-agentd.service"
                  "${readable}")
InstallConfigured(systemd/orvu-agentd.user.service.in "${prefix}/lib/systemd/user/orvu-agentd.service"
                  "${readable}")
InstallConfigured(systemd/orvu-agent-service.in "${OASET_AGENT_SERVICE}" "${runnable}")
InstallConfigured(systemd/agent.conf "${OASET_AGENT_CONF}" "${readable}")
