# Installs everything beside the program (desktop entry, icon, manual page, bash
# completion, systemd user and system units, README) under the GNU directories, and sets CPack up to build the Debian package
# jumelix_<version>_<arch>.deb whose library dependencies come from dpkg-shlibdeps.
# Included once, at the end of the top CMakeLists.txt, after every install rule.

set(JUMELIX_SYSTEMD_USER_UNIT_DIR "lib/systemd/user" CACHE STRING
    "Directory of the systemd user units, relative to the install prefix")
set(JUMELIX_SYSTEMD_SYSTEM_UNIT_DIR "lib/systemd/system" CACHE STRING
    "Directory of the systemd system units, relative to the install prefix")
set(JUMELIX_PACKAGE_MAINTAINER "Équipe Jumelix <jumelix@example.org>" CACHE STRING
    "Maintainer field of the Debian package")

set(_jumelix_pkg ${PROJECT_SOURCE_DIR}/packaging)
set(_jumelix_stage ${PROJECT_BINARY_DIR}/packaging)

install(FILES ${_jumelix_pkg}/jumelix.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_jumelix_pkg}/jumelix.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${_jumelix_pkg}/systemd/jumelix@.timer
        DESTINATION ${JUMELIX_SYSTEMD_USER_UNIT_DIR})
install(FILES ${_jumelix_pkg}/systemd/jumelix-systeme@.timer
        DESTINATION ${JUMELIX_SYSTEMD_SYSTEM_UNIT_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
# Where bash-completion looks for a command's completion when it is first completed.
set(JUMELIX_BASH_COMPLETION_DIR "${CMAKE_INSTALL_DATADIR}/bash-completion/completions" CACHE STRING
    "Directory of the bash completions, relative to the install prefix")
install(FILES ${_jumelix_pkg}/bash-completion/jumelix DESTINATION ${JUMELIX_BASH_COMPLETION_DIR})

# The manual page is compressed and the service units get the program's absolute path (and
# the user unit that of its optional hardening drop-in) at install time, not at configure time: CPack installs with its own prefix (/usr), which
# the build tree's CMAKE_INSTALL_PREFIX does not know about, and so may
# `cmake --install --prefix`.
find_program(JUMELIX_GZIP gzip)
string(CONFIGURE [==[
  set(_bindir "@CMAKE_INSTALL_BINDIR@")
  if(NOT IS_ABSOLUTE "${_bindir}")
    set(_bindir "${CMAKE_INSTALL_PREFIX}/${_bindir}")
  endif()
  set(JUMELIX_UNIT_BINARY "${_bindir}/$<TARGET_FILE_NAME:jumelix>")
  set(_datadir "@CMAKE_INSTALL_DATADIR@")
  if(NOT IS_ABSOLUTE "${_datadir}")
    set(_datadir "${CMAKE_INSTALL_PREFIX}/${_datadir}")
  endif()
  set(JUMELIX_UNIT_DURCISSEMENT "${_datadir}/jumelix/durcissement-utilisateur.conf")
  foreach(_unit jumelix@.service jumelix-systeme@.service durcissement-utilisateur.conf)
    configure_file("@_jumelix_pkg@/systemd/${_unit}.in" "@_jumelix_stage@/${_unit}" @ONLY)
  endforeach()
  file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/@JUMELIX_SYSTEMD_USER_UNIT_DIR@"
       TYPE FILE FILES "@_jumelix_stage@/jumelix@.service")
  file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/@JUMELIX_SYSTEMD_SYSTEM_UNIT_DIR@"
       TYPE FILE FILES "@_jumelix_stage@/jumelix-systeme@.service")
  file(INSTALL DESTINATION "${_datadir}/jumelix"
       TYPE FILE FILES "@_jumelix_stage@/durcissement-utilisateur.conf")

  set(_man "@_jumelix_pkg@/jumelix.1")
  if(EXISTS "@JUMELIX_GZIP@")
    file(MAKE_DIRECTORY "@_jumelix_stage@")
    execute_process(COMMAND "@JUMELIX_GZIP@" -9 -n -c "${_man}"
                    OUTPUT_FILE "@_jumelix_stage@/jumelix.1.gz"
                    RESULT_VARIABLE _rc)
    if(NOT _rc EQUAL 0)
      message(FATAL_ERROR "gzip de la page de manuel : ${_rc}")
    endif()
    set(_man "@_jumelix_stage@/jumelix.1.gz")
  endif()
  set(_mandir "@CMAKE_INSTALL_MANDIR@")
  if(NOT IS_ABSOLUTE "${_mandir}")
    set(_mandir "${CMAKE_INSTALL_PREFIX}/${_mandir}")
  endif()
  file(INSTALL DESTINATION "${_mandir}/man1" TYPE FILE FILES "${_man}")
]==] _jumelix_install_code @ONLY)
install(CODE "${_jumelix_install_code}")

# Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME jumelix)
set(CPACK_PACKAGE_VENDOR "Jumelix")
set(CPACK_PACKAGE_CONTACT "${JUMELIX_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "synchronisation de répertoires miroirs")
set(CPACK_PACKAGE_DESCRIPTION
    "Jumelix tient à jour des copies miroir de répertoires. On garde une liste de
couples (répertoire source, répertoire cible) ; « Comparer » signale chaque
différence, « Synchroniser » rend chaque cible identique à sa source
(créations, copies, suppressions ; la source n'est jamais modifiée).

Le programme s'utilise avec sa fenêtre (Qt) ou sans affichage (jumelix /S)
depuis cron ou un minuteur systemd (unités utilisateur jumelix@.timer et
jumelix@.service, unités système jumelix-systeme@.timer et
jumelix-systeme@.service pour un miroir en root) ; le compte rendu peut être
envoyé par courriel.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${JUMELIX_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so dpkg-shlibdeps cannot see them, and the program runs without:
# Qt's French texts for the standard buttons of message boxes, and the certificate
# authorities that check the SMTP server over TLS.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, ca-certificates")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
