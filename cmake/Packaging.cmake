# The Debian package, built by CPack from the install rules: cpack -G DEB in the build folder
# (scripts/package.sh does it in a build of its own) writes tabrend_VERSION_ARCH.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tabrend)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The Tabrend developers <${TABREND_SUPPORT_EMAIL}>"
    CACHE STRING "Maintainer of the Debian package")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "split spreadsheet workbooks into one workbook per worksheet")
set(CPACK_PACKAGE_DESCRIPTION [=[Tabrend writes every worksheet of a workbook, or of each workbook in a folder,
into a workbook file of its own, named after the sheet, after the workbook and
the sheet, or by a running number. Each output keeps what the sheet showed:
values, formulas, styles, merged cells, pictures, charts, comments and tables;
a formula that refers to another sheet keeps its value.

The package holds the desktop program Tabrend and the batch command tabrendcli.
Workbooks in the .xls, .xlsb and .ods formats are converted by LibreOffice.]=])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${TABREND_HOME_PAGE})
# Depends: what the programs link, as dpkg-shlibdeps finds it, and python3 for tabrend-dask.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3")
# LibreOffice converts .xls, .xlsb and .ods; xdg-open shows folders, the manual and links;
# Dask runs tabrend-dask's tasks.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libreoffice-calc-nogui, xdg-utils, python3-distributed")
# The desktop's own file dialogs under GNOME and similar desktops.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "qt6-gtk-platformtheme")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Debian's documentation of the package: copyright and the changelog, compressed.
set(TABREND_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/tabrend)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/changelog.gz
  COMMAND sh -c "gzip -9n -c \"$1\" > \"$2\"" sh ${PROJECT_SOURCE_DIR}/packaging/changelog
          ${PROJECT_BINARY_DIR}/changelog.gz
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog VERBATIM)
add_custom_target(package_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/changelog.gz)
install(FILES packaging/copyright ${PROJECT_BINARY_DIR}/changelog.gz DESTINATION ${TABREND_DOC_DIR})

include(CPack)
