# Warnings as errors for every target of our own, narrowing conversions and shadowed names
# among them.
function(veltrane_warnings target)
  # GCC 12 reports a false -Wrestrict inside std::string once it inlines (-O2, -O3, -Os, any
  # build type or flags a packager picks); it stays a warning. Clang has no such warning.
  # Clang's -Wconversion also means -Wsign-conversion, which the code does not follow; clang only
  # builds the fuzz targets, whose sources GCC checks in every other preset.
  target_compile_options(${target} PRIVATE -Wall -Wextra $<$<CXX_COMPILER_ID:GNU>:-Wconversion> -Wshadow -Werror
                         $<$<CXX_COMPILER_ID:GNU>:-Wno-error=restrict>)
endfunction()

# The program's subsystems and their tests hold their text in code page 932:
# a literal "ダウンロード完了" compiles to its CP932 bytes.
# Clang knows no execution charset but UTF-8; it only builds the fuzz targets, whose readers
# work on the input's bytes and not on the program's literals.
function(veltrane_cp932 target)
  veltrane_warnings(${target})
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -finput-charset=UTF-8 -fexec-charset=CP932)
  endif()
endfunction()

# A library that exports exactly the names of its export list: on Linux the version script
# BASE.map (hidden visibility still leaves the standard library's template instances exported;
# the script does not), on Windows the module definition BASE.def, which also keeps the
# __stdcall names undecorated. "Decode.dll", not "libDecode.dll", on Windows.
function(veltrane_exports target base)
  if(WIN32)
    target_sources(${target} PRIVATE ${base}.def)
    set_target_properties(${target} PROPERTIES PREFIX "" IMPORT_PREFIX "")
  else()
    target_link_options(${target} PRIVATE -Wl,--version-script=${base}.map)
    set_target_properties(${target} PROPERTIES LINK_DEPENDS ${base}.map)
  endif()
endfunction()

# A GoogleTest program registered with ctest under a label (unit, e2e, gui), its sources then
# optionally SERIAL (its tests run with nothing else beside them: they start machine-wide
# daemons) and ENVIRONMENT with one NAME=VALUE its cases run with.
function(veltrane_test name label)
  cmake_parse_arguments(PARSE_ARGV 2 arg "SERIAL" "ENVIRONMENT" "")
  set(serial FALSE)
  if(arg_SERIAL)
    set(serial TRUE)
  endif()
  add_executable(${name} ${arg_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main Threads::Threads)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(WIN32)
    # Under Wine each start costs a second or more: one ctest test per program, not per case.
    add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    set_tests_properties(${name} PROPERTIES LABELS ${label})
  else()
    set(environment)
    if(arg_ENVIRONMENT)
      set(environment ENVIRONMENT ${arg_ENVIRONMENT})
    endif()
    gtest_discover_tests(${name} PROPERTIES LABELS ${label} RUN_SERIAL ${serial} ${environment} DISCOVERY_TIMEOUT 60
                         WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  endif()
endfunction()
