# tessivo_library(NAME [DEPS ...] [EXCLUDE name ...] [ONLY name ...]): one static library of
# every .cpp (and .h) in the current folder, or of the files of the named modules only (ONLY
# MMObj), or of all but them (EXCLUDE U_Mp3ToWav). Globbing keeps each folder's CMakeLists
# free of file lists; a folder holding two libraries names the modules that part them.
function(tessivo_library name)
  cmake_parse_arguments(ARG "" "" "DEPS;EXCLUDE;ONLY" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  if(ARG_ONLY)
    list(JOIN ARG_ONLY "|" only)
    list(FILTER sources INCLUDE REGEX "/(${only})\\.cpp$")
    list(FILTER headers INCLUDE REGEX "/(${only})\\.h$")
  endif()
  if(ARG_EXCLUDE)
    list(JOIN ARG_EXCLUDE "|" excluded)
    list(FILTER sources EXCLUDE REGEX "/(${excluded})\\.cpp$")
    list(FILTER headers EXCLUDE REGEX "/(${excluded})\\.h$")
  endif()
  if(sources)
    add_library(${name} STATIC ${sources} ${headers})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    tessivo_warnings(${name})
    set_target_properties(${name} PROPERTIES AUTOMOC ON POSITION_INDEPENDENT_CODE ON)
    # A header that appears or changes reruns moc in an existing build folder too.
    set_property(TARGET ${name} APPEND PROPERTY AUTOGEN_TARGET_DEPENDS ${headers})
  else()
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
  endif()
endfunction()

# Warnings of our own targets; with TESSIVO_WERROR (the CI build) they fail the build. Headers
# of other projects come in as system headers and stay out of it.
function(tessivo_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(TESSIVO_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# tessivo_test(NAME DEPS ...): one GoogleTest executable of every *Test.cpp in the
# current folder plus the shared test main and helpers.
function(tessivo_test name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE tessivo_testsupport ${ARG_DEPS})
  tessivo_warnings(${name})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  gtest_discover_tests(${name}
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TESSIVO_AUDIO_DEVICE=virtual;TESSIVO_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
    DISCOVERY_TIMEOUT 60)
endfunction()
