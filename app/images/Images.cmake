# Images of the desktop program. Include from app/CMakeLists.txt after find_package(Qt6 ... Svg):
#   include(images/Images.cmake)
#   target_sources(tonemirror PRIVATE ${TM_IMAGES_QRC})   # with AUTORCC on, or use qt_add_resources
#   tm_render_app_icons()                                  # PNGs in ${TM_APP_ICON_DIR}/hicolor/NxN/apps
# Qt SVG is needed at run time as well: the tool-bar, menu and check-box images are SVG.

set(TM_IMAGES_DIR ${CMAKE_CURRENT_LIST_DIR})
set(TM_IMAGES_QRC ${TM_IMAGES_DIR}/images.qrc)
set(TM_APP_ICON_SIZES 16 24 32 48 64 128 256)
set(TM_APP_ICON_DIR ${CMAKE_BINARY_DIR}/icons)

# Renders tonemirror.svg at every icon-theme size with Qt SVG, in the layout of the hicolor theme.
function(tm_render_app_icons)
    add_executable(tm_render_icon ${TM_IMAGES_DIR}/RenderIcon.cpp)
    target_link_libraries(tm_render_icon PRIVATE Qt6::Gui Qt6::Svg)
    tm_target_warnings(tm_render_icon)
    set(source ${TM_IMAGES_DIR}/tonemirror.svg)
    set(outputs "")
    foreach(size IN LISTS TM_APP_ICON_SIZES)
        set(png ${TM_APP_ICON_DIR}/hicolor/${size}x${size}/apps/tonemirror.png)
        add_custom_command(OUTPUT ${png}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${TM_APP_ICON_DIR}/hicolor/${size}x${size}/apps
            COMMAND tm_render_icon ${source} ${size} ${png}
            DEPENDS tm_render_icon ${source}
            COMMENT "Rendering application icon at ${size} px" VERBATIM)
        list(APPEND outputs ${png})
    endforeach()
    add_custom_target(tm_app_icons ALL DEPENDS ${outputs})
endfunction()
