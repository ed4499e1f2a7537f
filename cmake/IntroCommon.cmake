# Project-wide compiler settings and helper functions.

add_compile_options(-Wall -Wextra)
if(INTRO_WERROR)
  add_compile_options(-Werror)
endif()

if(INTRO_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
  add_compile_definitions(INTRO_SANITIZED=1)
endif()

if(INTRO_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "INTRO_FUZZ needs clang (configure with CXX=clang++ CC=clang)")
  endif()
  # Every library is instrumented, so that the fuzzers see the coverage of the code they drive
  # and the sanitizers see its memory accesses; only the fuzz programs link libFuzzer's main.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

set(INTRO_ROOT ${CMAKE_SOURCE_DIR})
# The folder with the shared test data (68000 vectors, SNDH tunes), beside the project.
get_filename_component(INTRO_SHARED_DIR ${CMAKE_SOURCE_DIR}/../shared ABSOLUTE)

# Adds every immediate sub-folder of the current folder that has a CMakeLists.txt.
function(intro_add_subdirectories)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
       ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child ${children})
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child}
       AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# intro_add_fuzz_target(NAME SOURCES src... LIBS lib... [CORPUS dir])
# The sources define LLVMFuzzerTestOneInput. With INTRO_FUZZ (clang) this makes a libFuzzer
# program; otherwise it links the sources against a small driver that replays the corpus and a
# fixed number of pseudo-random and mutated inputs, and registers that driver as a test.
function(intro_add_fuzz_target)
  cmake_parse_arguments(F "" "NAME;CORPUS" "SOURCES;LIBS" ${ARGN})
  if(INTRO_FUZZ)
    add_executable(${F_NAME} ${F_SOURCES})
    target_compile_options(${F_NAME} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(${F_NAME} PRIVATE ${F_LIBS})
  else()
    add_executable(${F_NAME} ${F_SOURCES})
    target_link_libraries(${F_NAME} PRIVATE ${F_LIBS} intro_fuzz_driver)
    if(F_CORPUS)
      add_test(NAME ${F_NAME} COMMAND ${F_NAME} ${F_CORPUS})
    else()
      add_test(NAME ${F_NAME} COMMAND ${F_NAME})
    endif()
    set_tests_properties(${F_NAME} PROPERTIES LABELS fuzz)
  endif()
endfunction()
