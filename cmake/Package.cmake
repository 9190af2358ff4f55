# The Debian package (scripts/package drives it): whatever `cmake --install` puts under /usr.
# Its dependencies are the packages of the shared libraries the installed programs link, as
# dpkg-shlibdeps finds them; only the programs the window starts are named here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zezuvur)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Divezor)
set(CPACK_PACKAGE_CONTACT "Divezor <zezuvur@divezor.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "viewer of what web browsing left in a Windows URL cache")
set(CPACK_PACKAGE_DESCRIPTION
    "Zezuvur shows, site by site, the traces that web browsing has left in the URL
cache of a Windows user profile (a mounted disk's Users folder, a copied
profile or a Wine prefix): cached images, pages, media and other files,
cookies and history entries. It only ever reads the cache.

The package also holds command-line tools, among them urlcache-dump, which
lists every cache entry, zezuvur-report, which prints the sites and their
traces, and make-profile, which writes a demo profile.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/DebianStrip.cmake)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://www.divezor.example/)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window opens files and addresses through xdg-open and names file types from the MIME
# database.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, shared-mime-info")
include(CPack)
