// The component frame: creation by name, counted life, dispatch derived from the description
// (by-reference write-back, optional parameters, the error triple), and events.
#include <gtest/gtest.h>

#include <latch>
#include <thread>
#include <vector>

#include "ovik/component.h"
#include "ovik/describe.h"
#include "ovik/events.h"
#include "ovik/module_entry_points.h"
#include "ovik/object.h"
#include "support/sample_class.h"

namespace ovik {
namespace {

using testing::__Sample;
using testing::_Sample;
using testing::Sample;
using testing::g_ended;

Variant call(IDispatch* object, const char* name, std::vector<Variant>& args,
             InvokeKind kind = InvokeKind::Method) {
  return object->Invoke(object->GetIDOfName(name), kind, args);
}

TEST(Frame, CreatesByNameAndEndsWhenTheLastReferenceGoes) {
  int ended_before = g_ended;
  {
    Ref<IDispatch> a = create_object("OvikFrameTest.Sample");
    Ref<_Sample> b = query<_Sample>(a.get());
    ASSERT_TRUE(b);
    EXPECT_EQ(DllCanUnloadNow(), hresult::kFalse);
    a.reset();
    EXPECT_EQ(g_ended, ended_before);  // b still holds it
  }
  EXPECT_EQ(g_ended, ended_before + 1);
  EXPECT_THROW(create_object("OvikFrameTest.NoSuchClass"), RaisedError);
  EXPECT_EQ(DllCanUnloadNow(), hresult::kOk);
  Ref<IDispatch> listener = CallbackListener::make({});  // the module's code, so it counts
  EXPECT_EQ(DllCanUnloadNow(), hresult::kFalse);
  listener.reset();

  // Threads with objects of their own: the module's counts come back to zero exactly.
  std::latch start(4);
  auto churn = [&start] {
    start.arrive_and_wait();
    for (int i = 0; i < 200000; ++i) {
      Ref<IDispatch> object = create_object("OvikFrameTest.Sample");
      for (int k = 0; k < 4; ++k) {
        Ref<IClassFactory> factory = component::make_class_factory(Sample::type_info());
        factory->LockServer(true);
        factory->LockServer(false);
      }
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) threads.emplace_back(churn);
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(DllCanUnloadNow(), hresult::kOk);
}

TEST(Frame, QueryInterfaceKeepsIdentityAndRefusesStrangers) {
  Ref<Sample> s = make_object<Sample>();
  Ref<IUnknown> u1 = query<IUnknown>(static_cast<_Sample*>(s.get()));
  Ref<IConnectionPointContainer> cp = query<IConnectionPointContainer>(static_cast<_Sample*>(s.get()));
  ASSERT_TRUE(cp);
  Ref<IUnknown> u2 = query<IUnknown>(cp.get());
  EXPECT_EQ(u1.get(), u2.get());
  EXPECT_FALSE(query<IClassFactory>(u1.get()));
}

TEST(Frame, DispatchByNameIgnoresCaseAndWritesBackByRefArguments) {
  Ref<IDispatch> s = create_object("OvikFrameTest.Sample");
  EXPECT_EQ(s->GetIDOfName("shout"), s->GetIDOfName("SHOUT"));
  std::vector<Variant> args{Variant("hey")};
  EXPECT_EQ(call(s.get(), "Shout", args).to_string(), "shouted");
  EXPECT_EQ(args[0].to_string(), "hey!");

  std::vector<Variant> put{Variant("renamed")};
  call(s.get(), "Name", put, InvokeKind::PropertyPut);
  std::vector<Variant> none;
  EXPECT_EQ(call(s.get(), "name", none, InvokeKind::PropertyGet).to_string(), "renamed");
  // The default member stands for the object where a plain value is needed.
  EXPECT_EQ(Variant(s).to_string(), "renamed");
}

TEST(Frame, OptionalParametersTakeTheirDefaultAndCountsAreChecked) {
  Ref<IDispatch> s = create_object("OvikFrameTest.Sample");
  std::vector<Variant> one{Variant(std::int32_t{5})};
  EXPECT_EQ(call(s.get(), "Add", one).to_i32(), 15);
  std::vector<Variant> two{Variant("7"), Variant(2.5)};  // converted: "7" -> 7, 2.5 -> 2 (half to even)
  EXPECT_EQ(call(s.get(), "Add", two).to_i32(), 9);

  auto number_of = [&](std::vector<Variant> args, const char* member) {
    try {
      call(s.get(), member, args);
    } catch (const RaisedError& e) {
      return e.number();
    }
    return 0;
  };
  EXPECT_EQ(number_of({}, "Add"), err::kWrongArgumentCount);
  EXPECT_EQ(number_of({Variant(1), Variant(2), Variant(3)}, "Add"), err::kWrongArgumentCount);
  EXPECT_EQ(number_of({Variant("abc")}, "Add"), err::kTypeMismatch);
  EXPECT_EQ(number_of({Variant(3.0e10)}, "Add"), err::kOverflow);
  EXPECT_EQ(s->GetIDOfName("NoSuchMember"), kDispidUnknown);
  std::vector<Variant> none;
  EXPECT_THROW(s->Invoke(4242, InvokeKind::Method, none), RaisedError);
}

TEST(Frame, RaisedErrorKeepsItsTripleOnBothBindings) {
  Ref<_Sample> early = create<_Sample>("OvikFrameTest.Sample");
  try {
    early->Fail();
    FAIL();
  } catch (const RaisedError& e) {
    EXPECT_EQ(e.number(), 60000);
    EXPECT_EQ(e.source(), "Sample");
    EXPECT_EQ(e.description(), "it failed");
  }
  std::vector<Variant> none;
  try {
    call(early.get(), "Fail", none);
    FAIL();
  } catch (const RaisedError& e) {
    EXPECT_EQ(e.number(), 60000);
    EXPECT_EQ(e.source(), "Sample");
  }
}

class EarlySink final : public Listener<EarlySink, __Sample> {
 public:
  void Tick(const std::string& what, std::int32_t count) override { seen.push_back(what + std::to_string(count)); }
  std::vector<std::string> seen;
};

// A late-bound listener: any IDispatch, called with dispatch id 1.
class LateSink final : public Object<LateSink, _Sample> {
 public:
  static const TypeInfo& type_info() { return Sample::type_info(); }
  std::string get_Name() override { return {}; }
  void put_Name(std::string) override {}
  std::string Shout(std::string&) override { return {}; }
  std::int32_t Add(std::int32_t, std::int32_t) override { return 0; }
  void Fail() override {}
  void Fire(std::int32_t) override {}
  Variant Invoke(std::int32_t dispid, InvokeKind, std::span<Variant> args) override {
    calls.push_back(std::to_string(dispid) + ":" + args[0].to_string() + args[1].to_string());
    return {};
  }
  std::vector<std::string> calls;
};

TEST(Frame, EventsReachEveryListenerSynchronously) {
  Ref<_Sample> source = create<_Sample>("OvikFrameTest.Sample");
  auto container = query<IConnectionPointContainer>(source.get());
  Ref<EarlySink> early1 = make_object<EarlySink>();
  Ref<EarlySink> early2 = make_object<EarlySink>();
  Ref<LateSink> late = make_object<LateSink>();
  std::uint32_t c1 = container->Advise(__Sample::IID, early1.get());
  container->Advise(__Sample::IID, early2.get());
  container->Advise(__Sample::IID, static_cast<_Sample*>(late.get()));

  source->Fire(3);
  EXPECT_EQ(early1->seen, std::vector<std::string>{"tick3"});
  EXPECT_EQ(early2->seen, std::vector<std::string>{"tick3"});
  EXPECT_EQ(late->calls, std::vector<std::string>{"1:tick3"});

  container->Unadvise(c1);
  source->Fire(4);
  EXPECT_EQ(early1->seen.size(), 1u);
  EXPECT_EQ(early2->seen.size(), 2u);
  EXPECT_THROW(container->Advise(IDispatch::IID, early1.get()), RaisedError);
}

TEST(Frame, DescriptionsAreConsistent) {
  for (const TypeInfo* info : registered_classes()) {
    SCOPED_TRACE(info->class_name);
    EXPECT_FALSE(info->clsid.is_null());
    if (info->library == "OvikEnvironment") {
      EXPECT_EQ(info->interface_name, "_" + info->class_name);
    }
    for (const MemberInfo& m : info->members) {
      EXPECT_TRUE(m.invoke);
      // A get and a put of one property share their dispatch id; different names never do.
      for (const MemberInfo& other : info->members) {
        if (other.name != m.name) {
          EXPECT_NE(other.dispid, m.dispid);
        }
      }
    }
  }
}

}  // namespace
}  // namespace ovik
