# The Debian package: `cpack -G DEB` (or the package target) in the build folder makes
# corvane_VERSION_ARCH.deb from the install rules, with the dependencies dpkg-shlibdeps
# finds in the programs, the maintainer scripts of res/debian/ and, as documentation,
# the copyright file and a changelog. On Windows, `cpack -G NSIS64` makes the installer,
# corvane-VERSION-win64.exe, instead.
if(WIN32)
  # The installer puts bin\corvane.exe and bin\corvane-stb.exe under the install folder,
  # makes a Start-menu entry for the daemon and an uninstaller that takes both away again.
  # Starting at log-on is optional: the finish page's check box, or /AUTOSTART on the
  # command line of a silent installation (/S), writes the daemon into the user's Run key.
  set(CPACK_GENERATOR NSIS64)
  set(CPACK_VERBATIM_VARIABLES ON)
  set(CPACK_PACKAGE_NAME Corvane)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_FILE_NAME corvane-${PROJECT_VERSION}-win64)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "share a folder with the set-top boxes of the home network")
  # The installer keeps its own records under HKLM or HKCU\Software\<vendor>\Corvane and
  # its uninstaller deletes that key: a vendor other than "Corvane" keeps it clear of the
  # daemon's settings, HKCU\Software\Corvane\corvane (key names ignore case).
  set(CPACK_PACKAGE_VENDOR "Corvane developers")
  set(CPACK_PACKAGE_INSTALL_DIRECTORY Corvane)
  set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Corvane)
  set(CPACK_NSIS_PACKAGE_NAME Corvane)
  set(CPACK_NSIS_DISPLAY_NAME "Corvane ${PROJECT_VERSION}")
  set(CPACK_NSIS_INSTALLED_ICON_NAME bin\\corvane.exe)
  set(CPACK_NSIS_EXECUTABLES_DIRECTORY bin)
  set(CPACK_PACKAGE_EXECUTABLES corvane Corvane)
  set(CPACK_STRIP_FILES ON)
  # A 64-bit installer (NSIS's amd64 stubs): it runs where 64-bit Windows programs run, a
  # Wine of 64-bit programs only included.
  set(CPACK_NSIS_DEFINES [=[
  Target amd64-unicode
  !include "FileFunc.nsh"
  !define CORVANE_RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
  !define MUI_FINISHPAGE_SHOWREADME ""
  !define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
  !define MUI_FINISHPAGE_SHOWREADME_TEXT "Start Corvane when I log on"
  !define MUI_FINISHPAGE_SHOWREADME_FUNCTION CorvaneStartAtLogOn
  Function CorvaneStartAtLogOn
    WriteRegStr HKCU "${CORVANE_RUN_KEY}" "Corvane" '"$INSTDIR\bin\corvane.exe"'
  FunctionEnd]=])
  # STBs of private networks (home, work) reach corvane.exe on TCP port 2008 through
  # Windows' firewall: an inbound rule that the installer, elevated (CPack's installer asks
  # for administrator rights: RequestExecutionLevel admin), adds once, replacing the rule of
  # an earlier installation, and the uninstaller removes. Public networks keep asking.
  set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS [=[
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/AUTOSTART" $R1
  IfErrors +2 0
    Call CorvaneStartAtLogOn
  nsExec::ExecToLog '"$SYSDIR\netsh.exe" advfirewall firewall delete rule name="Corvane" dir=in program="$INSTDIR\bin\corvane.exe"'
  Pop $0
  nsExec::ExecToLog '"$SYSDIR\netsh.exe" advfirewall firewall add rule name="Corvane" dir=in action=allow program="$INSTDIR\bin\corvane.exe" protocol=TCP localport=2008 profile=private'
  Pop $0
  StrCmp $0 "0" +2 0
    DetailPrint "No firewall rule for Corvane (netsh: $0): Windows asks when Corvane first listens."]=])
  set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS [=[
  DeleteRegValue HKCU "${CORVANE_RUN_KEY}" "Corvane"
  nsExec::ExecToLog '"$SYSDIR\netsh.exe" advfirewall firewall delete rule name="Corvane" dir=in program="$INSTDIR\bin\corvane.exe"'
  Pop $0]=])
  include(CPack)
  return()
endif()

set(CORVANE_PACKAGE_MAINTAINER "Corvane developers <corvane@example.org>"
    CACHE STRING "The Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${CORVANE_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Without a Debian revision: a package made here, not by a distribution.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CORVANE_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The programs without their debugging sections (the build folder keeps them).
set(CPACK_STRIP_FILES ON)
# The streaming-server example runs lighttpd; the package runs without it.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS lighttpd)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "share a folder with the set-top boxes of the home network")
# The summary is the Description's first line; the text below it follows.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Corvane serves one folder of this computer to set-top boxes (STBs) on TCP
port 2008: they list, download, upload, copy, move and delete its files and
folders. It runs with a dialog and a notification-area icon on a desktop, or
headless as a user or system service.
.
The protocol has no passwords: the daemon limits who may connect, what may
change and how much one host may take.
.
The package also holds corvane-stb, the STB side as a command-line client,
and an example streaming server (HTTP with range requests) built on lighttpd.")
# Maintainer scripts 0755 and the conffiles list 0644, as Debian policy asks.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/res/debian/postinst
    ${CMAKE_SOURCE_DIR}/res/debian/prerm
    ${CMAKE_SOURCE_DIR}/res/debian/postrm)
# The files under /etc: the system service's settings and ufw's application profile.
set(CORVANE_CONFFILES)
if(CORVANE_SYSTEM_SERVICE)
  list(APPEND CORVANE_CONFFILES ${CORVANE_CONFIG_FILE})
endif()
if(CORVANE_FIREWALL_ENTRIES)
  list(APPEND CORVANE_CONFFILES ${CORVANE_UFW_PROFILE_DIR}/corvane)
endif()
if(CORVANE_CONFFILES)
  list(JOIN CORVANE_CONFFILES "\n" CORVANE_CONFFILES)
  configure_file(${CMAKE_SOURCE_DIR}/res/debian/conffiles.in ${CMAKE_BINARY_DIR}/debian/conffiles @ONLY)
  list(APPEND CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian/conffiles)
endif()

# /usr/share/doc/corvane: the copyright file and the changelog (gzip -9n, no time
# stamp in it), which Debian asks of every package. The entry's date is the build's,
# or SOURCE_DATE_EPOCH's for a reproducible package.
string(TIMESTAMP CORVANE_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${CMAKE_SOURCE_DIR}/res/debian/changelog.in ${CMAKE_BINARY_DIR}/debian/changelog @ONLY)
find_program(GZIP_PROGRAM gzip)
if(GZIP_PROGRAM)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/debian/changelog.gz
    COMMAND ${GZIP_PROGRAM} -9nkf ${CMAKE_BINARY_DIR}/debian/changelog
    DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog
    VERBATIM)
  add_custom_target(corvane_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog.gz)
  install(FILES ${CMAKE_BINARY_DIR}/debian/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
install(FILES ${CMAKE_SOURCE_DIR}/res/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

include(CPack)
