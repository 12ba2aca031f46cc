# Host build: the portable core, korvan-pack and the native unit tests.
find_package(ZLIB REQUIRED)
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)

add_library(korvan_core STATIC ${core_sources})
target_include_directories(korvan_core PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_compile_options(korvan_core PRIVATE ${KORVAN_WARNINGS})
target_link_libraries(korvan_core PUBLIC ZLIB::ZLIB)

file(GLOB pack_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/pack/*.cpp)
list(FILTER pack_sources EXCLUDE REGEX "Win\\.cpp$")
if(pack_sources)
  add_executable(korvan-pack ${pack_sources})
  target_compile_options(korvan-pack PRIVATE ${KORVAN_WARNINGS})
  target_link_libraries(korvan-pack PRIVATE korvan_core Threads::Threads)
  set_target_properties(korvan-pack PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
  include(${CMAKE_SOURCE_DIR}/cmake/Install.cmake)
endif()

if(KORVAN_FUZZ)
  include(${CMAKE_SOURCE_DIR}/cmake/Fuzz.cmake)
  return()
endif()

file(GLOB host_tests CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*Test.cpp)
list(FILTER host_tests EXCLUDE REGEX "WinTest\\.cpp$")
if(host_tests)
  add_executable(unit_tests ${host_tests})
  target_compile_definitions(unit_tests PRIVATE
    KORVAN_TEST_DATA="${CMAKE_SOURCE_DIR}/tests/data"
    KORVAN_PACK="${CMAKE_BINARY_DIR}/korvan-pack")
  target_link_libraries(unit_tests PRIVATE korvan_core GTest::gtest GTest::gtest_main Threads::Threads)
  if(TARGET korvan-pack)
    add_dependencies(unit_tests korvan-pack)
  endif()
  include(GoogleTest)
  gtest_discover_tests(unit_tests DISCOVERY_TIMEOUT 60)
endif()

# Benchmark helpers (run by `make bench`, not by the tests).
file(GLOB bench_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/*.cpp)
foreach(source ${bench_sources})
  get_filename_component(name ${source} NAME_WE)
  add_executable(bench_${name} ${source})
  target_link_libraries(bench_${name} PRIVATE korvan_core)
  set_target_properties(bench_${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endforeach()
