# What integration and gui tests link besides the fakes: helpers that drive the real OS layer
# (GTK, WebKit, X11), loopback servers, child processes and installed folders.
file(GLOB TEST_SUPPORT_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/support/*.cpp)
add_library(maplenook_test_support STATIC ${TEST_SUPPORT_SOURCES})
target_include_directories(maplenook_test_support PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/support)
find_package(X11 REQUIRED)
# Some tests drive the OS layer's GTK, WebKit and X11 side directly, so they name it here.
target_link_libraries(maplenook_test_support PUBLIC maplenook_test_fakes
    X11::X11 PkgConfig::GTK PkgConfig::WEBKIT PkgConfig::GIO)
# Pointer input that a window manager takes for the user's (XTest).
if(NOT X11_Xtst_FOUND)
    message(FATAL_ERROR "tests need libXtst (Debian: libxtst-dev)")
endif()
target_link_libraries(maplenook_test_support PUBLIC X11::Xtst)
# Loopback HTTP servers in tests (Debian builds cpp-httplib as a library with these Cflags).
pkg_check_modules(TEST_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
target_link_libraries(maplenook_test_support PUBLIC PkgConfig::TEST_HTTPLIB)
target_compile_definitions(maplenook_test_support PUBLIC
    MAPLENOOK_TEST_BINARY_DIR="${CMAKE_BINARY_DIR}"
    MAPLENOOK_TEST_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    MAPLENOOK_TEST_EXE="$<TARGET_FILE:maplenook>"
    MAPLENOOK_TEST_PHONE_EXE="$<TARGET_FILE:maplenook-demo-phone>")
add_dependencies(maplenook_test_support maplenook maplenook-demo-phone)
if(TARGET maplenook_webext)
    add_dependencies(maplenook_test_support maplenook_webext)
endif()

