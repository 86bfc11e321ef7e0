# The component frame's Windows binding, for the Windows branch of the top CMakeLists (after the
# targets Ovik2Environment and Ovik2Master exist):
#  - the type library: widl turns the committed IDL (written by `ovik typelib --idl` from the class
#    descriptions) into OvikEnvironment.tlb, the C++ header the dual shims implement, and the _i.c
#    file of identifiers for C++ clients; the .tlb is embedded as resource TYPELIB 1;
#  - VERSIONINFO 2.0.0.0 in both DLLs;
#  - the four server entry points exported by undecorated name (a .def file, PRIVATE);
#  - Ovik2Master.dll compiles the same COM runtime for its own class;
#  - the side-by-side manifest beside the DLLs, for registration-free clients.
set(OVIK_COM_SOURCE ${PROJECT_SOURCE_DIR}/src/component/win32)
set(OVIK_COM_BINARY ${PROJECT_BINARY_DIR}/component)
file(MAKE_DIRECTORY ${OVIK_COM_BINARY})

if(NOT OVIK_WIDL)
  find_program(OVIK_WIDL widl REQUIRED)
endif()
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(OVIK_WIDL_WORD --win64)
  set(OVIK_WINE_DLLS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
else()
  set(OVIK_WIDL_WORD --win32)
  set(OVIK_WINE_DLLS /usr/lib/i386-linux-gnu/wine/i386-windows)
endif()
# importlib("stdole2.tlb") is looked up in the library search path: Wine's own copy.
find_path(OVIK_STDOLE2_DIR stdole2.tlb PATHS ${OVIK_WINE_DLLS} /usr/lib/wine /usr/lib64/wine NO_DEFAULT_PATH
  NO_CMAKE_FIND_ROOT_PATH)
find_path(OVIK_WIDL_INCLUDE oaidl.idl PATHS /usr/include/wine/wine/windows /usr/include/wine/windows
  NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT OVIK_STDOLE2_DIR OR NOT OVIK_WIDL_INCLUDE)
  message(FATAL_ERROR "widl needs Wine's oaidl.idl (libwine-dev) and stdole2.tlb (wine32/wine64)")
endif()

set(OVIK_IDL ${OVIK_COM_SOURCE}/generated/OvikEnvironment.idl)
set(OVIK_TLB ${OVIK_COM_BINARY}/OvikEnvironment.tlb)
add_custom_command(
  OUTPUT ${OVIK_TLB} ${OVIK_COM_BINARY}/OvikEnvironment.h ${OVIK_COM_BINARY}/OvikEnvironment_i.c
  COMMAND ${OVIK_WIDL} ${OVIK_WIDL_WORD} -I${OVIK_WIDL_INCLUDE} -L${OVIK_STDOLE2_DIR}
    -h -H OvikEnvironment.h -u -U OvikEnvironment_i.c -t -T OvikEnvironment.tlb ${OVIK_IDL}
  WORKING_DIRECTORY ${OVIK_COM_BINARY}
  DEPENDS ${OVIK_IDL}
  COMMENT "widl: the OvikEnvironment type library"
  VERBATIM)
add_custom_target(ovik_type_library DEPENDS ${OVIK_TLB} ${OVIK_COM_BINARY}/OvikEnvironment.h)

# The runtime's sources include the widl header; the dual shims are committed beside the IDL.
add_dependencies(ovik_objects ovik_type_library)
target_include_directories(ovik_objects PRIVATE ${OVIK_COM_BINARY})

# Resources: VERSIONINFO for both, the type library for the environment DLL.
function(ovik_version_resource target description extra)
  set(rc ${OVIK_COM_BINARY}/${target}.rc)
  file(CONFIGURE OUTPUT ${rc} CONTENT "#include <winver.h>
@extra@
VS_VERSION_INFO VERSIONINFO
 FILEVERSION 2,0,0,0
 PRODUCTVERSION 2,0,0,0
 FILEFLAGSMASK VS_FFI_FILEFLAGSMASK
 FILEOS VOS_NT_WINDOWS32
 FILETYPE VFT_DLL
BEGIN
  BLOCK \"StringFileInfo\"
  BEGIN
    BLOCK \"040904B0\"
    BEGIN
      VALUE \"FileDescription\", \"@description@\"
      VALUE \"FileVersion\", \"2.0.0.0\"
      VALUE \"InternalName\", \"@target@\"
      VALUE \"OriginalFilename\", \"@target@.dll\"
      VALUE \"ProductName\", \"@target@\"
      VALUE \"ProductVersion\", \"2.0.0.0\"
      VALUE \"OLESelfRegister\", \"\"
    END
  END
  BLOCK \"VarFileInfo\"
  BEGIN
    VALUE \"Translation\", 0x409, 1200
  END
END
" @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()

enable_language(RC)
ovik_version_resource(Ovik2Environment "OvikEnvironment type library and classes" "1 TYPELIB \"OvikEnvironment.tlb\"")
set_source_files_properties(${OVIK_COM_BINARY}/Ovik2Environment.rc PROPERTIES OBJECT_DEPENDS ${OVIK_TLB})
target_include_directories(Ovik2Environment PRIVATE ${OVIK_COM_BINARY})
add_dependencies(Ovik2Environment ovik_type_library)

# The server entry points by their plain names (no @N on i686), left out of the import library.
file(WRITE ${OVIK_COM_BINARY}/server_exports.def
  "EXPORTS\n  DllCanUnloadNow PRIVATE\n  DllGetClassObject PRIVATE\n  DllRegisterServer PRIVATE\n  DllUnregisterServer PRIVATE\n")
target_link_options(Ovik2Environment PRIVATE ${OVIK_COM_BINARY}/server_exports.def -Wl,--enable-stdcall-fixup)
set_property(TARGET Ovik2Environment APPEND PROPERTY LINK_DEPENDS ${OVIK_COM_BINARY}/server_exports.def)

if(TARGET Ovik2Master)
  ovik_version_resource(Ovik2Master "OvikMaster master-data class" "")
  target_sources(Ovik2Master PRIVATE ${OVIK_COM_SOURCE}/com_object.cpp ${OVIK_COM_SOURCE}/com_values.cpp
    ${OVIK_COM_SOURCE}/com_registration.cpp)
  target_include_directories(Ovik2Master PRIVATE ${PROJECT_SOURCE_DIR}/src ${OVIK_COM_BINARY})
  add_dependencies(Ovik2Master ovik_type_library)
  target_link_options(Ovik2Master PRIVATE ${OVIK_COM_BINARY}/server_exports.def -Wl,--enable-stdcall-fixup)
endif()

# Registration-free use: a client's manifest names the assembly Ovik2Environment.sxs, whose
# manifest lies beside the DLL (the frame's own Ovik2Environment.manifest is another file).
configure_file(${OVIK_COM_SOURCE}/generated/Ovik2Environment.sxs.manifest
  ${PROJECT_BINARY_DIR}/app/bin/Ovik2Environment.sxs.manifest COPYONLY)

# The frame's own manifest (profile format), by which the library creates the sibling module's
# class inside the process without registration, as on Linux.
if(TARGET Ovik2Master)
  file(WRITE ${PROJECT_BINARY_DIR}/app/bin/Ovik2Environment.manifest
    "; Classes of the modules beside the library, found without registration.\n"
    "[Ovik2Master.OvikMaster]\n"
    "module=Ovik2Master.dll\n"
    "clsid={F55435CB-12F8-4A4C-875C-A4D4056783CF}\n")
endif()
