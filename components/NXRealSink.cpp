// NXRealSink: deliveries to the hooks, the run's counts, the output files.
#include "components/NXRealSink.h"
#include "buffers/NXSimpleDataBuffer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace nx {

NX_PERSISTENT_IMPL(TNXRealSink)

namespace fs = std::filesystem;

TNXRealSink::TNXRealSink(TComponent* AOwner) : TLockComponent(AOwner) {
  InitProperties(this);
  FInputPin->SetGenericDispatch(
      [this](TFTBasicPin*, const TGUID&, const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState) {
        return Dispatch(AOperation);
      });
}

void TNXRealSink::DeclareProperties(TClassBuilder<TNXRealSink>& P) {
  P.Prop<&TNXRealSink::FFileName, &TNXRealSink::SetFileName>("FileName", std::string());
}

void TNXRealSink::BeforeDestruction() {
  // Waits for a delivery still inside the pin: the hooks it runs need the
  // derived part, which is whole until this returns.
  FInputPin->Close();
  TLockComponent::BeforeDestruction();
}

bool TNXRealSink::Dispatch(const TIntfPtr<IFTNotifyOperation>& AOperation) {
  if (const auto* supplied = AOperation->As<TFTTypedSuppliedDataOperation>()) {
    const TIntfPtr<INXData>& data = supplied->GetValue();
    if (!data) return false;
    // A real buffer is read where it is; another kind is converted.
    TBuffer real;
    if (!Supports(data, real)) real = TNXRealBuffer::MakeUniversal(data);
    std::lock_guard guard(FDataLock);
    ++FBuffers;
    FSamples += real->GetSize();
    if (real->GetSize() > 0) OnProcess(real);
    return true;
  }
  if (const auto* start = AOperation->As<TFTStartSampleRateOperation>()) {
    std::lock_guard guard(FDataLock);
    if (FStarted) OnStop();
    FStarted = true;
    FRate = start->GetSampleRate();
    OnStart(FRate);
    return true;
  }
  if (AOperation->IsType<TFTStopOperation>()) {
    std::lock_guard guard(FDataLock);
    if (FStarted) {
      FStarted = false;
      OnStop();
    }
  }
  return false;
}

void TNXRealSink::FlowPrepare(const flow::TFlowRunContext& AContext) {
  const std::string name = FileName();
  const fs::path path(name);
  bool inside = !name.empty() && !path.is_absolute() && path.has_filename();
  for (const fs::path& part : path) inside = inside && part != "..";
  if (!inside) throw Exception(Who() + ": FileName \"" + name + "\" must name a file inside the output folder");
  std::lock_guard guard(FDataLock);
  FOutputDir = AContext.OutputDir.empty() ? "." : AContext.OutputDir;
  FResultDir = AContext.ResultDir;
  FBuffers = FSamples = 0;
  FRate = 0;
  OnReset();
}

void TNXRealSink::FlowFinish(const flow::TFlowRunContext&, flow::TFlowNodeReport& AReport) {
  std::lock_guard guard(FDataLock);
  AReport.IsSink = true;
  AReport.Buffers = FBuffers;
  AReport.Samples = FSamples;
  AReport.SampleRate = FRate;
  OnFinish(AReport);
}

std::int64_t TNXRealSink::Buffers() const {
  std::lock_guard guard(FDataLock);
  return FBuffers;
}
std::int64_t TNXRealSink::Samples() const {
  std::lock_guard guard(FDataLock);
  return FSamples;
}
double TNXRealSink::StreamRate() const {
  std::lock_guard guard(FDataLock);
  return FRate;
}

// ---------------------------------------------------------------- files

std::string TNXRealSink::OutputPath(const std::string& AName) const {
  return FOutputDir.empty() ? AName : (fs::path(FOutputDir) / AName).string();
}

std::string TNXRealSink::MakeOutputPath(const std::string& AName) const {
  const std::string path = OutputPath(AName);
  std::error_code ec;  // a folder that cannot be made fails the opening, with its reason
  if (fs::path(path).has_parent_path()) fs::create_directories(fs::path(path).parent_path(), ec);
  return path;
}

std::string TNXRealSink::ShownName(const std::string& AName) const {
  return FResultDir.empty() ? OutputPath(AName) : (fs::path(FResultDir) / AName).string();
}

std::string TNXRealSink::CannotWrite(const std::string& AShown, const std::string& AReason) {
  return "cannot write " + AShown + ": " + AReason;
}

std::string TNXRealSink::Who() const { return Name().empty() ? ClassName() : ClassName() + " " + Name(); }

void TNXRealSink::WriteOutputFile(const std::string& AName, const std::string& ABytes) const {
  const std::string path = MakeOutputPath(AName);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw Exception(CannotWrite(ShownName(AName), std::strerror(errno)));
  errno = 0;
  const bool written = std::fwrite(ABytes.data(), 1, ABytes.size(), f) == ABytes.size();
  const int writeError = errno;
  // Closing flushes what the stream still holds: it can fail on its own.
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed)
    throw Exception(CannotWrite(ShownName(AName), std::strerror(!written && writeError ? writeError : errno)));
}

std::string TNXRealSink::SiblingName(const std::string& AExtension) const {
  const std::string name = FileName();
  std::string sibling = fs::path(name).replace_extension(AExtension).string();
  return sibling == name ? name + AExtension : sibling;
}

}  // namespace nx
