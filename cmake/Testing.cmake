include(GoogleTest)

# Every test executable that carries the "threads" label: what the tsan preset builds and runs.
add_custom_target(quillon_thread_tests)

# quillon_add_gtest(NAME name SOURCES ... LIBS ... [LABELS ...] [ENV VAR=value ...] [GUI | XVFB] [TIMEOUT seconds])
# One GoogleTest executable, its cases registered with ctest when the tests run (not at build time).
# Every case runs with a fixed locale, a private home and configuration folder, and no display unless
# it is a GUI test (offscreen platform) or an XVFB test: each case on its own Xvfb server (xvfb-run
# picks a free display) through Qt's X11 platform plugin, without its OpenGL integration.
function(quillon_add_gtest)
  cmake_parse_arguments(T "GUI;XVFB" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)   # seconds per case
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${T_NAME} PRIVATE
    QUILLON_SOURCE_DIR="${PROJECT_SOURCE_DIR}" QUILLON_BINARY_DIR="${PROJECT_BINARY_DIR}")
  quillon_warnings(${T_NAME})
  set(_home ${CMAKE_CURRENT_BINARY_DIR}/${T_NAME}.home)
  file(MAKE_DIRECTORY ${_home})
  # It is the runtime directory too, which Qt wants private to its owner.
  file(CHMOD ${_home} DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
  set(_env "LC_ALL=C.UTF-8;LANG=C.UTF-8;HOME=${_home};XDG_CONFIG_HOME=${_home}/.config;XDG_RUNTIME_DIR=${_home};QUILLON_SIM_DIR=")
  set(_runner "")
  if(T_XVFB)
    find_program(QUILLON_XVFB_RUN xvfb-run REQUIRED)
    set(_runner ${QUILLON_XVFB_RUN} --auto-servernum "--server-args=-screen 0 1280x1024x24 -nolisten tcp")
    list(APPEND _env "QT_QPA_PLATFORM=xcb" "QT_XCB_GL_INTEGRATION=none")
  elseif(T_GUI)
    list(APPEND _env "QT_QPA_PLATFORM=offscreen")
  else()
    list(APPEND _env "QT_QPA_PLATFORM=minimal")
  endif()
  list(APPEND _env ${T_ENV})
  # The environment goes in front of the command (discovery included): a list given as the ENVIRONMENT
  # property does not survive gtest_discover_tests, which keeps only its first entry.
  set_property(TARGET ${T_NAME} PROPERTY CROSSCOMPILING_EMULATOR ${_runner} ${CMAKE_COMMAND} -E env ${_env})
  # Several labels survive the three list expansions inside gtest_discover_tests only with their
  # separators escaped three times over; unescaped, every label after the first was lost.
  string(REPLACE ";" "\\\\\\\\\\\\\\;" _labels "${T_LABELS}")
  if("threads" IN_LIST T_LABELS)
    add_dependencies(quillon_thread_tests ${T_NAME})
  endif()
  gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${_labels}" TIMEOUT ${T_TIMEOUT})
endfunction()
