# The Qt windows: src/gui.
file(GLOB gui_srcs CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/src/gui/*.cpp)
file(GLOB gui_qrc CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/gui/*.qrc)
if(gui_srcs)
  add_library(jumelix_gui STATIC ${gui_srcs} ${gui_qrc})
  set_target_properties(jumelix_gui PROPERTIES AUTOMOC ON AUTORCC ON)
  target_include_directories(jumelix_gui PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_compile_definitions(jumelix_gui PUBLIC
    QT_NO_CONTEXTLESS_CONNECT QT_DISABLE_DEPRECATED_UP_TO=0x060400)
  target_link_libraries(jumelix_gui PUBLIC jumelix_core Qt6::Widgets Qt6::PrintSupport)
endif()
