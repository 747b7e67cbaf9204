lumenrider_test(tst_e2e LIBS Qt5::Network DEPENDS demo wintools vendor-api)
