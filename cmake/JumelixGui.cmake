# The Qt windows: the layer src/gui, on top of the program without windows and its mail.
find_package(Qt6 REQUIRED COMPONENTS Widgets PrintSupport DBus)
jumelix_module(gui DEPS jumelix_app jumelix_mail Qt6::Widgets Qt6::PrintSupport Qt6::DBus)
set_target_properties(jumelix_gui PROPERTIES AUTOMOC ON AUTORCC ON)
target_compile_definitions(jumelix_gui PUBLIC
  QT_NO_CONTEXTLESS_CONNECT QT_DISABLE_DEPRECATED_UP_TO=0x060400)
