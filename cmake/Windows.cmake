# mingw build: stub.exe for both architectures; on x86_64 also the test kit and
# the Win32 unit tests, which ctest runs under Wine.
set(KORVAN_ARCH ${CMAKE_SYSTEM_PROCESSOR})
find_library(KORVAN_ZLIB_STATIC NAMES libz.a REQUIRED)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

# The stub is a download: optimise for size, drop unused sections, no
# exceptions or RTTI, everything static so it runs from a bare folder.
# Function-local statics are set up on the one thread that runs the stub's
# code, so they need no locking guard (whose failure path throws).
set(KORVAN_SIZE_FLAGS -Os -ffunction-sections -fdata-sections -fno-exceptions -fno-rtti
    -fno-asynchronous-unwind-tables -fno-ident -fno-threadsafe-statics
    -include ${CMAKE_SOURCE_DIR}/cmake/StringInline.h)
set(KORVAN_LINK_FLAGS -static -static-libgcc -static-libstdc++ -Wl,--gc-sections -s)

add_library(korvan_core STATIC ${core_sources})
target_include_directories(korvan_core PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_compile_definitions(korvan_core PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0501 WINVER=0x0501)
target_compile_options(korvan_core PRIVATE ${KORVAN_WARNINGS} ${KORVAN_SIZE_FLAGS})
target_link_libraries(korvan_core PUBLIC ${KORVAN_ZLIB_STATIC} comctl32 gdi32 user32 kernel32 advapi32)
# The debug-output device installs itself from a static object that nothing
# refers to; name it so the linker keeps it (i686 symbols carry a "_").
if(KORVAN_ARCH STREQUAL "i686")
  target_link_options(korvan_core INTERFACE -Wl,-u,_KorvanDebugDevice)
else()
  target_link_options(korvan_core INTERFACE -Wl,-u,KorvanDebugDevice)
endif()

# Windows executables of the project, the stub among them, are GUI programs
# whose NT headers are moved to 0x100 after linking (see scripts/pe-move-headers.py).
function(korvan_post_link target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/scripts/pe-move-headers.py $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()

file(GLOB stub_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/stub/*.cpp)
add_executable(stub WIN32 ${stub_sources} ${CMAKE_SOURCE_DIR}/src/stub/res/stub.rc)
target_compile_options(stub PRIVATE ${KORVAN_WARNINGS} ${KORVAN_SIZE_FLAGS})
target_link_options(stub PRIVATE ${KORVAN_LINK_FLAGS} -Wl,-Map=${CMAKE_BINARY_DIR}/stub.map)
target_link_libraries(stub PRIVATE korvan_core)
set_target_properties(stub PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
korvan_post_link(stub)

# korvan-pack as a Windows console program, from the host tool's sources with
# PackOsWin.cpp and PackExtractWin.cpp in place of the POSIX ones. It is a
# build tool, not a download: the usual optimisation, exceptions on.
file(GLOB pack_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/pack/*.cpp)
list(FILTER pack_sources EXCLUDE REGEX "Posix\\.cpp$")
add_executable(korvan-pack ${pack_sources})
target_compile_options(korvan-pack PRIVATE ${KORVAN_WARNINGS} -O2)
target_link_options(korvan-pack PRIVATE -static -static-libgcc -static-libstdc++ -s)
target_link_libraries(korvan-pack PRIVATE korvan_core)
set_target_properties(korvan-pack PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

if(KORVAN_ARCH STREQUAL "x86_64")
  # Test kit: one program per source file under tools/testkit.
  file(GLOB testkit_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/testkit/*.cpp)
  foreach(src ${testkit_sources})
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src})
    target_compile_options(${name} PRIVATE ${KORVAN_WARNINGS})
    target_link_options(${name} PRIVATE -static -static-libgcc -static-libstdc++)
    target_link_libraries(${name} PRIVATE korvan_core)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/testkit)
  endforeach()

  # A DLL the tests plant beside a program under a system library's name.
  add_library(planted_dll SHARED ${CMAKE_SOURCE_DIR}/tools/testkit/dll/planted_dll.cpp)
  target_link_options(planted_dll PRIVATE -static -static-libgcc)
  set_target_properties(planted_dll PROPERTIES PREFIX "" OUTPUT_NAME planted
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/testkit)

  file(GLOB win_tests CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*WinTest.cpp)
  if(win_tests)
    set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(${KORVAN_GTEST_SRC} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    add_executable(win_unit_tests ${win_tests})
    target_compile_definitions(win_unit_tests PRIVATE
      KORVAN_TEST_DATA="Z:${CMAKE_SOURCE_DIR}/tests/data"
      KORVAN_TESTKIT="Z:${CMAKE_BINARY_DIR}/testkit")
    target_link_options(win_unit_tests PRIVATE -static -static-libgcc -static-libstdc++)
    target_link_libraries(win_unit_tests PRIVATE korvan_core gtest gtest_main)
    set_target_properties(win_unit_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
    # One ctest entry per binary: every Wine start costs a second or so, so
    # the test cases run in one process and the runner reports each of them.
    add_test(NAME win_unit_tests COMMAND win_unit_tests --gtest_brief=0)
  endif()
endif()

# The examples' setup program, for both architectures: a vendor ships the
# i686 stub with it; the tests run the x86_64 twin under Wine.
add_executable(example_setup WIN32 ${CMAKE_SOURCE_DIR}/examples/setup/example_setup.cpp)
target_compile_options(example_setup PRIVATE ${KORVAN_WARNINGS} -Os)
target_link_options(example_setup PRIVATE -static -static-libgcc -static-libstdc++ -s)
target_link_libraries(example_setup PRIVATE shell32)
set_target_properties(example_setup PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/examples)
