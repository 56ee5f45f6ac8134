# The pictures of the window, PNG files compiled into the program as Qt resources. Included from
# src/ui/CMakeLists.txt; paths are taken from this file's folder.
add_library(kelvaston_icons STATIC ${CMAKE_CURRENT_LIST_DIR}/icons.cpp)
target_include_directories(kelvaston_icons PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(kelvaston_icons PUBLIC Qt6::Gui PRIVATE kelvaston_warnings)
file(GLOB kelvaston_pictures RELATIVE ${CMAKE_CURRENT_LIST_DIR} CONFIGURE_DEPENDS
     ${CMAKE_CURRENT_LIST_DIR}/pictures/*.png)
qt_add_resources(kelvaston_icons pictures PREFIX / BASE ${CMAKE_CURRENT_LIST_DIR} FILES ${kelvaston_pictures})
