// NXRealSink: deliveries to the hooks, the run's counts, the output files.
#include "components/NXRealSink.h"
#include "buffers/NXSimpleDataBuffer.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <thread>
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

namespace {

// Writes ABytes as the whole file APath; "cannot write SHOWN: REASON" on failure.
void WriteWholeFile(const std::string& APath, const std::string& AShown, const std::string& ABytes) {
  auto cannot = [&](int AError) { return Exception("cannot write " + AShown + ": " + std::strerror(AError)); };
  std::FILE* f = std::fopen(APath.c_str(), "wb");
  if (!f) throw cannot(errno);
  errno = 0;
  const bool written = std::fwrite(ABytes.data(), 1, ABytes.size(), f) == ABytes.size();
  const int writeError = errno;
  // Closing flushes what the stream still holds: it can fail on its own.
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed) throw cannot(!written && writeError ? writeError : errno);
}

thread_local TNXOutputWriters* tlWriters = nullptr;

}  // namespace

void TNXRealSink::WriteOutputFile(const std::string& AName, const std::string& ABytes) const {
  WriteWholeFile(MakeOutputPath(AName), ShownName(AName), ABytes);
}

void TNXRealSink::WriteOutputFileLater(const std::string& AName, std::function<std::string()> AMake) const {
  // The names are taken here, under the caller's data lock; the job reads
  // nothing of the sink.
  auto job = [path = MakeOutputPath(AName), shown = ShownName(AName), make = std::move(AMake)] {
    std::string bytes;
    try {
      bytes = make();
    } catch (const std::exception& e) {
      // A maker's own "cannot ..." line stands; anything else names the file.
      const std::string message = e.what();
      throw Exception(message.rfind("cannot ", 0) == 0 ? message : CannotWrite(shown, message));
    }
    WriteWholeFile(path, shown, bytes);
  };
  // Moved, not copied, into the queue: the job may hold a whole picture.
  TNXOutputWriters::Defer(this, std::move(job));
}

// ---------------------------------------------------------------- writers beside the caller

struct TNXOutputWriters::TState {
  struct TJob {
    std::size_t Index;
    const TComponent* Owner;
    std::function<void()> Work;
  };
  std::mutex Lock;
  std::condition_variable Changed;
  std::deque<TJob> Queue;     // lock
  std::size_t HandedOver = 0;  // lock
  std::size_t Busy = 0;        // lock: jobs being worked on
  bool Ending = false;         // lock
  std::vector<std::pair<std::size_t, TFailure>> Failures;  // lock
  std::vector<std::jthread> Helpers;                        // the owning thread's

  // Takes the head of the queue and runs it with the lock released; false
  // when the queue is empty.
  bool RunOne(std::unique_lock<std::mutex>& ALock) {
    if (Queue.empty()) return false;
    TJob job = std::move(Queue.front());
    Queue.pop_front();
    ++Busy;
    ALock.unlock();
    std::string failure;
    try {
      job.Work();
    } catch (const std::exception& e) {
      failure = e.what();
    } catch (...) {
      failure = "failed without a message";
    }
    job.Work = nullptr;  // what the job owned goes before the count says it is done
    ALock.lock();
    if (!failure.empty()) Failures.push_back({job.Index, TFailure{job.Owner, std::move(failure)}});
    --Busy;
    Changed.notify_all();
    return true;
  }
};

TNXOutputWriters::TNXOutputWriters() : F(std::make_unique<TState>()), FOuter(tlWriters) { tlWriters = this; }

TNXOutputWriters::~TNXOutputWriters() {
  Wait();
  {
    std::lock_guard guard(F->Lock);
    F->Ending = true;
  }
  F->Changed.notify_all();
  F->Helpers.clear();  // joins
  tlWriters = FOuter;
}

void TNXOutputWriters::Defer(const TComponent* AOwner, std::function<void()> AJob) {
  TNXOutputWriters* w = tlWriters;
  if (!w) return AJob();
  TState* s = w->F.get();
  {
    std::lock_guard guard(s->Lock);
    s->Queue.push_back(TState::TJob{s->HandedOver++, AOwner, std::move(AJob)});
    // One helper per core beside the caller, made when there is work for it.
    const std::size_t cores = std::max(2u, std::thread::hardware_concurrency());
    if (s->Helpers.size() < std::min<std::size_t>(cores - 1, s->Queue.size() + s->Busy))
      s->Helpers.emplace_back([s] {
        std::unique_lock lock(s->Lock);
        for (;;) {
          s->Changed.wait(lock, [s] { return s->Ending || !s->Queue.empty(); });
          if (s->Queue.empty()) return;  // ending
          s->RunOne(lock);
        }
      });
  }
  s->Changed.notify_one();
}

std::vector<TNXOutputWriters::TFailure> TNXOutputWriters::Wait() {
  std::unique_lock lock(F->Lock);
  while (F->RunOne(lock)) {
  }
  F->Changed.wait(lock, [this] { return F->Queue.empty() && F->Busy == 0; });
  auto& failures = F->Failures;
  std::sort(failures.begin(), failures.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<TFailure> out;
  for (auto& f : failures) out.push_back(std::move(f.second));
  failures.clear();
  return out;
}

std::string TNXRealSink::SiblingName(const std::string& AExtension) const {
  const std::string name = FileName();
  std::string sibling = fs::path(name).replace_extension(AExtension).string();
  return sibling == name ? name + AExtension : sibling;
}

}  // namespace nx
