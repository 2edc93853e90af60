# Warning flags for every target of ours (not for third-party code). Warnings become errors
# only where MODRIN_WERROR asks for it (the presets and CI), so that a compiler newer or older
# than ours never breaks a user's build.
function(modrin_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(MODRIN_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# modrin_library(NAME SOURCES ... DEPS ...): a static library of one source folder.
function(modrin_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
  modrin_warnings(${name})
endfunction()

# modrin_test(folder/name SOURCES ... DEPS ...): a GoogleTest executable registered in CTest
# under the name "folder/name".
function(modrin_test test_name)
  if(NOT MODRIN_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  string(REPLACE "/" "_" exe ${test_name})
  add_executable(${exe} ${ARG_SOURCES})
  target_link_libraries(${exe} PRIVATE ${ARG_DEPS} modrin_testing GTest::gtest GTest::gtest_main)
  modrin_warnings(${exe})
  add_test(NAME ${test_name} COMMAND ${exe})
  set_tests_properties(${test_name} PROPERTIES
    ENVIRONMENT "MODRIN_SOURCE_DIR=${PROJECT_SOURCE_DIR};LC_ALL=C")
endfunction()

# modrin_qt_library(NAME SOURCES ... DEPS ...): a static library of one GUI folder, with moc.
function(modrin_qt_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  modrin_library(${name} SOURCES ${ARG_SOURCES} DEPS ${ARG_DEPS} PRIVATE_DEPS ${ARG_PRIVATE_DEPS})
  set_target_properties(${name} PROPERTIES AUTOMOC ON AUTORCC ON)
endfunction()

# modrin_qt_test(folder/name [DISPLAY] SOURCES ... DEPS ...): a QtTest executable registered in
# CTest, run on the offscreen platform with settings and data redirected to a scratch folder.
# DISPLAY runs it on a virtual X display instead, where OpenGL works (Mesa's software renderer).
function(modrin_qt_test test_name)
  if(NOT MODRIN_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "DISPLAY" "" "SOURCES;DEPS" ${ARGN})
  string(REPLACE "/" "_" exe ${test_name})
  add_executable(${exe} ${ARG_SOURCES})
  set_target_properties(${exe} PROPERTIES AUTOMOC ON)
  target_link_libraries(${exe} PRIVATE ${ARG_DEPS} Qt6::Test)
  modrin_warnings(${exe})
  set(scratch ${CMAKE_CURRENT_BINARY_DIR}/${exe}.home)
  set(platform offscreen)
  set(display)
  if(ARG_DISPLAY)
    set(platform xcb)
    set(display xvfb-run -a -s "-screen 0 1280x1024x24")
  endif()
  add_test(NAME ${test_name} COMMAND ${display} ${CMAKE_COMMAND} -E env
    XDG_CONFIG_HOME=${scratch}/config XDG_DATA_HOME=${scratch}/data
    XDG_STATE_HOME=${scratch}/state HOME=${scratch}
    $<TARGET_FILE:${exe}>)
  set_tests_properties(${test_name} PROPERTIES
    ENVIRONMENT "MODRIN_SOURCE_DIR=${PROJECT_SOURCE_DIR};LC_ALL=C;QT_QPA_PLATFORM=${platform}")
  if(ARG_DISPLAY)
    modrin_display_test(${test_name})
  endif()
endfunction()

# modrin_display_test(name): the test draws with OpenGL on a virtual display. Mesa's software
# renderer unloads its driver at exit before the sanitizer's leak check, which then reports
# the driver's own allocations without a module to suppress them by; the leak check is left
# out for these tests (the address and undefined-behaviour checks stay).
function(modrin_display_test test_name)
  if(CMAKE_CXX_FLAGS MATCHES "sanitize=address")
    set_property(TEST ${test_name} APPEND PROPERTY ENVIRONMENT "ASAN_OPTIONS=detect_leaks=0")
  endif()
endfunction()
