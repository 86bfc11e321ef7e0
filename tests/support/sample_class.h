// A small class of the frame's own for the tests: a property with a default member, a
// by-reference parameter, an optional one, a failing member and an event. Registered as
// "OvikFrameTest.Sample" (not part of the type library).
#pragma once

#include <atomic>

#include "ovik/component.h"
#include "ovik/describe.h"
#include "ovik/events.h"
#include "ovik/object.h"

namespace ovik::testing {

class __Sample : public IUnknown {
 public:
  static constexpr Guid IID = Guid::of("0B8D0B43-2C4E-4B0C-9E0E-3F4C1C7B0001");
  virtual void Tick(const std::string& what, std::int32_t count) = 0;
};

class _Sample : public IDispatch {
 public:
  static constexpr Guid IID = Guid::of("0B8D0B43-2C4E-4B0C-9E0E-3F4C1C7B0002");
  static constexpr std::string_view kTypeName = "Sample";
  virtual std::string get_Name() = 0;
  virtual void put_Name(std::string value) = 0;
  virtual std::string Shout(std::string& text) = 0;
  virtual std::int32_t Add(std::int32_t a, std::int32_t b) = 0;
  virtual void Fail() = 0;
  virtual void Fire(std::int32_t count) = 0;
};

extern std::atomic<int> g_ended;  // how many Sample objects have ended

class Sample final : public Object<Sample, _Sample, IConnectionPointContainer> {
 public:
  static const TypeInfo& type_info() {
    static const TypeInfo info = [] {
      TypeInfo t = class_info<_Sample>("Sample", Guid::of("0B8D0B43-2C4E-4B0C-9E0E-3F4C1C7B0003"),
                                       Instancing::Creatable, 99);
      t.library = "OvikFrameTest";
      t.create = [] { return Ref<IDispatch>(make_object<Sample>()); };
      t.events = event_interface_info<__Sample>("Sample");
      Describe<_Sample>(t)
          .get("Name", &_Sample::get_Name)
          .as_default()
          .put("Name", &_Sample::put_Name, {"RHS"})
          .method("Shout", &_Sample::Shout, {"text"})
          .method("Add", &_Sample::Add, {"a", opt("b", 10)})
          .method("Fail", &_Sample::Fail)
          .method("Fire", &_Sample::Fire, {"count"})
          .event("Tick", &__Sample::Tick, {"what", "count"});
      return t;
    }();
    return info;
  }
  ~Sample() override { ++g_ended; }

  std::string get_Name() override { return name_; }
  void put_Name(std::string value) override { name_ = std::move(value); }
  std::string Shout(std::string& text) override {
    text += "!";
    return "shouted";
  }
  std::int32_t Add(std::int32_t a, std::int32_t b) override { return a + b; }
  void Fail() override { throw RaisedError(60000, "Sample", "it failed"); }
  void Fire(std::int32_t count) override { events_.fire(&__Sample::Tick, 1, std::string("tick"), count); }

  std::uint32_t Advise(const Guid& iid, IUnknown* listener) override {
    if (iid != __Sample::IID) raise_runtime_error(err::kInvalidArgument);
    return events_.advise(listener);
  }
  void Unadvise(std::uint32_t cookie) override { events_.unadvise(cookie); }

 private:
  std::string name_ = "sample";
  ConnectionPoint<__Sample> events_;
};


}  // namespace ovik::testing
