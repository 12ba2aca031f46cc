# Installing korvan-pack for a build server: `make install PREFIX=...` and
# `make package` (a Debian package made by CPack) put
#   PREFIX/bin/korvan-pack
#   PREFIX/share/korvan/stub-i686.exe, stub-x86_64.exe
#   PREFIX/share/doc/korvan/README.md
# The stubs come from the two mingw trees beside this one (build/win32 and
# build/win64), which `make build` makes first.
include(GNUInstallDirs)

set(KORVAN_STUB_I686 ${CMAKE_BINARY_DIR}/../win32/stub.exe CACHE FILEPATH "The i686 stub to install")
set(KORVAN_STUB_X86_64 ${CMAKE_BINARY_DIR}/../win64/stub.exe CACHE FILEPATH "The x86_64 stub to install")

# korvan-pack looks for its stubs in ../share/korvan beside its own folder
# first, so a moved prefix works; this is the folder it was installed for.
target_compile_definitions(korvan-pack PRIVATE KORVAN_STUB_DIR="${CMAKE_INSTALL_FULL_DATADIR}/korvan")

install(TARGETS korvan-pack RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${KORVAN_STUB_I686} DESTINATION ${CMAKE_INSTALL_DATADIR}/korvan RENAME stub-i686.exe)
install(FILES ${KORVAN_STUB_X86_64} DESTINATION ${CMAKE_INSTALL_DATADIR}/korvan RENAME stub-x86_64.exe)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/korvan)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME korvan)
set(CPACK_PACKAGE_VERSION 1.0.0)
set(CPACK_PACKAGE_VENDOR "Fellmoor")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Korvan setup stub and its package builder, korvan-pack")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Korvan maintainers <korvan@example.com>")
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, zlib1g")
include(CPack)
