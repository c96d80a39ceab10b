# The Linux OS layer: GTK 3 with WebKitGTK on X11, GLib and GIO (D-Bus), libudev, OpenSSL.
pkg_check_modules(GTK REQUIRED IMPORTED_TARGET gtk+-3.0)
pkg_check_modules(WEBKIT REQUIRED IMPORTED_TARGET webkit2gtk-4.1)
pkg_check_modules(WEBEXT REQUIRED IMPORTED_TARGET webkit2gtk-web-extension-4.1)
pkg_check_modules(GIO REQUIRED IMPORTED_TARGET gio-2.0 gio-unix-2.0)
pkg_check_modules(UDEV REQUIRED IMPORTED_TARGET libudev)
pkg_check_modules(X11 REQUIRED IMPORTED_TARGET x11)
pkg_check_modules(XFIXES REQUIRED IMPORTED_TARGET xfixes)
pkg_check_modules(DBUSMENU IMPORTED_TARGET dbusmenu-glib-0.4)
find_package(OpenSSL REQUIRED)

target_link_libraries(maplenook_os
    PRIVATE PkgConfig::GTK PkgConfig::WEBKIT PkgConfig::GIO PkgConfig::UDEV PkgConfig::X11
        PkgConfig::XFIXES OpenSSL::Crypto)
if(DBUSMENU_FOUND)
    target_link_libraries(maplenook_os PRIVATE PkgConfig::DBUSMENU)
    target_compile_definitions(maplenook_os PRIVATE MAPLENOOK_HAVE_DBUSMENU=1)
endif()
set(MAPLENOOK_HAS_GUI ON)
