# libFuzzer targets over the portable code that reads outside input. Built by
# `make fuzz` in a configuration of its own (clang-14, with the sanitizer
# flags in CMAKE_CXX_FLAGS for everything, korvan_core included).
file(GLOB fuzz_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/Fuzz*.cpp)
foreach(source ${fuzz_sources})
  get_filename_component(name ${source} NAME_WE)
  set(extra "")
  if(name STREQUAL "FuzzIni")
    set(extra ${CMAKE_SOURCE_DIR}/tools/pack/PackIni.cpp)
  endif()
  add_executable(${name} ${source} ${extra})
  target_link_libraries(${name} PRIVATE korvan_core)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
endforeach()
