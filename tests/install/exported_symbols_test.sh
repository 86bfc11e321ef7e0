#!/usr/bin/env bash
# The shared library exports its public interface and nothing else: every dynamic symbol it defines
# must match the list below, and every function the C header declares must be among them.
#   exported_symbols_test.sh <libOvik2Environment.so> <include/ovik/ovik_c.h>
set -euo pipefail
library=$1
c_header=$2

# Classes whose type information (and IID) clients share: the interfaces, the thrown error and
# the event listener that hosts create.
classes='IUnknown|IDispatch|IClassFactory|IConnectionPointContainer|CallbackListener|RaisedError'
classes+='|Error|Errors|Field|Fields|_Recordset|_Connection|ConnectionEvents|__clsDatabase|_clsDatabase'
classes+='|_clsIniFile|_clsConnectString|_clsMessageString|_clsMetaClientInfo|_clsSystemInfo'
classes+='|__clsWaitNDispatch|_clsWaitNDispatch|_OvikMaster'
public=(
  # The C interface and the module entry points the class frame looks up by name.
  '(Dll(RegisterServer|UnregisterServer|GetClassObject|CanUnloadNow)|ovik_[a-z0-9_]+)'
  # Members of the exported classes.
  'ovik::(CallbackListener|ClassRegistration|EnumRegistration|TypeInfo|Variant)::.*'
  "(typeinfo|typeinfo name|vtable) for ovik::($classes)"
  "ovik::($classes)::IID"
  # Functions of include/ovik/.
  'ovik::(create_object|register_factory|registered_classes|find_class|type_library_[a-z]+|new_connection|new_recordset|raise_runtime_error|var_type_name|change_type)(\[abi:cxx11\])?\(.*'
  'ovik::(component::make_class_factory|detail::live_object_count|err::runtime_description|host_hooks::set_[a-z_]+)\(.*'
)
# The internals the ovik program (tools/ovik), built from this tree and shipped with the library,
# reaches; nothing else may use them. They are marked OVIK_API where they are declared in src/.
host_only=(
  'ovik::access::(classify_provider|odbc_data_sources|sqlite_database_path|ErrorImpl::type_info)(\[abi:cxx11\])?\(.*'
  '(non-virtual thunk to |guard variable for )?ovik::access::Connection::.*'
  '(typeinfo|typeinfo name|vtable) for ovik::(access::Connection|platform::(Clock|ModulePath|SystemInfo))'
  '(typeinfo|typeinfo name|vtable) for ovik::Object<ovik::access::Connection, ovik::_Connection, ovik::IConnectionPointContainer>'
  '(non-virtual thunk to )?ovik::clsDatabase::(clsDatabase|~clsDatabase|Connect)\(.*'
  'ovik::(log_dialect|log_purge_statement|log_table_definition_file)(\[abi:cxx11\])?\(.*'
  'ovik::platform::Facility<ovik::platform::(Clock|ModulePath|SystemInfo)>::.*'
  'ovik::platform::(Clock|ModulePath|SystemInfo)::.*'
  'ovik::platform::(civil_from_ole|ole_from_civil|parse_int32|set_message_box_handler)\(.*'
)
all=("${public[@]}" "${host_only[@]}")
pattern="^($(IFS='|'; echo "${all[*]}"))\$"

symbols=$(nm -D --defined-only --demangle "$library" | cut -c20- | sort -u)
echo "$(wc -l <<<"$symbols") dynamic symbols defined in $library"
leaked=$(grep -Ev "$pattern" <<<"$symbols" || true)
status=0
if [ -n "$leaked" ]; then
  echo "exported but not part of the public interface:"
  echo "$leaked"
  status=1
fi

# A C function declared without OVIK_API would be hidden: clients would fail to link.
for name in $(grep -oE '^OVIK_API [^(]*\bovik_[a-z0-9_]+\(' "$c_header" | grep -oE 'ovik_[a-z0-9_]+\($' | tr -d '('); do
  grep -qx "$name" <<<"$symbols" || { echo "declared in $(basename "$c_header") but not exported: $name"; status=1; }
done
for name in $(grep -E '^[a-z_0-9]+[ *]+\**ovik_[a-z0-9_]+\(' "$c_header" | grep -v '^static' | grep -oE 'ovik_[a-z0-9_]+\(' | tr -d '('); do
  echo "declared in $(basename "$c_header") without OVIK_API: $name"
  status=1
done
exit $status
