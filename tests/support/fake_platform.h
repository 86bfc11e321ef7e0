// Fakes for the platform facilities the logging and tracing code reads: the clock, the module's
// folder and name, the user and the focused window's process. Each installs itself for its life.
#pragma once

#include <string>

#include "platform/clock.h"
#include "platform/module_info.h"
#include "platform/system_info.h"
#include "platform/user_interface.h"

namespace ovik::testing {

class FakeClock final : public platform::Clock {
 public:
  FakeClock(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    set(year, month, day, hour, minute, second);
  }
  void set(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
  void advance_seconds(long long seconds);
  // The wall time read in the process's time zone (TZ), for cases where the offset matters.
  void set_local(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
  std::int64_t system_time_as_file_time() override { return file_time_; }
  platform::CivilNow local_now() override { return now_; }

 private:
  platform::CivilNow now_{};
  std::int64_t file_time_ = 0;  // the same wall time read as UTC, enough for age comparisons
  platform::ScopedFake<platform::Clock> guard_{*this};
};

class FakeModule final : public platform::ModulePath {
 public:
  explicit FakeModule(std::string folder, std::string base_name = "Ovik2Environment")
      : info_{std::move(folder), std::move(base_name)} {}
  platform::ModuleInfo module() override { return info_; }

 private:
  platform::ModuleInfo info_;
  platform::ScopedFake<platform::ModulePath> guard_{*this};
};

class FakeUser final : public platform::SystemInfo {
 public:
  explicit FakeUser(std::string name) : name_(std::move(name)) {}
  std::string user_name() override { return name_; }

 private:
  std::string name_;
  platform::ScopedFake<platform::SystemInfo> guard_{*this};
};

class FakeFocus final : public platform::UserInterface {
 public:
  explicit FakeFocus(std::uint32_t pid, std::optional<std::string> form = std::nullopt)
      : pid_(pid), form_(std::move(form)) {}
  std::uint32_t focused_window_process_id() override { return pid_; }
  std::optional<std::string> active_form_type_name() override { return form_; }
  void set_form(std::optional<std::string> form) { form_ = std::move(form); }

 private:
  std::uint32_t pid_;
  std::optional<std::string> form_;
  platform::ScopedFake<platform::UserInterface> guard_{*this};
};

}  // namespace ovik::testing
