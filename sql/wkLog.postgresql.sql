-- The application log on PostgreSQL (reached through ODBC), so that the SQL Server insert text
-- runs there unchanged: a getdate() function and the wkLog table.
CREATE OR REPLACE FUNCTION getdate() RETURNS timestamp AS 'SELECT localtimestamp(0)' LANGUAGE sql;
CREATE TABLE IF NOT EXISTS wkLog (
  ProcessID       integer NOT NULL,
  LogonUserName   varchar(255) NOT NULL,
  ApplicationName varchar(255) NOT NULL,
  AmendDate       timestamp NOT NULL,
  Title           varchar(255) NOT NULL,
  Comment         text NOT NULL
);
