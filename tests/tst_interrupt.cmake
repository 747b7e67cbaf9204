# Installs cut off: the real installer killed at random points of its file
# release, and a release that runs out of disk space on a file system of
# its own (a tmpfs in a mount namespace, as root).
lumenrider_test(tst_interrupt LIBS Qt5::Network DEPENDS vendor-api wintools)
# Its installers stop every process named like the client's at start-up,
# as those of the other tests that share the desktop do.
set_tests_properties(tst_interrupt PROPERTIES RESOURCE_LOCK desktop TIMEOUT 600)
