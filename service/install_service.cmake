# Run by `cmake --install`: writes tesvar.service and the init script for the
# prefix being installed to and installs them there (DESTDIR is honoured by
# file(INSTALL), and both land in install_manifest.txt).
# Set by the install code before it: TESVAR_SERVICE_SOURCE_DIR,
# TESVAR_SERVICE_BINARY_DIR, TESVAR_BINDIR, TESVAR_SYSTEMD_UNIT_DIR,
# TESVAR_INIT_SCRIPT_DIR.

# A relative directory is under the prefix; an absolute one stays as it is.
function(tesvar_under_prefix out dir)
  if(IS_ABSOLUTE "${dir}")
    set(${out} "${dir}" PARENT_SCOPE)
  else()
    set(${out} "${CMAKE_INSTALL_PREFIX}/${dir}" PARENT_SCOPE)
  endif()
endfunction()

# The GNU convention: the prefix /usr keeps its configuration in /etc.
if(TESVAR_INIT_SCRIPT_DIR STREQUAL "")
  if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(TESVAR_INIT_SCRIPT_DIR "/etc/init.d")
  else()
    set(TESVAR_INIT_SCRIPT_DIR "etc/init.d")
  endif()
endif()

# The templates' @CMAKE_INSTALL_FULL_BINDIR@: the lkpctl of this install.
tesvar_under_prefix(CMAKE_INSTALL_FULL_BINDIR "${TESVAR_BINDIR}")
configure_file("${TESVAR_SERVICE_SOURCE_DIR}/tesvar.service.in"
               "${TESVAR_SERVICE_BINARY_DIR}/tesvar.service" @ONLY)
configure_file("${TESVAR_SERVICE_SOURCE_DIR}/tesvar.init.in"
               "${TESVAR_SERVICE_BINARY_DIR}/tesvar" @ONLY)

tesvar_under_prefix(unit_dir "${TESVAR_SYSTEMD_UNIT_DIR}")
tesvar_under_prefix(init_dir "${TESVAR_INIT_SCRIPT_DIR}")
file(INSTALL DESTINATION "${unit_dir}" TYPE FILE FILES "${TESVAR_SERVICE_BINARY_DIR}/tesvar.service")
file(INSTALL DESTINATION "${init_dir}" TYPE PROGRAM FILES "${TESVAR_SERVICE_BINARY_DIR}/tesvar")
