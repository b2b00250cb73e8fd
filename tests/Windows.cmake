# The tests of the Windows build, cross-built and run under Wine
# (./run test-windows): the portable unit tests of the gateway's modules and
# the Win32 platform's own tests (tests/win32/).  Each test program is one
# ctest test, run through the cross build's emulator (Wine): starting a
# Windows process costs far more than on Linux, so the cases are not started
# one by one.

# GoogleTest and GMock from Debian's sources (package googletest), built with
# the cross compiler; their own warnings are not this project's to fix.
set(VANTOR_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources built for Windows")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${VANTOR_GOOGLETEST_SOURCE} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(t gtest gtest_main gmock)
  target_compile_options(${t} PRIVATE -w)
  if(NOT TARGET GTest::${t})
    add_library(GTest::${t} ALIAS ${t})
  endif()
endforeach()

# The shared helpers that make sense without POSIX processes and
# pseudo-terminals (those are the end-to-end tests' and run on Linux).
add_library(vantor_test_support STATIC
  support/FakeMailLibrary.cpp support/FakePluginLibrary.cpp support/LoopPipe.cpp
  support/TestSockets.cpp)
target_include_directories(vantor_test_support PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/support
                           ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(vantor_test_support PUBLIC vantor_toolkit vantor_platform vantor_serial
                      GTest::gtest GTest::gmock ws2_32)
add_library(vantor_test_gateway STATIC support/GatewayFixture.cpp)
target_link_libraries(vantor_test_gateway PUBLIC vantor_test_support vantor_core)

# Test files that need Linux itself: pseudo-terminals, the client tool and
# the simulator as Linux processes.
set(VANTOR_LINUX_ONLY_TESTS
  serial/PseudoTerminalTest.cpp
  relay/ClientToolEndToEndTest.cpp)

# One test program per folder, as on Linux: tests/<module>/*.cpp -> test_<module>.exe.
function(vantor_windows_test_folder name)
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${name}/*.cpp)
  foreach(excluded ${VANTOR_LINUX_ONLY_TESTS})
    list(REMOVE_ITEM srcs ${CMAKE_CURRENT_SOURCE_DIR}/${excluded})
  endforeach()
  add_executable(test_${name} ${srcs})
  # A folder with a main.cpp of its own does without GoogleTest's.
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${name}/main.cpp)
    target_link_libraries(test_${name} PRIVATE vantor_test_support)
  else()
    target_link_libraries(test_${name} PRIVATE vantor_test_support GTest::gtest_main)
  endif()
  if(TARGET vantor_${name})
    target_link_libraries(test_${name} PRIVATE vantor_${name})
  endif()
  target_compile_definitions(test_${name} PRIVATE
    VANTOR_BUILD_DIR="${PROJECT_BINARY_DIR}" VANTOR_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  add_test(NAME ${name} COMMAND test_${name} WORKING_DIRECTORY ${PROJECT_BINARY_DIR})
  set_tests_properties(${name} PROPERTIES TIMEOUT 600 LABELS ${name})
endfunction()

foreach(folder toolkit nls serial exchange accounting relay mail plugin ui core win32 desktop-win32)
  vantor_windows_test_folder(${folder})
endforeach()
target_link_libraries(test_core PRIVATE vantor_test_gateway)
# The Win32 view's binding tests drive the dialogs and the main window, and
# open windows: test-windows.sh runs them on a virtual X server.
target_link_libraries(test_desktop-win32 PRIVATE vantor_core vantor_ui vantor_service)
target_link_libraries(test_win32 PRIVATE vantor_platform vantor_service)

# The service the Win32 service tests install and run (win32/service/).
add_executable(test_service win32/service/TestService.cpp)
target_include_directories(test_service PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(test_service PRIVATE vantor_service vantor_platform)
add_dependencies(test_win32 test_service)

# Stand-in outside libraries for the binding tests, as DLLs: a recording
# plug-in (tests/plugin-lib/Zelkor.dll) and a mail library with nine or all
# ten of its entry points (tests/mail-nine|mail-ten/vantorq9.dll).
add_library(test_plugin_zelkor SHARED plugin/libs/recording_plugin.cpp)
target_include_directories(test_plugin_zelkor PRIVATE ${PROJECT_SOURCE_DIR}/src)
set_target_properties(test_plugin_zelkor PROPERTIES OUTPUT_NAME Zelkor PREFIX ""
                      RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests/plugin-lib)
foreach(v nine ten)
  add_library(test_mail_${v} SHARED mail/libs/partial_mail_library.cpp)
  target_include_directories(test_mail_${v} PRIVATE ${PROJECT_SOURCE_DIR}/src)
  set_target_properties(test_mail_${v} PROPERTIES OUTPUT_NAME vantorq9 PREFIX ""
                        RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests/mail-${v}
                        ARCHIVE_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests/mail-${v})
endforeach()
target_compile_definitions(test_mail_ten PRIVATE VANTOR_TEST_ALL_TEN)
add_dependencies(test_plugin test_plugin_zelkor)
add_dependencies(test_mail test_mail_nine test_mail_ten)
add_dependencies(test_core test_plugin_zelkor test_mail_ten)
