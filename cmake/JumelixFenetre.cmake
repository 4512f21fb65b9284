# The windows are a program of their own, jumelix-fenetre (src/main.cpp with the windows),
# which `jumelix` puts in its place with execv when no /S nor option asks for a run without
# window: a run from cron or a timer loads no Qt library. `jumelix` finds it beside itself
# (the build tree), else at the same place relative to its own as once installed.
set(JUMELIX_FENETRE_DIR "lib/jumelix" CACHE STRING
    "Directory of the window program jumelix-fenetre, relative to the install prefix")
add_executable(jumelix-fenetre ${PROJECT_SOURCE_DIR}/src/main.cpp)
target_link_libraries(jumelix-fenetre PRIVATE jumelix_app jumelix_mail jumelix_gui)
target_compile_definitions(jumelix-fenetre PRIVATE
  JUMELIX_HAS_GUI=1 JUMELIX_VERSION="${PROJECT_VERSION}")
file(RELATIVE_PATH _jumelix_fenetre_relatif "${CMAKE_INSTALL_FULL_BINDIR}"
     "${CMAKE_INSTALL_PREFIX}/${JUMELIX_FENETRE_DIR}/jumelix-fenetre")
target_compile_definitions(jumelix PRIVATE JUMELIX_FENETRE="${_jumelix_fenetre_relatif}")
# Whoever builds `jumelix` gets a program that opens its window. With Ninja, a dependency
# of its link only (Ninja builds the file first): `jumelix`'s own file compiles without
# waiting for the windows to be built. Other generators need the target's dependency.
if(CMAKE_GENERATOR MATCHES "Ninja")
  set_property(TARGET jumelix APPEND PROPERTY LINK_DEPENDS $<TARGET_FILE:jumelix-fenetre>)
else()
  add_dependencies(jumelix jumelix-fenetre)
endif()
install(TARGETS jumelix-fenetre RUNTIME DESTINATION ${JUMELIX_FENETRE_DIR})
