-- The application log table on MariaDB or MySQL (reached through ODBC). utf8mb4 whatever the
-- database's default, so that any text of a title or comment is kept; datetime rather than
-- timestamp, which ends in 2038 and follows the session's time zone. The index is declared in the
-- table, since MySQL has no CREATE INDEX IF NOT EXISTS.
CREATE TABLE IF NOT EXISTS wkLog (
  ProcessID       integer NOT NULL,
  LogonUserName   varchar(255) NOT NULL,
  ApplicationName varchar(255) NOT NULL,
  AmendDate       datetime NOT NULL,
  Title           varchar(255) NOT NULL,
  Comment         longtext NOT NULL,
  INDEX wkLog_App_Date (ApplicationName, AmendDate)
) DEFAULT CHARACTER SET utf8mb4;
