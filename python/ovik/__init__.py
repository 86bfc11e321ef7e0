"""Ovik2Environment from Python, through the library's C interface (ctypes; nothing to compile).

    import ovik
    with ovik.create("OvikEnvironment.clsSystemInfo") as si:
        print(si.GetIniDir(), si.IniFiles(0).GetIni("database", "provider"))

ovik.new_recordset() is an in-memory recordset: append its fields, open it without a source, add
rows, and hand it to clsDatabase.RecordToDatabase.

Objects: members are attributes, names without regard to case. A property without parameters is
read and written as an attribute (`ini.Path = "/x"`); methods and properties with parameters are
called (`si.IniFiles(0)`); calling an object calls its default member (`rs("NM")` is
`rs.Fields.Item("NM")`, a Field; its value is `rs("NM").Value`). An object is released by `with`,
by ovik.release(), or when Python collects it; use it on the thread that created it.

Values: None is Null (and an empty result), bool, int (Long, or LongLong when it is wider),
float (Double), str (UTF-8), decimal.Decimal (Currency), datetime.datetime (Date, local wall time),
objects. ovik.EMPTY passes an Empty value.

By-reference outputs: pass an ovik.ByRef box; after the call its `value` is what the member wrote.
A plain value is passed as a copy and the output is dropped.

Failures raise OvikError(number, source, description); an unknown member raises MemberNotFound,
which is also an AttributeError.

Events: ovik.advise(obj, handler) returns a cookie for ovik.unadvise(obj, cookie). The handler is a
callable, called as handler(event_name, *args), or an object whose method named after the event is
called with the event's arguments. An exception in a handler cannot travel through the library:
Python reports it as unraisable and the raising member goes on. The library holds the handler
until unadvise or the object's end, so a handler that refers to the object it listens to keeps
that object alive until unadvise (Python cannot see the cycle).

The library is loaded at the first use from, in this order: the path given to ovik.load(path), the
environment variable OVIK_PYTHON_LIBRARY, the path written into ovik/_install.py when the package
was built or installed (the build's wheel, `cmake --install`, the wheel in the application folder's
python/), and the build tree (build/app/bin) when the package runs from the source tree.
"""
import ctypes
import datetime
import decimal
import itertools

from . import _capi, _install
from ._capi import find_library, library_path, load

__all__ = ["create", "new_recordset", "release", "advise", "unadvise", "class_name", "can_unload", "load",
           "find_library", "library_path", "ByRef", "EMPTY", "Object", "OvikError", "MemberNotFound"]

__version__ = _install.VERSION


class OvikError(Exception):
    """A raised error of the library: its number, source and description."""

    def __init__(self, number, source, description):
        super().__init__(number, source, description)
        self.number, self.source, self.description = number, source, description

    def __str__(self):
        return f"{self.description} ({self.source}, {self.number})"


class MemberNotFound(OvikError, AttributeError):
    """Error 438: the object has no member of that name."""


class _Empty:
    __slots__ = ()

    def __repr__(self):
        return "ovik.EMPTY"


EMPTY = _Empty()


class ByRef:
    """A by-reference argument: passes `value` in (Empty when none is given) and holds what the
    member wrote afterwards."""
    __slots__ = ("value",)

    def __init__(self, value=EMPTY):
        self.value = value

    def __repr__(self):
        return f"ovik.ByRef({self.value!r})"


def _raise_last():
    lib = _capi.library()
    number = lib.ovik_error_number()
    source = (lib.ovik_error_source() or b"").decode("utf-8", "replace")
    description = (lib.ovik_error_description() or b"").decode("utf-8", "replace")
    raise (MemberNotFound if number == 438 else OvikError)(number, source, description)


def _check(status):
    if status != _capi.OK:
        _raise_last()


# ---- values ----

_DAY_ZERO = datetime.datetime(1899, 12, 30)
_SCALE = decimal.Decimal(10000)
_INT32 = range(-2**31, 2**31)
_INT64 = range(-2**63, 2**63)


# A Date holds the years 100 to 9999 to the second: from half a second before the end of 9999 a
# time rounds into the year 10000.
_FIRST_DATE = datetime.datetime(100, 1, 1)
_PAST_LAST_DATE = datetime.datetime(9999, 12, 31, 23, 59, 59, 500000)


def _date_overflow(value):
    return OvikError(6, "ovik", f"Overflow: {value} as Date")


def _ole_from_datetime(moment):
    given = moment
    if isinstance(moment, datetime.datetime):
        if moment.tzinfo is not None:
            raise ValueError("a date with a time zone: pass the local wall time")
    else:
        moment = datetime.datetime.combine(moment, datetime.time())
    if not _FIRST_DATE <= moment < _PAST_LAST_DATE:
        raise _date_overflow(given)
    delta = moment - _DAY_ZERO
    fraction = (delta.seconds + delta.microseconds / 1e6) / 86400
    # Before day zero the day counts backwards but the time of day still forwards.
    return delta.days + fraction if delta.days >= 0 else delta.days - fraction


def _datetime_from_ole(days):
    if not -657435.0 < days < 2958466.0:  # NaN too
        raise _date_overflow(days)
    whole = int(days)
    seconds = round(abs(days - whole) * 86400)
    try:
        return _DAY_ZERO + datetime.timedelta(days=whole, seconds=seconds)
    except OverflowError:
        raise _date_overflow(days) from None


class _Arguments:
    """A C array of values for one call, with the Python objects it borrows kept alive."""

    def __init__(self, values):
        self.array = (_capi.Value * max(len(values), 1))()
        self._keep = []
        for slot, value in zip(self.array, values):
            self._fill(slot, value.value if isinstance(value, ByRef) else value)

    def _fill(self, slot, value):
        if value is None:
            slot.type = _capi.NULL
        elif value is EMPTY:
            slot.type = _capi.EMPTY
        elif isinstance(value, bool):
            slot.type, slot.u.boolean = _capi.BOOL, int(value)
        elif isinstance(value, int):
            if value in _INT32:
                slot.type, slot.u.i32 = _capi.I32, value
            elif value in _INT64:
                slot.type, slot.u.i64 = _capi.I64, value
            else:
                slot.type, slot.u.dbl = _capi.DOUBLE, float(value)
        elif isinstance(value, float):
            slot.type, slot.u.dbl = _capi.DOUBLE, value
        elif isinstance(value, str):
            data = value.encode("utf-8", "surrogateescape")
            buffer = ctypes.create_string_buffer(data, len(data) + 1)
            self._keep.append(buffer)
            slot.type = _capi.STRING
            slot.u.string.data = ctypes.addressof(buffer)
            slot.u.string.size = len(data)
        elif isinstance(value, decimal.Decimal):
            scaled = (value * _SCALE).to_integral_value(rounding=decimal.ROUND_HALF_EVEN)
            if int(scaled) not in _INT64:
                raise OvikError(6, "ovik", f"Overflow: {value} as Currency")
            slot.type, slot.u.currency = _capi.CURRENCY, int(scaled)
        elif isinstance(value, (datetime.datetime, datetime.date)):
            slot.type, slot.u.date = _capi.DATE, _ole_from_datetime(value)
        elif isinstance(value, Object):
            slot.type, slot.u.object = _capi.OBJECT, value._handle()
            self._keep.append(value)
        else:
            raise TypeError(f"ovik cannot pass a {type(value).__name__}")


def _from_value(slot):
    """The Python value of a C value. An object the library handed over is adopted (the slot gives
    up its reference); a borrowed one gets a reference of its own."""
    t = slot.type
    if t in (_capi.EMPTY, _capi.NULL):
        return None
    if t == _capi.BOOL:
        return slot.u.boolean != 0
    if t == _capi.BYTE:
        return slot.u.byte
    if t == _capi.I16:
        return slot.u.i16
    if t == _capi.I32:
        return slot.u.i32
    if t == _capi.I64:
        return slot.u.i64
    if t == _capi.SINGLE:
        return slot.u.single
    if t == _capi.DOUBLE:
        return slot.u.dbl
    if t == _capi.CURRENCY:
        return decimal.Decimal(slot.u.currency).scaleb(-4)
    if t == _capi.DATE:
        return _datetime_from_ole(slot.u.date)
    if t == _capi.STRING:
        if not slot.u.string.data:
            return ""
        return ctypes.string_at(slot.u.string.data, slot.u.string.size).decode("utf-8", "surrogateescape")
    if t == _capi.OBJECT:
        handle = slot.u.object
        if not handle:
            return None
        if slot.flags & _capi.VALUE_OWNED:
            slot.flags = 0
        else:
            _capi.library().ovik_addref(handle)
        return Object(handle)
    raise TypeError(f"ovik received a value of unknown type {t}")


def _invoke(handle, member, kind, args):
    lib = _capi.library()
    passed = _Arguments(args)
    result = _capi.Value()
    name = member.encode("utf-8") if member is not None else None
    status = lib.ovik_invoke(handle, name, kind, passed.array, len(args), ctypes.byref(result))
    try:
        _check(status)
        for slot, arg in zip(passed.array, args):
            if isinstance(arg, ByRef):
                arg.value = _from_value(slot)
        return _from_value(result)
    finally:
        for slot in passed.array:
            lib.ovik_value_clear(ctypes.byref(slot))
        lib.ovik_value_clear(ctypes.byref(result))


# ---- objects ----

_members = {}  # (class name address, lower-case member name) -> MemberInfo


def _member_info(handle, name):
    key = (_capi.library().ovik_class_name(handle), name.lower() if name else "")
    info = _members.get(key)
    if info is None:
        info = _capi.MemberInfo()
        _check(_capi.library().ovik_member(handle, name.encode("utf-8") if name else None, ctypes.byref(info)))
        _members[key] = info
    return info


class _Bound:
    """A method, or a property with parameters, of one object."""
    __slots__ = ("_object", "_name", "_kind")

    def __init__(self, obj, name, kind):
        self._object, self._name, self._kind = obj, name, kind

    def __call__(self, *args):
        return _invoke(self._object._handle(), self._name, self._kind, args)

    def __repr__(self):
        return f"<ovik member {self._name} of {self._object!r}>"


class Object:
    """One counted reference to an object of the library."""
    __slots__ = ("_ovik_handle", "__weakref__")

    def __init__(self, handle):
        object.__setattr__(self, "_ovik_handle", handle)  # takes over the caller's reference

    def _handle(self):
        handle = self._ovik_handle
        if handle is None:
            raise OvikError(91, "ovik", "Object variable or With block variable not set (released)")
        return handle

    def _release(self):
        handle = self._ovik_handle
        if handle is not None:
            object.__setattr__(self, "_ovik_handle", None)
            _capi.library().ovik_release(handle)

    def __getattr__(self, name):
        if name.startswith("_"):
            raise AttributeError(name)
        handle = self._handle()
        info = _member_info(handle, name)
        if info.kinds & _capi.METHOD:
            return _Bound(self, name, _capi.METHOD)
        if info.kinds & _capi.GET:
            if info.params:
                return _Bound(self, name, _capi.GET)
            return _invoke(handle, name, _capi.GET, ())
        raise AttributeError(f"{name} can only be written")

    def __setattr__(self, name, value):
        if name.startswith("_"):
            raise AttributeError(name)
        _invoke(self._handle(), name, _capi.PUT, (value,))

    def __call__(self, *args):
        handle = self._handle()
        info = _member_info(handle, None)
        return _invoke(handle, None, _capi.METHOD if info.kinds & _capi.METHOD else _capi.GET, args)

    def __dir__(self):
        lib, names, index = _capi.library(), [], 0
        handle = self._ovik_handle
        while handle is not None:
            name = lib.ovik_member_name(handle, index)
            if name is None:
                break
            names.append(name.decode("utf-8"))
            index += 1
        return sorted(set(names))

    def __eq__(self, other):
        return isinstance(other, Object) and other._ovik_handle == self._ovik_handle

    def __hash__(self):
        return hash(self._ovik_handle)

    def __repr__(self):
        if self._ovik_handle is None:
            return "<ovik.Object (released)>"
        return f"<ovik.Object {class_name(self)}>"

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self._release()

    def __del__(self):
        try:
            self._release()
        except Exception:  # the interpreter is shutting down; the process frees everything
            pass


def class_name(obj):
    """The class name of an object ("clsIniFile")."""
    address = _capi.library().ovik_class_name(obj._handle())
    return ctypes.string_at(address).decode("utf-8")


def create(progid):
    """A new object of the class named `progid` ("OvikEnvironment.clsIniFile")."""
    handle = ctypes.c_void_p()
    _check(_capi.library().ovik_create(progid.encode("utf-8"), ctypes.byref(handle)))
    return Object(handle.value)


def new_recordset():
    """A new in-memory recordset, closed and without fields: append them, open it without a source
    (as clsDatabase opens its copies: rs.Open(None, None, 2, 2) is a dynamic cursor with a
    pessimistic lock), then add rows; clsDatabase.RecordToDatabase writes them into a table."""
    handle = ctypes.c_void_p()
    _check(_capi.library().ovik_new_recordset(ctypes.byref(handle)))
    return Object(handle.value)


def release(obj):
    """Gives the object's reference back now; the Python object can no longer be used."""
    obj._release()


# ---- events ----

_handlers = {}
_keys = itertools.count(1)


def _deliver(user, event, args, count):
    handler = _handlers.get(user)
    if handler is None:
        return
    name = event.decode("utf-8")
    values = [_from_value(args[i]) for i in range(count)]
    method = getattr(handler, name, None)
    if callable(method):
        method(*values)
    else:
        handler(name, *values)


def _forget(user):
    _handlers.pop(user, None)


# Kept for the life of the module: the library calls them for as long as any connection lasts.
_DELIVER = _capi.EVENT_HANDLER(_deliver)
_FORGET = _capi.USER_FREE(_forget)


def advise(obj, handler):
    """Connects `handler` to the object's events; returns the cookie for unadvise. The handler
    stays connected until unadvise or the object's end, even when `obj` itself is collected."""
    key = next(_keys)
    _handlers[key] = handler
    cookie = ctypes.c_uint32()
    _check(_capi.library().ovik_advise(obj._handle(), _DELIVER, key, _FORGET, ctypes.byref(cookie)))
    return cookie.value


def unadvise(obj, cookie):
    _check(_capi.library().ovik_unadvise(obj._handle(), cookie))


def can_unload():
    """True when no object of the library is alive (the module's own DllCanUnloadNow)."""
    return _capi.library().DllCanUnloadNow() == 0
