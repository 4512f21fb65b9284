# One GoogleTest binary per tests/<folder>, linked against the matching layer only,
# so that a core layer's tests prove it needs no window. tests/e2e runs the real
# binary; tests/gui holds QtTest programs, one per file, in one binary that runs one of
# them by name, on the offscreen platform.
# Every GoogleTest binary starts from tests/support/MainTests.cpp, which gives it a
# temporary HOME and XDG directories of its own.
find_package(GTest REQUIRED)
include(GoogleTest)

# A fresh build of the tests (CI, scripts/test.sh) spends most of its time parsing the
# GoogleTest and standard headers again for each test file; a unity build compiles each
# binary's files a batch at a time. Off by default: a developer who edits one test file
# would otherwise rebuild its whole batch. File-local helpers of two test files of one
# folder must not share a name, or the batch does not compile.
option(JUMELIX_UNITY_TESTS "Compile each GoogleTest binary's files in batches" OFF)
set(JUMELIX_UNITY_TESTS_BATCH 8 CACHE STRING "Test files per batch of a unity build")

file(GLOB support_srcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/support/*.cpp)
add_library(jumelix_test_support STATIC ${support_srcs} ${PROJECT_SOURCE_DIR}/cmake/empty.cpp)
target_include_directories(jumelix_test_support PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
# Fixtures link no layer themselves: each test binary brings the layer it tests, so a
# layer that does not build yet breaks only its own tests.
target_link_libraries(jumelix_test_support PUBLIC GTest::gtest)
# A test program's debug information is read by nobody in CI: a failure shows its
# assertion's file and line, and a sanitizer build keeps its own. Leaving it out of the
# tests of the package's build (their libraries keep the package's flags) saves compiling
# and linking it.
option(JUMELIX_TESTS_NO_DEBUG_INFO "Compile the test programs without debug information" OFF)
if(JUMELIX_TESTS_NO_DEBUG_INFO)
  target_compile_options(jumelix_test_support PUBLIC -g0)
endif()
# The package's build compiles everything at -O3; its test programs need no optimisation:
# the code under test is the layers', compiled with the package's flags. A test program
# compiles at -O0 in about three quarters of its time at -O1, itself half of -O3's.
# _FORTIFY_SOURCE, which needs optimisation, is then left to the layers.
option(JUMELIX_TESTS_O0 "Compile the test programs at -O0 whatever the build type" OFF)
if(JUMELIX_TESTS_O0)
  target_compile_options(jumelix_test_support PUBLIC -O0 -U_FORTIFY_SOURCE)
endif()
# Links the test programs with another linker (e.g. mold, several times faster than GNU ld
# on the large test programs); what ships keeps the default one.
set(JUMELIX_TESTS_LINKER "" CACHE STRING "Linker of the test programs (-fuse-ld=), empty for the default")
if(JUMELIX_TESTS_LINKER)
  target_link_options(jumelix_test_support PUBLIC -fuse-ld=${JUMELIX_TESTS_LINKER})
endif()
# GCC 12 at -O3 (the package's build, where the tests run too) sees overlapping copies in
# std::string's operator+ where there are none; the tests build strings that way throughout.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(jumelix_test_support PUBLIC -Wno-restrict)
endif()

# The layers may include only what shared/DESIGN.md section 1 allows; the other tests
# prove the check still sees a fault (an engine header that includes a window, an SMTP
# file that includes the TLS library where only libcrypto is allowed).
add_test(NAME dependances_couches
  COMMAND ${CMAKE_COMMAND} -DJUMELIX_SRC=${PROJECT_SOURCE_DIR}/src
          -P ${PROJECT_SOURCE_DIR}/cmake/CheckLayers.cmake)
set(faute_engine "engine/Fautif.h : inclut « gui/MainWindow.h » \\(gui\\) ; la couche engine ne peut dépendre que de : shared, platform")
set(faute_tls "smtp/Fautif.cpp : inclut « openssl/ssl.h » \\(OpenSSL\\) ; la couche smtp ne peut dépendre que de : net, shared, platform, libcrypto")
foreach(nom IN ITEMS faute_vue tls_hors_net)
  add_test(NAME dependances_couches_${nom}
    COMMAND ${CMAKE_COMMAND} -DJUMELIX_SRC=${PROJECT_SOURCE_DIR}/tests/support/couches-fautives
            -P ${PROJECT_SOURCE_DIR}/cmake/CheckLayers.cmake)
endforeach()
set_tests_properties(dependances_couches dependances_couches_faute_vue
  dependances_couches_tls_hors_net PROPERTIES LABELS couches)
set_tests_properties(dependances_couches_faute_vue PROPERTIES PASS_REGULAR_EXPRESSION "${faute_engine}")
set_tests_properties(dependances_couches_tls_hors_net PROPERTIES PASS_REGULAR_EXPRESSION "${faute_tls}")
target_compile_definitions(jumelix_test_support PUBLIC
  JUMELIX_TEST_SUPPORT_DIR="${PROJECT_SOURCE_DIR}/tests/support"
  JUMELIX_BINARY="$<TARGET_FILE:jumelix>")

# The test folders built (gui: the window's programs). CI's optimised build takes the
# engine's and the end-to-end ones only: every folder runs in its sanitizer build.
set(JUMELIX_TESTS_DOSSIERS "platform;shared;engine;net;smtp;app;mail;e2e;gui" CACHE STRING
    "Test folders to build")
foreach(m IN ITEMS platform shared engine net smtp app mail e2e)
  if(NOT m IN_LIST JUMELIX_TESTS_DOSSIERS)
    continue()
  endif()
  file(GLOB test_srcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/${m}/*_test.cpp)
  if(NOT test_srcs)
    continue()
  endif()
  add_executable(${m}_tests ${test_srcs})
  if(TARGET jumelix_${m})
    set(layer jumelix_${m})
  else()
    set(layer jumelix_core)
  endif()
  target_link_libraries(${m}_tests PRIVATE jumelix_test_support ${layer})
  if(JUMELIX_UNITY_TESTS)
    set_target_properties(${m}_tests PROPERTIES UNITY_BUILD ON
      UNITY_BUILD_BATCH_SIZE ${JUMELIX_UNITY_TESTS_BATCH})
  endif()
  if(m STREQUAL "e2e")
    # The program the tests run: with Ninja a dependency of their link only, so that their
    # files compile while the program and its windows are still being built.
    if(CMAKE_GENERATOR MATCHES "Ninja")
      set_property(TARGET e2e_tests APPEND PROPERTY LINK_DEPENDS $<TARGET_FILE:jumelix>)
    else()
      add_dependencies(e2e_tests jumelix)
    endif()
  endif()
  gtest_discover_tests(${m}_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS ${m} TIMEOUT 300)
endforeach()

if(TARGET jumelix_gui AND "gui" IN_LIST JUMELIX_TESTS_DOSSIERS)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  # The notification test's private session bus (package dbus-daemon, scripts/deps.sh).
  find_program(JUMELIX_DBUS_RUN_SESSION dbus-run-session REQUIRED)
  # The QtTest programs share one binary, whose first argument names the program: the Qt
  # Widgets and QtTest headers are parsed once per batch rather than once per program.
  file(GLOB gui_srcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/gui/*_test.cpp)
  add_executable(gui_tests ${gui_srcs} ${PROJECT_SOURCE_DIR}/tests/gui/MainGui.cpp)
  set_target_properties(gui_tests PROPERTIES AUTOMOC ON)
  target_link_libraries(gui_tests PRIVATE jumelix_gui jumelix_test_support Qt6::Test)
  if(JUMELIX_UNITY_TESTS)
    # All in one batch (0: no limit): the headers dominate, and two batches took more
    # processor time and, with the other targets building beside them, no less real time.
    set_target_properties(gui_tests PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 0)
  endif()
  foreach(t IN LISTS gui_srcs)
    get_filename_component(n ${t} NAME_WE)
    if(n STREQUAL "NotificationBureau_test")
      # On a private session bus that starts no service by itself; then once more with no
      # bus at all, for the case that must neither send nor wait.
      add_test(NAME gui_${n} COMMAND ${JUMELIX_DBUS_RUN_SESSION}
        --config-file=${PROJECT_SOURCE_DIR}/tests/support/bus-session.conf -- $<TARGET_FILE:gui_tests> ${n})
      add_test(NAME gui_${n}_sans_bus COMMAND gui_tests ${n} sansBusRienNEstEnvoye)
      set_tests_properties(gui_${n}_sans_bus PROPERTIES LABELS gui TIMEOUT 300
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;JUMELIX_TEST_SANS_BUS=1;DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/jumelix-test-bus")
    else()
      add_test(NAME gui_${n} COMMAND gui_tests ${n})
    endif()
    set_tests_properties(gui_${n} PROPERTIES LABELS gui TIMEOUT 300
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  endforeach()
  # A name the binary does not know fails, listing the names it knows: a program its file
  # forgot to register, or a misspelt entry above, can never pass having run nothing.
  add_test(NAME programme_qtest_inconnu COMMAND sh -c
    "sortie=$(\"$0\" Inconnu_test 2>&1); [ $? -eq 2 ] && printf '%s\\n' \"$sortie\" | grep -qx '  MainWindow_test'"
    $<TARGET_FILE:gui_tests>)
  set_tests_properties(programme_qtest_inconnu PROPERTIES LABELS fenetre TIMEOUT 60)
endif()
