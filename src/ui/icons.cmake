# The pictures of the window, painted in code. Included from src/ui/CMakeLists.txt; the path is
# taken from this file's folder so it also works when included from elsewhere.
add_library(kelvaston_icons STATIC ${CMAKE_CURRENT_LIST_DIR}/icons.cpp)
target_include_directories(kelvaston_icons PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(kelvaston_icons PUBLIC Qt6::Gui PRIVATE kelvaston_warnings)
