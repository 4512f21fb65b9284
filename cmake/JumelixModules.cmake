# jumelix_module(name [DEPS targets...])
# Builds the static library jumelix_<name> from the sources of src/<name>/: the folder is
# the layer, whatever its files are called. DEPS names every library the layer may use
# (shared/DESIGN.md section 1); cmake/CheckLayers.cmake, run by ctest, fails when a file's
# includes reach past them.
set(JUMELIX_MODULES "")
function(jumelix_module name)
  cmake_parse_arguments(M "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS
    ${PROJECT_SOURCE_DIR}/src/${name}/*.cpp
    ${PROJECT_SOURCE_DIR}/src/${name}/*.h
    ${PROJECT_SOURCE_DIR}/src/${name}/*.qrc)
  add_library(jumelix_${name} STATIC ${srcs})
  target_include_directories(jumelix_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(jumelix_${name} PUBLIC ${M_DEPS})
  set(JUMELIX_MODULES ${JUMELIX_MODULES} ${name} PARENT_SCOPE)
endfunction()
