-- The application log table on the embedded SQLite database. AmendDate holds the local time as
-- "YYYY-MM-DD HH:MM:SS" text (datetime('now','localtime')).
CREATE TABLE IF NOT EXISTS wkLog (
  ProcessID       INTEGER NOT NULL,
  LogonUserName   VARCHAR(255) NOT NULL,
  ApplicationName VARCHAR(255) NOT NULL,
  AmendDate       DATETIME NOT NULL,
  Title           VARCHAR(255) NOT NULL,
  Comment         TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS wkLog_App_Date ON wkLog (ApplicationName, AmendDate);
