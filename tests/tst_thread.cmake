lumenrider_test(tst_thread SOURCES EngineTestSupport.h VendorApiServer.h
  LIBS lumenrider_core DEPENDS wintools vendor-api engine_helper)
target_compile_definitions(tst_thread PRIVATE ENGINE_HELPER_EXE="$<TARGET_FILE:engine_helper>")
