# jumelix_module(name [DEPS targets...])
# Builds the static library jumelix_<name> from the sources of src/<name>/: the folder is
# the layer, whatever its files are called. DEPS names every library the layer may use
# (shared/DESIGN.md section 1); cmake/CheckLayers.cmake, run by ctest, fails when a file's
# includes reach past them.
set(JUMELIX_MODULES "")

# A fresh build (CI, scripts/test.sh) builds the layers three or four times over, once per
# set of flags; compiled a batch of files at a time, each batch parses the standard, Qt and
# OpenSSL headers once instead of once per file. Off by default: a developer who edits one
# file would rebuild its whole batch. File-local helpers of two files of one layer must not
# share a name, or the batch does not compile.
option(JUMELIX_UNITY_LIBS "Compile each layer library's files in batches" OFF)
set(JUMELIX_UNITY_LIBS_BATCH 8 CACHE STRING "Source files per batch of a layer's unity build")
# Compiled apart even then: their pimpl holds types of their own anonymous namespace, which
# GCC refuses (-Wsubobject-linkage) once the file is included from a batch.
set(JUMELIX_UNITY_APART
  ${PROJECT_SOURCE_DIR}/src/net/MessageLoop.cpp
  ${PROJECT_SOURCE_DIR}/src/net/TlsLayer.cpp)
set_source_files_properties(${JUMELIX_UNITY_APART} PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
function(jumelix_module name)
  cmake_parse_arguments(M "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS
    ${PROJECT_SOURCE_DIR}/src/${name}/*.cpp
    ${PROJECT_SOURCE_DIR}/src/${name}/*.h
    ${PROJECT_SOURCE_DIR}/src/${name}/*.qrc)
  add_library(jumelix_${name} STATIC ${srcs})
  target_include_directories(jumelix_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(jumelix_${name} PUBLIC ${M_DEPS})
  if(JUMELIX_UNITY_LIBS)
    set_target_properties(jumelix_${name} PROPERTIES UNITY_BUILD ON
      UNITY_BUILD_BATCH_SIZE ${JUMELIX_UNITY_LIBS_BATCH})
  endif()
  set(JUMELIX_MODULES ${JUMELIX_MODULES} ${name} PARENT_SCOPE)
endfunction()
