// Tests of link format converters: a converter is put between two pins that
// share no stream type, converts what it should, passes everything else
// (both ways) unchanged with the receivers' results, and goes with its link.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "nxruntime.h"

namespace nx {
namespace {

constexpr TGUID kInts = TGUID::Parse("{1A000000-0000-0000-0000-0000000000A1}");
constexpr TGUID kReals = TGUID::Parse("{1B000000-0000-0000-0000-0000000000B2}");
constexpr TGUID kOther = TGUID::Parse("{1C000000-0000-0000-0000-0000000000C3}");

std::atomic<int> gLiveConverters{0};

// Integer values in, real values out.
class TIntToRealConverter : public TFTBasicFormatConverter {
 public:
  TIntToRealConverter() : TFTBasicFormatConverter({kInts}, {kReals}) { ++gLiveConverters; }
  ~TIntToRealConverter() override { --gLiveConverters; }

 protected:
  TIntfPtr<IFTNotifyOperation> ConvertOperation(const TGUID& AIn, const TGUID& AOut,
                                                const TIntfPtr<IFTNotifyOperation>& AOperation) override {
    EXPECT_EQ(AIn, kInts);
    EXPECT_EQ(AOut, kReals);
    if (auto* v = AOperation->As<TFTSuppliedIntegerOperation>()) return TFTSuppliedRealOperation::Make(v->GetValue());
    return AOperation;
  }
};

const TFTFormatConverterClass kIntToReal = FTConverterClass<TIntToRealConverter>("TIntToRealConverter");

class TypeConvertersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Source.AddType(kInts, [this](TFTBasicPin* p, IFTStream*, const TGUID&, const TIntfPtr<IFTNotifyOperation>& op,
                                 TFTNotifyState st) {
      EXPECT_EQ(p, &Sink);  // the component's pin, not the converter's
      EXPECT_TRUE(st.Contains(nsUpstream));
      Upstream.push_back(op);
      return true;
    });
    Sink.AddType(kReals, [this](TFTBasicPin* p, IFTStream* s, const TGUID& id, const TIntfPtr<IFTNotifyOperation>& op,
                                TFTNotifyState st) {
      EXPECT_EQ(p, &Source);
      EXPECT_EQ(s, Sink.GetStream());
      EXPECT_EQ(id, kReals);
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

TEST_F(TypeConvertersTest, WithoutAConverterThePinsStayApart) {
  EXPECT_FALSE(TFTLinker::CanConnect(Source, Sink));
  EXPECT_FALSE(Source.Connect(&Sink));
  EXPECT_EQ(gLiveConverters.load(), 0);
}

TEST_F(TypeConvertersTest, AConverterBridgesTheLink) {
  const std::size_t before = FTRegisteredTypeConverters().size();  // the package's own come first
  FTRegisterTypeConverters({kIntToReal});
  FTRegisterTypeConverters({kIntToReal});  // once only
  const std::vector<std::string> names = FTRegisteredTypeConverters();
  ASSERT_EQ(names.size(), before + 1);
  EXPECT_EQ(names.back(), "TIntToRealConverter");
  EXPECT_EQ(gLiveConverters.load(), 0);  // the prototype is gone
  EXPECT_TRUE(TFTLinker::CanConnect(Source, Sink));
  ASSERT_TRUE(Sink.Connect(&Source));
  EXPECT_EQ(gLiveConverters.load(), 1);
  EXPECT_EQ(Sink.GetConnectedID(), kInts);
  EXPECT_EQ(Sink.GetDownStreamID(), kReals);
  EXPECT_EQ(Source.GetConnectedPins(), std::vector<TFTBasicPin*>{&Sink});
  EXPECT_TRUE(Source.IsConnectedByIDs({kInts}));

  // A value is converted; the receiver's answer comes back through the converter.
  for (bool answer : {true, false}) {
    Answer = answer;
    EXPECT_EQ(Source.Notify(TFTSuppliedIntegerOperation::Make(3)), answer);
  }
  ASSERT_EQ(Received.size(), 2u);
  ASSERT_NE(Received[0]->As<TFTSuppliedRealOperation>(), nullptr);
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
  EXPECT_FALSE(Sink.IsConnected());
}

TEST_F(TypeConvertersTest, AConverterGoesWithAPinThatGoes) {
  FTRegisterTypeConverters({kIntToReal});
  {
    TFTDispatchSinkPin other;
    other.AddType(kReals, [](auto...) { return true; });
    ASSERT_TRUE(Source.Connect(&other));
    EXPECT_EQ(gLiveConverters.load(), 1);
  }
  EXPECT_EQ(gLiveConverters.load(), 0);
  EXPECT_FALSE(Source.IsConnected());
}

TEST_F(TypeConvertersTest, ADirectTypeIsPreferredToAConverter) {
  FTRegisterTypeConverters({kIntToReal});
  Sink.AddType(kInts, [](auto...) { return true; });
  ASSERT_TRUE(Source.Connect(&Sink));
  EXPECT_EQ(gLiveConverters.load(), 0);
  EXPECT_EQ(Sink.GetDownStreamID(), kInts);
  // And a converter is used only when its kinds fit both pins.
  TFTDispatchSinkPin unrelated;
  unrelated.AddType(kOther, nullptr);
  EXPECT_FALSE(Source.Connect(&unrelated));
}

}  // namespace
}  // namespace nx
