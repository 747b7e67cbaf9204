# The real installer against a vendor API that fails in every way and a disk
# that refuses: many installers at once, each with its own stand-in.
lumenrider_test(tst_faults LIBS Qt5::Network DEPENDS vendor-api wintools)
