# What every package of the tools says about itself, the Debian package and the Windows
# zips alike.
set(CPACK_PACKAGE_NAME "watchdog-tools")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}.42")
set(CPACK_PACKAGE_CONTACT "watchdog-tools maintainers <maintainers@watchdog-tools.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "supervise console programs and relay IP camera streams")
