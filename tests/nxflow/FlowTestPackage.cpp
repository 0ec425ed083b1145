// A small component package for the nxflow tests: it registers its classes when loaded, removes them unloaded.
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "components/NXCommonGen.h"
#include "buffers/NXSimpleDataBuffer.h"
#include "components/NXComponentPackage.h"
#include "components/NXComponentPalette.h"
#include "documents/NXGraphDocument.h"
#include "components/NXFlowNode.h"
#include "processing/RGProcessingManager.h"
#include "runtime/Zandor.Components.h"
#include "runtime/Zandor.TypeInfo.h"
#include "streams/NXStreamTypes.h"

namespace flowtest {
using namespace nx;

enum TFlowShape : std::int32_t { fsFlat, fsRamp, fsSine };
NX_ENUM_NAMES(TFlowShape, "fsFlat", "fsRamp", "fsSine")

// A node with a real sink and source pin and three kinds of property.
class TFlowNode : public TComponent, public INXPinOwner {
  NX_PERSISTENT(TFlowNode, TComponent)
 public:
  explicit TFlowNode(TComponent* AOwner) : TComponent(AOwner) { InitProperties(this); }
  static void DeclareProperties(TClassBuilder<TFlowNode>& P) {
    P.Prop<&TFlowNode::FGain>("Gain", 1.0);
    P.Prop<&TFlowNode::FOrder, &TFlowNode::SetOrder>("Order", std::int32_t(4)).Min(std::int32_t(1)).Max(std::int32_t(64));
    P.Prop<&TFlowNode::FShape>("Shape", fsFlat);
  }
  void SetOrder(std::int32_t AValue) { SetNotifyMin(FOrder, AValue, std::int32_t(1)); }
  std::int32_t GetPinCount() const override { return 2; }
  TFTBasicPin* GetPin(std::int32_t AIndex) const override {
    return AIndex == 0 ? static_cast<TFTBasicPin*>(&FIn) : static_cast<TFTBasicPin*>(&FOut);
  }

 private:
  double FGain = 1.0;
  std::int32_t FOrder = 4;
  TFlowShape FShape = fsFlat;
  mutable TNXFTRealSinkPin FIn{"In"};
  mutable TNXFTRealSourcePin FOut{"Out"};
};

// A container for the nodes of a graph.
class TFlowGroup : public TComponent {
  NX_PERSISTENT(TFlowGroup, TComponent)
 public:
  explicit TFlowGroup(TComponent* AOwner) : TComponent(AOwner) { InitProperties(this); }
  static void DeclareProperties(TClassBuilder<TFlowGroup>&) {}
};

// A generator of the running sample index (0, 1, 2 ... across buffers).
class TFlowRamp : public TNXCommonRealGen {
  NX_PERSISTENT(TFlowRamp, TNXCommonRealGen)
 public:
  explicit TFlowRamp(TComponent* AOwner) : TNXCommonRealGen(AOwner) { InitProperties(this); }
  static void DeclareProperties(TClassBuilder<TFlowRamp>&) {}

 protected:
  void IntGenerate(TIntfPtr<INXDataBuffer>& ABuffer, bool&, bool&) override {
    INXRealBuffer* real = RealOf(ABuffer);
    double* data = real->Write();
    for (std::int32_t i = 0; i < real->GetSize(); ++i) data[i] = static_cast<double>(FNext++);
  }

 private:
  std::int64_t FNext = 0;
};

// Keeps what arrives and writes it as text at the end; FailPrepare and FailFinish make it fail, a stream
// faster than MaxRate (0: any) is a fault, FinishDelay (ms) makes the writing slow. Its counts are live readings.
class TFlowRecorder : public TComponent,
                      public INXPinOwner,
                      public nx::flow::INXFlowNode,
                      public nx::flow::INXFlowReadings {
  NX_PERSISTENT(TFlowRecorder, TComponent)
 public:
  explicit TFlowRecorder(TComponent* AOwner) : TComponent(AOwner) {
    InitProperties(this);
    FIn->SetGenericDispatch([this](TFTBasicPin*, const TGUID&, const TIntfPtr<IFTNotifyOperation>& op, TFTNotifyState) {
      std::lock_guard g(FLock);
      if (auto* r = op->As<TFTStartSampleRateOperation>()) {
        FRate = r->GetSampleRate();
        if (FMaxRate > 0 && FRate > FMaxRate) FFault = Name() + ": rate " + std::to_string(FRate) + " is above MaxRate";
      }
      if (auto* d = op->As<TFTTypedSuppliedDataOperation>()) {
        const auto buffer = TNXRealBuffer::MakeUniversal(d->GetValue());
        const double* x = buffer->Read();
        FSamples.insert(FSamples.end(), x, x + buffer->GetSize());
        ++FBuffers;
      }
      return true;
    });
  }
  static void DeclareProperties(TClassBuilder<TFlowRecorder>& P) {
    P.Prop<&TFlowRecorder::FFileName>("FileName", std::string("recorded.txt"));
    P.Prop<&TFlowRecorder::FFailPrepare>("FailPrepare", false);
    P.Prop<&TFlowRecorder::FFailFinish>("FailFinish", false);
    P.Prop<&TFlowRecorder::FMaxRate>("MaxRate", 0.0);
    P.Prop<&TFlowRecorder::FFinishDelay>("FinishDelay", std::int32_t(0));
  }
  std::string FlowFault() const override {
    std::lock_guard g(FLock);
    return FFault;
  }
  std::int32_t GetPinCount() const override { return 1; }
  TFTBasicPin* GetPin(std::int32_t) const override { return FIn.get(); }
  void FlowReadings(std::vector<nx::flow::TFlowReading>& AOut) const override {
    std::lock_guard g(FLock);
    AOut.push_back({"Buffers", FBuffers});
    AOut.push_back({"Samples", static_cast<std::int64_t>(FSamples.size())});
  }
  void FlowPrepare(const nx::flow::TFlowRunContext&) override {
    if (FFailPrepare) throw Exception("cannot prepare (asked to fail)");
  }
  void FlowFinish(const nx::flow::TFlowRunContext& AContext, nx::flow::TFlowNodeReport& AReport) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(FFinishDelay));
    std::lock_guard g(FLock);
    if (FFailFinish) throw Exception("cannot write (asked to fail)");
    std::FILE* f = std::fopen(AContext.OutputFile(FFileName).c_str(), "wb");
    if (!f) throw Exception("cannot write " + FFileName);
    for (double v : FSamples) std::fprintf(f, "%.17g\n", v);
    std::fclose(f);
    AReport.IsSink = true;
    AReport.Buffers = FBuffers;
    AReport.Samples = static_cast<std::int64_t>(FSamples.size());
    AReport.SampleRate = FRate;
    AReport.Files = {FFileName};
  }

 private:
  std::string FFileName = "recorded.txt";
  bool FFailPrepare = false, FFailFinish = false;
  double FMaxRate = 0;
  std::int32_t FFinishDelay = 0;
  std::string FFault;
  mutable std::mutex FLock;
  std::vector<double> FSamples;
  std::int64_t FBuffers = 0;
  double FRate = 0;
  TFTPinPtr<TNXFTRealSinkPin> FIn{FTMakePin<TNXFTRealSinkPin>("In")};
};


}  // namespace flowtest

NX_PACKAGE("flowtestpkg", "1.0", flowtest::TFlowNode, flowtest::TFlowGroup, flowtest::TFlowRamp, flowtest::TFlowRecorder)
// The group stands in no category; the entry for a class of another
// package is ignored by the loader.
NX_PACKAGE_PALETTE(NX_PALETTE_ENTRY(flowtest::TFlowNode, "Test nodes", "A node with pins and no stream"),
                   NX_PALETTE_ENTRY(flowtest::TFlowRamp, "Generators", "The running sample index 0, 1, 2 ..."),
                   NX_PALETTE_ENTRY(flowtest::TFlowRecorder, "Test nodes", "Records what arrives"),
                   NX_PALETTE_ENTRY(nx::TRGProcessingManager, "Test nodes", "Not this package's class"))
