// The pin framework on one thread: delivery, type negotiation, hooks, state pins, converters.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "ExceptionMessage.h"
#include "nxruntime.h"

namespace nx {
namespace {

constexpr TGUID kA = TGUID::Parse("{0A000000-0000-0000-0000-0000000000A1}");
constexpr TGUID kB = TGUID::Parse("{0B000000-0000-0000-0000-0000000000B2}");
constexpr TGUID kC = TGUID::Parse("{0C000000-0000-0000-0000-0000000000C3}");
constexpr TGUID kD = TGUID::Parse("{0D000000-0000-0000-0000-0000000000D4}");

// What a handler saw.
struct TCall { TFTBasicPin* Other; IFTStream* Stream; TGUID ID; TIntfPtr<IFTNotifyOperation> Operation;
               TFTNotifyState State; };

// A handler that records each call and answers AResult.
struct TRecorder {
  std::vector<TCall> Calls;
  bool Result = true;
  TFTBasicPinNotificationEvent Handler() {
    return [this](TFTBasicPin* p, IFTStream* s, const TGUID& id, const TIntfPtr<IFTNotifyOperation>& op,
                  TFTNotifyState st) {
      Calls.push_back({p, s, id, op, st});
      return Result;
    };
  }
};

// Types from attributes; the subclass adds one and ignores upstream operations.
class TBaseSink : public TFTDispatchSinkPin {
  NX_FT_PIN_CLASS(TBaseSink, TFTDispatchSinkPin, FTDataTypeAttribute(kA))
 public:
  using TFTDispatchSinkPin::TFTDispatchSinkPin;
};
class TDerivedSink : public TBaseSink {
  NX_FT_PIN_CLASS(TDerivedSink, TBaseSink, RGFTDataTypeAttribute(kB), FTIgnoreUpstreamAttribute)
 public:
  using TBaseSink::TBaseSink;
};
class TSourceAB : public TFTDispatchSourcePin {
  NX_FT_PIN_CLASS(TSourceAB, TFTDispatchSourcePin, FTDataTypeAttribute(kA), FTDataTypeAttribute(kB))
 public:
  using TFTDispatchSourcePin::TFTDispatchSourcePin;
};

TEST(PinsTest, DeliversOverOneLinkBothWaysAndPassesTheResultBack) {
  TRecorder rec, up;
  rec.Result = false;
  TFTDispatchSourcePin source("Out");
  source.AddType(kA, up.Handler());
  TFTDispatchSinkPin sink("In");
  sink.AddType(kA, rec.Handler());
  ASSERT_TRUE(source.Connect(&sink));
  const auto op = TFTStopOperation::Make();
  EXPECT_FALSE(source.Notify(op));
  ASSERT_EQ(rec.Calls.size(), 1u);
  const TCall& c = rec.Calls[0];
  EXPECT_EQ(c.Other, &source);
  EXPECT_EQ(c.Stream->GetPin(), &sink);
  EXPECT_EQ(c.ID, kA);
  EXPECT_EQ(c.Operation.Get(), op.Get());
  EXPECT_FALSE(c.State.Contains(nsUpstream));
  EXPECT_TRUE(c.State.Contains(nsExclusive));  // the only receiver
  // Upstream operations carry the flag.
  EXPECT_TRUE(sink.Notify(TFTQueryStreamOperation::Make()));
  ASSERT_EQ(up.Calls.size(), 1u);
  EXPECT_TRUE(up.Calls[0].State.Contains(nsUpstream));
  EXPECT_EQ(up.Calls[0].Other, &sink);
}

TEST(PinsTest, DeliversOverManyLinksInLinkOrder) {
  std::vector<int> order;
  TFTDispatchSourcePin source;
  source.AddType(kA, nullptr);
  std::vector<TFTPinPtr<TFTDispatchSinkPin>> sinks;
  for (int i = 0; i < 3; ++i) {
    sinks.push_back(FTMakePin<TFTDispatchSinkPin>());
    sinks.back()->AddType(kA, [&order, i](auto*, auto*, auto&, auto&, TFTNotifyState st) {
      EXPECT_FALSE(st.Contains(nsExclusive));
      order.push_back(i);
      return i == 1;  // only one handles it
    });
    ASSERT_TRUE(source.Connect(sinks.back().get()));
  }
  EXPECT_TRUE(source.Notify(TFTStopOperation::Make()));
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
  // NotifyPin reaches the one pin only, and answers what it answered.
  order.clear();
  EXPECT_FALSE(source.NotifyPin(sinks[2].get(), TFTStopOperation::Make()));
  EXPECT_EQ(order, (std::vector<int>{2}));
  TFTDispatchSinkPin stranger;
  EXPECT_FALSE(source.NotifyPin(&stranger, TFTStopOperation::Make()));
  // A sink pin that goes away leaves the others linked, and is never reached through an old snapshot.
  const TFTLinkSnapshot old = source.GetLinks();
  sinks.erase(sinks.begin());
  order.clear();
  EXPECT_FALSE(source.NotifyLink(old->front(), TFTStopOperation::Make(), {}));
  EXPECT_TRUE(order.empty());
  EXPECT_TRUE(source.Notify(TFTStopOperation::Make()));
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

// A sink that adopts whatever kind its source sends.
class TAdoptingSink : public TFTDispatchSinkPin {
 public:
  explicit TAdoptingSink(TFTBasicPinNotificationEvent AHandler) : FHandler(std::move(AHandler)) {}
  std::vector<TGUID> LinkTypes(const TFTBasicPin& APeer) const override { return APeer.GetTypes(); }
  TFTBasicPinNotificationEvent HandlerFor(const TGUID&) const override { return FHandler; }
 private:
  TFTBasicPinNotificationEvent FHandler;
};

TEST(PinsTest, IgnoringPinsDropUpstreamAndAdoptingPinsTakeTheSourceKind) {
  TRecorder rec, adopted;
  TDerivedSink ignoring("In", rec.Handler());
  TSourceAB ab;
  ASSERT_TRUE(ab.Connect(&ignoring));
  TAdoptingSink adopting(adopted.Handler());
  ASSERT_TRUE(ab.Connect(&adopting));
  EXPECT_EQ(adopting.GetConnectedID(), kA);  // the source's first type
  const TFTLinkSnapshot links = ab.GetLinks();
  EXPECT_FALSE(ab.NotifyLink(links->front(), TFTStopOperation::Make(), TFTNotifyState{nsUpstream}));
  EXPECT_TRUE(rec.Calls.empty());
  EXPECT_TRUE(ab.Notify(TFTStopOperation::Make()));
  EXPECT_EQ(rec.Calls.size(), 1u);
  ASSERT_EQ(adopted.Calls.size(), 1u);
  EXPECT_EQ(adopted.Calls[0].ID, kA);
}

TEST(PinsTest, SubclassesExtendTheTypeListAndTheMostSpecificTypeWins) {
  EXPECT_EQ(TDerivedSink::ClassInfo().DataTypes(), (std::vector<TGUID>{kB, kA}));
  EXPECT_FALSE(TBaseSink::ClassInfo().IgnoreUpstream());
  EXPECT_TRUE(TDerivedSink::ClassInfo().InheritsFrom(TFTSinkPin::ClassInfo()));
  TRecorder rec;
  TDerivedSink derived("In", rec.Handler());
  derived.AddType(kC, nullptr);  // explicit types come first
  EXPECT_EQ(derived.GetTypes(), (std::vector<TGUID>{kC, kB, kA}));
  TBaseSink base("In", rec.Handler());
  TSourceAB source;
  ASSERT_TRUE(source.Connect(&derived));
  EXPECT_EQ(derived.GetConnectedID(), kB);
  EXPECT_TRUE(derived.IsConnectedByIDs({kD, kB}));
  ASSERT_TRUE(source.Connect(&base));
  EXPECT_EQ(source.GetConnectedIDs(), (std::vector<TGUID>{kB, kA}));
  source.Notify(TFTStopOperation::Make());
  ASSERT_EQ(rec.Calls.size(), 2u);  // both bound through PopulateTypes
  EXPECT_EQ(rec.Calls[0].ID, kB);
  EXPECT_EQ(rec.Calls[1].ID, kA);
  base.ClearTypes();
  EXPECT_TRUE(base.GetTypes().empty());
  // Pins that share no type are not linked.
  TFTDispatchSourcePin cOnly;
  cOnly.AddType(kC, nullptr);
  TBaseSink sink("In", [](auto...) { return true; });
  EXPECT_FALSE(TFTLinker::CanConnect(cOnly, sink));
  EXPECT_FALSE(cOnly.Connect(&sink));
  EXPECT_THROW(cOnly.Connect(nullptr), EAssertionFailed);
}

TEST(PinsTest, DefaultHandlerServesTypesBoundWithoutHandlerAndThePinList) {
  TRecorder fallback;
  FTRegisterDefaultHandler(kD, fallback.Handler());
  TFTDispatchSourcePin source;
  source.AddType(kD, nullptr);
  TFTDispatchSinkPin sink;
  sink.AddType(kD, nullptr);
  ASSERT_TRUE(source.Connect(&sink));
  fallback.Result = false;
  EXPECT_FALSE(source.Notify(TFTStopOperation::Make()));
  FTUnregisterDefaultHandler(kD);
  EXPECT_FALSE(FTGetDefaultHandler(kD));
  ASSERT_EQ(fallback.Calls.size(), 1u);
  EXPECT_EQ(fallback.Calls[0].Stream, sink.GetStream());
  // The pin list.
  TFTDispatchSinkPin a, b, c;
  TFTPinList list;
  for (TFTBasicPin* p : {&a, &b, &a, &c}) list.Add(p);  // a listed once
  EXPECT_EQ(list.Remove(&b), 1);
  EXPECT_EQ(list.Remove(&b), -1);
  EXPECT_EQ(std::vector<TFTBasicPin*>(list.begin(), list.end()), (std::vector<TFTBasicPin*>{&a, &c}));
  EXPECT_EQ(list[1], &c);
  EXPECT_EQ(nxtest::MessageOf<ERangeError>([&] { list.GetItem(2); }), "Index out of range = 2");
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
}

// Records its link hooks and sends a stop to a sink it is about to lose.
class THookSource : public TFTDispatchSourcePin {
 public:
  using TFTDispatchSourcePin::TFTDispatchSourcePin;
  std::vector<TFTBasicPin*> Connected;
 protected:
  void DoConnected(TFTBasicPin* APeer) override { Connected.push_back(APeer); }
  void DoDisconnecting(TFTBasicPin* APeer) override { NotifyPin(APeer, TFTStopOperation::Make()); }
};

TEST(PinsTest, LinkHooksRunAndALostSinkAloneGetsTheStop) {
  TRecorder r1, r2;
  THookSource source;
  source.AddType(kA, nullptr);
  TFTDispatchSinkPin s1, s2;
  s1.AddType(kA, r1.Handler());
  s2.AddType(kA, r2.Handler());
  ASSERT_TRUE(source.Connect(&s1));
  ASSERT_TRUE(source.Connect(&s2));
  EXPECT_EQ(source.Connected, (std::vector<TFTBasicPin*>{&s1, &s2}));
  EXPECT_TRUE(s1.Disconnect(&source));
  EXPECT_FALSE(s1.Disconnect(&source));
  ASSERT_EQ(r1.Calls.size(), 1u);
  EXPECT_TRUE(r1.Calls[0].Operation->IsType<TFTStopOperation>());
  EXPECT_TRUE(r2.Calls.empty());
  EXPECT_FALSE(s1.IsConnected());
  EXPECT_EQ(source.GetConnectedPins(), std::vector<TFTBasicPin*>{&s2});
}

TEST(PinsTest, ASinkTakesOneSourceAMultiSinkManyAStatePinReplays) {
  TFTDispatchSourcePin a, b;
  a.AddType(kA, nullptr);
  b.AddType(kA, nullptr);
  TFTDispatchSinkPin single;
  single.AddType(kA, nullptr);
  TFTDispatchMultiSinkPin multi;
  multi.AddType(kA, nullptr);
  for (TFTSourcePin* s : {&a, &b, &a}) {  // a second link of a to multi changes nothing
    ASSERT_TRUE(s->Connect(&single));
    ASSERT_TRUE(s->Connect(&multi));
  }
  EXPECT_EQ(single.GetConnectedPins(), std::vector<TFTBasicPin*>{&a});  // b was replaced
  EXPECT_FALSE(b.IsConnectedTo(&single));
  EXPECT_EQ(multi.ConnectedCount(), 2);
  // A state pin sends its value to late sinks.
  TRecorder rec;
  TFTStatePin state;
  state.AddType(kA, nullptr);
  EXPECT_FALSE(state.SetValue(TFTSuppliedRealOperation::Make(2.5)));  // nobody linked yet
  TFTDispatchSinkPin sink;
  sink.AddType(kA, rec.Handler());
  ASSERT_TRUE(state.Connect(&sink));
  ASSERT_EQ(rec.Calls.size(), 1u);
  EXPECT_EQ(rec.Calls[0].Operation->As<TFTSuppliedRealOperation>()->GetValue(), 2.5);
  EXPECT_FALSE(rec.Calls[0].State.Contains(nsExclusive));  // the pin keeps it
}

TEST(PinsTest, OperationClassesAndFields) {
  const auto endStop = TFTEndStopOperation::Make();
  EXPECT_TRUE(endStop->IsType<TFTStopOperation>());
  EXPECT_FALSE(TFTStopOperation::Make()->IsType<TFTEndStopOperation>());
  EXPECT_STREQ(endStop->GetInstance()->ClassName(), "TFTEndStopOperation");
  EXPECT_EQ(TFTStartRateOperation::Make(44100.0)->As<TFTClockOperation>(), nullptr);
  // Supplied values count as clock ticks; each instantiation is its own class.
  const auto value = TFTSuppliedIntegerOperation::MakeEx(7, 512);
  EXPECT_EQ(value->As<TFTClockOperation>()->GetClockCount(), 512u);
  EXPECT_EQ(TFTSuppliedRealOperation::Make(1.0)->As<TFTClockOperation>()->GetClockCount(), 1u);
  EXPECT_FALSE(value->IsType<TFTSuppliedRealOperation>());
  // Master pumps made apart differ; the pump request is claimed by priority.
  int g = 0, m = 0, low = 0;
  const auto p1 = TFTMasterPumpOperation::Make(&m), p2 = TFTMasterPumpOperation::Make(&m);
  EXPECT_NE(p1->As<TFTMasterPumpOperation>()->GetOperationID(), p2->As<TFTMasterPumpOperation>()->GetOperationID());
  const auto request = TFTPumpRequestOperation::Make(&g, 5, 2, 43.0);  // keeps the operation alive
  auto* r = request->As<TFTPumpRequestOperation>();
  EXPECT_FALSE(r->Claim(&low, 4));
  EXPECT_TRUE(r->Claim(&m, 5));
  r->SetRate(50.0);
  EXPECT_EQ(r->GetRate(), 50.0);
  EXPECT_EQ(r->GetMaster(), &m);
}

// A converter links pins that share no stream type and passes all else unchanged both ways.
std::atomic<int> gLiveConverters{0};

// Integer values in, real values out.
class TIntToRealConverter : public TFTBasicFormatConverter {
 public:
  TIntToRealConverter() : TFTBasicFormatConverter({kA}, {kB}) { ++gLiveConverters; }
  ~TIntToRealConverter() override { --gLiveConverters; }
 protected:
  TIntfPtr<IFTNotifyOperation> ConvertOperation(const TGUID& AIn, const TGUID& AOut,
                                                const TIntfPtr<IFTNotifyOperation>& AOperation) override {
    EXPECT_EQ(AIn, kA);
    EXPECT_EQ(AOut, kB);
    if (auto* v = AOperation->As<TFTSuppliedIntegerOperation>()) return TFTSuppliedRealOperation::Make(v->GetValue());
    return AOperation;
  }
};

const TFTFormatConverterClass kIntToReal = FTConverterClass<TIntToRealConverter>("TIntToRealConverter");

class TypeConvertersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Source.AddType(kA, [this](TFTBasicPin* p, auto*, auto&, const TIntfPtr<IFTNotifyOperation>& op, TFTNotifyState st) {
      EXPECT_EQ(p, &Sink);  // the component's pin, not the converter's
      EXPECT_TRUE(st.Contains(nsUpstream));
      Upstream.push_back(op);
      return true;
    });
    Sink.AddType(kB, [this](TFTBasicPin* p, IFTStream* s, const TGUID& id, const TIntfPtr<IFTNotifyOperation>& op,
                                TFTNotifyState st) {
      EXPECT_EQ(p, &Source);
      EXPECT_EQ(s, Sink.GetStream());
      EXPECT_EQ(id, kB);
      Received.push_back(op);
      States.push_back(st);
      return Answer;
    });
  }
  void TearDown() override {
    Source.DisconnectAll();
    FTUnregisterTypeConverters({kIntToReal});
    EXPECT_EQ(gLiveConverters.load(), 0);
  }
  TFTDispatchSourcePin Source{"Out"};
  TFTDispatchSinkPin Sink{"In"};
  std::vector<TIntfPtr<IFTNotifyOperation>> Received, Upstream;
  std::vector<TFTNotifyState> States;
  bool Answer = true;
};

TEST_F(TypeConvertersTest, AConverterBridgesTheLinkUnlessADirectTypeFits) {
  EXPECT_FALSE(Source.Connect(&Sink));  // without a converter the pins stay apart
  EXPECT_EQ(gLiveConverters.load(), 0);
  const std::size_t before = FTRegisteredTypeConverters().size();  // the package's own come first
  FTRegisterTypeConverters({kIntToReal});
  FTRegisterTypeConverters({kIntToReal});  // once only
  const std::vector<std::string> names = FTRegisteredTypeConverters();
  ASSERT_EQ(names.size(), before + 1);
  EXPECT_EQ(names.back(), "TIntToRealConverter");
  EXPECT_EQ(gLiveConverters.load(), 0);  // the prototype is gone
  ASSERT_TRUE(Sink.Connect(&Source));
  EXPECT_EQ(gLiveConverters.load(), 1);
  EXPECT_EQ(Sink.GetConnectedID(), kA);
  EXPECT_EQ(Sink.GetDownStreamID(), kB);
  EXPECT_EQ(Source.GetConnectedPins(), std::vector<TFTBasicPin*>{&Sink});
  // A value is converted; the receiver's answer comes back through the converter.
  Answer = false;
  EXPECT_FALSE(Source.Notify(TFTSuppliedIntegerOperation::Make(3)));
  ASSERT_EQ(Received.size(), 1u);
  EXPECT_EQ(Received[0]->As<TFTSuppliedRealOperation>()->GetValue(), 3.0);
  EXPECT_TRUE(States[0].Contains(nsExclusive));  // new data, one receiver
  // Anything else passes unchanged, keeping the state it was sent with.
  const auto stop = TFTStopOperation::Make();
  Answer = true;
  EXPECT_TRUE(Source.NotifyShared(stop));
  EXPECT_EQ(Received.back().Get(), stop.Get());
  EXPECT_FALSE(States.back().Contains(nsExclusive));
  // Upstream operations pass back to the source.
  const auto query = TFTQueryStreamOperation::Make();
  EXPECT_TRUE(Sink.Notify(query));
  ASSERT_EQ(Upstream.size(), 1u);
  EXPECT_EQ(Upstream[0].Get(), query.Get());
  EXPECT_TRUE(Source.Disconnect(&Sink));
  EXPECT_EQ(gLiveConverters.load(), 0);
  // A converter goes with a pin that goes.
  {
    TFTDispatchSinkPin other;
    other.AddType(kB, [](auto...) { return true; });
    ASSERT_TRUE(Source.Connect(&other));
    EXPECT_EQ(gLiveConverters.load(), 1);
  }
  EXPECT_FALSE(Source.IsConnected());  // and the converter is gone (checked on tear-down)
  // A direct type is preferred to a converter.
  Sink.AddType(kA, [](auto...) { return true; });
  ASSERT_TRUE(Source.Connect(&Sink));
  EXPECT_EQ(gLiveConverters.load(), 0);
  EXPECT_EQ(Sink.GetDownStreamID(), kA);
  // And a converter is used only when its kinds fit both pins.
  TFTDispatchSinkPin unrelated;
  unrelated.AddType(kC, nullptr);
  EXPECT_FALSE(Source.Connect(&unrelated));
}

}  // namespace
}  // namespace nx
