# pixhold_layer(<target> <dir> DEPS <libs...> [EXCLUDE <files...>])
# Builds one layer from every .cpp in <dir> (and its subfolders). A layer's
# include root is its own folder; it reaches other layers only through DEPS.
function(pixhold_layer target dir)
  cmake_parse_arguments(L "" "" "DEPS;EXCLUDE" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS
       ${CMAKE_SOURCE_DIR}/${dir}/*.cpp ${CMAKE_SOURCE_DIR}/${dir}/*.h)
  foreach(ex IN LISTS L_EXCLUDE)
    list(REMOVE_ITEM sources ${CMAKE_SOURCE_DIR}/${dir}/${ex})
  endforeach()
  add_library(${target} STATIC ${sources} ${CMAKE_SOURCE_DIR}/cmake/empty.cpp)
  target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR}/${dir})
  target_link_libraries(${target} PUBLIC ${L_DEPS})
  set_target_properties(${target} PROPERTIES AUTOMOC ON AUTORCC ON)
  pixhold_warnings(${target})
endfunction()

# pixhold_test_suite(<name> <dir> LIBS <libs...>)
# One GoogleTest executable from every .cpp in tests/<dir>.
function(pixhold_test_suite name dir)
  cmake_parse_arguments(T "" "" "LIBS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${dir}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
  # Tests that read files of the source tree find it here (__FILE__ may be
  # relative when the compiler cache rewrites paths).
  target_compile_definitions(${name} PRIVATE PIXHOLD_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  target_link_libraries(${name} PRIVATE ${T_LIBS} pixhold_test_support GTest::gtest GTest::gmock)
  # A suite that needs its own main (for example to create a QApplication) has a TestMain.cpp.
  list(FILTER sources INCLUDE REGEX "/TestMain\\.cpp$")
  if(NOT sources)
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  pixhold_warnings(${name})
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
                       WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
endfunction()
