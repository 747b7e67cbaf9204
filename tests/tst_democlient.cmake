lumenrider_test(tst_democlient
  DEPENDS demo democlient democlient_background democlient_uninstall)
target_compile_definitions(tst_democlient PRIVATE
  DEMOCLIENT_DIR="$<TARGET_FILE_DIR:democlient>")
