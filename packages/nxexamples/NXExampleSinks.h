// NXExampleSinks: the ends of the package's graphs. Each sink has one real
// input pin "InputPin", counts what it receives (buffers, samples, the
// stream's sample rate) and writes its files into the run's output folder:
//   TNXScopeView     the last Samples samples as a picture (PNG) and a table
//                    (time,value);
//   TNXSpectrumView  the last spectrum received (from TNXSpectrum) as a
//                    picture and a table (frequency,dB);
//   TNXCsvWriter     every sample as "index,value", streamed during the run;
//   TNXWaveWriter    a mono WAV file at the stream's rate, streamed during
//                    the run.
//
// Threads. Data arrive on whatever thread sends them (a generator's clock
// thread); the files are finished in FlowFinish on the host's thread. What a
// sink keeps is guarded by its data lock; the published properties by the
// component's lock, always taken after the data lock, never before it.
//
// Output names. In a flow run (after FlowPrepare) every file goes into the
// run's output folder and FileName must name a file inside it (no absolute
// name, no ".."). A sink made in code and never prepared writes FileName as
// it stands. Numbers are written with "%.17g": two runs of the same graph
// write the same bytes.
//
// Write failures. Every write and close is checked; a file that cannot be
// written (no space left, a file-size limit, an I/O error) fails FlowFinish
// with one line "cannot write NAME: REASON", NAME being where the user looks
// for the file (in the run's result folder, not the staging folder the host
// writes into) and REASON the system's or the sound library's text. A failure
// met while the data stream in is kept and reported there.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "drawing/RGGDIPlusProperties.h"
#include "documents/NXGraphDocument.h"
#include "components/NXFlowNode.h"
#include "packages/nxexamples/NXExamplePlots.h"
#include "runtime/Zandor.Components.h"
#include "runtime/Zandor.TypeInfo.h"
#include "streams/NXStreamTypes.h"

typedef struct sf_private_tag SNDFILE;

namespace nx::examples {

// The common part of the sinks.
class TNXExampleSink : public TLockComponent, public INXPinOwner, public flow::INXFlowNode {
  NX_PERSISTENT(TNXExampleSink, TLockComponent)
 public:
  explicit TNXExampleSink(TComponent* AOwner);
  ~TNXExampleSink() override;
  static void DeclareProperties(TClassBuilder<TNXExampleSink>& P);

  std::string FileName() const { return ReadLocked(FFileName); }
  void SetFileName(const std::string& AValue) { SetNotify(FFileName, AValue); }

  TNXFTRealSinkPin* InputPin() const noexcept { return FInputPin.get(); }
  std::int32_t GetPinCount() const override { return 1; }
  TFTBasicPin* GetPin(std::int32_t AIndex) const override;

  // Checks FileName and takes the output folder; starts a new run (the
  // counts and what was kept start again).
  void FlowPrepare(const flow::TFlowRunContext& AContext) override;
  // Writes the files (Finish) and reports the counts.
  void FlowFinish(const flow::TFlowRunContext& AContext, flow::TFlowNodeReport& AReport) override;
  // What was received so far (a snapshot).
  std::int64_t Buffers() const;
  std::int64_t Samples() const;
  double StreamRate() const;

  // Closes the pin while the whole object exists.
  void BeforeDestruction() override;

 protected:
  // The hooks, each called with the data lock held. A new stream announced
  // with its rate (also after a stop: the same run goes on).
  virtual void StreamStarted(double ARate) {}
  virtual void Received(const double* AData, std::int32_t ACount) = 0;
  // Forget what was kept (a new run).
  virtual void Reset() {}
  // Write the files (FlowFinish); add their names to AReport.Files and
  // say something in AReport.Summary.
  virtual void Finish(flow::TFlowNodeReport& AReport) = 0;

  // Where a file of this name is written: in the output folder after
  // FlowPrepare, else the name as it stands. Data lock held.
  std::string OutputPath(const std::string& AName) const;
  // The name of an output file in messages: where the user will find it
  // (in the run's result folder) after FlowPrepare, else where it is
  // written. Data lock held.
  std::string ShownName(const std::string& AName) const;
  // Writes ABytes as the whole output file AName (parent folders are made);
  // Exception "cannot write SHOWN: REASON" when any part fails. Data lock
  // held.
  void WriteOutputFile(const std::string& AName, const std::string& ABytes) const;
  // FileName with its extension replaced (".png" -> ".csv").
  std::string SiblingName(const std::string& AExtension) const;
  // Ends deliveries; every concrete class calls it first in its destructor.
  void ClosePin();

  mutable std::mutex FDataLock;
  std::int64_t FBuffers = 0;
  std::int64_t FSamples = 0;
  double FRate = 0;

 private:
  bool Dispatch(const TIntfPtr<IFTNotifyOperation>& AOperation);
  std::string FFileName;
  std::string FOutputDir;  // data lock
  std::string FResultDir;  // data lock
  TFTPinPtr<TNXFTRealSinkPin> FInputPin;
};

// ---------------------------------------------------------------- CSV writer

class TNXCsvWriter : public TNXExampleSink {
  NX_PERSISTENT(TNXCsvWriter, TNXExampleSink)
 public:
  explicit TNXCsvWriter(TComponent* AOwner = nullptr);
  ~TNXCsvWriter() override;
  static void DeclareProperties(TClassBuilder<TNXCsvWriter>& P);

  // The most samples written (0: all); later ones are counted, not written.
  std::int64_t MaxSamples() const { return ReadLocked(FMaxSamples); }
  void SetMaxSamples(std::int64_t AValue) { SetNotifyMin(FMaxSamples, AValue, std::int64_t(0)); }

  // Opens the file (and writes the header) before the run, so that a name
  // that cannot be written ends the run before it starts.
  void FlowPrepare(const flow::TFlowRunContext& AContext) override;

 protected:
  void StreamStarted(double ARate) override;
  void Received(const double* AData, std::int32_t ACount) override;
  void Reset() override;
  void Finish(flow::TFlowNodeReport& AReport) override;

 private:
  void Open();
  void Flush();
  void Close();
  std::int64_t FMaxSamples = 0;
  std::FILE* FFile = nullptr;
  std::string FShown;     // the file open, as messages name it
  std::string FError;     // the first failure, reported by FlowFinish
  std::string FPending;   // lines not yet handed to the file
  std::int64_t FWritten = 0;
  bool FOpened = false;  // this run's file was made (or tried)
};

// ---------------------------------------------------------------- WAV writer

enum TNXWaveFormat : std::int32_t { wfPcm16, wfPcm24, wfFloat32, wfFloat64 };
NX_ENUM_NAMES(TNXWaveFormat, "wfPcm16", "wfPcm24", "wfFloat32", "wfFloat64")

class TNXWaveWriter : public TNXExampleSink {
  NX_PERSISTENT(TNXWaveWriter, TNXExampleSink)
 public:
  explicit TNXWaveWriter(TComponent* AOwner = nullptr);
  ~TNXWaveWriter() override;
  static void DeclareProperties(TClassBuilder<TNXWaveWriter>& P);

  TNXWaveFormat WaveFormat() const { return ReadLocked(FFormat); }
  void SetWaveFormat(TNXWaveFormat AValue) { SetNotify(FFormat, AValue); }

 protected:
  // The file is made at the first start, when the rate is known; a later
  // start (the stream stopped and went on) appends at the first rate.
  void StreamStarted(double ARate) override;
  void Received(const double* AData, std::int32_t ACount) override;
  void Reset() override;
  void Finish(flow::TFlowNodeReport& AReport) override;

 private:
  void Close();
  TNXWaveFormat FFormat = wfPcm16;
  SNDFILE* FFile = nullptr;
  std::string FShown;  // the file open, as messages name it
  std::string FError;
  std::int32_t FFileRate = 0;
  std::int64_t FFrames = 0;
  double FPeak = 0;
};

// ---------------------------------------------------------------- plots

// A sink that draws: picture size, title and drawing properties (trace pen
// "Pen", "GridPen", "Background" brush, "Font" for the labels).
class TNXPlotSink : public TNXExampleSink {
  NX_PERSISTENT(TNXPlotSink, TNXExampleSink)
 public:
  explicit TNXPlotSink(TComponent* AOwner);
  ~TNXPlotSink() override;
  static void DeclareProperties(TClassBuilder<TNXPlotSink>& P);

  std::int32_t Width() const { return ReadLocked(FWidth); }
  void SetWidth(std::int32_t AValue) { SetNotifyMin(FWidth, AValue, kMinSize); }
  std::int32_t Height() const { return ReadLocked(FHeight); }
  void SetHeight(std::int32_t AValue) { SetNotifyMin(FHeight, AValue, kMinSize); }
  std::string Title() const { return ReadLocked(FTitle); }
  void SetTitle(const std::string& AValue) { SetNotify(FTitle, AValue); }
  TRGGPPen* Pen() const noexcept { return FPen.get(); }
  TRGGPPen* GridPen() const noexcept { return FGridPen.get(); }
  TRGGPBrush* Background() const noexcept { return FBackground.get(); }
  TRGGPBrushFont* Font() const noexcept { return FFont.get(); }

  // A picture smaller than this has no room for its labels.
  static constexpr std::int32_t kMinSize = 64;
  static constexpr std::int32_t kMaxSize = 16384;

 protected:
  // Renders the plot (size, title and style filled in here) to FileName and
  // writes the table beside it (FileName with ".csv"); both go into AReport.
  struct TTable {
    std::string Header;
    const std::vector<double>* X;
    const std::vector<double>* Y;
  };
  void WritePlot(TPlot& APlot, const TTable& ATable, flow::TFlowNodeReport& AReport);

 private:
  std::int32_t FWidth = 800;
  std::int32_t FHeight = 400;
  std::string FTitle;
  std::unique_ptr<TRGGPPen> FPen;
  std::unique_ptr<TRGGPPen> FGridPen;
  std::unique_ptr<TRGGPBrush> FBackground;
  std::unique_ptr<TRGGPBrushFont> FFont;
};

// The last Samples samples of the stream against time.
class TNXScopeView : public TNXPlotSink {
  NX_PERSISTENT(TNXScopeView, TNXPlotSink)
 public:
  explicit TNXScopeView(TComponent* AOwner = nullptr);
  ~TNXScopeView() override;
  static void DeclareProperties(TClassBuilder<TNXScopeView>& P);

  // At least 2: a trace needs two points.
  std::int32_t SamplesShown() const { return ReadLocked(FSamplesShown); }
  void SetSamplesShown(std::int32_t AValue) { SetNotifyMin(FSamplesShown, AValue, std::int32_t(2)); }
  // The samples kept now, oldest first, and the stream index of the first.
  std::vector<double> Kept(std::int64_t* AFirstIndex = nullptr) const;

 protected:
  void StreamStarted(double ARate) override;
  void Received(const double* AData, std::int32_t ACount) override;
  void Reset() override;
  void Finish(flow::TFlowNodeReport& AReport) override;

 private:
  std::vector<double> KeptLocked() const;
  std::int32_t FSamplesShown = 2048;
  // The ring of the last samples: FRing[FNext] is the oldest once it is full.
  std::vector<double> FRing;
  std::size_t FNext = 0;
  std::size_t FFilled = 0;
  std::int64_t FStreamSamples = 0;  // since the stream started
};

// The last spectrum received: one buffer of bins 0 .. N/2 of an N-point
// transform, the stream's rate giving the bin spacing rate / N.
class TNXSpectrumView : public TNXPlotSink {
  NX_PERSISTENT(TNXSpectrumView, TNXPlotSink)
 public:
  explicit TNXSpectrumView(TComponent* AOwner = nullptr);
  ~TNXSpectrumView() override;
  static void DeclareProperties(TClassBuilder<TNXSpectrumView>& P);

  double MinDecibels() const { return ReadLocked(FMinDecibels); }
  void SetMinDecibels(double AValue) { SetNotify(FMinDecibels, AValue); }
  double MaxDecibels() const { return ReadLocked(FMaxDecibels); }
  void SetMaxDecibels(double AValue) { SetNotify(FMaxDecibels, AValue); }
  bool LogFrequency() const { return ReadLocked(FLogFrequency); }
  void SetLogFrequency(bool AValue) { SetNotify(FLogFrequency, AValue); }
  std::vector<double> LastSpectrum() const;

 protected:
  void Received(const double* AData, std::int32_t ACount) override;
  void Reset() override;
  void Finish(flow::TFlowNodeReport& AReport) override;

 private:
  double FMinDecibels = -120;
  double FMaxDecibels = 10;
  bool FLogFrequency = false;
  std::vector<double> FLast;
};

}  // namespace nx::examples
