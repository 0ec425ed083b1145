// NXRealSink: the authoring base of a component at the end of a graph. It
// has one real input pin "InputPin", counts what arrives (buffers, samples,
// the stream's sample rate) and takes part in a flow run (NXFlowNode.h):
// FlowPrepare starts a run, FlowFinish writes the files and the report. Its
// author meets it at the kit's three moments and two of the run's:
//
//   OnStart(ASampleRate)   a stream starts (a start while one runs stops
//                          that one first: OnStart and OnStop alternate;
//                          the counts go on: a run may hold several streams);
//   OnProcess(AInput)      one buffer received (a buffer of no samples is
//                          counted, not handed on);
//   OnStop()               the stream stopped;
//   OnReset()              a flow run begins: forget what the last one kept;
//   OnFinish(AReport)      the run ended: write the files, add their names to
//                          AReport.Files and say something in AReport.Summary.
//
// The rule is the kit's: the hooks never run at the same time as each other
// (each runs with the data lock held), the first three on the stream's
// thread, the last two on the host's; they read published properties with
// ReadLocked. The data lock comes first, the component's lock (ReadLocked)
// after it, never the other way round. Deleting a sink closes its pin
// before any destructor runs: no hook runs once delete has begun, and a
// sink needs a destructor only for resources of its own (an open file).
//
// Output names. After FlowPrepare every file goes into the run's output
// folder and FileName must name a file inside it (no absolute name, no
// ".."); a sink made in code and never prepared writes FileName as it
// stands. A file that cannot be written fails with one line
// "cannot write NAME: REASON", NAME being where the user looks for the file
// (the run's result folder, not the staging folder the host writes into)
// and REASON the system's (or a file library's) text.
//
// Files written beside the finishing thread. While a TNXOutputWriters lives
// on a thread, WriteOutputFileLater on that thread hands the making of a
// file's bytes and the writing to helper threads and returns at once;
// Wait joins them. A host that finishes its sinks one after the other then
// compresses one sink's picture while the next sink draws its own. Without
// one, WriteOutputFileLater writes at once, as WriteOutputFile.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "components/NXFlowNode.h"
#include "components/NXPinOwner.h"
#include "runtime/Zandor.Components.h"
#include "runtime/Zandor.Function.h"
#include "streams/NXStreamTypes.h"

namespace nx {

class TNXOutputWriters {
 public:
  // A file that could not be made or written: the component that handed it
  // over and its "cannot write ..." line.
  struct TFailure {
    const TComponent* Owner;
    std::string Message;
  };
  // Installs itself on the calling thread (one at a time per thread).
  TNXOutputWriters();
  // Waits for what is still handed over (its failures are dropped: call Wait
  // to see them) and ends the helpers.
  ~TNXOutputWriters();
  TNXOutputWriters(const TNXOutputWriters&) = delete;
  TNXOutputWriters& operator=(const TNXOutputWriters&) = delete;

  // Waits until every file handed over so far is written (the calling
  // thread works through the queue too); their failures, in the order the
  // files were handed over.
  std::vector<TFailure> Wait();
  // Hands AJob over to the writers of the calling thread, or runs it at
  // once when the thread has none (its exceptions then reach the caller).
  static void Defer(const TComponent* AOwner, std::function<void()> AJob);

 private:
  struct TState;
  std::unique_ptr<TState> F;
  TNXOutputWriters* FOuter;  // the calling thread's writers before these
};

class TNXRealSink : public TLockComponent, public INXPinOwner, public flow::INXFlowNode {
  NX_PERSISTENT_DECL(TNXRealSink, TLockComponent)
 public:
  explicit TNXRealSink(TComponent* AOwner);
  static void DeclareProperties(TClassBuilder<TNXRealSink>& P);

  std::string FileName() const { return ReadLocked(FFileName); }
  void SetFileName(const std::string& AValue) { SetNotify(FFileName, AValue); }
  TNXFTRealSinkPin* InputPin() const noexcept { return FInputPin.get(); }

  // Checks FileName and takes the output folder; the counts start again and
  // OnReset forgets what was kept.
  void FlowPrepare(const flow::TFlowRunContext& AContext) override;
  // Reports the counts, then OnFinish.
  void FlowFinish(const flow::TFlowRunContext& AContext, flow::TFlowNodeReport& AReport) override;
  // What was received so far (a snapshot).
  std::int64_t Buffers() const;
  std::int64_t Samples() const;
  double StreamRate() const;

  void BeforeDestruction() override;

 protected:
  using TBuffer = TIntfPtr<INXRealBuffer>;
  virtual void OnStart(double ASampleRate) { (void)ASampleRate; }
  virtual void OnProcess(const TBuffer& AInput) = 0;
  virtual void OnStop() {}
  virtual void OnReset() {}
  virtual void OnFinish(flow::TFlowNodeReport& AReport) = 0;

  // The file helpers, data lock held. Where a file of this name is written:
  // in the output folder after FlowPrepare, else the name as it stands.
  std::string OutputPath(const std::string& AName) const;
  // The same, with the folders it goes into made.
  std::string MakeOutputPath(const std::string& AName) const;
  // The name of an output file in messages.
  std::string ShownName(const std::string& AName) const;
  // Writes ABytes as the whole output file AName; Exception
  // "cannot write SHOWN: REASON" when any part fails.
  void WriteOutputFile(const std::string& AName, const std::string& ABytes) const;
  // The same with the bytes that AMake returns, made and written on a helper
  // thread when the calling thread has TNXOutputWriters, else at once. AMake
  // owns what it reads: it may run after this sink has gone on.
  void WriteOutputFileLater(const std::string& AName, std::function<std::string()> AMake) const;
  // FileName with its extension replaced (".png" -> ".csv").
  std::string SiblingName(const std::string& AExtension) const;
  // "cannot write AShown: AReason".
  static std::string CannotWrite(const std::string& AShown, const std::string& AReason);
  // The component in messages: its class and name, or the class alone.
  std::string Who() const;

  mutable std::mutex FDataLock;
  // Data lock.
  std::int64_t FBuffers = 0;
  std::int64_t FSamples = 0;
  double FRate = 0;

 private:
  bool Dispatch(const TIntfPtr<IFTNotifyOperation>& AOperation);
  std::string FFileName;
  std::string FOutputDir;  // data lock
  std::string FResultDir;  // data lock
  bool FStarted = false;   // data lock: OnStart ran, OnStop is due
  TNXOwnedPin<TNXFTRealSinkPin> FInputPin{this, "InputPin"};
};

}  // namespace nx
