# quorvel_library(NAME SOURCES ... [DEPS ...]): one static library per subsystem.
# Public headers live beside the sources and are included as "<subsystem>/<header>.h".
function(quorvel_library name)
  cmake_parse_arguments(Q "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${Q_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  if(Q_DEPS)
    target_link_libraries(${name} PUBLIC ${Q_DEPS})
  endif()
endfunction()

# quorvel_test(NAME SOURCES ... [LIBS ...] [LABELS label] [TIMEOUT s]): a GoogleTest
# program registered in CTest, one CTest test per test case.
# One label per test program (test discovery cannot carry a list). Labels in use: unit (fast, no external program), slapd (talks to the private
# directory server), readers (reads reports back with python/LibreOffice/unrtf),
# gui (drives the real widgets offscreen).
# FIXTURES slapd: the test needs the private directory server that the CTest
# fixture "slapd" starts (tests/common) and stops around the whole run.
# Every test trusts that server's private certificate authority: SSL_CERT_FILE
# is set apart from ENVIRONMENT, whose list only its first element survives.
function(quorvel_test name)
  cmake_parse_arguments(Q "" "TIMEOUT" "SOURCES;LIBS;LABELS;FIXTURES" ${ARGN})
  add_executable(${name} ${Q_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${Q_LIBS} GTest::gtest GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE
    QUORVEL_SOURCE_DIR="${CMAKE_SOURCE_DIR}" QUORVEL_BINARY_DIR="${CMAKE_BINARY_DIR}")
  if(NOT Q_TIMEOUT)
    set(Q_TIMEOUT 300)
  endif()
  if(NOT Q_LABELS)
    set(Q_LABELS unit)
  endif()
  set(fixture_props)
  if(Q_FIXTURES)
    set(fixture_props FIXTURES_REQUIRED "${Q_FIXTURES}")
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS "${Q_LABELS}" TIMEOUT ${Q_TIMEOUT} ${fixture_props}
               ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QUORVEL_SOURCE_DIR=${CMAKE_SOURCE_DIR};QUORVEL_BINARY_DIR=${CMAKE_BINARY_DIR}"
               ENVIRONMENT_MODIFICATION "SSL_CERT_FILE=set:${CMAKE_BINARY_DIR}/slapd-test/ca.pem")
endfunction()
