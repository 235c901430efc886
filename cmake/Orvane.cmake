# Helpers that every folder's CMakeLists.txt uses, so adding a unit or a test needs no shared edits.

# orvane_library(NAME [DEPS lib...]): a static library from every .cc below the calling folder.
# A folder with no sources yet becomes an INTERFACE library, so dependants can name it already.
function(orvane_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cc ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# orvane_tests(SUBDIR LIBS lib...): one GoogleTest program per *_test.cc in the calling folder,
# registered with ctest as SUBDIR.NAME and run on the headless host.
function(orvane_tests subdir)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cc)
  foreach(src ${tests})
    get_filename_component(stem ${src} NAME_WE)
    set(exe ${subdir}_${stem})
    add_executable(${exe} ${src})
    target_link_libraries(${exe} PRIVATE ${ARG_LIBS} orvane_test_support GTest::gtest_main GTest::gmock)
    target_compile_definitions(${exe} PRIVATE
      ORVANE_TESTDATA_DIR="${ORVANE_TESTDATA_DIR}"
      ORVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
      ORVANE_BINARY_DIR="${PROJECT_BINARY_DIR}")
    add_test(NAME ${subdir}.${stem} COMMAND ${exe})
    set_tests_properties(${subdir}.${stem} PROPERTIES
      ENVIRONMENT "ORVANE_BACKEND=headless;ASAN_OPTIONS=detect_leaks=1:abort_on_error=1;UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1"
      TIMEOUT 300)
  endforeach()
endfunction()

# orvane_benchmarks(LIBS lib...): one Google Benchmark program per *_bench.cc in the calling folder.
function(orvane_benchmarks)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB benches CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_bench.cc)
  foreach(src ${benches})
    get_filename_component(stem ${src} NAME_WE)
    add_executable(${stem} ${src})
    target_link_libraries(${stem} PRIVATE ${ARG_LIBS} benchmark::benchmark_main)
    target_compile_definitions(${stem} PRIVATE ORVANE_TESTDATA_DIR="${ORVANE_TESTDATA_DIR}")
  endforeach()
endfunction()

# orvane_fuzzer(NAME SOURCE LIBS lib...): a libFuzzer target; its seed corpus is fuzz/corpus/NAME.
function(orvane_fuzzer name src)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  add_executable(${name} ${src})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  add_dependencies(fuzz_all ${name})
endfunction()

# orvane_plugin(NAME SOURCES src... [LIBS lib...] EXPORTS sym...): a plug-in module NAME.opi.
# Compiled with hidden visibility; a version script keeps exactly the listed entry points in the
# dynamic symbol table, and --exclude-libs,ALL keeps the static libraries linked into it (its own
# copies of base and imaging) private. libplatform.so is shared with the engine.
function(orvane_plugin name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;EXPORTS" ${ARGN})
  add_library(${name} MODULE ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES PREFIX "" SUFFIX ".opi"
    CXX_VISIBILITY_PRESET hidden C_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  set(map ${CMAKE_CURRENT_BINARY_DIR}/${name}.map)
  list(JOIN ARG_EXPORTS ";\n    " syms)
  file(WRITE ${map} "{\n  global:\n    ${syms};\n  local: *;\n};\n")
  target_link_options(${name} PRIVATE -Wl,--version-script=${map} -Wl,--exclude-libs,ALL -Wl,--no-undefined)
  set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${map})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} platform)
endfunction()

# orvane_link_codec(TARGET SHARED ARCHIVE...): TARGET and its users need a codec library. Programs
# link the library's static archives (file names, found where Debian's -dev packages put them)
# with their symbols kept private, so starting a program maps no codec library, and a shared
# library that brings its own copy (FreeType's libpng) keeps using that one. Shared objects and
# modules, and builds where an archive is missing, link SHARED, the shared library's target.
function(orvane_link_codec target shared)
  set(archives)
  set(names)
  foreach(file ${ARGN})
    string(MAKE_C_IDENTIFIER "ORVANE_ARCHIVE_${file}" var)
    find_library(${var} NAMES ${file})
    if(NOT ${var})
      target_link_libraries(${target} PUBLIC ${shared})
      return()
    endif()
    list(APPEND archives ${${var}})
    list(APPEND names ${file})
  endforeach()
  set(program "$<STREQUAL:$<TARGET_PROPERTY:TYPE>,EXECUTABLE>")
  foreach(archive ${archives})
    target_link_libraries(${target} PUBLIC "$<${program}:${archive}>")
  endforeach()
  list(JOIN names ":" hidden)
  target_link_options(${target} INTERFACE "$<${program}:LINKER:--exclude-libs,${hidden}>")
  target_link_libraries(${target} PUBLIC "$<$<NOT:${program}>:${shared}>")
  get_target_property(includes ${shared} INTERFACE_INCLUDE_DIRECTORIES)
  if(includes)
    target_include_directories(${target} PUBLIC ${includes})
  endif()
endfunction()
