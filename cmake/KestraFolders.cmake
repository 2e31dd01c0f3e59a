# Declaring the project's folders in one line each.
#
#   kestra_sdk_library(<name> [DEPS ...])   objects of this folder go into libKestraSDK.so
#   kestra_library(<name> [DEPS ...])       a static library of this folder (links KestraSDK)
#   kestra_tests(<name> [DEPS ...])         one test executable from the folder's *_test.cpp files
#
# Sources are the folder's *.cpp files; files ending in _test.cpp, _fuzz.cpp, _bench.cpp or
# _main.cpp are left out of the library.

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
endfunction()

function(kestra_tests name)
  cmake_parse_arguments(K "" "" "DEPS" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  if(NOT tests)
    return()
  endif()
  add_executable(${name}_test ${tests})
  target_link_libraries(${name}_test PRIVATE KestraSDK ${K_DEPS} GTest::gmock GTest::gtest_main)
  target_precompile_headers(${name}_test PRIVATE <gtest/gtest.h> <nlohmann/json.hpp>)
  # Each test carries its folder as a label: `ctest -L app/core` runs that area's tests.
  file(RELATIVE_PATH folder ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  gtest_discover_tests(${name}_test DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "KESTRA_TEST=1" TIMEOUT 120 LABELS "${folder}")
endfunction()

# A program of the folder from <file>_main.cpp.
function(kestra_program name main)
  cmake_parse_arguments(K "" "" "DEPS" ${ARGN})
  add_executable(${name} ${main})
  target_link_libraries(${name} PRIVATE KestraSDK ${K_DEPS})
endfunction()

# A Google Benchmark program. CI builds every one and runs it once as a quick smoke.
function(kestra_bench name file)
  cmake_parse_arguments(K "" "" "DEPS" ${ARGN})
  add_executable(${name} ${file})
  target_link_libraries(${name} PRIVATE KestraSDK ${K_DEPS} benchmark::benchmark)
  set_property(GLOBAL APPEND PROPERTY KESTRA_BENCHES ${name})
endfunction()

# A libFuzzer target; only built with -DKESTRA_FUZZ=ON (clang).
function(kestra_fuzz name file)
  if(NOT KESTRA_FUZZ)
    return()
  endif()
  cmake_parse_arguments(K "" "" "DEPS" ${ARGN})
  add_executable(${name} ${file})
  target_link_libraries(${name} PRIVATE KestraSDK ${K_DEPS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
endfunction()
