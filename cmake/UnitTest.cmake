# GoogleTest: the installed package natively; built from Debian's sources
# when cross-compiling, where no installed package fits the target.
if(CMAKE_CROSSCOMPILING)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(lib gtest gtest_main gmock gmock_main)
    # Recent GoogleTest sources name their own GTest:: aliases; older ones do not.
    if(NOT TARGET GTest::${lib})
      add_library(GTest::${lib} ALIAS ${lib})
    endif()
    # System headers, as the installed package's are natively: no warnings
    # from inside GoogleTest's macros.
    get_target_property(dirs ${lib} INTERFACE_INCLUDE_DIRECTORIES)
    set_target_properties(${lib} PROPERTIES INTERFACE_SYSTEM_INCLUDE_DIRECTORIES "${dirs}")
  endforeach()
else()
  find_package(GTest REQUIRED)
endif()

# add_unit_test(NAME SOURCES... [LIBS libs...]): one test binary, one CTest entry.
function(add_unit_test name)
  cmake_parse_arguments(UT "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${UT_SOURCES})
  target_link_libraries(${name} PRIVATE ${UT_LIBS} GTest::gtest_main)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_test(NAME ${name} COMMAND ${name})
endfunction()
