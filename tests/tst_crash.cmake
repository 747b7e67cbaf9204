# The installer with a way to make it fault for real, for the crash tests
# only: the installer that ships has none.
add_executable(lumenrider_faulty WIN32
  ${PROJECT_SOURCE_DIR}/Install/main.cpp ${PROJECT_SOURCE_DIR}/Install/qml/qml.qrc)
target_link_libraries(lumenrider_faulty PRIVATE lumenrider_core)
target_compile_definitions(lumenrider_faulty PRIVATE LUMENRIDER_TEST_FAULTS)
if(LUMENRIDER_SANITIZE MATCHES "undefined")
  # Its fault is a store through a null pointer, which must reach the crash
  # handler as the fault it is.
  target_compile_options(lumenrider_faulty PRIVATE -fno-sanitize=null)
endif()
set_target_properties(lumenrider_faulty PROPERTIES
  OUTPUT_NAME "lumenrider_${PROJECT_VERSION}" SUFFIX ".exe"
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/faulty)

lumenrider_test(tst_crash LIBS lumenrider_platform Qt5::Network DEPENDS lumenrider_faulty vendor-api)
target_compile_definitions(tst_crash PRIVATE FAULTY_INSTALLER="$<TARGET_FILE:lumenrider_faulty>")
