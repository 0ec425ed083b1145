// The signal pins and operations: registries, dispatch rules, value links, converters, image pins, tick text.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "ExceptionMessage.h"
#include "nxruntime.h"

namespace nx {
namespace {

// What a component saw on one pin.
struct TSeen {
  std::vector<TIntfPtr<IFTNotifyOperation>> Operations;
  std::vector<TGUID> IDs;
  bool Result = true;
  TNXGenericDispatchEvent Handler() {
    return [this](TFTBasicPin*, const TGUID& id, const TIntfPtr<IFTNotifyOperation>& op, TFTNotifyState) {
      Operations.push_back(op);
      IDs.push_back(id);
      return Result;
    };
  }
  TFTBasicPinNotificationEvent BasicHandler() {
    return [this](TFTBasicPin* p, IFTStream*, const TGUID& id, const TIntfPtr<IFTNotifyOperation>& op,
                  TFTNotifyState st) { return Handler()(p, id, op, st); };
  }
  template <class T> T* Last() { return Operations.empty() ? nullptr : Operations.back()->As<T>(); }
};

TEST(StreamOperationsTest, ClockCountsAndClasses) {
  const auto buffer = TNXRealBuffer::MakeSize(512);
  const auto emptyPair = TBufferPair::Make(), pair = TBufferPair::Make();
  pair->AddBuffer(TIntfPtr<INXDataBuffer>(TNXComplexBuffer::MakeSize(64)));
  pair->AddBuffer(TIntfPtr<INXDataBuffer>(TNXRealBuffer::MakeSize(3)));
  const auto list = TNXRealBufferList::MakeData({TNXRealBuffer::MakeSize(7), TNXRealBuffer::MakeSize(9)});
  // Data that is not a buffer and an empty pair count once; a value as often as told.
  const struct { TIntfPtr<IFTNotifyOperation> Op; std::uint32_t Clocks; } cases[] = {
      {TFTSuppliedBufferOperation::Make(TIntfPtr<INXData>(buffer)), 512},
      {TFTSuppliedBufferOperation::Make(TIntfPtr<INXData>(list)), 1},
      {TFTInternalBufferOperation::Make(true, TIntfPtr<INXData>(TNXIntegerBuffer::MakeSize(33))), 33},
      {TFTSuppliedBufferPairOperation::Make(emptyPair), 1},
      {TFTSuppliedBufferPairOperation::Make(pair), 64},
      {TFTTypedSuppliedDataOperation::MakeEx({}, 9), 9},
  };
  for (const auto& c : cases) EXPECT_EQ(c.Op->As<TFTClockOperation>()->GetClockCount(), c.Clocks);
  ASSERT_TRUE(cases[2].Op->IsType<TFTSuppliedBufferOperation>());
  EXPECT_TRUE(cases[2].Op->As<TFTInternalBufferOperation>()->GetEnabled());
  EXPECT_EQ(pair->GetCount(), 2);
  pair->SetBuffer(1, TIntfPtr<INXDataBuffer>(TNXRealBuffer::MakeSize(5)));
  EXPECT_EQ(pair->GetBuffer(1)->GetSize(), 5);
  EXPECT_EQ(nxtest::MessageOf<ERangeError>([&] { pair->GetBuffer(2); }), "Index out of range = 2");
  EXPECT_THROW(pair->SetBuffer(-1, {}), ERangeError);
  // Which class each operation is a kind of: what the handlers dispatch on.
  const auto spectrum = TFTStartSpectrumOperation::Make(48000.0);
  ASSERT_NE(spectrum->As<TFTStartSampleRateOperation>(), nullptr);
  EXPECT_EQ(spectrum->As<TFTStartRateOperation>()->GetRate(), 48000.0);
  EXPECT_FALSE(spectrum->IsType<TFTStartIntensityOperation>());
  EXPECT_TRUE(TFTStartIntensityOperation::Make(1.0)->IsType<TFTStartSampleRateOperation>());
  EXPECT_FALSE(TFTStartSampleRateOperation::Make(1.0)->IsType<TFTStartSpectrumOperation>());
  EXPECT_FALSE(TFTNXPauseOperation::Make()->IsType<TFTNXResumeOperation>());
  const auto text = TFTNXTimeSuppliedStringOperation::Make("abc", -5, 7);
  EXPECT_EQ(text->As<TFTTypedSuppliedStringOperation>()->GetValue(), "abc");
  EXPECT_FALSE(text->IsType<TFTNXDurationTimeSuppliedStringOperation>());
  EXPECT_TRUE(TFTNXDurationTimeSuppliedStringOperation::Make("x", 1)->IsType<TFTTypedSuppliedStringOperation>());
  const auto down = TFTNXSuppliedMouseButtonDownOperation::Make(mbRight, {ssShift, ssCtrl}, -3, 4);
  EXPECT_EQ(down->As<TFTNXSuppliedMouseButtonOperation>()->GetButton(), mbRight);
  EXPECT_TRUE(down->IsType<TFTNXSuppliedBasicMouseOperation>());
  EXPECT_FALSE(down->IsType<TFTNXSuppliedMouseButtonUpOperation>());
  EXPECT_TRUE(TFTNXSuppliedMouseMoveOperation::Make({}, 1, 2)->IsType<TFTNXSuppliedMouseOperation>());
  EXPECT_FALSE(TFTNXSuppliedMouseEnterOperation::Make()->IsType<TFTNXSuppliedMouseOperation>());
}

TEST(StreamTypeRegistryTest, KindsSizesAndBuffers) {
  struct TCase { TGUID ID; std::int32_t Size; TGUID BufferIID; };
  const TCase cases[] = {
      {IFTGenericBufferStream::IID, 1, INXBlockBuffer::IID},    {IFTBinaryBufferStream::IID, 1, INXBlockBuffer::IID},
      {IFTRealBufferStream::IID, 8, INXRealBuffer::IID},        {IFTIntegerBufferStream::IID, 4, INXIntegerBuffer::IID},
      {IFTUnsignedBufferStream::IID, 4, INXUnsignedBuffer::IID}, {IFTComplexBufferStream::IID, 16, INXComplexBuffer::IID},
  };
  const std::vector<TGUID> ids = NXFTGetStreamTypeIDs();
  for (const TCase& c : cases) {
    EXPECT_NE(std::find(ids.begin(), ids.end(), c.ID), ids.end());
    EXPECT_EQ(NXFTGetSampleSize(c.ID), c.Size);
    const TIntfPtr<INXDataBuffer> buffer = NXFTCreateBuffer(c.ID, 10);
    EXPECT_TRUE(Supports(buffer, c.BufferIID));
    EXPECT_EQ(buffer->GetByteSize(), 10u * c.Size);
    EXPECT_TRUE(NXFTUpdateBuffer(c.ID, buffer, TFTStopOperation::Make()));
    EXPECT_THROW(NXFTCreateBuffer(c.ID, -1), ERangeError);
  }
  EXPECT_FALSE(NXFTCreateBuffer(IFTPairedBufferStream::IID, 4));
  EXPECT_EQ(NXFTGetSampleSize(IFTPairedBufferStream::IID), 1);
  EXPECT_FALSE(NXFTUpdateBuffer(IFTPairedBufferStream::IID, {}, TFTStopOperation::Make()));
}

// Rate in bytes per second, as a channel source announces it; the last sink is linked by unsigned
// buffers but takes real ones too, asked first.
TEST(StreamPinsTest, ChannelHandlerDividesTheRateBySampleSize) {
  struct TCase { TSeen Seen; TFTPinPtr<TNXFTSinkPin> Sink; double Expected; };
  TCase cases[] = {{{}, FTMakePin<TNXFTRealSinkPin>("R"), 1000.0}, {{}, FTMakePin<TNXFTIntegerSinkPin>("I"), 2000.0},
                   {{}, FTMakePin<TNXFTBinarySinkPin>("B"), 8000.0},
                   {{}, FTMakePin<TNXFTIntegerRealComplexSinkPin>("S"), 1000.0}};
  TNXFTChannelSourcePin source("Out");
  for (TCase& c : cases) {
    c.Sink->SetGenericDispatch(c.Seen.Handler());
    ASSERT_TRUE(source.Connect(c.Sink.get()));
  }
  EXPECT_EQ(source.GetMaxSampleSize(), 8);
  EXPECT_TRUE(source.Notify(TFTStartSampleRateOperation::Make(8000.0)));
  const auto stop = TFTStopOperation::Make();
  EXPECT_TRUE(source.Notify(stop));
  EXPECT_EQ(cases[3].Sink->GetConnectedID(), IFTUnsignedBufferStream::IID);
  for (TCase& c : cases) {
    ASSERT_EQ(c.Seen.Operations.size(), 2u);
    EXPECT_EQ(c.Seen.Last<TFTStopOperation>(), stop->As<TFTStopOperation>());  // passed on unchanged
    EXPECT_EQ(c.Seen.Operations[0]->As<TFTStartSampleRateOperation>()->GetSampleRate(), c.Expected);
  }
  // A channel handler of its own replaces the default one.
  int calls = 0;
  source.SetDispatchEvent([&](auto...) { return ++calls == 4; });
  EXPECT_TRUE(source.Notify(stop));
  EXPECT_EQ(cases[0].Seen.Operations.size(), 2u);
  source.DisconnectAll();
  EXPECT_EQ(source.GetMaxSampleSize(), 1);
  // A clock input takes buffers as ticks through its own handler; the default one is back for the data links.
  source.SetDispatchEvent({});
  std::vector<std::uint32_t> ticks;
  TFTClockMultiSinkPin clockIn("Clock", [&](auto*, auto*, auto&, const TIntfPtr<IFTNotifyOperation>& op, auto) {
    auto* clock = op->As<TFTClockOperation>();
    return clock && (ticks.push_back(clock->GetClockCount()), true);
  });
  ASSERT_TRUE(source.Connect(&clockIn));
  ASSERT_TRUE(source.Connect(cases[0].Sink.get()));
  EXPECT_TRUE(source.SubmitBuffer(TIntfPtr<INXData>(TNXRealBuffer::MakeSize(5))));
  EXPECT_EQ(ticks, std::vector<std::uint32_t>{5});
  EXPECT_NE(cases[0].Seen.Last<TFTSuppliedBufferOperation>(), nullptr);  // after the stop of the lost link
}

TEST(StreamPinsTest, DispatchRulesOfSourceAndSinkPinsAndValueLinks) {
  TSeen up, down;
  TNXFTRealSourcePin source("Out");
  source.SetGenericDispatch(up.Handler());
  TNXFTRealSinkPin sink("In");
  sink.SetGenericDispatch(down.Handler());
  ASSERT_TRUE(source.Connect(&sink));
  down.Result = false;
  EXPECT_FALSE(source.Stop());  // the component's answer comes back
  EXPECT_NE(down.Last<TFTStopOperation>(), nullptr);
  EXPECT_FALSE(source.EndStop());
  EXPECT_NE(down.Last<TFTEndStopOperation>(), nullptr);
  source.FileEndNoStop();
  EXPECT_NE(down.Last<TFTFileEndNoStopOperation>(), nullptr);
  int master = 0;
  EXPECT_TRUE(sink.MasterPump(&master));
  ASSERT_EQ(up.Operations.size(), 1u);
  EXPECT_EQ(up.Last<TFTMasterPumpOperation>()->GetMaster(), &master);
  // A real buffer arrives as its last sample on value links.
  TSeen asFloat, asReal, asBuffer;
  TFTStdSinkPin floatSink("F", {IFTFloatStream::IID}, asFloat.BasicHandler());
  TFTStdSinkPin realSink("D", {IFTRealStream::IID}, asReal.BasicHandler());
  TNXFTComboRealSinkPin bufferSink("B");
  bufferSink.SetGenericDispatch(asBuffer.Handler());
  ASSERT_TRUE(source.Connect(&floatSink) && source.Connect(&realSink) && source.Connect(&bufferSink));
  EXPECT_TRUE(bufferSink.IsConnectedToRealBufferStream());  // buffers preferred over values
  EXPECT_FALSE(bufferSink.IsConnectedToSingleRealStream());
  const double last = 0.1;  // not exact in single precision
  const auto buffer = TNXRealBuffer::MakeArray({5.0, -2.0, last});
  EXPECT_TRUE(source.SubmitBuffer(TIntfPtr<INXData>(buffer)));
  ASSERT_NE(asFloat.Last<TFTSuppliedFloatOperation>(), nullptr);
  EXPECT_EQ(asFloat.Last<TFTSuppliedFloatOperation>()->GetValue(), static_cast<float>(last));
  ASSERT_NE(asReal.Last<TFTSuppliedRealOperation>(), nullptr);
  EXPECT_EQ(asReal.Last<TFTSuppliedRealOperation>()->GetValue(), last);
  EXPECT_EQ(asBuffer.Last<TFTSuppliedBufferOperation>()->GetValue().Get(), static_cast<INXData*>(buffer.Get()));
  EXPECT_THROW(source.SubmitBuffer(TIntfPtr<INXData>(TNXRealBuffer::Make())), ERangeError);
  // A source without a generic stream hands upstream operations to its own hook.
  struct THookSource : TNXFTRealSourcePin {
    using TNXFTRealSourcePin::TNXFTRealSourcePin;
    int Hooked = 0;
    ~THookSource() override { Close(); }
    bool IntNotificationHandler(TFTBasicPin*, IFTStream*, const TGUID&, const TIntfPtr<IFTNotifyOperation>&,
                                TFTNotifyState) override {
      return ++Hooked > 0;
    }
  } hooked("Out");
  TNXFTRealSinkPin plain("In");  // no generic stream: downstream operations are not handled
  ASSERT_TRUE(hooked.Connect(&plain));
  EXPECT_TRUE(plain.MasterPump(&master));
  EXPECT_EQ(hooked.Hooked, 1);
  EXPECT_FALSE(hooked.Stop());
}

TEST(StreamPinsTest, LinkCallbacksAndTheStopToALostSink) {
  std::vector<std::string> events;
  TCriticalSection lock;
  TNXFTSourcePin source("Out", [&](TFTBasicPin* p) { events.push_back("connect " + p->GetName()); }, &lock);
  TSeen seen1, seen2;
  TNXFTSinkPin s1("S1", [&](TFTBasicPin* p) { events.push_back("connect " + p->GetName()); }), s2("S2");
  s1.SetOnDisconnect([&](TFTBasicPin* p) { events.push_back("disconnect " + p->GetName()); });
  s1.SetGenericDispatch(seen1.Handler());
  s2.SetGenericDispatch(seen2.Handler());
  ASSERT_TRUE(source.Connect(&s1));
  ASSERT_TRUE(source.Connect(&s2));
  EXPECT_EQ(&source.GetLock(), &lock);
  EXPECT_TRUE(s1.Disconnect(&source));
  EXPECT_EQ(events, (std::vector<std::string>{"connect Out", "connect S1", "connect Out", "disconnect S1"}));
  EXPECT_EQ(seen1.Operations.size(), 1u);  // the stop
  EXPECT_TRUE(seen2.Operations.empty());
}

// A component's pin class with a short name of its own.
class TSpectrumSourcePin : public TNXFTRealSourcePin {
  NX_FT_PIN_CLASS(TSpectrumSourcePin, TNXFTRealSourcePin)
 public:
  using TNXFTRealSourcePin::TNXFTRealSourcePin;
};
class TDerivedSpectrumSourcePin : public TSpectrumSourcePin {
  NX_FT_PIN_CLASS(TDerivedSpectrumSourcePin, TSpectrumSourcePin)
 public:
  using TSpectrumSourcePin::TSpectrumSourcePin;
};

TEST(StreamPinClassDefaultsTest, DefaultsAgreeWithNewPinsAndNamePins) {
  struct TCase { const TFTPinClass& Class; TFTPinPtr<TFTBasicPin> Pin; bool MultiLink, Clockable, Adopts; };
  TCase cases[] = {
      {TNXFTSourcePin::ClassInfo(), FTMakePin<TNXFTSourcePin>(), true, false, false},
      {TNXFTRealSourcePin::ClassInfo(), FTMakePin<TNXFTRealSourcePin>(), true, true, false},
      {TNXFTComboRealSourcePin::ClassInfo(), FTMakePin<TNXFTComboRealSourcePin>(), true, true, false},
      {TNXFTComboRealIntSinkPin::ClassInfo(), FTMakePin<TNXFTComboRealIntSinkPin>(), false, false, false},
      {TNXFTBinaryMultiSinkPin::ClassInfo(), FTMakePin<TNXFTBinaryMultiSinkPin>(), true, false, false},
      {TNXFTUniversalSinkPin::ClassInfo(), FTMakePin<TNXFTUniversalSinkPin>(), false, false, true},
  };
  for (const TCase& c : cases) {
    TNXFTPinClassDefaults d;
    ASSERT_TRUE(NXFTGetClassDefaults(c.Class, d)) << c.Class.Name;
    EXPECT_EQ(d.StreamTypes, c.Pin->GetTypes()) << c.Class.Name;
    EXPECT_EQ(std::make_tuple(d.IsSource, d.IgnoresUpstream, d.MultiLink, d.Clockable, d.AdoptsPeerKinds),
              std::make_tuple(c.Pin->IsSourcePin(), c.Pin->IgnoresUpstream(), c.MultiLink, c.Clockable, c.Adopts))
        << c.Class.Name;
  }
  // 43 classes of the stream types; the queued pins above them add theirs.
  const std::vector<std::string> names = NXFTGetRegisteredPinClasses();
  EXPECT_GE(names.size(), 43u);
  TNXFTPinClassDefaults d;
  ASSERT_TRUE(NXFTFindClassDefaults("TNXFTComboRealIntComplexBoolPairedSinkPin", d));
  EXPECT_EQ(d.StreamTypes.front(), IFTPairedBufferStream::IID);  // the most specific kinds first
  EXPECT_FALSE(NXFTFindClassDefaults("TNoSuchPin", d));
  EXPECT_FALSE(NXFTGetClassDefaults(TSpectrumSourcePin::ClassInfo(), d));
  EXPECT_THROW(NXFTRegisterClassDefaults(TFTStatePin::ClassInfo()), EAssertionFailed);
  // Unloading the unit takes the registry away; loading again brings back the same classes.
  NXRealQueue::UnitFinalize();
  NXStreamTypes::UnitFinalize();
  EXPECT_FALSE(NXFTFindClassDefaults("TNXFTRealSinkPin", d));
  NXStreamTypes::UnitInitialize();
  NXRealQueue::UnitInitialize();
  std::vector<std::string> again = NXFTGetRegisteredPinClasses(), before = names;
  std::sort(again.begin(), again.end());
  std::sort(before.begin(), before.end());
  EXPECT_EQ(again, before);
  // "OutputPin"/"InputPin" give way to the name attribute, else the class's short name.
  NXFTRegisterClassDefaults(TSpectrumSourcePin::ClassInfo(), "Spectrum");
  struct TNamedSource : TNXFTRealSourcePin {
    using TNXFTRealSourcePin::TNXFTRealSourcePin;
    const char* NameAttribute() const noexcept override { return "Out"; }
  } named;
  struct TNamedSink : TNXFTRealSinkPin {
    using TNXFTRealSinkPin::TNXFTRealSinkPin;
    const char* NameAttribute() const noexcept override { return "In"; }
  } sink;
  TNXFTRealSourcePin plain;  // its class has no short name
  TSpectrumSourcePin spectrum;
  TDerivedSpectrumSourcePin derived;  // inherits the short name
  struct TOwnName : TSpectrumSourcePin {
    using TSpectrumSourcePin::TSpectrumSourcePin;
    const char* NameAttribute() const noexcept override { return "Own"; }
  } own;  // a name attribute of its own wins
  struct TNameCase { TFTBasicPin* Pin; const char* Property; const char* Expected; };
  const TNameCase naming[] = {
      {&named, "RawOutputPin", "RawOut"},   {&named, "SpectrumPin", "SpectrumPin"}, {&named, "InputPin", "InputPin"},
      {&plain, "OutputPin", "OutputPin"},   {&sink, "RawInputPin", "RawIn"},        {&spectrum, "OutputPin", "Spectrum"},
      {&spectrum, "LevelPin", "LevelPin"}, {&derived, "OutputPin", "Spectrum"},    {&own, "OutputPin", "Own"},
  };
  for (const TNameCase& c : naming) {
    if (c.Pin == &sink)
      sink.SetPropertyName(c.Property);
    else
      static_cast<TNXFTSourcePin*>(c.Pin)->SetPropertyName(c.Property);
    EXPECT_EQ(c.Pin->GetName(), c.Expected) << c.Property;
  }
  NXFTUnregisterClassDefaults(TSpectrumSourcePin::ClassInfo());
  derived.SetPropertyName("OutputPin");
  EXPECT_EQ(derived.GetName(), "OutputPin");
}

TEST(StreamPinsTest, PassThroughHandlersAndRangeReplay) {
  TNXFTRealSourcePin out("Out");
  TSeen seen;
  TNXFTRealSinkPin sink("In");
  sink.SetGenericDispatch(seen.Handler());
  int otherwise = 0;
  const auto always = GFTPassTroughDispatch(&out);
  const auto whileLinked = GFTPassTroughDispatch(&out, [&](auto...) { return ++otherwise > 0; });
  const auto op = TFTNXPauseOperation::Make();
  EXPECT_FALSE(always(nullptr, nullptr, IFTRealBufferStream::IID, op, {}));
  EXPECT_TRUE(whileLinked(nullptr, nullptr, IFTRealBufferStream::IID, op, {}));
  ASSERT_TRUE(out.Connect(&sink));
  EXPECT_TRUE(whileLinked(nullptr, nullptr, IFTRealBufferStream::IID, op, {}));
  EXPECT_EQ(otherwise, 1);
  EXPECT_EQ(seen.Operations.back().Get(), op.Get());
  // A pump request travels through the pin and comes back claimed.
  int generator = 0, pacer = 0;
  sink.SetGenericDispatch([&](TFTBasicPin*, const TGUID&, const TIntfPtr<IFTNotifyOperation>& o, TFTNotifyState) {
    auto* r = o->As<TFTPumpRequestOperation>();
    return r && r->Claim(&pacer, 10);
  });
  out.DisconnectAll();
  ASSERT_TRUE(out.Connect(&sink));
  const auto request = TFTPumpRequestOperation::Make(&generator, 1, 2, 10.0);
  EXPECT_TRUE(GRGPinQueryPumpOperation(&out, request));
  EXPECT_EQ(request->As<TFTPumpRequestOperation>()->GetMaster(), &pacer);
  // Held as a basic pin, a real source still turns buffers into values and keeps ranges.
  TSeen values;
  TNXFTRealRangedSourcePin ranged("Ranged");
  TFTStdSinkPin floatIn("F", {IFTFloatStream::IID}, values.BasicHandler());
  ASSERT_TRUE(ranged.Connect(&floatIn));
  const auto pass = GFTPassTroughDispatch(&ranged);
  const auto buffer = TFTSuppliedBufferOperation::Make(TIntfPtr<INXData>(TNXRealBuffer::MakeArray({1.0, 2.5})));
  EXPECT_TRUE(pass(nullptr, nullptr, IFTRealBufferStream::IID, buffer, {}));
  ASSERT_NE(values.Last<TFTSuppliedFloatOperation>(), nullptr);
  EXPECT_EQ(values.Last<TFTSuppliedFloatOperation>()->GetValue(), 2.5f);
  const auto range = TFTSuppliedRealRangeOperation::Make(0.0, 1.0);
  pass(nullptr, nullptr, IFTRangedRealBufferStream::IID, range, {});
  EXPECT_EQ(ranged.GetRangeOperation().Get(), range.Get());
  // A sink that links later gets the range replayed, alone; after a stop, nothing.
  TSeen late, after;
  TNXFTRealRangedSinkPin s2("B"), s3("C");
  s2.SetGenericDispatch(late.Handler());
  s3.SetGenericDispatch(after.Handler());
  const std::size_t early = values.Operations.size();
  ASSERT_TRUE(ranged.Connect(&s2));
  EXPECT_EQ(late.Last<TFTSuppliedRealRangeOperation>()->GetHigh(), 1.0);
  EXPECT_EQ(values.Operations.size(), early);
  ranged.Stop();
  EXPECT_FALSE(ranged.GetRangeOperation());
  ASSERT_TRUE(ranged.Connect(&s3));
  EXPECT_TRUE(after.Operations.empty());
}

// A stream object without the generic interface: clock notifications and typed dispatch.
class TClockAndTypedStream final : public TInterfacedObject,
                                   public virtual IFTClockNotifyStream,
                                   public virtual IFTTypedDispatchStream {
  NX_INTERFACES(TInterfacedObject, IFTStream, IFTClockNotifyStream, IFTTypedDispatchStream)
 public:
  explicit TClockAndTypedStream(TFTBasicPin* APin) : FPin(APin) {}
  TFTBasicPin* GetPin() noexcept override { return FPin; }
  bool ClockNotification(TFTBasicPin*, const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState) override {
    return Clock.push_back(AOperation), true;
  }
  bool TypedDispatch(TFTBasicPin*, const TGUID& AID, const TIntfPtr<IFTNotifyOperation>& AOperation,
                     TFTNotifyState AState) override {
    return Typed.push_back(AOperation), TypedIDs.push_back(AID), AState.Contains(nsUpstream);
  }
  std::vector<TIntfPtr<IFTNotifyOperation>> Clock, Typed;
  std::vector<TGUID> TypedIDs;
 private:
  TFTBasicPin* FPin;
};

TEST(StreamPinsTest, ClockableSourcesTakeClockInputsAndTypedDispatch) {
  TNXFTComplexSourcePin source("Out");
  TIntfPtr<TClockAndTypedStream> stream(new TClockAndTypedStream(&source));
  source.SetStream(TIntfPtr<IFTStream>(stream));
  EXPECT_TRUE(source.GetCanClock());
  TFTClockMultiSinkPin clockIn("Clock", [](auto...) { return true; });
  ASSERT_TRUE(source.Connect(&clockIn));
  EXPECT_TRUE(clockIn.Notify(TFTClockNeededOperation::Make(true)));
  ASSERT_EQ(stream->Clock.size(), 1u);
  EXPECT_TRUE(stream->Clock[0]->As<TFTClockNeededOperation>()->GetNeeded());
  EXPECT_TRUE(stream->Typed.empty());
  TNXFTComplexSinkPin sink("In");
  ASSERT_TRUE(source.Connect(&sink));
  int master = 0;
  EXPECT_TRUE(sink.MasterPump(&master));
  ASSERT_EQ(stream->Typed.size(), 1u);
  EXPECT_EQ(stream->TypedIDs[0], IFTComplexBufferStream::IID);
  // A source built without the clock flag takes no clock input.
  TNXFTSourcePin plain("P");
  TFTClockMultiSinkPin clock2("Clock2", [](auto...) { return true; });
  EXPECT_FALSE(plain.Connect(&clock2));
}

TEST(StreamPinsTest, UniversalPins) {
  TSeen seen, ints;  // outlive the pins: a sink that goes receives a stop
  TNXFTComplexSourcePin complexOut("Out");
  TNXFTUniversalSinkPin anyIn("In");
  anyIn.SetGenericDispatch(seen.Handler());
  ASSERT_TRUE(complexOut.Connect(&anyIn));
  EXPECT_TRUE(complexOut.SubmitBuffer(TIntfPtr<INXData>(TNXComplexBuffer::MakeSize(4))));
  EXPECT_EQ(seen.IDs, std::vector<TGUID>{IFTComplexBufferStream::IID});
  TNXFTUniversalSourcePin anyOut("AnyOut");
  TNXFTIntegerSinkPin intIn("IntIn");
  intIn.SetGenericDispatch(ints.Handler());
  ASSERT_TRUE(anyOut.Connect(&intIn));
  EXPECT_TRUE(anyOut.SubmitBuffer(TIntfPtr<INXData>(TNXIntegerBuffer::MakeSize(2))));
  EXPECT_EQ(ints.Operations.size(), 1u);
  // Value kinds are adopted only while the sink accepts all.
  TNXFTRealSourcePin realOut("RealOut");
  TNXFTUniversalSinkPin anyIn2("In2");
  auto offers = [&](const TFTBasicPin& APeer, const TGUID& AKind) {
    const std::vector<TGUID> kinds = anyIn2.LinkTypes(APeer);
    return std::count(kinds.begin(), kinds.end(), AKind);
  };
  EXPECT_EQ(offers(realOut, IFTFloatStream::IID), 0);
  EXPECT_EQ(offers(realOut, IFTRealBufferStream::IID), 1);
  anyIn2.IncAcceptAll();
  EXPECT_EQ(offers(realOut, IFTFloatStream::IID), 1);
  anyIn2.DecAcceptAll();
  // Every single-value kind counts as one, not only the combo pins' kinds.
  for (const TGUID& kind : {IFTColorStream::IID, IFTDateStream::IID}) {
    TFTStatePin values("V");
    values.AddType(kind, nullptr);
    EXPECT_EQ(offers(values, kind), 0) << kind;
    anyIn2.IncAcceptAll();
    EXPECT_EQ(offers(values, kind), 1) << kind;
    anyIn2.DecAcceptAll();
  }
  // A universal sink answers every query with typed dispatch while it accepts all.
  constexpr TGUID kUnknown = TGUID::Parse("{3C000000-0000-0000-0000-0000000000C3}");
  seen.IDs.clear();
  TSeen otherSeen;
  TNXFTUniversalSinkPin any("Any"), other("Other");
  TNXFTRealSinkPin real("Real");
  any.SetGenericDispatch(seen.Handler());
  other.SetGenericDispatch(otherSeen.Handler());
  real.SetGenericDispatch(otherSeen.Handler());
  // How a pin answers when it does not accept all: its stream object's interfaces.
  auto answersPlainly = [&](const TFTBasicPin& APin) {
    TIntfPtr<IInterface> obj;
    EXPECT_FALSE(APin.QueryInterface(kUnknown, obj)) << APin.GetName();
    EXPECT_TRUE(APin.QueryInterface(IFTNXGenericStream::IID, obj)) << APin.GetName();
    EXPECT_TRUE(SameObject(obj.Get(), APin.GetStream())) << APin.GetName();
  };
  answersPlainly(any);
  TIntfPtr<IFTTypedDispatchStream> typed;
  ASSERT_TRUE(Supports(&any, typed));  // the pin implements it whatever the count
  EXPECT_EQ(typed->GetPin(), &any);
  any.IncAcceptAll();
  any.IncAcceptAll();
  any.DecAcceptAll();  // still at least 1
  for (const TGUID& id : {IFTRealStream::IID, IFTNXGenericStream::IID, kUnknown}) {
    TIntfPtr<IInterface> obj;
    ASSERT_TRUE(any.QueryInterface(id, obj));
    EXPECT_TRUE(SameObject(obj.Get(), static_cast<IInterface*>(typed.Get())));
  }
  answersPlainly(other);  // other pins are not affected
  answersPlainly(real);
  // The answer dispatches to the pin's handler, which passes the kind and the result back.
  TNXFTComplexSourcePin source("Out");
  const auto op = TFTSuppliedBufferOperation::Make(TIntfPtr<INXData>(TNXComplexBuffer::MakeSize(2)));
  seen.Result = false;
  EXPECT_FALSE(typed->TypedDispatch(&source, IFTComplexBufferStream::IID, op, {}));
  seen.Result = true;
  EXPECT_TRUE(typed->TypedDispatch(&source, kUnknown, op, {}));
  EXPECT_FALSE(typed->TypedDispatch(&source, kUnknown, op, TFTNotifyState{nsUpstream}));  // a sink takes no upstream
  EXPECT_EQ(seen.IDs, (std::vector<TGUID>{IFTComplexBufferStream::IID, kUnknown}));
  any.DecAcceptAll();
  EXPECT_EQ(any.GetAcceptAll(), 0);
  answersPlainly(any);
  // An answer kept after its pin is gone reaches nothing.
  auto transient = FTMakePin<TNXFTUniversalSinkPin>("T");
  transient->SetGenericDispatch(otherSeen.Handler());
  transient->IncAcceptAll();
  ASSERT_TRUE(Supports(transient.get(), typed));
  transient.reset();
  EXPECT_FALSE(typed->TypedDispatch(&source, IFTRealBufferStream::IID, op, {}));
  EXPECT_TRUE(otherSeen.Operations.empty());
}

// What a buffer sink of class TSink receives when a state pin of AKind sends AValue.
template <class TSink>
TIntfPtr<INXData> ValueAsBuffer(const TGUID& AKind, const TIntfPtr<IFTNotifyOperation>& AValue) {
  TSeen seen;
  TFTStatePin values("V");
  values.AddType(AKind, nullptr);
  TSink sink("S");
  sink.SetGenericDispatch(seen.Handler());
  EXPECT_TRUE(values.Connect(&sink));
  values.SetValue(AValue);
  auto* got = seen.Last<TFTSuppliedBufferOperation>();
  TIntfPtr<INXData> data = got ? got->GetValue() : TIntfPtr<INXData>();
  values.SetValue({});
  return data;
}

TEST(StreamConvertersTest, AllRegisteredAndConvertingWhatTheyShould) {
  const std::vector<std::string> names = FTRegisteredTypeConverters();
  for (const TFTFormatConverterClass& c : NXFTFormatConverterClasses())
    EXPECT_NE(std::find(names.begin(), names.end(), c.Name), names.end()) << c.Name;
  // Integer buffers to a real sink: converted values, a new buffer.
  TNXFTIntegerSourcePin ints("Out");
  TSeen reals, bytes;
  TNXFTRealSinkPin realSink("R");
  realSink.SetGenericDispatch(reals.Handler());
  TNXFTBinarySinkPin binarySink("B");
  binarySink.SetGenericDispatch(bytes.Handler());
  ASSERT_TRUE(ints.Connect(&realSink));
  ASSERT_TRUE(ints.Connect(&binarySink));
  const auto in = TNXIntegerBuffer::MakeArray({-3, 0, 70000});
  EXPECT_TRUE(ints.SubmitBuffer(TIntfPtr<INXData>(in)));
  ASSERT_NE(reals.Last<TFTSuppliedBufferOperation>(), nullptr);
  TIntfPtr<INXRealBuffer> r;
  ASSERT_TRUE(Supports(reals.Last<TFTSuppliedBufferOperation>()->GetValue(), r));
  EXPECT_EQ(std::vector<double>(r->Read(), r->Read() + r->GetSize()), (std::vector<double>{-3, 0, 70000}));
  EXPECT_EQ(reals.Last<TFTClockOperation>()->GetClockCount(), 3u);
  TIntfPtr<INXBlockBuffer> b;
  ASSERT_TRUE(Supports(bytes.Last<TFTSuppliedBufferOperation>()->GetValue(), b));
  ASSERT_EQ(b->GetSize(), 12);
  EXPECT_EQ(std::memcmp(b->ByteRead(), in->Read(), 12), 0);
  // Everything else passes unchanged.
  const auto rate = TFTStartSampleRateOperation::Make(100.0);
  ints.Notify(rate);
  EXPECT_EQ(reals.Operations.back().Get(), rate.Get());
  // Single values to binary buffers of their bytes, and to one-sample buffers.
  const auto int64Value = TFTSuppliedInt64Operation::Make(-2);
  ASSERT_TRUE(Supports(ValueAsBuffer<TNXFTBinarySinkPin>(IFTInt64Stream::IID, int64Value), b));
  std::int64_t back = 0;
  std::memcpy(&back, b->ByteRead(), std::min<std::size_t>(8, b->GetSize()));
  EXPECT_EQ(back, -2);
  const auto complexValue = TFTSuppliedRealComplexOperation::Make(TComplex{1.5, -2.5});
  TIntfPtr<INXComplexBuffer> c;
  ASSERT_TRUE(Supports(ValueAsBuffer<TNXFTComplexSinkPin>(IFTRealComplexStream::IID, complexValue), c));
  EXPECT_EQ(c->GetItem(0), (TComplex{1.5, -2.5}));
  const auto list = TFTSuppliedRealListOperation::Make({1.0, 2.0});
  ASSERT_TRUE(Supports(ValueAsBuffer<TNXFTRealSinkPin>(IFTRealListStream::IID, list), r));
  EXPECT_EQ(r->GetSize(), 2);
  TFTStatePin lists("L");
  lists.AddType(IFTRealListStream::IID, nullptr);
  TNXFTRealMatrixSinkPin notReal("M");  // no list-to-matrix converter
  EXPECT_FALSE(lists.Connect(&notReal));
}

// Two threads submit while a float-value sink is linked and unlinked beside a staying sink.
TEST(StreamThreadsTest, SendersAndALinkChangingBesideThem) {
  constexpr int kPerThread = 2000;
  std::atomic<int> buffers{0}, values{0}, stops{0}, wrongKind{0};
  TNXFTRealSourcePin source("Out");
  TNXFTRealSinkPin stay("Stay");
  stay.SetGenericDispatch([&](TFTBasicPin*, const TGUID&, const TIntfPtr<IFTNotifyOperation>& op, TFTNotifyState) {
    if (op->IsType<TFTSuppliedBufferOperation>()) ++buffers;
    return true;
  });
  TFTStdSinkPin passing("Passing", {IFTFloatStream::IID}, [&](auto*, auto*, auto&, const auto& op, auto) {
    if (op->template IsType<TFTSuppliedFloatOperation>()) ++values;
    else if (op->template IsType<TFTStopOperation>()) ++stops;
    else ++wrongKind;  // a buffer on a value link
    return true;
  });
  ASSERT_TRUE(source.Connect(&stay));
  std::atomic<bool> go{false};
  std::vector<std::thread> senders;
  for (int t = 0; t < 2; ++t)
    senders.emplace_back([&] {
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < kPerThread; ++i) source.SubmitBuffer(TIntfPtr<INXData>(TNXRealBuffer::MakeValue(i, 4)));
    });
  go = true;
  int links = 0;
  while (buffers.load() < 2 * kPerThread && links < 100000) {
    ASSERT_TRUE(source.Connect(&passing));
    ASSERT_TRUE(passing.Disconnect(&source));
    ++links;
  }
  for (std::thread& t : senders) t.join();
  EXPECT_EQ(buffers.load(), 2 * kPerThread);
  EXPECT_EQ(stops.load(), links);  // one stop per lost link
  EXPECT_LE(values.load(), 2 * kPerThread);
  EXPECT_EQ(wrongKind.load(), 0);
}

// Every sink gets every buffer in order; unconverted it is the same buffer, no block made.
TEST(StreamEndToEndTest, ThousandBuffersReachEverySink) {
  constexpr int kBuffers = 1000;
  constexpr int kSize = 16;
  int storesAtSubmit = 0;
  bool noBlockMade = true;
  TSeen real, ints, converted;
  // Records the operation and whether a data block was made since the submit.
  auto recorder = [&](TSeen& AInto) -> TNXGenericDispatchEvent {
    return [&, record = AInto.Handler()](TFTBasicPin* p, const TGUID& id, const TIntfPtr<IFTNotifyOperation>& op,
                                         TFTNotifyState st) {
      noBlockMade = noBlockMade && _NXCountStores.load() == storesAtSubmit;
      return record(p, id, op, st);
    };
  };
  TNXFTRealSourcePin realOut("RealOut");
  TNXFTIntegerSourcePin intOut("IntOut");
  TNXFTRealSinkPin realIn("RealIn"), convertedIn("ConvertedIn");
  TNXFTIntegerSinkPin intIn("IntIn");
  realIn.SetGenericDispatch(recorder(real));
  intIn.SetGenericDispatch(recorder(ints));
  convertedIn.SetGenericDispatch(converted.Handler());
  ASSERT_TRUE(realOut.Connect(&realIn));
  ASSERT_TRUE(intOut.Connect(&intIn));
  ASSERT_TRUE(intOut.Connect(&convertedIn));
  std::vector<TIntfPtr<INXData>> realSent, intSent;
  for (int i = 0; i < kBuffers; ++i) {
    realSent.emplace_back(TNXRealBuffer::MakeValue(i + 0.5, kSize));
    intSent.emplace_back(TNXIntegerBuffer::MakeValue(i, kSize));
    storesAtSubmit = _NXCountStores.load();
    ASSERT_TRUE(realOut.SubmitBuffer(realSent.back()));
    ASSERT_TRUE(intOut.SubmitBuffer(intSent.back()));
  }
  EXPECT_TRUE(noBlockMade);
  auto data = [](const TSeen& ASeen) {
    std::vector<TIntfPtr<INXData>> got;
    for (const auto& op : ASeen.Operations)
      if (auto* s = op->As<TFTSuppliedBufferOperation>()) got.push_back(s->GetValue());
    return got;
  };
  EXPECT_EQ(data(real), realSent);
  EXPECT_EQ(data(ints), intSent);
  const std::vector<TIntfPtr<INXData>> convertedData = data(converted);
  ASSERT_EQ(convertedData.size(), static_cast<std::size_t>(kBuffers));
  for (int i = 0; i < kBuffers; ++i)
    EXPECT_EQ(Supports<INXRealBuffer>(convertedData[i])->GetItem(kSize - 1), static_cast<double>(i));
}

// Stands in for an image: any interfaced object travels.
class TFakeImage : public TInterfacedObject {};

struct TReceived {
  std::vector<std::pair<TFTBasicPin*, IInterface*>> Calls;
  TFTImageChangeEvent Event() {
    return [this](TFTBasicPin* APin, const TIntfPtr<IInterface>& AImage) { Calls.push_back({APin, AImage.Get()}); };
  }
};

TEST(ImagePins, ASentImageReachesEverySinkAsTheSameObject) {
  TReceived single, multi;
  TFTGDIPlusImageSourcePin a("A"), b("B");
  TFTGDIPlusImageSinkPin sink("In", single.Event());
  TFTGDIPlusImageMultiSinkPin many("Many", multi.Event());
  ASSERT_TRUE(a.Connect(&sink));
  ASSERT_TRUE(a.Connect(&many));
  ASSERT_TRUE(b.Connect(&many));
  // Image pins link only with image pins.
  TNXFTRealSinkPin reals("Reals");
  TNXFTRealSourcePin realSource("RealSource");
  EXPECT_FALSE(a.Connect(&reals));
  EXPECT_FALSE(realSource.Connect(&sink));
  TIntfPtr<IInterface> first(new TFakeImage), second(new TFakeImage);
  EXPECT_TRUE(a.Send(first));
  EXPECT_TRUE(b.Send(second));
  using TCall = std::pair<TFTBasicPin*, IInterface*>;  // the receiving pin and the image
  EXPECT_EQ(single.Calls, (std::vector<TCall>{{&sink, first.Get()}}));
  EXPECT_EQ(multi.Calls, (std::vector<TCall>{{&many, first.Get()}, {&many, second.Get()}}));
  // A stop is no image: the sinks do not take it.
  EXPECT_FALSE(a.Notify(TFTStopOperation::Make()));
  EXPECT_EQ(single.Calls.size(), 1u);
  // A state pin hands its image to late sinks.
  TReceived got;
  TFTGDIPlusImageStatePin state("State");
  EXPECT_FALSE(state.SetValue(first));  // nobody linked yet
  EXPECT_EQ(state.GetImage().Get(), first.Get());
  TFTGDIPlusImageSinkPin late("Late", got.Event());
  ASSERT_TRUE(state.Connect(&late));
  EXPECT_EQ(got.Calls, (std::vector<TCall>{{&late, first.Get()}}));
  EXPECT_FALSE(state.SetValue(TIntfPtr<IInterface>()));  // cleared: nothing sent
  EXPECT_FALSE(state.GetImage());
  EXPECT_EQ(got.Calls.size(), 1u);
}

TEST(TickText, DecimalPointsAndReducedExponents) {
  struct Case { double Max, Min; int Precision; bool SignificantOnly; int Expected; };
  const Case cases[] = {
      {5, 0, 3, false, 2}, {0, 50, 3, false, 1}, {5000, 0, 3, false, 0}, {0.05, 0, 3, false, 4}, {1, 1, 3, false, 0},
      {1, 1, 3, true, 3},  {7, 2, -4, false, 0}, {NAN, 0, 3, false, 0},  {-3, 2, 4, false, 3},
  };
  for (const Case& c : cases)
    EXPECT_EQ(NXGetDecimalPoints(c.Max, c.Min, c.Precision, c.SignificantOnly), c.Expected)
        << c.Max << " " << c.Min << " " << c.Precision;
  EXPECT_THROW(NXGetDecimalPoints(0.05, 0, 0x7FFFFFFF, false), ERangeError);
  struct RCase { const char* Text; int Precision; const char* Expected; };
  const RCase reduced[] = {
      {"1.2345E20", 2, "1.23E20"}, {"1.5E005", 4, "1.5E5"},   {"15E0007", 1, "15E7"},
      {"1.5E+005", 1, "1.5E+005"}, {"9.87654E-3", 0, "9.E-3"}, {"42", 2, "42"},
  };
  for (const RCase& c : reduced) EXPECT_EQ(NXReduceExponentPrecision(c.Text, c.Precision), c.Expected) << c.Text;
}

// From 1e-12 to 1e12 the labels keep `digits` significant digits of the range.
TEST(TickText, FixedLabelsOverTwentyFourDecadesAndScientificLabels) {
  for (int e = -12; e <= 12; ++e)
    for (double m : {1.5, 3.0, 7.5})
      for (std::uint32_t digits : {1u, 3u, 6u}) {
        const double range = m * std::pow(10.0, e);
        const int exponent = static_cast<int>(std::floor(std::log10(range)));
        // exponent + 1 integer digits; below 1 an extra decimal makes up for the leading zero.
        const int want = std::max(0, static_cast<int>(digits) - (exponent + 1));
        for (double value : {0.0, -range / 3, range * 0.77}) {
          char expectText[128];
          std::snprintf(expectText, sizeof expectText, "%.*f", want, value);
          EXPECT_EQ(NXGetScaleTickText(value, -range, 0, false, digits, false), expectText) << "digits " << digits;
        }
        // A fixed-precision scale shows exactly `digits` decimals whatever the range.
        const std::string fixed = NXGetScaleTickText(range, 0, range, true, digits, false);
        EXPECT_EQ(fixed.size() - fixed.find('.') - 1, digits) << fixed;
      }
  struct Case { double Value, Min, Max; bool Fixed; std::uint32_t Digits; bool Scientific; const char* Expected; };
  const Case cases[] = {
      {150000, 0, 1, false, 0, true, "1.50000000000000E+005"}, {-2.5e-12, 0, 1, true, 3, true, "-2.50E-012"},
      {0, 0, 1, true, 2, true, "0.0E+000"},                    {1e300, 0, 1, true, 1, true, "1E+300"},
      {123456, 0, 1, true, 4, true, "1.235E+005"},             {-7.25e12, 0, 1, false, 0, true, "-7.25000000000000E+012"},
      {12.5, 0, 10, false, 3, false, "12.5"},
      {12.5, 0, 100, false, 3, false, "12"},         // no decimal; an exact half rounds to even
      {-0.004, 0, 0.01, false, 2, false, "-0.0040"},  // an exact power of ten
      // Too large for fixed notation: exponent form, shortened on a fixed-precision scale.
      {2.5e20, 0, 1, true, 2, false, "2.50E+020"},   {2.5e20, 0, 1, false, 2, false, "2.50000000000000E+020"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(NXGetScaleTickText(c.Value, c.Min, c.Max, c.Fixed, c.Digits, c.Scientific), c.Expected) << c.Value;
  EXPECT_THROW(NXGetScaleTickText(1, 0, 1, false, 0x80000000u, false), ERangeError);
}

}  // namespace
}  // namespace nx
