# Fails when a source file includes a header of a layer its own layer may not depend on.
#   cmake -DJUMELIX_SRC=<dir> -P cmake/CheckLayers.cmake
# <dir> is laid out as src/: one folder per layer, plus main.cpp at its root. The table
# below is the one of shared/DESIGN.md section 1; "Qt" stands for Qt's headers (<Q...>),
# "OpenSSL" for those of its TLS library (<openssl/ssl.h>, tls1.h, ...) and "libcrypto" for
# every other <openssl/...> header. System headers are not checked.
cmake_minimum_required(VERSION 3.25)
if(NOT JUMELIX_SRC OR NOT IS_DIRECTORY "${JUMELIX_SRC}")
  message(FATAL_ERROR "JUMELIX_SRC doit désigner le répertoire des sources")
endif()

set(permis_platform "")
set(permis_shared   platform)
set(permis_engine   shared platform)
set(permis_net      shared platform OpenSSL libcrypto)
set(permis_app      engine shared platform)
set(permis_smtp     net shared platform libcrypto)
set(permis_mail     smtp net shared platform)
set(permis_gui      app mail Qt)
set(permis_main     app mail gui)
set(couches platform shared engine net app smtp mail gui)

# Single headers a layer (or one file) may see although their folder is not in its row.
#  - mail sees app only through the port by which a run asks for its report mail.
#  - the Qt side of the mail wait loop hooks itself into the wait loop, which lives in net
#    beside the message loop it pumps.
set(exceptions
  "mail:app/RapportMail.h"
  "gui/PompeQt.cpp:net/AttenteMessages.h")

file(GLOB_RECURSE fichiers RELATIVE "${JUMELIX_SRC}"
  "${JUMELIX_SRC}/*.h" "${JUMELIX_SRC}/*.hpp" "${JUMELIX_SRC}/*.cpp" "${JUMELIX_SRC}/*.cc")
list(SORT fichiers)
set(fautes "")
set(nombre 0)
foreach(f IN LISTS fichiers)
  if(f MATCHES "^([^/]+)/")
    set(couche "${CMAKE_MATCH_1}")
  elseif(f STREQUAL "main.cpp")
    set(couche main)
  else()
    string(APPEND fautes "  ${f} : fichier hors de toute couche\n")
    continue()
  endif()
  if(NOT couche STREQUAL "main" AND NOT couche IN_LIST couches)
    string(APPEND fautes "  ${f} : dossier « ${couche} » absent de la table des couches\n")
    continue()
  endif()
  math(EXPR nombre "${nombre} + 1")
  file(STRINGS "${JUMELIX_SRC}/${f}" lignes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
  foreach(l IN LISTS lignes)
    if(NOT l MATCHES "include[ \t]*([<\"])([^>\"]+)[>\"]")
      continue()
    endif()
    set(entete "${CMAKE_MATCH_2}")
    set(cible "")
    if(CMAKE_MATCH_1 STREQUAL "\"" AND entete MATCHES "^([^/]+)/")
      set(cible "${CMAKE_MATCH_1}")
      if(NOT cible IN_LIST couches)
        string(APPEND fautes "  ${f} : inclut « ${entete} », hors de toute couche\n")
        continue()
      endif()
    elseif(CMAKE_MATCH_1 STREQUAL "\"")
      string(APPEND fautes "  ${f} : inclut « ${entete} » sans son dossier de couche\n")
      continue()
    elseif(entete MATCHES "^Q[A-Za-z]*(/|$)")
      set(cible Qt)
    elseif(entete MATCHES "^openssl/(ssl|tls|dtls|srtp|quic)")
      set(cible OpenSSL)
    elseif(entete MATCHES "^openssl/")
      set(cible libcrypto)
    endif()
    if(cible STREQUAL "" OR cible STREQUAL couche)
      continue()
    endif()
    if(cible IN_LIST permis_${couche} OR "${couche}:${entete}" IN_LIST exceptions
       OR "${f}:${entete}" IN_LIST exceptions)
      continue()
    endif()
    set(liste "${permis_${couche}}")
    if(liste STREQUAL "")
      set(liste "aucune")
    endif()
    string(REPLACE ";" ", " liste "${liste}")
    string(APPEND fautes
      "  ${f} : inclut « ${entete} » (${cible}) ; la couche ${couche} ne peut dépendre que de : ${liste}\n")
  endforeach()
endforeach()

if(NOT fautes STREQUAL "")
  message(FATAL_ERROR "Dépendance interdite entre couches :\n${fautes}")
endif()
message(STATUS "Dépendances entre couches respectées (${nombre} fichiers)")
