#!/bin/sh
# The library from a shell script through `ovik script`: one JSON request per line in, one answer
# per line out, in the same order; events and message boxes arrive as lines of their own before
# the answer of the request that caused them. Objects live, by the names given with "as", until
# the host ends.
#
# `ovik` is taken from PATH: examples/run-example.sh puts the bin/ of a prepared application
# folder first. A failed request answers {"ok":false,"error":{...}} and the host goes on; this
# script makes one on purpose and checks that it is the only one.
set -eu

status=0
answers=$(ovik script <<'REQUESTS'
{"new": "OvikEnvironment.clsSystemInfo", "as": "si"}
{"call": "si.funAccountItem"}
{"call": "si.OpenDatabase"}
{"get": "si.Database", "as": "db"}
{"call": "db.Connection.Execute", "args": ["create table if not exists example_shell (CD integer, NM varchar(40))"]}
{"call": "db.Connection.Execute", "args": ["delete from example_shell"]}
{"call": "db.VarConv", "args": ["O'Neil"]}
{"call": "db.Connection.Execute", "args": ["insert into example_shell values (1, 'O''Neil')"]}
{"call": "si.PrintApplog", "args": ["shell example", 1, "SHELL"]}
{"advise": "db"}
{"call": "db.Connection.Execute", "args": ["select * from no_such_table"]}
{"call": "si.CloseDatabase"}
REQUESTS
) || status=$?
printf '%s\n' "$answers"

failed=$(printf '%s\n' "$answers" | grep -c '"ok":false' || true)
events=$(printf '%s\n' "$answers" | grep -c '"event":"RaiseDatabaseError"' || true)
answered=$(printf '%s\n' "$answers" | grep -c '"ok":' || true)
echo "requests answered: $answered, failed: $failed, RaiseDatabaseError events: $events, exit status: $status"
# Twelve requests, the one on no_such_table failing after its event. The host's exit status is left
# unchecked: it may report the failed request.
[ "$answered" -eq 12 ] && [ "$failed" -eq 1 ] && [ "$events" -eq 1 ]
