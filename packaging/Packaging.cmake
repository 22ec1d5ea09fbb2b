# Install rules and the Debian package. `cmake --install build` puts everything under the prefix
# (/usr/local unless told); `cpack --config build/CPackConfig.cmake` makes the .deb, for /usr:
#
#   bin/zelvorn                     lib/zelvorn/libzelvorn2.so, libzv_platform.so
#   share/zelvorn/web/              share/doc/zelvorn/ (README, the sample extension)
#   share/man/man1/zelvorn.1.gz     lib/systemd/user/zelvorn.service
#
# The executable finds its module and web/ relative to itself (app/host/InstallLayout.h).
set(ZV_PACKAGE_PREFIX /usr)

install(TARGETS zelvorn RUNTIME DESTINATION bin)
install(TARGETS zelvorn2 zv_platform LIBRARY DESTINATION lib/zelvorn)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/web/ DESTINATION share/zelvorn/web)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION share/doc/zelvorn)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION share/doc/zelvorn/examples)

# The unit names the executable where this install puts it, which only the install knows (a
# package is installed for its own prefix).
install(CODE "
  set(ZELVORN \"\${CMAKE_INSTALL_PREFIX}/bin/zelvorn\")
  configure_file(\"${PROJECT_SOURCE_DIR}/packaging/zelvorn.service.in\"
                 \"${PROJECT_BINARY_DIR}/packaging/zelvorn.service\" @ONLY)
")
install(FILES ${PROJECT_BINARY_DIR}/packaging/zelvorn.service DESTINATION lib/systemd/user)

# zelvorn(1): its synopsis is what `zelvorn --help` prints.
set(manual ${PROJECT_BINARY_DIR}/packaging/zelvorn.1)
add_custom_command(OUTPUT ${manual}.gz
  COMMAND ${CMAKE_COMMAND} -DZELVORN=$<TARGET_FILE:zelvorn> -DPROJECT_VERSION=${PROJECT_VERSION}
          -DTEMPLATE=${PROJECT_SOURCE_DIR}/packaging/zelvorn.1.in -DOUTPUT=${manual}
          -P ${PROJECT_SOURCE_DIR}/packaging/ManPage.cmake
  DEPENDS zelvorn ${PROJECT_SOURCE_DIR}/packaging/zelvorn.1.in ${PROJECT_SOURCE_DIR}/packaging/ManPage.cmake
  VERBATIM)
add_custom_target(manual ALL DEPENDS ${manual}.gz)
install(FILES ${manual}.gz DESTINATION share/man/man1)

# The package's scripts register the control in the machine hive and enable the user unit.
foreach(script postinst prerm postrm)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/${script}.in ${PROJECT_BINARY_DIR}/packaging/debian/${script}
                 @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                 WORLD_READ WORLD_EXECUTE)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zelvorn)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Zelvorn developers <zelvorn@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "resumable downloads that web pages drive with JSON text")
set(CPACK_PACKAGE_DESCRIPTION "Zelvorn downloads files and whole folders over HTTP and HTTPS and resumes them
where they stopped. Web pages drive it through `zelvorn serve` (started with every
desktop session), browser extensions through native messaging.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${ZV_PACKAGE_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
# Depends comes from the shared libraries the binaries use, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "zenity | kdialog")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/packaging/debian/postinst
    ${PROJECT_BINARY_DIR}/packaging/debian/prerm ${PROJECT_BINARY_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
