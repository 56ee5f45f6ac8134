# Cross build of the whole program for 64-bit Windows, the window included, against the Qt for
# Windows that scripts/build-qt-windows builds from Debian's source into a cache outside the
# checkout. The host's Qt of the same version supplies moc, rcc and uic.
#
# Qt's DLLs link the mingw-w64 runtime (libstdc++, libgcc_s, winpthread) as DLLs, so the
# programs here do too: one copy of the C++ runtime in the process, not a static one in the
# executable and a second one in Qt. The Qt cache holds those three DLLs next to Qt's own.
set(KELVASTON_MINGW_SHARED_RUNTIME ON)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)

# The cache for the host Qt's version, found as scripts/build-qt-windows --prefix names it;
# KELVASTON_QT_WINDOWS (a cache variable or the environment) names another Qt for Windows.
if(NOT KELVASTON_QT_WINDOWS AND DEFINED ENV{KELVASTON_QT_WINDOWS})
    set(KELVASTON_QT_WINDOWS "$ENV{KELVASTON_QT_WINDOWS}")
endif()
if(NOT KELVASTON_QT_WINDOWS)
    file(STRINGS "${QT_HOST_PATH_CMAKE_DIR}/Qt6/Qt6ConfigVersionImpl.cmake" _kelvaston_qt_version
         REGEX "^set\\(PACKAGE_VERSION \"[0-9.]+\"\\)")
    string(REGEX REPLACE ".*\"([0-9.]+)\".*" "\\1" _kelvaston_qt_version "${_kelvaston_qt_version}")
    if(DEFINED ENV{KELVASTON_CACHE})
        set(_kelvaston_cache "$ENV{KELVASTON_CACHE}")
    elseif(DEFINED ENV{XDG_CACHE_HOME})
        set(_kelvaston_cache "$ENV{XDG_CACHE_HOME}/kelvaston")
    else()
        set(_kelvaston_cache "$ENV{HOME}/.cache/kelvaston")
    endif()
    set(KELVASTON_QT_WINDOWS "${_kelvaston_cache}/qt-${_kelvaston_qt_version}-mingw-w64")
endif()
set(KELVASTON_QT_WINDOWS "${KELVASTON_QT_WINDOWS}" CACHE PATH "Qt built for Windows (scripts/build-qt-windows)")
if(NOT EXISTS "${KELVASTON_QT_WINDOWS}/lib/cmake/Qt6/Qt6Config.cmake")
    message(FATAL_ERROR "No Qt for Windows in ${KELVASTON_QT_WINDOWS}: run scripts/build-qt-windows first.")
endif()
list(APPEND CMAKE_FIND_ROOT_PATH "${KELVASTON_QT_WINDOWS}")

# Programs run under Wine find Qt's DLLs (and the runtime's) on Wine's PATH. The offscreen
# platform reads fonts from a folder rather than from Windows; Wine's own fonts (Tahoma among
# them) are not in its C:\windows\Fonts, so the tests read them where Wine keeps them.
set(CMAKE_CROSSCOMPILING_EMULATOR
    "${CMAKE_COMMAND};-E;env;WINEPATH=Z:${KELVASTON_QT_WINDOWS}/bin;QT_QPA_FONTDIR=Z:/usr/share/wine/fonts;${CMAKE_CURRENT_LIST_DIR}/wine-run.sh;${CMAKE_BINARY_DIR}/wineprefix")
