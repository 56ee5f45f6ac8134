# The painted pictures. The test creates its own QGuiApplication and picks the offscreen
# platform itself unless QT_QPA_PLATFORM says otherwise.
kelvaston_add_test(icons_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/icons_test.cpp
                   LIBS kelvaston_icons)
