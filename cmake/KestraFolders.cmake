# Declaring the project's folders in one line each.
#
#   kestra_sdk_library(<name> [DEPS ...])   objects of this folder go into libKestraSDK.so
#   kestra_library(<name> [DEPS ...])       a static library of this folder (links KestraSDK)
#   kestra_tests(<name> [DEPS ...])         one test executable from the folder's *_test.cpp files
#   kestra_program(<name> <main> [DEPS ...]), kestra_bench(...), kestra_fuzz(...)
#
# Sources are the folder's *.cpp files; files ending in _test.cpp, _fuzz.cpp, _bench.cpp or
# _main.cpp are left out of the library.
#
# The build-time measures live here, so a folder declared with these functions gets them
# without a line of its own (docs/architecture.md, "Build"):
# - Precompiled headers, compiled once and reused by every target of a kind: nlohmann-json
#   and common standard headers for libraries and programs, the same plus GoogleTest for test
#   executables. GCC takes a precompiled header only with the same -fPIC/-fPIE and the same
#   macros that its headers read, so executables are compiled with -fPIC too (Qt's targets
#   ask for it anyway) and GoogleTest's macros stay with the tests. A library that links Qt
#   gets a header set of its own with Qt's.
# - Test code is compiled with KESTRA_TEST_OPTIMIZE (-O0), its precompiled headers too (GCC
#   takes one only with the same optimisation): test executables, fuzz replay programs, and
#   the fixtures under testing/ (simulators, servers; not in a libFuzzer build, whose
#   targets run the simulators millions of times). The library and the application keep
#   the build type's flags. Fixtures and replays have a precompiled header of their own
#   (the common one at these flags): GoogleTest's would need its macros in each of them.
# - Unity builds per folder (KESTRA_UNITY, on): a target's sources are compiled in batches of
#   KESTRA_UNITY_BATCH files (KESTRA_UNITY_TEST_BATCH for test executables), each batch one
#   translation unit, so headers, the precompiled header and the templates they instantiate
#   are paid once per batch instead of once per file. Files of one target then share their
#   internal names: two anonymous-namespace `Recorder`s, or two `static hex()`, no longer
#   compile together. Rename one of them (best), or leave the file out of the batches with
#   kestra_unity_skip(<file>...) in the folder's CMakeLists.txt before the target's line; a
#   folder whose files cannot share a translation unit sets KESTRA_FOLDER_UNITY OFF there.
#   A collision stops the build with "redefinition of ..." naming both files, never
#   silently; scripts/deep-check builds without unity, so every file still compiles alone.

set(KESTRA_PCH_COMMON <nlohmann/json.hpp> <string> <vector> <map> <memory> <functional>
  <optional> <mutex> <chrono> <string_view>)
set(KESTRA_PCH_QT <QApplication> <QWidget> <QPainter> <QImage> <QTimer> <QKeyEvent> <QMouseEvent>)

# The shared precompiled headers, each built by a small object library.
function(_kestra_pch_hosts)
  if(TARGET kestra_pch_common)
    return()
  endif()
  set(stub ${CMAKE_BINARY_DIR}/kestra_pch_stub.cpp)
  file(CONFIGURE OUTPUT ${stub} CONTENT "int kestraPchStub() { return 0; }\n")
  add_library(kestra_pch_common OBJECT ${stub})
  target_link_libraries(kestra_pch_common PRIVATE nlohmann_json::nlohmann_json Threads::Threads)
  target_precompile_headers(kestra_pch_common PRIVATE ${KESTRA_PCH_COMMON})
  add_library(kestra_pch_test OBJECT ${stub})
  target_link_libraries(kestra_pch_test PRIVATE nlohmann_json::nlohmann_json Threads::Threads GTest::gtest)
  target_precompile_headers(kestra_pch_test PRIVATE <gtest/gtest.h> ${KESTRA_PCH_COMMON})
  target_compile_options(kestra_pch_test PRIVATE ${KESTRA_TEST_OPTIMIZE})
  add_library(kestra_pch_light OBJECT ${stub})
  target_link_libraries(kestra_pch_light PRIVATE nlohmann_json::nlohmann_json Threads::Threads)
  target_precompile_headers(kestra_pch_light PRIVATE ${KESTRA_PCH_COMMON})
  target_compile_options(kestra_pch_light PRIVATE ${KESTRA_TEST_OPTIMIZE})
  set_target_properties(kestra_pch_common kestra_pch_test kestra_pch_light PROPERTIES UNITY_BUILD OFF)
endfunction()

# Applies the build-time measures to a target of `kind`: lib, program, test, or light (test
# code that is not a GoogleTest executable: fuzz replays, and the fixtures under testing/).
function(_kestra_speed target kind)
  if(CMAKE_CURRENT_SOURCE_DIR MATCHES "^${CMAKE_SOURCE_DIR}/testing/" AND NOT KESTRA_FUZZ
     AND (kind STREQUAL "lib" OR kind STREQUAL "program"))
    set(kind light)
  endif()
  if(NOT kind STREQUAL "lib")
    target_compile_options(${target} PRIVATE -fPIC)
  endif()
  if(kind STREQUAL "test" OR kind STREQUAL "light")
    target_compile_options(${target} PRIVATE ${KESTRA_TEST_OPTIMIZE})
  endif()
  if(KESTRA_PCH)
    _kestra_pch_hosts()
    get_target_property(deps ${target} LINK_LIBRARIES)
    if(kind STREQUAL "lib" AND deps MATCHES "Qt6::")
      target_precompile_headers(${target} PRIVATE ${KESTRA_PCH_COMMON} ${KESTRA_PCH_QT})
    elseif(kind STREQUAL "test")
      target_precompile_headers(${target} REUSE_FROM kestra_pch_test)
    elseif(kind STREQUAL "light")
      target_precompile_headers(${target} REUSE_FROM kestra_pch_light)
    else()
      target_precompile_headers(${target} REUSE_FROM kestra_pch_common)
    endif()
  endif()
  if(KESTRA_UNITY AND (NOT DEFINED KESTRA_FOLDER_UNITY OR KESTRA_FOLDER_UNITY))
    if(kind STREQUAL "test")
      set(batch ${KESTRA_UNITY_TEST_BATCH})
    else()
      set(batch ${KESTRA_UNITY_BATCH})
    endif()
    set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE ${batch})
    # A class of a .cpp with a member of an anonymous-namespace type is fine in its own
    # translation unit; GCC warns about it only when the .cpp is included, as here.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
      target_compile_options(${target} PRIVATE -Wno-subobject-linkage)
    endif()
  else()
    set_target_properties(${target} PROPERTIES UNITY_BUILD OFF)
  endif()
endfunction()

# Leaves these files of the current folder out of unity batches: each is compiled on its own.
# For a file whose internal names repeat another file's of the same target.
function(kestra_unity_skip)
  set_source_files_properties(${ARGN} PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
endfunction()

function(kestra_add_folder folder)
  if(KESTRA_ONLY AND NOT folder IN_LIST KESTRA_ONLY)
    return()
  endif()
  if(EXISTS ${CMAKE_SOURCE_DIR}/${folder}/CMakeLists.txt)
    add_subdirectory(${folder})
  endif()
endfunction()

function(_kestra_sources out)
  file(GLOB all CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER all EXCLUDE REGEX "_(test|fuzz|bench|main)\\.cpp$")
  set(${out} ${all} PARENT_SCOPE)
endfunction()

function(kestra_sdk_library name)
  cmake_parse_arguments(K "" "" "DEPS" ${ARGN})
  _kestra_sources(srcs)
  add_library(${name} OBJECT ${srcs})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_compile_definitions(${name} PRIVATE KESTRA_BUILDING_SDK)
  target_link_libraries(${name} PUBLIC nlohmann_json::nlohmann_json Threads::Threads ${K_DEPS})
  _kestra_speed(${name} lib)
  set_property(GLOBAL APPEND PROPERTY KESTRA_SDK_OBJECTS ${name})
endfunction()

function(kestra_make_sdk)
  get_property(objs GLOBAL PROPERTY KESTRA_SDK_OBJECTS)
  add_library(KestraSDK SHARED)
  foreach(o IN LISTS objs)
    target_sources(KestraSDK PRIVATE $<TARGET_OBJECTS:${o}>)
    get_target_property(deps ${o} INTERFACE_LINK_LIBRARIES)
    if(deps)
      list(REMOVE_ITEM deps ${objs})
      target_link_libraries(KestraSDK PRIVATE ${deps})
    endif()
  endforeach()
  target_include_directories(KestraSDK PUBLIC
    $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}> $<INSTALL_INTERFACE:include/KestraSDK>)
  target_link_libraries(KestraSDK PUBLIC nlohmann_json::nlohmann_json Threads::Threads)
  set_target_properties(KestraSDK PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
endfunction()

function(kestra_library name)
  cmake_parse_arguments(K "" "" "DEPS" ${ARGN})
  _kestra_sources(srcs)
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC KestraSDK ${K_DEPS})
  _kestra_speed(${name} lib)
endfunction()

# Tests run with $XDG_RUNTIME_DIR in the build tree (mode 0700, as the XDG rules ask): what
# they and Qt put there (the shared accessory folder) neither lands in /tmp nor meets another
# build's tests, nor the user's own session.
set(KESTRA_TEST_RUNTIME_DIR ${CMAKE_BINARY_DIR}/test-runtime)
file(MAKE_DIRECTORY ${KESTRA_TEST_RUNTIME_DIR})
file(CHMOD ${KESTRA_TEST_RUNTIME_DIR} DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)

function(kestra_tests name)
  cmake_parse_arguments(K "" "" "DEPS" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  if(NOT tests)
    return()
  endif()
  add_executable(${name}_test ${tests})
  target_link_libraries(${name}_test PRIVATE KestraSDK ${K_DEPS} GTest::gtest_main)
  _kestra_speed(${name}_test test)
  # Each test carries its folder as a label: `ctest -L app/core` runs that area's tests.
  file(RELATIVE_PATH folder ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  gtest_discover_tests(${name}_test DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "KESTRA_TEST=1"
      ENVIRONMENT_MODIFICATION "XDG_RUNTIME_DIR=set:${KESTRA_TEST_RUNTIME_DIR}"
      TIMEOUT 120 LABELS "${folder}")
endfunction()

# A program of the folder from <file>_main.cpp.
function(kestra_program name main)
  cmake_parse_arguments(K "" "" "DEPS" ${ARGN})
  add_executable(${name} ${main})
  target_link_libraries(${name} PRIVATE KestraSDK ${K_DEPS})
  _kestra_speed(${name} program)
endfunction()

# A Google Benchmark program. CI builds every one and runs it once as a quick smoke.
function(kestra_bench name file)
  cmake_parse_arguments(K "" "" "DEPS" ${ARGN})
  add_executable(${name} ${file})
  target_link_libraries(${name} PRIVATE KestraSDK ${K_DEPS} benchmark::benchmark)
  _kestra_speed(${name} program)
  set_property(GLOBAL APPEND PROPERTY KESTRA_BENCHES ${name})
endfunction()

# A fuzz target: <file> defines LLVMFuzzerTestOneInput. Every build makes <name>_replay (the
# target with a plain main, FuzzReplay.cpp) and registers it with CTest over the seed corpus
# corpus/<name>/ and the saved crash inputs crashes/<name>/, so each run re-checks them.
# With -DKESTRA_FUZZ=ON (clang) it also makes the libFuzzer program <name>. The target's
# libFuzzer options (max_len, ...) are in <name>.options beside it. A target whose DEPS are
# not built (KESTRA_ONLY, KESTRA_BUILD_APP=OFF) is left out.
function(kestra_fuzz name file)
  cmake_parse_arguments(K "" "" "DEPS" ${ARGN})
  foreach(dep IN LISTS K_DEPS)
    if(NOT TARGET ${dep})
      return()
    endif()
  endforeach()
  set(dir ${CMAKE_CURRENT_SOURCE_DIR})
  foreach(needed corpus/${name} ${name}.options)
    if(NOT EXISTS ${dir}/${needed})
      message(FATAL_ERROR "Fuzz target ${name} needs ${dir}/${needed}")
    endif()
  endforeach()
  if(NOT TARGET kestra_fuzz_replay_main)
    add_library(kestra_fuzz_replay_main OBJECT ${dir}/FuzzReplay.cpp)
  endif()
  add_executable(${name}_replay ${file} $<TARGET_OBJECTS:kestra_fuzz_replay_main>)
  target_link_libraries(${name}_replay PRIVATE KestraSDK ${K_DEPS})
  _kestra_speed(${name}_replay light)
  add_test(NAME fuzz.${name}.replay COMMAND ${name}_replay ${dir}/corpus/${name} ${dir}/crashes/${name})
  set_tests_properties(fuzz.${name}.replay PROPERTIES ENVIRONMENT "KESTRA_TEST=1"
    ENVIRONMENT_MODIFICATION "XDG_RUNTIME_DIR=set:${KESTRA_TEST_RUNTIME_DIR}" TIMEOUT 300 LABELS fuzz)
  set_property(GLOBAL APPEND PROPERTY KESTRA_FUZZ_TARGETS ${name})
  if(KESTRA_FUZZ)
    add_executable(${name} ${file})
    target_link_libraries(${name} PRIVATE KestraSDK ${K_DEPS})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    _kestra_speed(${name} program)
  endif()
endfunction()
