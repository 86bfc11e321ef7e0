/* A stand-in ODBC driver for the tests. A connect fails with one diagnostic that tells how the
   driver manager set SQL_ATTR_LOGIN_TIMEOUT before it ("login timeout 0", "login timeout not
   set"), which no real driver shows from outside; unless the connection string holds
   "DBMS=<name>": then it succeeds and the driver names that product, so the library's choices by
   the server reached can be tried for servers that do not run here. Only the calls the driver
   manager makes for that are here. */
#include <sql.h>
#include <sqlext.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct connection {
  int timeout_set;
  SQLULEN timeout;
  char message[64];
  char dbms[64];
};

static int environment;

SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output) {
  (void)input;
  if (type == SQL_HANDLE_ENV) {
    *output = &environment;
    return SQL_SUCCESS;
  }
  if (type == SQL_HANDLE_DBC) {
    *output = calloc(1, sizeof(struct connection));
    return *output != NULL ? SQL_SUCCESS : SQL_ERROR;
  }
  return SQL_ERROR;
}

SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT type, SQLHANDLE handle) {
  if (type == SQL_HANDLE_DBC) free(handle);
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLSetEnvAttr(SQLHENV env, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length) {
  (void)env, (void)attribute, (void)value, (void)length;
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLSetConnectAttr(SQLHDBC dbc, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length) {
  struct connection* c = dbc;
  (void)length;
  if (attribute == SQL_ATTR_LOGIN_TIMEOUT) {
    c->timeout_set = 1;
    c->timeout = (SQLULEN)value;
  }
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLDriverConnect(SQLHDBC dbc, SQLHWND window, SQLCHAR* in, SQLSMALLINT in_length,
                                   SQLCHAR* out, SQLSMALLINT out_max, SQLSMALLINT* out_length,
                                   SQLUSMALLINT completion) {
  struct connection* c = dbc;
  (void)window, (void)completion;
  const size_t length = in_length == SQL_NTS ? strlen((const char*)in) : (size_t)in_length;
  char text[512];
  snprintf(text, sizeof text, "%.*s", (int)length, (const char*)in);
  const char* dbms = strstr(text, "DBMS=");
  if (dbms != NULL) {
    snprintf(c->dbms, sizeof c->dbms, "%.*s", (int)strcspn(dbms + 5, ";"), dbms + 5);
    /* A connected driver hands back the completed string; the driver manager reads it as text. */
    if (out != NULL && out_max > 0) snprintf((char*)out, (size_t)out_max, "%s", text);
    if (out_length != NULL) *out_length = (SQLSMALLINT)strlen(text);
    return SQL_SUCCESS;
  }
  if (c->timeout_set)
    snprintf(c->message, sizeof c->message, "login timeout %lu", (unsigned long)c->timeout);
  else
    snprintf(c->message, sizeof c->message, "login timeout not set");
  return SQL_ERROR;
}

SQLRETURN SQL_API SQLGetDiagRec(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record, SQLCHAR* state,
                                SQLINTEGER* native, SQLCHAR* message, SQLSMALLINT message_max,
                                SQLSMALLINT* message_length) {
  struct connection* c = handle;
  if (type != SQL_HANDLE_DBC || record != 1 || c->message[0] == '\0') return SQL_NO_DATA;
  memcpy(state, "08001", 6);
  *native = 0;
  snprintf((char*)message, (size_t)message_max, "%s", c->message);
  if (message_length != NULL) *message_length = (SQLSMALLINT)strlen(c->message);
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLDisconnect(SQLHDBC dbc) {
  (void)dbc;
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLGetInfo(SQLHDBC dbc, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT value_max,
                             SQLSMALLINT* value_length) {
  struct connection* c = dbc;
  const char* answer = type == SQL_DBMS_NAME ? c->dbms : type == SQL_DRIVER_ODBC_VER ? "03.00" : NULL;
  if (answer == NULL) return SQL_ERROR;
  if (value != NULL) snprintf((char*)value, (size_t)value_max, "%s", answer);
  if (value_length != NULL) *value_length = (SQLSMALLINT)strlen(answer);
  return SQL_SUCCESS;
}
