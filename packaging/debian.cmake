# Debian packages, one per install component, laid out exactly as `cmake --install` lays this
# build out. Configured with -DCMAKE_INSTALL_PREFIX=/usr they follow Debian's layout: headers and
# package files under /usr, the application folder under /opt/brindlemark.
#   ovik2environment          Runtime         makes the group of a store's users and the settings
#   ovik2environment-dev      Development     depends on the exact runtime version
#   ovik2environment-gtk      Desktop         apart, so that a server without a desktop needs no GTK
#   ovik2environment-gtk-dev  GtkDevelopment  the module's header, link name, CMake and pkg-config files
#   ovik2environment-examples Examples        the example store program and the examples' sources
#   python3-ovik              Python          architecture-independent; depends on python3 and the runtime
# Built with the flags of `dpkg-buildflags` (scripts/install-check.sh passes them) for hardening.
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

set(deb_release 1)
set(deb_version ${PROJECT_VERSION}-${deb_release})

# Maintainer scripts name the folders they look after.
set(control ${CMAKE_CURRENT_BINARY_DIR}/debian)
foreach(script runtime/postinst runtime/postrm python/prerm)
  string(REPLACE "/" "-" source "${script}")
  configure_file(debian/${source}.in ${control}/${script} @ONLY
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()

# Each package's /usr/share/doc/<package>: the copyright, the Debian changelog, and for the
# runtime the project's own changelog; and the lintian tags it keeps, each with its reason.
configure_file(debian/changelog.in ${generated}/changelog.Debian @ONLY)
gzip_file(${generated}/changelog.Debian ${generated}/changelog.Debian.gz)
gzip_file(${PROJECT_SOURCE_DIR}/CHANGELOG.md ${generated}/changelog.gz)
set(package_components Runtime:ovik2environment Development:ovik2environment-dev Python:python3-ovik
  Examples:ovik2environment-examples)
if(TARGET Ovik2Gtk)
  list(APPEND package_components Desktop:ovik2environment-gtk GtkDevelopment:ovik2environment-gtk-dev)
endif()
foreach(pair ${package_components})
  string(REPLACE ":" ";" pair "${pair}")
  list(GET pair 0 component)
  list(GET pair 1 package)
  install(FILES debian/copyright ${generated}/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
  # (The Python package's wheel for virtual environments lies in the application folder too.)
  set(opt_override "# The application folder /opt/brindlemark is the add-on's own tree, as the FHS has it: the
# library reads its settings from ../ini beside its own folder and writes its log and trace files
# beside itself, so it and the store programs live together there, not under /usr/lib.
${package}: dir-or-file-in-opt [opt/brindlemark/*]")
  configure_file(debian/lintian-overrides.in ${generated}/lintian/${package} @ONLY)
  install(FILES ${generated}/lintian/${package} DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
    COMPONENT ${component})
endforeach()
install(FILES ${generated}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/ovik2environment COMPONENT Runtime)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ovik2environment)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
# The application folder may lie outside the prefix (/opt beside /usr): stage through DESTDIR.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Runtime Development Examples Python)
if(TARGET Ovik2Gtk)
  list(APPEND CPACK_COMPONENTS_ALL Desktop GtkDevelopment)
endif()
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS Runtime)
set(CPACK_COMPONENT_DESKTOP_DEPENDS Runtime)
set(CPACK_COMPONENT_GTKDEVELOPMENT_DEPENDS Development Desktop)
set(CPACK_COMPONENT_EXAMPLES_DEPENDS Runtime)
if(TARGET store-order)
  list(APPEND CPACK_COMPONENT_EXAMPLES_DEPENDS Desktop)
endif()
set(CPACK_COMPONENT_PYTHON_DEPENDS Runtime)
# CPack counts each SONAME link at its library's size in Installed-Size; this sets it right.
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_SOURCE_DIR}/debian/post-build.cmake)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${deb_release})
set(CPACK_DEBIAN_PACKAGE_SOURCE ovik2environment)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${OVIK_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# shlibs for every library of a package, so dpkg-shlibdeps gives a program linked with one (ours
# or a client's, through the run path into the application folder) a dependency on its package.
# The SONAME names the interface; a later 2.x keeps it, hence ">=".
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ovik2environment)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS adduser)  # postinst makes the group with addgroup
# Server databases are reached through ODBC drivers that are loaded by name, not linked.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SUGGESTS "tdsodbc, odbc-postgresql, odbc-mariadb, sqlite3")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${control}/runtime/postinst ${control}/runtime/postrm)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "common environment of the store back-office programs
Settings, databases, SQL literals, recordsets, the application log and the
workstation for the programs of the store back office, in one application
folder, /opt/brindlemark: the library libOvik2Environment.so.2 with the
master-data module beside it, the settings templates, the definitions of the
log table, and the command-line host ovik (also /usr/bin/ovik).

Installing makes the system group ovik for a store's users, the settings file
ini/Brindlemark.ini from its template (mode 640, group ovik) and the log
folders bin/log and bin/transaction_log, which the group shares.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME ovik2environment-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "development files of the store back-office environment
The C++20 and C headers of Ovik2Environment, its CMake package
(find_package(Ovik2Environment)), the pkg-config files ovik2environment and
ovik2environment-c, and the link name of the library in the application
folder. Programs are linked with a run path to /opt/brindlemark/bin.")

set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME ovik2environment-gtk)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_DESKTOP_DESCRIPTION "GTK 3 desktop module of the store back-office environment
libOvik2Gtk.so.2, beside the library in /opt/brindlemark/bin: with one call a
GTK 3 program shows the library's message boxes as dialogs over its own
windows and tells the library which form is active. Apart from the runtime
so that a server needs no GTK.")

set(CPACK_DEBIAN_GTKDEVELOPMENT_PACKAGE_NAME ovik2environment-gtk-dev)
set(CPACK_DEBIAN_GTKDEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_GTKDEVELOPMENT_PACKAGE_DEPENDS libgtk-3-dev)
# 2.0.0 had ovik/gtk.h in -dev and the module's CMake targets in -gtk: they move here on upgrade.
set(CPACK_DEBIAN_GTKDEVELOPMENT_PACKAGE_BREAKS "ovik2environment-dev (<< ${deb_version}), ovik2environment-gtk (<< ${deb_version})")
set(CPACK_DEBIAN_GTKDEVELOPMENT_PACKAGE_REPLACES "${CPACK_DEBIAN_GTKDEVELOPMENT_PACKAGE_BREAKS}")
set(CPACK_DEBIAN_GTKDEVELOPMENT_DESCRIPTION "development files of the GTK 3 desktop module
The header ovik/gtk.h, the link name of libOvik2Gtk.so, the CMake targets of
find_package(Ovik2Environment COMPONENTS Gtk) and the pkg-config file
ovik2environment-gtk, for GTK 3 programs that use the store back-office
environment.")

set(CPACK_DEBIAN_EXAMPLES_PACKAGE_NAME ovik2environment-examples)
set(CPACK_DEBIAN_EXAMPLES_PACKAGE_SHLIBDEPS ON)
# 2.0.0 had store-order in -gtk: it moves here on upgrade.
set(CPACK_DEBIAN_EXAMPLES_PACKAGE_BREAKS "ovik2environment-gtk (<< ${deb_version})")
set(CPACK_DEBIAN_EXAMPLES_PACKAGE_REPLACES "${CPACK_DEBIAN_EXAMPLES_PACKAGE_BREAKS}")
set(CPACK_DEBIAN_EXAMPLES_DESCRIPTION "examples of the store back-office environment
The example store program store-order (an order-entry window over the
library and its GTK module, in /opt/brindlemark/bin) and the sources of the
examples in C++, C, Python and shell, which build against the development
package. Not needed in production.")

set(CPACK_DEBIAN_PYTHON_DESCRIPTION "Python 3 interface of the store back-office environment
The package ovik for Debian's python3: the library's classes through ctypes,
nothing compiled. It loads the library of the application folder
/opt/brindlemark.")

# The packages that link the library find it in the runtime package's staging folder (and the
# example program the GTK module in the desktop one); the dependencies on those packages are
# declared above.
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-Linux)
set(staged ${CPACK_PACKAGE_DIRECTORY}/_CPack_Packages/Linux/DEB/${CPACK_PACKAGE_FILE_NAME})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${staged}/Runtime${app_dir_abs}/bin ${staged}/Desktop${app_dir_abs}/bin)

set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-ovik)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS python3)
set(CPACK_DEBIAN_PYTHON_PACKAGE_CONTROL_EXTRA ${control}/python/prerm)
set(CPACK_COMPONENT_PYTHON_DESCRIPTION "Python package of Ovik2Environment (ctypes, nothing compiled)")

include(CPack)
