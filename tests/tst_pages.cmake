lumenrider_test(tst_pages
  SOURCES ${PROJECT_SOURCE_DIR}/Install/qml/qml.qrc
  LIBS lumenrider_startup
  DEPENDS wintools vendor-api)
