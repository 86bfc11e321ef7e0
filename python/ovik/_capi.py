"""The library's C interface (ovik/ovik_c.h) through ctypes: where the library is found, the
tagged value and the prototypes. Nothing here knows about Python objects of the package."""
import ctypes
import os
from pathlib import Path

from . import _install

ENVIRONMENT_VARIABLE = "OVIK_PYTHON_LIBRARY"
LIBRARY_FILE = "libOvik2Environment.so.2"

OK = 0
VALUE_OWNED = 1
METHOD, GET, PUT = 1, 2, 4

EMPTY, NULL, I16, I32, SINGLE, DOUBLE, CURRENCY, DATE, STRING, OBJECT, BOOL, BYTE, I64 = (
    0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 17, 20)


class _String(ctypes.Structure):
    _fields_ = [("data", ctypes.c_void_p), ("size", ctypes.c_size_t)]


class _Union(ctypes.Union):
    _fields_ = [("boolean", ctypes.c_int32), ("byte", ctypes.c_uint8), ("i16", ctypes.c_int16),
                ("i32", ctypes.c_int32), ("i64", ctypes.c_int64), ("single", ctypes.c_float),
                ("dbl", ctypes.c_double), ("currency", ctypes.c_int64), ("date", ctypes.c_double),
                ("string", _String), ("object", ctypes.c_void_p)]


class Value(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int32), ("flags", ctypes.c_uint32), ("u", _Union)]


class MemberInfo(ctypes.Structure):
    _fields_ = [("kinds", ctypes.c_uint32), ("params", ctypes.c_uint32), ("required", ctypes.c_uint32)]


EVENT_HANDLER = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_char_p, ctypes.POINTER(Value), ctypes.c_size_t)
USER_FREE = ctypes.CFUNCTYPE(None, ctypes.c_void_p)

_PROTOTYPES = {
    "ovik_value_clear": (None, [ctypes.POINTER(Value)]),
    "ovik_create": (ctypes.c_int, [ctypes.c_char_p, ctypes.POINTER(ctypes.c_void_p)]),
    "ovik_new_recordset": (ctypes.c_int, [ctypes.POINTER(ctypes.c_void_p)]),
    "ovik_addref": (ctypes.c_void_p, [ctypes.c_void_p]),
    "ovik_release": (None, [ctypes.c_void_p]),
    "ovik_invoke": (ctypes.c_int, [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int, ctypes.POINTER(Value),
                                   ctypes.c_size_t, ctypes.POINTER(Value)]),
    # The address of the class name tells one class from another; its text comes separately.
    "ovik_class_name": (ctypes.c_void_p, [ctypes.c_void_p]),
    "ovik_member_name": (ctypes.c_char_p, [ctypes.c_void_p, ctypes.c_size_t]),
    "ovik_member": (ctypes.c_int, [ctypes.c_void_p, ctypes.c_char_p, ctypes.POINTER(MemberInfo)]),
    "ovik_advise": (ctypes.c_int, [ctypes.c_void_p, EVENT_HANDLER, ctypes.c_void_p, USER_FREE,
                                   ctypes.POINTER(ctypes.c_uint32)]),
    "ovik_unadvise": (ctypes.c_int, [ctypes.c_void_p, ctypes.c_uint32]),
    "ovik_error_number": (ctypes.c_int32, []),
    "ovik_error_source": (ctypes.c_char_p, []),
    "ovik_error_description": (ctypes.c_char_p, []),
    "DllCanUnloadNow": (ctypes.c_int32, []),
}


def find_library(explicit=None, environ=None, installed=None, package_dir=None):
    """The library file to load: `explicit`, else the package's environment variable, else the
    path written at build or install time, else the build tree's when the package runs from the
    source tree. A path that was given is used as given; only the build tree is looked for."""
    environ = os.environ if environ is None else environ
    installed = _install.LIBRARY if installed is None else installed
    for given in (explicit, environ.get(ENVIRONMENT_VARIABLE), installed):
        if given:
            return str(given)
    source_root = Path(package_dir or Path(__file__).resolve().parent).parent.parent
    built = source_root / "build" / "app" / "bin" / LIBRARY_FILE
    if (source_root / "CMakeLists.txt").is_file() and built.is_file():
        return str(built)
    raise FileNotFoundError(
        f"{LIBRARY_FILE} not found: pass its path to ovik.load(), set {ENVIRONMENT_VARIABLE}, "
        f"or build the source tree ({built})")


_library = None
_library_path = None


def load(path=None):
    """Loads the library once; a later call with another path is refused."""
    global _library, _library_path
    if _library is not None:
        if path is not None and os.path.abspath(path) != os.path.abspath(_library_path):
            raise RuntimeError(f"the library is already loaded from {_library_path}")
        return _library
    chosen = find_library(path)
    library = ctypes.CDLL(chosen)
    for name, (restype, argtypes) in _PROTOTYPES.items():
        function = getattr(library, name)
        function.restype = restype
        function.argtypes = argtypes
    _library, _library_path = library, chosen
    return library


def library():
    return _library if _library is not None else load()


def library_path():
    return _library_path
