-- The application log table on PostgreSQL (reached through ODBC). The library stamps AmendDate
-- with localtimestamp(0), the server's local time to the second, as SQL Server's getdate() does.
CREATE TABLE IF NOT EXISTS wkLog (
  ProcessID       integer NOT NULL,
  LogonUserName   varchar(255) NOT NULL,
  ApplicationName varchar(255) NOT NULL,
  AmendDate       timestamp NOT NULL,
  Title           varchar(255) NOT NULL,
  Comment         text NOT NULL
);
CREATE INDEX IF NOT EXISTS wkLog_App_Date ON wkLog (ApplicationName, AmendDate);
