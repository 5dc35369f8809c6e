# The Debian package: what `cmake --install` puts under /usr, with the
# dependencies dpkg-shlibdeps finds for the two programs. scripts/package.sh
# makes it from a Release build; the package test makes it from the test build.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME klvcoin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Kolvane Coins 97 developers")
set(CPACK_PACKAGE_CONTACT "Kolvane Coins 97 developers <klvcoin@kolvane.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "catalogue of a coin collection in dBase tables")
set(CPACK_PACKAGE_DESCRIPTION
    "Kolvane Coins 97 keeps a coin collection in a dBase table with its production\n"
    "index: country, face value, year, condition, prices, topic, purchase date and\n"
    "more for every coin. It searches and sorts the rows, designs and prints\n"
    "reports, imports and exports text, CSV, dBase and Excel files, and backs up\n"
    "a collection. The klvdbf tool inspects, fills, checks and repairs the tables\n"
    "from the shell. A sample collection comes with it.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Dialogs and reports need a font; the X11 platform plugin comes with
# libqt6gui6, which dpkg-shlibdeps finds.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core | fonts-liberation2")
include(CPack)
