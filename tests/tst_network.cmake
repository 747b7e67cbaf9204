lumenrider_test(tst_network LIBS lumenrider_core DEPENDS vendor-api)
