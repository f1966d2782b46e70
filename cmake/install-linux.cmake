# The install rules for Linux beyond the two programs: the desktop entry and icons,
# systemd's units and entries, the firewall's entries, the streaming-server example and
# the manual pages. Included by CMakeLists.txt on Linux only; cmake/package.cmake reads
# the options set here (the system service, its settings file, the firewall entries).

# The icon in the sizes of the hicolor theme, drawn by res/make_icon.py; the 64x64 one is
# also the dialog's and the tray's.
foreach(size 16 32 48 64 128 256)
  set(icon res/icons/corvane-${size}.png)
  if(size EQUAL 64)
    set(icon res/corvane.png)
  endif()
  install(FILES ${icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME corvane.png)
endforeach()
install(FILES res/corvane.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

# The units go where systemd looks for the units of packages, else under the prefix.
find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND)
  pkg_get_variable(SYSTEMD_USER_UNIT_DIR systemd systemduserunitdir)
  pkg_get_variable(SYSTEMD_SYSTEM_UNIT_DIR systemd systemdsystemunitdir)
  pkg_get_variable(SYSTEMD_SYSUSERS_DIR systemd sysusersdir)
  pkg_get_variable(SYSTEMD_TMPFILES_DIR systemd tmpfilesdir)
endif()
if(NOT SYSTEMD_USER_UNIT_DIR)
  set(SYSTEMD_USER_UNIT_DIR ${CMAKE_INSTALL_PREFIX}/lib/systemd/user)
endif()
if(NOT SYSTEMD_SYSTEM_UNIT_DIR)
  set(SYSTEMD_SYSTEM_UNIT_DIR /lib/systemd/system)
endif()
if(NOT SYSTEMD_SYSUSERS_DIR)
  set(SYSTEMD_SYSUSERS_DIR /usr/lib/sysusers.d)
endif()
if(NOT SYSTEMD_TMPFILES_DIR)
  set(SYSTEMD_TMPFILES_DIR /usr/lib/tmpfiles.d)
endif()
set(CORVANE_USER_UNIT_DIR ${SYSTEMD_USER_UNIT_DIR} CACHE PATH "Where the systemd user unit is installed")
# The system service: corvane.service running as the system user corvane with
# /etc/corvane/corvane.ini, sharing /srv/corvane; the user and the folder come from the
# sysusers.d and tmpfiles.d entries.
option(CORVANE_SYSTEM_SERVICE "Install the system service, its user and its settings file" ON)
set(CORVANE_SYSTEM_UNIT_DIR ${SYSTEMD_SYSTEM_UNIT_DIR} CACHE PATH "Where the systemd system unit is installed")
set(CORVANE_CONFIG_FILE /etc/corvane/corvane.ini CACHE FILEPATH "The settings file of the system service")

# The units name the program by the path it is installed at, which is known only when
# installing: a package installs under /usr whatever prefix the build was configured for.
install(CODE "set(CORVANE_RES_DIR \"${CMAKE_SOURCE_DIR}/res\")
  set(CORVANE_UNITS_OUT \"${CMAKE_BINARY_DIR}/units\")
  set(CORVANE_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
  set(CORVANE_CONFIG_FILE \"${CORVANE_CONFIG_FILE}\")")
install(CODE [[
  if(NOT IS_ABSOLUTE "${CORVANE_BINDIR}")
    set(CORVANE_BINDIR "${CMAKE_INSTALL_PREFIX}/${CORVANE_BINDIR}")
  endif()
  set(CMAKE_INSTALL_FULL_BINDIR "${CORVANE_BINDIR}")
  configure_file("${CORVANE_RES_DIR}/corvane.service.in" "${CORVANE_UNITS_OUT}/user/corvane.service" @ONLY)
  configure_file("${CORVANE_RES_DIR}/corvane-system.service.in" "${CORVANE_UNITS_OUT}/system/corvane.service" @ONLY)
]])
install(FILES ${CMAKE_BINARY_DIR}/units/user/corvane.service DESTINATION ${CORVANE_USER_UNIT_DIR})
if(CORVANE_SYSTEM_SERVICE)
  install(FILES ${CMAKE_BINARY_DIR}/units/system/corvane.service DESTINATION ${CORVANE_SYSTEM_UNIT_DIR})
  install(FILES res/corvane.sysusers DESTINATION ${SYSTEMD_SYSUSERS_DIR} RENAME corvane.conf)
  install(FILES res/corvane.tmpfiles DESTINATION ${SYSTEMD_TMPFILES_DIR} RENAME corvane.conf)
  get_filename_component(config_dir ${CORVANE_CONFIG_FILE} DIRECTORY)
  get_filename_component(config_name ${CORVANE_CONFIG_FILE} NAME)
  install(FILES res/corvane.ini DESTINATION ${config_dir} RENAME ${config_name})
endif()

# The firewall's entries for the STB port and the example streaming server's: ufw's
# application profile (`ufw allow Corvane`) and firewalld's service (`firewall-cmd
# --add-service=corvane`), where each firewall looks for those of packages.
option(CORVANE_FIREWALL_ENTRIES "Install the ufw application profile and the firewalld service" ON)
set(CORVANE_UFW_PROFILE_DIR /etc/ufw/applications.d CACHE PATH "Where ufw's application profile is installed")
set(CORVANE_FIREWALLD_SERVICE_DIR /usr/lib/firewalld/services CACHE PATH "Where firewalld's service is installed")
if(CORVANE_FIREWALL_ENTRIES)
  install(FILES res/firewall/corvane.ufw DESTINATION ${CORVANE_UFW_PROFILE_DIR} RENAME corvane)
  install(FILES res/firewall/corvane.xml DESTINATION ${CORVANE_FIREWALLD_SERVICE_DIR})
endif()

# The example streaming server for Linux: Data/serverd.exe (runs lighttpd) and the five
# libraries the launcher checks for, as empty files.
install(DIRECTORY res/streaming DESTINATION ${CMAKE_INSTALL_DATADIR}/corvane
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
        PATTERN serverd.exe
        PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The manual pages, from their scdoc sources, when scdoc is installed.
find_program(SCDOC_PROGRAM scdoc)
find_program(GZIP_PROGRAM gzip)
if(SCDOC_PROGRAM AND GZIP_PROGRAM)
  set(man_pages)
  foreach(page corvane.1 corvane-stb.1)
    configure_file(docs/${page}.scd ${CMAKE_BINARY_DIR}/man/${page}.scd @ONLY)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/${page}.gz
      COMMAND sh -c "\"$0\" < \"$1\" > \"$2\" && \"$3\" -9nf \"$2\""
              ${SCDOC_PROGRAM} ${CMAKE_BINARY_DIR}/man/${page}.scd ${CMAKE_BINARY_DIR}/man/${page} ${GZIP_PROGRAM}
      DEPENDS ${CMAKE_BINARY_DIR}/man/${page}.scd
      COMMENT "Manual page ${page}"
      VERBATIM)
    list(APPEND man_pages ${CMAKE_BINARY_DIR}/man/${page}.gz)
  endforeach()
  add_custom_target(corvane_man ALL DEPENDS ${man_pages})
  install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "scdoc not found: the manual pages are neither built nor installed")
endif()
