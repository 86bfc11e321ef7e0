// A scripted connection for the clsDatabase tests: it reports the provider a test sets, fails its
// Open, Close or Execute on request with the Errors the test chooses, and raises the connection
// events in the same order as the real one (completion event first, then the raised error).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "database/database.h"
#include "ovik/data_access.h"
#include "ovik/describe.h"
#include "ovik/events.h"
#include "ovik/object.h"

namespace ovik::testing {

class FakeError final : public Object<FakeError, Error> {
 public:
  static const TypeInfo& type_info() {
    static const TypeInfo info = [] {
      TypeInfo t = class_info<Error>("FakeError", Guid::of("5C0E5D0A-1C11-4E55-9E2B-0D6C3A000001"),
                                     Instancing::Internal, 0);
      t.library = "OvikDatabaseTest";
      return t;
    }();
    return info;
  }
  FakeError(std::int32_t number, std::string description, std::string state)
      : number_(number), description_(std::move(description)), state_(std::move(state)) {}
  std::int32_t get_Number() override { return number_; }
  std::string get_Description() override { return description_; }
  std::string get_SQLState() override { return state_; }
  std::int32_t get_NativeError() override { return 0; }
  std::string get_Source() override { return "fake"; }

 private:
  std::int32_t number_;
  std::string description_;
  std::string state_;
};

inline Ref<Error> fake_error(std::string description, std::string state, std::int32_t number = -2147467259) {
  return Ref<Error>(make_object<FakeError>(number, std::move(description), std::move(state)));
}

class FakeErrors final : public Object<FakeErrors, Errors> {
 public:
  static const TypeInfo& type_info() {
    static const TypeInfo info = [] {
      TypeInfo t = class_info<Errors>("FakeErrors", Guid::of("5C0E5D0A-1C11-4E55-9E2B-0D6C3A000002"),
                                      Instancing::Internal, 0);
      t.library = "OvikDatabaseTest";
      return t;
    }();
    return info;
  }
  std::int32_t get_Count() override { return static_cast<std::int32_t>(items.size()); }
  Ref<Error> get_Item(Variant Index) override {
    const std::int32_t i = Index.to_i32();
    if (i < 0 || i >= get_Count()) raise_runtime_error(err::kInvalidArgument);
    return items[static_cast<std::size_t>(i)];
  }
  void Clear() override { items.clear(); }
  std::vector<Ref<Error>> items;
};

// What a scripted call does: succeed, or fill Errors with `errors` and raise.
struct Failure {
  std::vector<Ref<Error>> errors;  // may be empty: a failure without provider errors
  std::int32_t number = -2147467259;
  std::string description = "scripted failure";
};

class FakeConnection final : public Object<FakeConnection, _Connection, IConnectionPointContainer> {
 public:
  static const TypeInfo& type_info() {
    static const TypeInfo info = [] {
      TypeInfo t = class_info<_Connection>("FakeConnection", Guid::of("5C0E5D0A-1C11-4E55-9E2B-0D6C3A000003"),
                                           Instancing::Internal, 0);
      t.library = "OvikDatabaseTest";
      return t;
    }();
    return info;
  }

  std::string provider = "SQLite";
  std::string default_database = "main";
  std::optional<Failure> open_failure, close_failure, execute_failure;
  std::string opened_with;
  std::vector<std::string> executed;
  std::int32_t connection_timeout = -99, command_timeout = -99;
  bool open = false;
  Ref<FakeErrors> errors{make_object<FakeErrors>()};
  ConnectionPoint<ConnectionEvents> events;

  std::string get_ConnectionString() override { return opened_with; }
  void put_ConnectionString(std::string) override {}
  std::int32_t get_ConnectionTimeout() override { return connection_timeout; }
  void put_ConnectionTimeout(std::int32_t s) override { connection_timeout = s; }
  std::int32_t get_CommandTimeout() override { return command_timeout; }
  void put_CommandTimeout(std::int32_t s) override { command_timeout = s; }
  std::int32_t get_State() override { return open ? 1 : 0; }
  std::string get_Provider() override { return provider; }
  std::string get_DefaultDatabase() override { return default_database; }
  Ref<Errors> get_Errors() override { return Ref<Errors>(errors); }

  void Open(std::string cs, std::string user, std::string password, std::int32_t options) override {
    opened_with = cs;
    events.fire(&ConnectionEvents::WillConnect, ado::kDispWillConnect, cs, user, password, options, 1,
                self());
    if (open_failure) {
      Ref<Error> first = fill(*open_failure);
      events.fire(&ConnectionEvents::ConnectComplete, ado::kDispConnectComplete, first, 2, self());
      raise(*open_failure);
    }
    open = true;
    events.fire(&ConnectionEvents::ConnectComplete, ado::kDispConnectComplete, Ref<Error>(), 1, self());
  }
  void Close() override {
    if (close_failure) {
      fill(*close_failure);
      raise(*close_failure);
    }
    open = false;
    events.fire(&ConnectionEvents::Disconnect, ado::kDispDisconnect, 1, self());
  }
  Ref<_Recordset> Execute(std::string sql, Variant& affected, std::int32_t options) override {
    events.fire(&ConnectionEvents::WillExecute, ado::kDispWillExecute, sql, -1, -1, options, 1,
                Ref<_Recordset>(), self());
    executed.push_back(sql);
    if (execute_failure) {
      Ref<Error> first = fill(*execute_failure);
      events.fire(&ConnectionEvents::ExecuteComplete, ado::kDispExecuteComplete, 0, first, 2,
                  Ref<_Recordset>(), self());
      raise(*execute_failure);
    }
    affected = Variant(std::int32_t{1});
    events.fire(&ConnectionEvents::ExecuteComplete, ado::kDispExecuteComplete, 1, Ref<Error>(), 1,
                Ref<_Recordset>(), self());
    return {};
  }
  std::int32_t BeginTrans() override { return 1; }
  void CommitTrans() override {}
  void RollbackTrans() override {}

  std::uint32_t Advise(const Guid& iid, IUnknown* listener) override {
    if (iid != ConnectionEvents::IID) raise_runtime_error(err::kInvalidArgument);
    return events.advise(listener);
  }
  void Unadvise(std::uint32_t cookie) override { events.unadvise(cookie); }

 private:
  Ref<Error> fill(const Failure& f) {
    errors->items = f.errors;
    return f.errors.empty() ? Ref<Error>() : f.errors.front();
  }
  [[noreturn]] void raise(const Failure& f) {
    throw RaisedError(f.number, "fake",
                      f.errors.empty() ? f.description : f.errors.front()->get_Description());
  }
};

// Hands out scripted connections; each new one is prepared by `prepare` and remembered.
class FakeConnectionSource final : public ConnectionSource {
 public:
  Ref<_Connection> create() override {
    Ref<FakeConnection> c = make_object<FakeConnection>();
    c->provider = provider;
    created.push_back(c);
    return Ref<_Connection>(c);
  }
  FakeConnection& last() { return *created.back(); }
  std::string provider = "SQLite";
  std::vector<Ref<FakeConnection>> created;
};

}  // namespace ovik::testing
