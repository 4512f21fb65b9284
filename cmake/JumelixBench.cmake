# Benchmark driver of the synchronisation engine (bench/run.sh builds and times it).
# Built only once the engine library exists.
if(TARGET jumelix_engine)
  add_executable(jumelix_bench ${PROJECT_SOURCE_DIR}/bench/jumelix_bench.cpp)
  target_link_libraries(jumelix_bench PRIVATE jumelix_engine)
endif()
