# What a user installs: the editor and kelvaston-reg with the README. On Linux `cpack` makes
# a Debian package of it (dist/kelvaston_<version>_amd64.deb) whose dependencies are the
# Debian packages of the libraries the programs link, found by dpkg-shlibdeps, and the data
# the window reads at start: Wine's Tahoma and Qt's German standard buttons. On Windows the
# programs and the README go to the top of the folder; scripts/package-windows adds Qt's and
# the runtime's DLLs and zips it.
if(WIN32)
    set(kelvaston_bindir .)
    set(kelvaston_docdir .)
else()
    include(GNUInstallDirs)
    set(kelvaston_bindir ${CMAKE_INSTALL_BINDIR})
    set(kelvaston_docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/kelvaston)
endif()
install(TARGETS kelvaston-reg RUNTIME DESTINATION ${kelvaston_bindir})
if(TARGET kelvaston)
    install(TARGETS kelvaston RUNTIME DESTINATION ${kelvaston_bindir})
endif()
install(FILES README.md DESTINATION ${kelvaston_docdir})

if(NOT WIN32)
    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGE_NAME kelvaston)
    set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Configuration editor of the Tolvane mail service")
    set(CPACK_PACKAGE_DESCRIPTION
        "Kelvaston edits the connections and accounts of the Tolvane mail service in its registry.\nOn Linux the registry is a store of .reg files; kelvaston-reg imports, exports and queries it.")
    set(CPACK_PACKAGE_CONTACT "Kelvaston maintainers <maintainers@users.noreply.c-seed-39adf04b.example>")
    set(CPACK_PACKAGE_DIRECTORY ${PROJECT_SOURCE_DIR}/dist)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION admin)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-wine, qt6-translations-l10n")
    set(CPACK_STRIP_FILES ON)
    include(CPack)
endif()
