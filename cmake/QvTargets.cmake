include(${CMAKE_CURRENT_LIST_DIR}/QvLayers.cmake)

# qv_library(NAME SOURCES ... [WIN32_SOURCES ...] [POSIX_SOURCES ...] [LIBS ...])
# LIBS names every library the sources use: it is what lets them include that
# library's headers (see QvLayers.cmake).
function(qv_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;WIN32_SOURCES;POSIX_SOURCES;LIBS" ${ARGN})
  set(sources ${ARG_SOURCES})
  if(WIN32)
    list(APPEND sources ${ARG_WIN32_SOURCES})
  else()
    list(APPEND sources ${ARG_POSIX_SOURCES})
  endif()
  add_library(${name} STATIC ${sources})
  target_link_libraries(${name} PUBLIC ${ARG_LIBS})
  qv_layered(${name} PUBLIC)
endfunction()

# qv_test(NAME SOURCES ... LIBS ...): one GoogleTest executable. Natively its
# cases are discovered one by one; the win32 build runs the whole executable
# through Wine as one CTest test.
function(qv_test name)
  cmake_parse_arguments(ARG "DESKTOP" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} qv_test_support GTest::gtest GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE QV_TEST_DATA="${CMAKE_SOURCE_DIR}/tests/data")
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  if(WIN32)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS win32)
    # DESKTOP: the test shows windows. Robots find windows by caption on the
    # one Wine desktop, so such tests take turns (quorvex_desktop).
    if(ARG_DESKTOP)
      set_tests_properties(${name} PROPERTIES RESOURCE_LOCK quorvex_desktop)
    endif()
  else()
    include(GoogleTest)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT ${ARG_TIMEOUT})
  endif()
endfunction()
