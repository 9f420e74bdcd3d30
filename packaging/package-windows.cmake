# A zip of the Windows build, made with `cpack -G ZIP` in its build folder: both programs,
# the licence and a short readme in one folder, named for the build's width
# (watchdog-tools-1.0.42-win32.zip or -win64.zip).
include(${CMAKE_CURRENT_LIST_DIR}/package-identity.cmake)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(CPACK_SYSTEM_NAME win64)
else()
  set(CPACK_SYSTEM_NAME win32)
endif()
set(CPACK_GENERATOR ZIP)
set(CPACK_STRIP_FILES ON)

install(TARGETS watchdog framerelay RUNTIME DESTINATION . COMPONENT runtime)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION . RENAME copyright.txt COMPONENT runtime)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/README-windows.txt DESTINATION . RENAME README.txt COMPONENT runtime)
include(CPack)
