# Debian packages, one per install component, laid out exactly as `cmake --install` lays this
# build out. Configured with -DCMAKE_INSTALL_PREFIX=/usr they follow Debian's layout: headers and
# package files under /usr, the application folder under /opt/brindlemark.
#   ovik2environment      Runtime      shared-library dependencies found by dpkg-shlibdeps
#   ovik2environment-dev  Development  depends on the exact runtime version
#   ovik2environment-gtk  Desktop      apart, so that a server without a desktop needs no GTK
#   python3-ovik          Python       architecture-independent; depends on python3 and the runtime
function(absolute_install_path out path)
  if(NOT IS_ABSOLUTE "${path}")
    set(path "${CMAKE_INSTALL_PREFIX}/${path}")
  endif()
  cmake_path(NORMAL_PATH path)
  string(REGEX REPLACE "(.)/+$" "\\1" path "${path}")
  set(${out} "${path}" PARENT_SCOPE)
endfunction()
absolute_install_path(app_dir_abs "${OVIK_INSTALL_APPDIR}")
absolute_install_path(python_dir_abs "${OVIK_INSTALL_PYTHONDIR}")

# Maintainer scripts name the folders they look after.
set(control ${CMAKE_CURRENT_BINARY_DIR}/debian)
foreach(script runtime/postinst runtime/postrm python/prerm)
  string(REPLACE "/" "-" source "${script}")
  configure_file(debian/${source}.in ${control}/${script} @ONLY
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ovik2environment)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "common environment of the store back-office programs")
set(CPACK_PACKAGE_DESCRIPTION "Settings, databases, SQL literals, recordsets, the application log and the
workstation for the programs of the store back office, in one application folder.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
# The application folder may lie outside the prefix (/opt beside /usr): stage through DESTDIR.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Runtime Development Python)
if(TARGET Ovik2Gtk)
  list(APPEND CPACK_COMPONENTS_ALL Desktop)
endif()
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS Runtime)
set(CPACK_COMPONENT_DESKTOP_DEPENDS Runtime)
set(CPACK_COMPONENT_PYTHON_DEPENDS Runtime)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${OVIK_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ovik2environment)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
# Server databases are reached through ODBC drivers that are loaded by name, not linked.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SUGGESTS "tdsodbc, odbc-postgresql, odbc-mariadb, sqlite3")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${control}/runtime/postinst ${control}/runtime/postrm)

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME ovik2environment-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "headers, CMake package and pkg-config files of Ovik2Environment")

set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME ovik2environment-gtk)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_SHLIBDEPS ON)
# The desktop module links the library of the runtime package: dpkg-shlibdeps finds it in that
# package's staging folder, and the dependency on the package itself is declared above.
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-Linux)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
  ${CPACK_PACKAGE_DIRECTORY}/_CPack_Packages/Linux/DEB/${CPACK_PACKAGE_FILE_NAME}/Runtime${app_dir_abs}/bin)
set(CPACK_COMPONENT_DESKTOP_DESCRIPTION "GTK 3 desktop module of Ovik2Environment and the example store program")

set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-ovik)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS python3)
set(CPACK_DEBIAN_PYTHON_PACKAGE_CONTROL_EXTRA ${control}/python/prerm)
set(CPACK_COMPONENT_PYTHON_DESCRIPTION "Python package of Ovik2Environment (ctypes, nothing compiled)")

include(CPack)
