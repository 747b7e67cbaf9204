# The engine in a process of its own, started from a folder the test picks.
add_executable(engine_helper engine_helper.cpp)
target_link_libraries(engine_helper PRIVATE lumenrider_core)

lumenrider_test(tst_operation SOURCES EngineTestSupport.h VendorApiServer.h
  LIBS lumenrider_startup DEPENDS wintools vendor-api engine_helper)
target_compile_definitions(tst_operation PRIVATE ENGINE_HELPER_EXE="$<TARGET_FILE:engine_helper>")
