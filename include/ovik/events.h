// Events: a class with an outgoing interface keeps one ConnectionPoint. Any number of listeners
// connect to it, early-bound (a C++ object offering the outgoing interface, e.g. __clsDatabase)
// or late-bound (any IDispatch, called by the event's dispatch id). Raising an event calls every
// listener synchronously, in the order they connected, before the raising member goes on.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "ovik/error.h"
#include "ovik/export.h"
#include "ovik/unknown.h"
#include "ovik/variant.h"

namespace ovik {

class OVIK_API IConnectionPointContainer : public IUnknown {
 public:
  static constexpr Guid IID = Guid::of("96E7F787-6745-47FB-AA3B-9F7649B0C774");
  // Connects a listener to the outgoing interface `events_iid`; returns the cookie for Unadvise.
  // Raises 5 when the object has no such outgoing interface or the listener offers neither
  // the outgoing interface nor IDispatch.
  virtual std::uint32_t Advise(const Guid& events_iid, IUnknown* listener) = 0;
  virtual void Unadvise(std::uint32_t cookie) = 0;
};

// A C++ listener: an object offering only IUnknown and an outgoing interface.
template <class Self, class Sink>
class Listener : public Sink {
 public:
  std::uint32_t AddRef() override { return ++refs_; }
  std::uint32_t Release() override {
    std::uint32_t left = --refs_;
    if (left == 0) delete static_cast<Self*>(this);
    return left;
  }
  IUnknown* QueryInterface(const Guid& iid) override {
    if (iid != IUnknown::IID && iid != Sink::IID) return nullptr;
    AddRef();
    return static_cast<Sink*>(this);
  }

 protected:
  Listener() = default;
  virtual ~Listener() = default;

 private:
  std::uint32_t refs_ = 0;
};

// A late-bound listener made from a function: every event arrives as (dispatch id, arguments).
// Hosts use it to pass a class's events on to scripts.
class OVIK_API CallbackListener final : public IDispatch {
 public:
  using Callback = std::function<void(std::int32_t dispid, std::span<Variant> args)>;
  static Ref<IDispatch> make(Callback callback);

  std::uint32_t AddRef() override { return ++refs_; }
  std::uint32_t Release() override;
  IUnknown* QueryInterface(const Guid& iid) override;
  std::int32_t GetIDOfName(std::string_view) override { return kDispidUnknown; }
  Variant Invoke(std::int32_t dispid, InvokeKind kind, std::span<Variant> args) override;
  const TypeInfo& GetTypeInfo() override;

 private:
  // Counted among the module's live objects: its code lies in the module.
  explicit CallbackListener(Callback callback);
  ~CallbackListener();
  Callback callback_;
  std::uint32_t refs_ = 0;
};

template <class Sink>
class ConnectionPoint {
 public:
  std::uint32_t advise(IUnknown* listener) {
    Entry e;
    e.early = query<Sink>(listener);
    if (!e.early) e.late = query<IDispatch>(listener);
    if (!e.early && !e.late) raise_runtime_error(err::kInvalidArgument);
    e.cookie = ++last_cookie_;
    entries_.push_back(std::move(e));
    return last_cookie_;
  }

  void unadvise(std::uint32_t cookie) {
    std::erase_if(entries_, [cookie](const Entry& e) { return e.cookie == cookie; });
  }

  std::size_t size() const { return entries_.size(); }

  // Calls `method` on each listener; late-bound ones get `dispid` with the arguments as Variants.
  // A listener may disconnect itself or others during the call: the list is taken first.
  template <class... Params, class... Args>
  void fire(void (Sink::*method)(Params...), std::int32_t dispid, const Args&... args) {
    if (entries_.empty()) return;
    std::vector<Entry> snapshot = entries_;
    for (const Entry& e : snapshot) {
      if (e.early) {
        ((*e.early).*method)(args...);
      } else {
        std::array<Variant, sizeof...(Args)> values{Variant(args)...};
        e.late->Invoke(dispid, InvokeKind::Method, values);
      }
    }
  }

 private:
  struct Entry {
    std::uint32_t cookie = 0;
    Ref<Sink> early;
    Ref<IDispatch> late;
  };
  std::vector<Entry> entries_;
  std::uint32_t last_cookie_ = 0;
};

}  // namespace ovik
