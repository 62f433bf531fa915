# GoogleTest from Debian's sources, built with whichever compiler this tree
# uses (the host's or mingw-w64), so the same tests run natively and under Wine.
set(RAVODUZA_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${RAVODUZA_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
include(GoogleTest)

# ravoduza_add_test(NAME SOURCES... [LIBS ...] LABELS kind... [LANGUAGES en de ...]
#                   [TEXT_TESTS Suite.Test ...] [PROPERTIES ...]): one GoogleTest
# program whose cases CTest lists one by one, labelled with their kinds
# (unit, wine, e2e, network: README, "Building and testing"). With
# LANGUAGES the cases run once per user interface language (LC_ALL under
# Wine, which they can read), prefixed with the language; with TEXT_TESTS,
# the languages after the first run only the cases named there, those that
# compare shown texts: the others do the same in every language.
# NO_DISCOVERY: the program only; the caller adds the tests that run it.
function(ravoduza_add_test name)
  cmake_parse_arguments(T "NO_DISCOVERY" "" "SOURCES;LIBS;LABELS;LANGUAGES;TEXT_TESTS;PROPERTIES" ${ARGN})
  add_executable(${name} ${T_SOURCES} ${T_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  ravoduza_target(${name})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/bin)
  if(T_NO_DISCOVERY)
    return()
  endif()
  if(NOT T_LABELS)
    message(FATAL_ERROR "ravoduza_add_test(${name}): no LABELS; a test is one or more of unit, wine, e2e, network")
  endif()
  # A renamed case would silently lose its runs in the other languages.
  if(T_TEXT_TESTS)
    set(declarations "")
    foreach(source IN LISTS T_SOURCES)
      file(READ ${source} text)
      string(APPEND declarations "${text}")
    endforeach()
    foreach(test IN LISTS T_TEXT_TESTS)
      string(REPLACE "." ", " declared "${test}")
      string(FIND "${declarations}" "(${declared})" at)
      if(at EQUAL -1)
        message(FATAL_ERROR "ravoduza_add_test(${name}): TEXT_TESTS names ${test}, which ${T_SOURCES} do not declare")
      endif()
    endforeach()
  endif()

  set(lists "")
  if(NOT T_LANGUAGES)
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 TEST_LIST ${name}_TESTS
                         PROPERTIES TIMEOUT 120 ${T_PROPERTIES})
    set(lists ${name}_TESTS)
  else()
    set(locale_en en_US.UTF-8)
    set(locale_de de_DE.UTF-8)
    set(locale_fr fr_FR.UTF-8)
    list(GET T_LANGUAGES 0 first)
    foreach(language IN LISTS T_LANGUAGES)
      set(filter "")
      if(T_TEXT_TESTS AND NOT language STREQUAL first)
        string(JOIN ":" filter ${T_TEXT_TESTS})
        set(filter TEST_FILTER ${filter})
      endif()
      gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                           TEST_PREFIX "${language}." TEST_LIST ${name}_${language}_TESTS ${filter}
                           PROPERTIES TIMEOUT 120
                             ENVIRONMENT "LC_ALL=${locale_${language}}"
                             ${T_PROPERTIES})
      list(APPEND lists ${name}_${language}_TESTS)
    endforeach()
  endif()

  # The labels through a CTest include file of their own, read after the
  # discovered tests: PROPERTIES reach CTest split at every ";", which
  # would break a list of labels.
  set(labelling "")
  foreach(list IN LISTS lists)
    string(APPEND labelling "if(${list})\n"
                            "  set_tests_properties(\${${list}} PROPERTIES LABELS \"${T_LABELS}\")\n"
                            "endif()\n")
  endforeach()
  set(labels_file ${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake)
  file(WRITE ${labels_file} "${labelling}")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${labels_file})
endfunction()
