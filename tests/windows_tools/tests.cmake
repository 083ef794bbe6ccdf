# The Windows tools under the emulator (included from tests/CMakeLists.txt on Windows builds):
# zarerera.exe and p9050diag.exe run as child processes on the simulated machine and on the absent
# kernel driver, the console host on the same session transcripts as on Linux; and the two-channel
# device link they are built with.
set(_dir ${CMAKE_CURRENT_SOURCE_DIR}/windows_tools)
add_executable(test_windows_tools ${_dir}/tools_test.cpp)
# The console's header comes with the test support's temporary files and console files.
target_link_libraries(test_windows_tools PRIVATE GTest::gtest GTest::gtest_main zarerera_warnings
                                                 zarerera_console)
target_include_directories(test_windows_tools PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(test_windows_tools PRIVATE
                           ZARERERA_EXE="$<TARGET_FILE:zarerera_cmd>"
                           P9050DIAG_EXE="$<TARGET_FILE:p9050diag>"
                           P9050DIAG_SESSIONS="${CMAKE_CURRENT_SOURCE_DIR}/tools/sessions")
add_dependencies(test_windows_tools zarerera_cmd p9050diag)
zarerera_add_gtest(test_windows_tools PROPERTIES LABELS windows_tools)

add_executable(test_channel_both ${_dir}/channel_both_test.cpp)
target_link_libraries(test_channel_both PRIVATE GTest::gtest GTest::gtest_main zarerera_warnings
                                                zarerera_channel_both)
target_include_directories(test_channel_both
                           PRIVATE $<TARGET_PROPERTY:zarerera_driver,INTERFACE_INCLUDE_DIRECTORIES>)
zarerera_add_gtest(test_channel_both PROPERTIES LABELS windows_tools)
