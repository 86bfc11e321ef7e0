/* The C interface of the library: objects created by programmatic name and called by member name
 * with tagged values, for C programs and any language's foreign-function interface. C99; no C++
 * type crosses it and no C++ exception leaves it.
 *
 * Ownership, in one place:
 *  - An ovik_object* is one counted reference. ovik_create, results and written-back arguments
 *    hand the caller a new one; ovik_release gives it back, ovik_addref takes another. An object
 *    lives while anyone (the caller, another object) holds a reference to it.
 *  - An ovik_value the library fills (a result, a written-back argument) is the caller's: free it
 *    with ovik_value_clear, which frees its string or releases its object. A value the caller
 *    builds (with the constructors below) only borrows the caller's text or object: the library
 *    reads it during the call and keeps nothing, so ovik_value_clear leaves it alone. Calling
 *    ovik_value_clear on every argument after a call is therefore always right.
 *  - Values handed to an event handler are borrowed for the duration of the handler.
 *  - Texts returned as const char* (error texts, class and member names) belong to the library;
 *    see each function for how long they stay valid.
 *
 * Threads: an object belongs to the thread that created it and is called only there; events
 * arrive on that thread, inside the call that raises them. The last error is kept per thread.
 *
 * Failures: a function returning ovik_status returns OVIK_OK or OVIK_FAILED; after OVIK_FAILED the
 * raised error (number, source, description) is read with ovik_error_number / _source /
 * _description, and the call's outputs (result, by-reference arguments) are left as they were. */
#ifndef OVIK_OVIK_C_H
#define OVIK_OVIK_C_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "ovik/export.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ovik_object ovik_object; /* opaque */

typedef int ovik_status;
#define OVIK_OK 0
#define OVIK_FAILED (-1)

/* Type tags: the codes the dispatch interface reports for its value types. */
typedef enum ovik_type {
  OVIK_EMPTY = 0,
  OVIK_NULL = 1,
  OVIK_I16 = 2, /* Integer */
  OVIK_I32 = 3, /* Long */
  OVIK_SINGLE = 4,
  OVIK_DOUBLE = 5,
  OVIK_CURRENCY = 6, /* scaled by 10,000: 12345000 is 1234.5 */
  OVIK_DATE = 7,     /* days since 1899-12-30, the fraction the time of day */
  OVIK_STRING = 8,   /* UTF-8 */
  OVIK_OBJECT = 9,   /* NULL is Nothing */
  OVIK_BOOL = 11,
  OVIK_BYTE = 17,
  OVIK_I64 = 20 /* LongLong */
} ovik_type;

/* Set on values whose string or object the library allocated for the caller. */
#define OVIK_VALUE_OWNED 1u

typedef struct ovik_value {
  int32_t type;   /* an ovik_type */
  uint32_t flags; /* OVIK_VALUE_OWNED or 0 */
  union {
    int32_t boolean; /* 0 false, anything else true */
    uint8_t byte;
    int16_t i16;
    int32_t i32;
    int64_t i64;
    float single;
    double dbl;
    int64_t currency;
    double date;
    struct {
      const char* data; /* NUL-terminated when the library filled it */
      size_t size;      /* bytes, without the NUL */
    } string;
    ovik_object* object;
  } u;
} ovik_value;

/* Constructors of borrowed argument values. */
static inline ovik_value ovik_empty(void) {
  ovik_value v;
  memset(&v, 0, sizeof v);
  return v;
}
static inline ovik_value ovik_null(void) {
  ovik_value v = ovik_empty();
  v.type = OVIK_NULL;
  return v;
}
static inline ovik_value ovik_bool(int b) {
  ovik_value v = ovik_empty();
  v.type = OVIK_BOOL;
  v.u.boolean = b != 0;
  return v;
}
static inline ovik_value ovik_i16(int16_t n) {
  ovik_value v = ovik_empty();
  v.type = OVIK_I16;
  v.u.i16 = n;
  return v;
}
static inline ovik_value ovik_i32(int32_t n) {
  ovik_value v = ovik_empty();
  v.type = OVIK_I32;
  v.u.i32 = n;
  return v;
}
static inline ovik_value ovik_i64(int64_t n) {
  ovik_value v = ovik_empty();
  v.type = OVIK_I64;
  v.u.i64 = n;
  return v;
}
static inline ovik_value ovik_double(double d) {
  ovik_value v = ovik_empty();
  v.type = OVIK_DOUBLE;
  v.u.dbl = d;
  return v;
}
static inline ovik_value ovik_currency(int64_t scaled) {
  ovik_value v = ovik_empty();
  v.type = OVIK_CURRENCY;
  v.u.currency = scaled;
  return v;
}
static inline ovik_value ovik_date(double days) {
  ovik_value v = ovik_empty();
  v.type = OVIK_DATE;
  v.u.date = days;
  return v;
}
/* `text` must stay valid during the call; NULL is the empty string. */
static inline ovik_value ovik_string(const char* text) {
  ovik_value v = ovik_empty();
  v.type = OVIK_STRING;
  v.u.string.data = text;
  v.u.string.size = text ? strlen(text) : 0;
  return v;
}
static inline ovik_value ovik_obj(ovik_object* object) {
  ovik_value v = ovik_empty();
  v.type = OVIK_OBJECT;
  v.u.object = object;
  return v;
}

/* Frees what the library allocated in `value` (see OVIK_VALUE_OWNED) and makes it empty. */
OVIK_API void ovik_value_clear(ovik_value* value);

/* ---- Objects ---- */

/* A new object of the class named `progid` ("OvikEnvironment.clsIniFile"), found as the C++
 * create_object finds it (the library's classes, the manifest beside it, the class registry). */
OVIK_API ovik_status ovik_create(const char* progid, ovik_object** out);
OVIK_API ovik_object* ovik_addref(ovik_object* object); /* returns `object`; NULL stays NULL */
OVIK_API void ovik_release(ovik_object* object);        /* NULL is allowed */

/* A new in-memory recordset, closed and without fields, as C++ code gets one from new_recordset():
 * append its fields through Fields.Append (name, type, defined size, attributes), Open it with no
 * source, then add rows with AddNew, the fields' Value and Update. clsDatabase.RecordToDatabase
 * writes it into a table. */
OVIK_API ovik_status ovik_new_recordset(ovik_object** out);

/* How a member is called. */
typedef enum ovik_invoke_kind { OVIK_METHOD = 1, OVIK_GET = 2, OVIK_PUT = 4 } ovik_invoke_kind;

/* Calls a member by name, without regard to case; NULL or "" is the object's default member.
 * `args` stand in declaration order; trailing optional parameters may be left out and get their
 * defaults. After a successful call every argument the member takes by reference (and may write)
 * holds its new value, owned by the caller. When the default member takes no parameters but
 * arguments are given, it is read and the arguments go to its result's default member
 * (rs("NM") is rs.Fields.Item("NM")). `result`, when not NULL, is overwritten (what it held is
 * not freed). For OVIK_PUT the new value is the last argument. Failures: 438 for an unknown
 * member, 450 for a wrong argument count, 91 for a NULL object, and whatever the member raises. */
OVIK_API ovik_status ovik_invoke(ovik_object* object, const char* member, ovik_invoke_kind kind,
                                 ovik_value* args, size_t nargs, ovik_value* result);
/* The three kinds spelled out; `ovik_put` takes the property's arguments and then the new value. */
OVIK_API ovik_status ovik_call(ovik_object* object, const char* method, ovik_value* args, size_t nargs,
                               ovik_value* result);
OVIK_API ovik_status ovik_get(ovik_object* object, const char* property, ovik_value* args, size_t nargs,
                              ovik_value* result);
OVIK_API ovik_status ovik_put(ovik_object* object, const char* property, ovik_value* args, size_t nargs,
                              const ovik_value* value);

/* ---- Describing an object (for bindings that map members to their own constructs) ---- */

/* The class name ("clsIniFile"); valid while the library is loaded. NULL for a NULL object. */
OVIK_API const char* ovik_class_name(ovik_object* object);
/* The name of the member at `index` in slot order (a property's get and put are two slots), NULL
 * past the end; valid while the library is loaded. */
OVIK_API const char* ovik_member_name(ovik_object* object, size_t index);

typedef struct ovik_member_info {
  uint32_t kinds;    /* OVIK_METHOD | OVIK_GET | OVIK_PUT: the ways the member can be called */
  uint32_t params;   /* parameters of the method or property read (a put takes one more) */
  uint32_t required; /* of those, the ones that are not optional */
} ovik_member_info;
/* What the member named `member` (NULL or "": the default member) is; 438 when there is none. */
OVIK_API ovik_status ovik_member(ovik_object* object, const char* member, ovik_member_info* info);

/* ---- Events ---- */

/* Called for each event the object raises, on its thread, before the raising member goes on:
 * the event's name ("RaiseDatabaseError", "OnTimer") and its arguments (borrowed). */
typedef void (*ovik_event_handler)(void* user, const char* event, const ovik_value* args, size_t nargs);
/* Called once for every ovik_advise, when `user` is no longer needed: when the connection ends
 * (ovik_unadvise, or the object's end), or before ovik_advise returns when it fails. */
typedef void (*ovik_user_free)(void* user);

/* Connects `handler` to the object's events; `cookie` receives what ovik_unadvise takes.
 * `user_free` may be NULL. Raises 5 when the object raises no events. */
OVIK_API ovik_status ovik_advise(ovik_object* object, ovik_event_handler handler, void* user,
                                 ovik_user_free user_free, uint32_t* cookie);
OVIK_API ovik_status ovik_unadvise(ovik_object* object, uint32_t cookie);

/* ---- The raised error of this thread's last failed call ---- */

/* The texts stay valid until the next call of this interface on the same thread that returns
 * ovik_status. Number 0 and empty texts after a call that succeeded. */
OVIK_API int32_t ovik_error_number(void);
OVIK_API const char* ovik_error_source(void);
OVIK_API const char* ovik_error_description(void);

/* ---- Currency and dates as text, the same in every locale ---- */

/* "-1234.5678": "." as the decimal point, up to four decimals, no grouping. */
OVIK_API ovik_status ovik_currency_from_text(const char* text, int64_t* scaled);
/* Writes the text (fraction without trailing zeros) like snprintf: returns its length without the
 * NUL; nothing is written past `size` bytes. */
OVIK_API size_t ovik_currency_to_text(int64_t scaled, char* buffer, size_t size);
/* "2024-01-05 09:03:07" (also with "T" between), or the date alone "2024-01-05". */
OVIK_API ovik_status ovik_date_from_text(const char* text, double* days);
/* "yyyy-mm-dd hh:mm:ss"; a date outside the years 100 to 9999 (NaN and infinities too) writes ""
 * and returns 0 with the thread's last error 6. */
OVIK_API size_t ovik_date_to_text(double days, char* buffer, size_t size);

#ifdef __cplusplus
}
#endif

#endif /* OVIK_OVIK_C_H */
