lumenrider_test(tst_art LIBS Qt5::Gui)
