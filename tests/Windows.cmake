# The suites of the Windows build, run under Wine (scripts/wine-run.sh): the portable
# subsystems' tests, the tests the Linux backend shares with the Windows one, the Windows
# backends' own tests, and both libraries bound the way the program binds them. Each program
# runs beside the two DLLs, as in the program folder.
add_library(test_support INTERFACE)
target_include_directories(test_support INTERFACE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(test_support INTERFACE platform ui_headless)

function(windows_test name)
  veltrane_test(${name} unit ${ARGN})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${VELTRANE_BIN_DIR})
  set_tests_properties(${name} PROPERTIES WORKING_DIRECTORY ${VELTRANE_BIN_DIR})
  target_link_libraries(${name} PRIVATE test_support)
  veltrane_cp932(${name})
endfunction()

set(wine ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh ${VELTRANE_WINEPREFIX})

windows_test(platform_tests platform/CodePageTest.cpp platform/ProfileTest.cpp platform/WildcardTest.cpp
             platform/XmlReaderTest.cpp)

# The Windows backends, with the program's version resource and manifest; once under a
# Japanese locale (system code page 932) and once under a western one (1252).
windows_test(platform_win32_tests platform/win32/FilesTest.cpp platform/win32/ServicesTest.cpp
             platform/win32/SystemTest.cpp platform/win32/DllBindingTest.cpp platform/win32/RawVolumeTest.cpp
             platform/win32/ProfileReplaceTest.cpp platform/win32/DllSearchTest.cpp)
target_link_libraries(platform_win32_tests PRIVATE veltrane_version_resource)
target_include_directories(platform_win32_tests PRIVATE ${PROJECT_SOURCE_DIR}/decode ${PROJECT_SOURCE_DIR}/sha512)
add_dependencies(platform_win32_tests Decode sha512)
set(raw_image ${CMAKE_BINARY_DIR}/wine-drive/volume.img)
string(REPLACE "/" "\\" raw_image_windows "Z:${raw_image}")
# The two runs share the named mutex and the device-change window's class: one at a time.
set_tests_properties(platform_win32_tests PROPERTIES ENVIRONMENT "LC_ALL=ja_JP.UTF-8;VELTRANE_EXPECT_ACP=932"
                     RESOURCE_LOCK win32_session)
add_test(NAME platform_win32_tests.western
         COMMAND ${wine} --drive R ${raw_image} $<TARGET_FILE:platform_win32_tests>
         WORKING_DIRECTORY ${VELTRANE_BIN_DIR})
set_tests_properties(platform_win32_tests.western PROPERTIES LABELS unit RESOURCE_LOCK win32_session
                     ENVIRONMENT "LC_ALL=C.UTF-8;VELTRANE_EXPECT_ACP=1252;VELTRANE_RAW_DRIVE=R;VELTRANE_RAW_IMAGE=${raw_image_windows}")

# The WinINet session against two mapservices on loopback (the Linux program of the default
# build) and a stalling socket server of the test's own; the wrapper starts and stops them.
set(VELTRANE_MAPSERVICE ${PROJECT_SOURCE_DIR}/build/default/bin/mapservice CACHE FILEPATH
    "mapservice of the Linux build, for the Windows network tests")
add_library(test_root STATIC platform/win32/TestRoot.cpp)
target_link_libraries(test_root PUBLIC test_support crypt32)
add_executable(platform_win32_internet_tests platform/win32/InternetTest.cpp)
target_link_libraries(platform_win32_internet_tests PRIVATE GTest::gtest GTest::gtest_main test_root ws2_32)
set_target_properties(platform_win32_internet_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${VELTRANE_BIN_DIR})
add_test(NAME platform_win32_internet_tests
         COMMAND ${PROJECT_SOURCE_DIR}/scripts/with-mapservice.sh ${VELTRANE_MAPSERVICE}
                 ${CMAKE_BINARY_DIR}/internet-world ${wine} $<TARGET_FILE:platform_win32_internet_tests>
                 --gtest_filter=-*ThroughSquid*
         WORKING_DIRECTORY ${VELTRANE_BIN_DIR})
# The proxy tests in a process of their own: Wine's WinINet would hand a request for the newly
# configured proxy a kept connection of an earlier direct request to the same address.
add_test(NAME platform_win32_internet_tests.squid
         COMMAND ${PROJECT_SOURCE_DIR}/scripts/with-mapservice.sh ${VELTRANE_MAPSERVICE}
                 ${CMAKE_BINARY_DIR}/squid-world ${wine} $<TARGET_FILE:platform_win32_internet_tests>
                 --gtest_filter=*ThroughSquid*
         WORKING_DIRECTORY ${VELTRANE_BIN_DIR})
set_tests_properties(platform_win32_internet_tests platform_win32_internet_tests.squid PROPERTIES LABELS unit)

windows_test(decode_test decode/DesTest.cpp $<TARGET_OBJECTS:decode_des>)
target_include_directories(decode_test PRIVATE ${PROJECT_SOURCE_DIR}/decode)

windows_test(sha512_test sha512/Sha512Test.cpp)
target_link_libraries(sha512_test PRIVATE sha512)

# Each DLL's export table, as objdump lists it, holds exactly its names.
function(windows_exports library expected)
  add_test(NAME ${library}.exports
           COMMAND ${CMAKE_COMMAND} -DLIBRARY=$<TARGET_FILE:${library}> -DOBJDUMP=${VELTRANE_MINGW}-objdump
                   "-DEXPECTED=${expected}" -P ${PROJECT_SOURCE_DIR}/cmake/CheckExports.cmake)
  set_tests_properties(${library}.exports PROPERTIES LABELS unit)
endfunction()
windows_exports(Decode "Decode;DecodeEx")
windows_exports(sha512 "CreateAlgorithm;DestroyAlgorithm;GetHash;GetHashLength;GetHashText;GetHashTextLength;InitAlgorithm;InputData")

windows_test(base_tests base/LoggerTest.cpp)
target_link_libraries(base_tests PRIVATE base)
windows_test(state_tests state/MessageCatalogueTest.cpp)
target_link_libraries(state_tests PRIVATE state)
# The shipped Message.ini, in the program folder beside the test program.
add_dependencies(state_tests veltrane_resources)

# The portable subsystems' suites; those that bind sha512.dll by path find it beside them.
windows_test(common_tests common/FileUtilTest.cpp common/HashTest.cpp)
target_link_libraries(common_tests PRIVATE common)
add_dependencies(common_tests sha512)
# A sparse file of 5 GiB hashed and copied: its own program, as it takes a while (docs/windows.md).
windows_test(large_file_tests common/LargeFileTest.cpp)
target_link_libraries(large_file_tests PRIVATE common)
windows_test(ui_tests ui/ScriptTest.cpp)
target_link_libraries(ui_tests PRIVATE ui_script)

# The program itself carries the version resource.
if(TARGET veltrane)
  add_test(NAME veltrane.version_resource
           COMMAND ${CMAKE_COMMAND} -DEXE=$<TARGET_FILE:veltrane> -P ${PROJECT_SOURCE_DIR}/cmake/CheckVersionResource.cmake)
  set_tests_properties(veltrane.version_resource PROPERTIES LABELS unit)
endif()

# The installer installs and uninstalls silently, in a Wine prefix of its own, and refuses both
# while the program runs (hold_mutex stands in for it).
add_executable(hold_mutex installer/HoldMutex.cpp)
add_test(NAME installer.SilentInstallAndUninstall
         COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/installer/silent-install.sh ${CMAKE_BINARY_DIR}/VeltraneSetup.exe
                 ${VELTRANE_BIN_DIR} ${CMAKE_BINARY_DIR}/wine-installer $<TARGET_FILE:hold_mutex>)
set_tests_properties(installer.SilentInstallAndUninstall PROPERTIES LABELS e2e TIMEOUT 300)

# The Win32 window on Wine's dialog manager, with the program's icons, bitmaps and manifest
# (Common Controls 6); its template and picture encoders as on Linux.
windows_test(ui_win32_tests ui/win32/Win32WindowTest.cpp ui/win32/DialogTemplateTest.cpp
             $<TARGET_OBJECTS:ui_win32_resources>)
target_link_libraries(ui_win32_tests PRIVATE ui_win32 veltrane_version_resource ZLIB::ZLIB)
# The window shows the same Japanese text on a Windows whose code page is not 932. Both runs
# share one desktop, where the tests find the prompts by title: one at a time.
set_tests_properties(ui_win32_tests PROPERTIES ENVIRONMENT "LC_ALL=ja_JP.UTF-8" RESOURCE_LOCK win32_desktop)
add_test(NAME ui_win32_tests.western COMMAND ${wine} $<TARGET_FILE:ui_win32_tests> WORKING_DIRECTORY ${VELTRANE_BIN_DIR})
set_tests_properties(ui_win32_tests.western PROPERTIES LABELS unit ENVIRONMENT "LC_ALL=C.UTF-8" RESOURCE_LOCK win32_desktop)
# The browser's stand-in for the shell-open test, beside the test program.
add_executable(url_recorder ui/win32/UrlRecorder.cpp)
set_target_properties(url_recorder PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${VELTRANE_BIN_DIR})
add_dependencies(ui_win32_tests url_recorder)
# The window on a screen of 96 and of 144 DPI (150 %), with the Japanese fonts mapped, in a
# prefix of their own whose LogPixels each run sets: every label's text fits its control.
set(screen_prefix ${CMAKE_BINARY_DIR}/wineprefix-screen)
foreach(dpi 96 144)
  add_test(NAME ui_win32_tests.dpi${dpi}
           COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh ${screen_prefix} --screen ${dpi}
                   $<TARGET_FILE:ui_win32_tests> --gtest_filter=Win32Resolution.*
           WORKING_DIRECTORY ${VELTRANE_BIN_DIR})
  set_tests_properties(ui_win32_tests.dpi${dpi} PROPERTIES LABELS unit RESOURCE_LOCK wine_screen_prefix
                       ENVIRONMENT "LC_ALL=ja_JP.UTF-8;VELTRANE_EXPECT_DPI=${dpi}")
endforeach()

# A scripted session of Veltrane.exe on its Win32 window (Wine's null driver): start-up with
# the connection dialog, the main window, a download from mapservice over HTTPS (its CA made a
# root of the session's prefix by trust_root), exit. mapservice and mkupdate are Linux
# programs, taken from the Linux build.
add_executable(trust_root platform/win32/TrustRoot.cpp)
target_link_libraries(trust_root PRIVATE test_root)
set_target_properties(trust_root PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${VELTRANE_BIN_DIR})
set(VELTRANE_LINUX_BIN ${PROJECT_SOURCE_DIR}/build/default/bin CACHE PATH "bin folder of the Linux build (mapservice, mkupdate)")
add_test(NAME win32_session
         COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/gui/win32-session.sh ${VELTRANE_BIN_DIR} ${VELTRANE_LINUX_BIN}
                 ${CMAKE_BINARY_DIR}/win32-session)
set_tests_properties(win32_session PROPERTIES LABELS gui TIMEOUT 900)
# The proxy tests set the system's proxy in the prefix's Internet Settings, which every WinINet
# session of the prefix reads: nothing else that goes on the network runs beside them.
set_tests_properties(platform_win32_internet_tests platform_win32_internet_tests.squid win32_session
                     PROPERTIES RESOURCE_LOCK wine_internet_settings)
