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
// The common part (the input, the counts, the output folder, the locking
// rule and the messages of a file that cannot be written) is the library's
// TNXRealSink. Numbers are written with "%.17g": two runs of the same graph
// write the same bytes. A failure met while the data stream in is kept and
// reported by FlowFinish.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "components/NXFlowDisplay.h"
#include "components/NXRealSink.h"
#include "drawing/RGGDIPlusProperties.h"
#include "packages/nxexamples/NXExamplePlots.h"
#include "runtime/Zandor.TypeInfo.h"

typedef struct sf_private_tag SNDFILE;

namespace nx::examples {

// ---------------------------------------------------------------- CSV writer

class TNXCsvWriter : public TNXRealSink {
  NX_PERSISTENT(TNXCsvWriter, TNXRealSink)
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
  void OnStart(double ASampleRate) override;
  void OnProcess(const TBuffer& AInput) override;
  void OnReset() override;
  void OnFinish(flow::TFlowNodeReport& AReport) override;

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

class TNXWaveWriter : public TNXRealSink {
  NX_PERSISTENT(TNXWaveWriter, TNXRealSink)
 public:
  explicit TNXWaveWriter(TComponent* AOwner = nullptr);
  ~TNXWaveWriter() override;
  static void DeclareProperties(TClassBuilder<TNXWaveWriter>& P);

  TNXWaveFormat WaveFormat() const { return ReadLocked(FFormat); }
  void SetWaveFormat(TNXWaveFormat AValue) { SetNotify(FFormat, AValue); }

 protected:
  // The file is made at the first start, when the rate is known; a later
  // start (the stream stopped and went on) appends at the first rate.
  void OnStart(double ASampleRate) override;
  void OnProcess(const TBuffer& AInput) override;
  void OnReset() override;
  void OnFinish(flow::TFlowNodeReport& AReport) override;

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
//
// While the graph runs the sink is also a live display (nxflow serve): the
// same picture as the file, drawn whenever data arrived, with a read-out of
// the trace under the pointer, the wheel zooming the X axis about the pointer,
// a drag with the left button panning it, and a double click or the right
// button showing the whole range again.
class TNXPlotSink : public TNXRealSink, public flow::INXFlowDisplay {
  NX_PERSISTENT(TNXPlotSink, TNXRealSink)
 public:
  explicit TNXPlotSink(TComponent* AOwner);
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

  // Asks the host to open the plot's font while the streams run.
  void FlowPrepare(const flow::TFlowRunContext& AContext) override;

  std::uint64_t DisplayVersion() const override { return FVersion.load(std::memory_order_relaxed); }
  std::string DisplayPicture(std::int32_t AMaxWidth) override;
  std::string DisplayMouse(const IFTNotifyOperation& AOperation, std::int32_t AMaxWidth) override;

 protected:
  // The plot of what was received (size, title and style are filled in
  // later); called with the data lock held.
  virtual TPlot MakePlot() const = 0;
  // Data arrived: the live picture is to be drawn again.
  void Changed() noexcept { FVersion.fetch_add(1, std::memory_order_relaxed); }

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

  // The live plot: MakePlot under the data lock, then the size (no wider
  // than AMaxWidth), the title and the part of the X axis shown.
  TPlot LivePlot(std::int32_t AMaxWidth);
  TPlotStyle Style() const { return {FPen.get(), FGridPen.get(), FBackground.get(), FFont.get()}; }
  std::atomic<std::uint64_t> FVersion{0};
  // The part of the X axis shown, as fractions of the whole range (of its
  // logarithm on a logarithmic axis), and a drag in progress.
  std::mutex FViewLock;
  double FViewLow = 0, FViewHigh = 1;
  bool FDragging = false;
  double FDragFraction = 0;
};

// The last Samples samples of the stream against time.
class TNXScopeView : public TNXPlotSink {
  NX_PERSISTENT(TNXScopeView, TNXPlotSink)
 public:
  explicit TNXScopeView(TComponent* AOwner = nullptr);
  static void DeclareProperties(TClassBuilder<TNXScopeView>& P);

  // At least 2: a trace needs two points.
  std::int32_t SamplesShown() const { return ReadLocked(FSamplesShown); }
  void SetSamplesShown(std::int32_t AValue) { SetNotifyMin(FSamplesShown, AValue, std::int32_t(2)); }
  // The samples kept now, oldest first, and the stream index of the first.
  std::vector<double> Kept(std::int64_t* AFirstIndex = nullptr) const;

 protected:
  void OnStart(double ASampleRate) override;
  void OnProcess(const TBuffer& AInput) override;
  void OnReset() override;
  void OnFinish(flow::TFlowNodeReport& AReport) override;
  TPlot MakePlot() const override;

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
  static void DeclareProperties(TClassBuilder<TNXSpectrumView>& P);

  double MinDecibels() const { return ReadLocked(FMinDecibels); }
  void SetMinDecibels(double AValue) { SetNotify(FMinDecibels, AValue); }
  double MaxDecibels() const { return ReadLocked(FMaxDecibels); }
  void SetMaxDecibels(double AValue) { SetNotify(FMaxDecibels, AValue); }
  bool LogFrequency() const { return ReadLocked(FLogFrequency); }
  void SetLogFrequency(bool AValue) { SetNotify(FLogFrequency, AValue); }
  std::vector<double> LastSpectrum() const;

 protected:
  void OnProcess(const TBuffer& AInput) override;
  void OnReset() override;
  void OnFinish(flow::TFlowNodeReport& AReport) override;
  TPlot MakePlot() const override;

 private:
  double FMinDecibels = -120;
  double FMaxDecibels = 10;
  bool FLogFrequency = false;
  // The last spectrum received, held rather than copied: a spectrum stream
  // brings a whole frame per buffer, and only the last one is shown.
  TBuffer FLast;
  std::span<const double> LastValues() const;
};

}  // namespace nx::examples
