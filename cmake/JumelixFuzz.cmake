# libFuzzer targets (fuzz/fuzz_*.cpp), built with clang in a build directory of their own:
#   CXX=clang++-14 cmake -B build-fuzz -G Ninja -DJUMELIX_FUZZ=ON -DJUMELIX_GUI=OFF -DJUMELIX_TESTS=OFF
# Every layer library is instrumented too, so the fuzzer sees coverage inside the code it
# exercises. scripts/fuzz.sh builds and runs them.
option(JUMELIX_FUZZ "Build the libFuzzer targets (clang only)" OFF)
if(NOT JUMELIX_FUZZ)
  return()
endif()
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "JUMELIX_FUZZ needs clang (e.g. CXX=clang++-14)")
endif()

set(JUMELIX_FUZZ_SANITIZERS address,undefined)
foreach(m IN LISTS JUMELIX_MODULES)
  target_compile_options(jumelix_${m} PRIVATE
    -fsanitize=fuzzer-no-link,${JUMELIX_FUZZ_SANITIZERS} -fno-omit-frame-pointer
    -fno-sanitize-recover=undefined)
endforeach()
# The program itself links the instrumented layers.
target_link_options(jumelix PRIVATE -fsanitize=${JUMELIX_FUZZ_SANITIZERS})

# target name -> the layer it exercises
set(JUMELIX_FUZZ_CIBLES
  fuzz_lignes:jumelix_shared
  fuzz_liste:jumelix_app
  fuzz_config:jumelix_mail
  fuzz_motdepasse:jumelix_mail
  fuzz_base64:jumelix_smtp
  fuzz_reponse_smtp:jumelix_smtp
  fuzz_dialogue_smtp:jumelix_mail)
add_custom_target(jumelix_fuzz)
foreach(paire IN LISTS JUMELIX_FUZZ_CIBLES)
  string(REPLACE ":" ";" paire "${paire}")
  list(GET paire 0 cible)
  list(GET paire 1 couche)
  add_executable(${cible} ${PROJECT_SOURCE_DIR}/fuzz/${cible}.cpp)
  target_include_directories(${cible} PRIVATE ${PROJECT_SOURCE_DIR}/fuzz)
  target_compile_options(${cible} PRIVATE
    -fsanitize=fuzzer,${JUMELIX_FUZZ_SANITIZERS} -fno-omit-frame-pointer
    -fno-sanitize-recover=undefined)
  target_link_options(${cible} PRIVATE -fsanitize=fuzzer,${JUMELIX_FUZZ_SANITIZERS})
  target_link_libraries(${cible} PRIVATE ${couche})
  add_dependencies(jumelix_fuzz ${cible})
endforeach()
