-- The application log table on SQL Server.
CREATE TABLE wkLog (
  ProcessID       int            NOT NULL,
  LogonUserName   nvarchar(255)  NOT NULL,
  ApplicationName nvarchar(255)  NOT NULL,
  AmendDate       datetime       NOT NULL,
  Title           nvarchar(255)  NOT NULL,
  Comment         nvarchar(max)  NOT NULL
);
CREATE INDEX wkLog_App_Date ON wkLog (ApplicationName, AmendDate);
