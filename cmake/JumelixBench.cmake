# Benchmark driver of the synchronisation engine (bench/run.sh builds and times it).
# Built only once the engine library exists.
if(TARGET jumelix_engine)
  add_executable(jumelix_bench ${PROJECT_SOURCE_DIR}/bench/jumelix_bench.cpp)
  target_link_libraries(jumelix_bench PRIVATE jumelix_engine)

  # The benchmark on tiny trees, warm cache, one measure each: what it checks (the counters
  # of every walk, and that rsync finds no file difference between each source and the
  # destination Jumelix synchronised) must hold; the figures mean nothing at this size, so
  # it does not wait for a full benchmark running on the machine, nor sync before each
  # measure (a sync waits for every write of the machine, a build's running beside it).
  if(JUMELIX_TESTS)
    add_test(NAME bench_petite_echelle COMMAND bash ${PROJECT_SOURCE_DIR}/bench/run.sh)
    # About 25 s, the longest test: COST makes a parallel ctest start it first rather than
    # last, where it would run alone at the end of the suite.
    set_tests_properties(bench_petite_echelle PROPERTIES
      LABELS bench TIMEOUT 300 COST 1000
      ENVIRONMENT "BENCH_ARBRES=a b c x;BENCH_SCALE=0.002;BENCH_REPEAT=1;BENCH_CACHE=chaud;BENCH_VERROU=non;BENCH_SYNC=non;BENCH_BIN=$<TARGET_FILE:jumelix_bench>;BENCH_DIR=${CMAKE_CURRENT_BINARY_DIR}/bench-petite-echelle")
  endif()
endif()

# The cost of the main window against the same run without it (bench/fenetre.sh).
if(TARGET jumelix_gui)
  add_executable(fenetre_bench ${PROJECT_SOURCE_DIR}/bench/fenetre_bench.cpp)
  target_link_libraries(fenetre_bench PRIVATE jumelix_gui)
endif()
