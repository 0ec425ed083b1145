// NXExampleSinks: scope and spectrum pictures, CSV and WAV writers.
#include "packages/nxexamples/NXExampleSinks.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

#include "buffers/NXSimpleDataBuffer.h"
#include "streams/NXMouseOperations.h"
#include "packages/nxexamples/NXExamplesPackage.h"
#include "packages/nxexamples/NXExampleSoundLib.h"
#include "runtime/SysUtils.h"

namespace nx::examples {

namespace {

// Appends "%.17g" of AValue (the shortest text that reads back the same
// double is not what "%.17g" writes; this is exactly what it writes).
void AppendNumber(std::string& AOut, double AValue) {
  char text[40];
  const auto r = std::to_chars(text, text + sizeof text, AValue, std::chars_format::general, 17);
  AOut.append(text, r.ptr);
}
void AppendNumber(std::string& AOut, std::int64_t AValue) {
  char text[24];
  const auto r = std::to_chars(text, text + sizeof text, AValue);
  AOut.append(text, r.ptr);
}

// A two-column table: the header line, then "x,y" per row.
std::string TableText(const std::string& AHeader, const std::vector<double>& AX, const std::vector<double>& AY) {
  std::string text = AHeader + "\n";
  text.reserve(text.size() + AX.size() * 48);
  for (std::size_t i = 0; i < AX.size() && i < AY.size(); ++i) {
    AppendNumber(text, AX[i]);
    text += ',';
    AppendNumber(text, AY[i]);
    text += '\n';
  }
  return text;
}

// Why the sound library failed on AFile (null: at opening): a system error
// as the system words it (AErrno, taken right after the failing call), else
// the library's own text.
std::string SoundFileReason(SNDFILE* AFile, int AErrno) {
  const TSoundLib& lib = *SoundLib();
  if (lib.sf_error(AFile) == SF_ERR_SYSTEM && AErrno != 0) return std::strerror(AErrno);
  return lib.sf_strerror(AFile);
}

std::string Decibels(double APower) { return Format("%.2f", 10 * std::log10(std::max(APower, 1e-30))); }

}  // namespace

// ---------------------------------------------------------------- CSV writer

TNXCsvWriter::TNXCsvWriter(TComponent* AOwner) : TNXRealSink(AOwner) { InitProperties(this); }

TNXCsvWriter::~TNXCsvWriter() {
  std::lock_guard guard(FDataLock);
  Close();
}

void TNXCsvWriter::DeclareProperties(TClassBuilder<TNXCsvWriter>& P) {
  P.Republish("FileName", std::string("samples.csv"));
  P.Prop<&TNXCsvWriter::FMaxSamples, &TNXCsvWriter::SetMaxSamples>("MaxSamples", std::int64_t(0))
      .Min(std::int64_t(0));
}

void TNXCsvWriter::FlowPrepare(const flow::TFlowRunContext& AContext) {
  TNXRealSink::FlowPrepare(AContext);
  std::lock_guard guard(FDataLock);
  Open();
  if (!FError.empty()) throw Exception(Who() + ": " + FError);
}

void TNXCsvWriter::Open() {
  // Once per run: a later stream of the same run (or a second finish)
  // must not start the file again.
  if (FOpened) return;
  FOpened = true;
  const std::string path = MakeOutputPath(FileName());
  FShown = ShownName(FileName());
  FFile = std::fopen(path.c_str(), "wb");
  if (!FFile) {
    FError = CannotWrite(FShown, std::strerror(errno));
    return;
  }
  FPending = "index,value\n";
}

void TNXCsvWriter::Flush() {
  if (!FFile || FPending.empty()) return;
  if (std::fwrite(FPending.data(), 1, FPending.size(), FFile) != FPending.size() && FError.empty())
    FError = CannotWrite(FShown, std::strerror(errno));
  FPending.clear();
}

void TNXCsvWriter::Close() {
  if (!FFile) return;
  Flush();
  if (std::fclose(FFile) != 0 && FError.empty()) FError = CannotWrite(FShown, std::strerror(errno));
  FFile = nullptr;
}

void TNXCsvWriter::OnReset() {
  Close();
  FError.clear();
  FPending.clear();
  FWritten = 0;
  FOpened = false;
}

void TNXCsvWriter::OnStart(double) { Open(); }

void TNXCsvWriter::OnProcess(const TBuffer& AInput) {
  Open();
  if (!FFile) return;
  const std::int64_t limit = MaxSamples();
  for (std::int32_t i = 0; i < AInput->GetSize() && (limit == 0 || FWritten < limit); ++i) {
    AppendNumber(FPending, FWritten++);
    FPending += ',';
    AppendNumber(FPending, AInput->Read()[i]);
    FPending += '\n';
  }
  // Whole blocks to the file: few calls, and nothing of a line waits long.
  if (FPending.size() >= 1u << 16) Flush();
}

void TNXCsvWriter::OnFinish(flow::TFlowNodeReport& AReport) {
  // A run that received nothing still leaves the header.
  Open();
  Close();
  if (!FError.empty()) throw Exception(Who() + ": " + FError);
  AReport.Files.push_back(FileName());
  AReport.Summary = FWritten == FSamples
                        ? Format("%lld samples written", static_cast<long long>(FWritten))
                        : Format("%lld of %lld samples written", static_cast<long long>(FWritten),
                                 static_cast<long long>(FSamples));
}

// ---------------------------------------------------------------- WAV writer

TNXWaveWriter::TNXWaveWriter(TComponent* AOwner) : TNXRealSink(AOwner) { InitProperties(this); }

TNXWaveWriter::~TNXWaveWriter() {
  std::lock_guard guard(FDataLock);
  Close();
}

void TNXWaveWriter::DeclareProperties(TClassBuilder<TNXWaveWriter>& P) {
  P.Republish("FileName", std::string("out.wav"));
  P.Prop<&TNXWaveWriter::FFormat, &TNXWaveWriter::SetWaveFormat>("Format", wfPcm16);
}

namespace {
struct TWaveFormatInfo {
  int Subtype;
  const char* Text;
};
constexpr TWaveFormatInfo kWaveFormats[] = {
    {SF_FORMAT_PCM_16, "16-bit PCM"},
    {SF_FORMAT_PCM_24, "24-bit PCM"},
    {SF_FORMAT_FLOAT, "32-bit float"},
    {SF_FORMAT_DOUBLE, "64-bit float"},
};
}  // namespace

void TNXWaveWriter::OnStart(double ARate) {
  if (FFileRate != 0 || !FError.empty()) return;
  const std::string path = MakeOutputPath(FileName());
  FShown = ShownName(FileName());
  // WAV keeps a whole number of samples per second.
  const long rate = std::lround(ARate);
  if (rate < 1 || rate > 0x7FFFFFFF) {
    FError = CannotWrite(FShown, Format("the stream's sample rate %g is not one a WAV file can keep", ARate));
    return;
  }
  std::string why;
  const TSoundLib* lib = SoundLib(&why);
  if (!lib) {
    FError = CannotWrite(FShown, why);
    return;
  }
  const TNXWaveFormat format = WaveFormat();
  SF_INFO info{};
  info.samplerate = static_cast<int>(rate);
  info.channels = 1;
  info.format = SF_FORMAT_WAV | kWaveFormats[format].Subtype;
  errno = 0;
  FFile = lib->sf_open(path.c_str(), SFM_WRITE, &info);
  if (!FFile) {
    FError = CannotWrite(FShown, SoundFileReason(nullptr, errno));
    return;
  }
  // No PEAK chunk: it holds the time of writing, and the same stream must
  // give the same bytes.
  lib->sf_command(FFile, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
  // Integer formats saturate at full scale instead of wrapping round.
  if (format == wfPcm16 || format == wfPcm24) lib->sf_command(FFile, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  FFileRate = info.samplerate;
}

void TNXWaveWriter::OnProcess(const TBuffer& AInput) {
  if (!FFile) return;
  const double* data = AInput->Read();
  const std::int32_t n = AInput->GetSize();
  for (std::int32_t i = 0; i < n; ++i) FPeak = std::max(FPeak, std::abs(data[i]));
  errno = 0;
  if (SoundLib()->sf_write_double(FFile, data, n) != n && FError.empty())
    FError = CannotWrite(FShown, SoundFileReason(FFile, errno));
  FFrames += n;
}

void TNXWaveWriter::Close() {
  if (!FFile) return;
  // Closing writes the header's final sizes.
  errno = 0;
  const TSoundLib& lib = *SoundLib();
  if (const int status = lib.sf_close(FFile); status != 0 && FError.empty())
    FError = CannotWrite(FShown, status == SF_ERR_SYSTEM && errno != 0 ? std::strerror(errno) : lib.sf_error_number(status));
  FFile = nullptr;
}

void TNXWaveWriter::OnReset() {
  Close();
  FError.clear();
  FFileRate = 0;
  FFrames = 0;
  FPeak = 0;
}

void TNXWaveWriter::OnFinish(flow::TFlowNodeReport& AReport) {
  const bool made = FFileRate != 0;
  Close();
  if (!FError.empty()) throw Exception(Who() + ": " + FError);
  if (!made) {
    AReport.Summary = "no stream received: nothing written";
    return;
  }
  AReport.Files.push_back(FileName());
  AReport.Summary = Format("%.3f s at %d Hz, %s, peak %s dBFS", double(FFrames) / FFileRate, FFileRate,
                           kWaveFormats[WaveFormat()].Text, Decibels(FPeak * FPeak).c_str());
}

// ---------------------------------------------------------------- plots

TNXPlotSink::TNXPlotSink(TComponent* AOwner) : TNXRealSink(AOwner) {
  // Made before the properties initialise, so that their colours can have
  // the defaults of a plot (a blue trace on white, a light grid, dark text).
  FPen.reset(new TRGGPPen(this));
  FPen->Brush()->InitColor_Default(0xFF1F5FBFu);
  FGridPen.reset(new TRGGPPen(this));
  FGridPen->Brush()->InitColor_Default(0xFFDDDDDDu);
  FBackground.reset(new TRGGPBrush(this));
  FFont.reset(new TRGGPBrushFont(this));
  FFont->Brush()->InitColor_Default(0xFF333333u);
  InitProperties(this);
}

void TNXPlotSink::DeclareProperties(TClassBuilder<TNXPlotSink>& P) {
  // Pictures up to 16,384 pixels a side: Cairo's own limit is 32,767, and a
  // larger picture would take gigabytes.
  P.Prop<&TNXPlotSink::FWidth, &TNXPlotSink::SetWidth>("Width", std::int32_t(800)).Min(kMinSize).Max(kMaxSize);
  P.Prop<&TNXPlotSink::FHeight, &TNXPlotSink::SetHeight>("Height", std::int32_t(400)).Min(kMinSize).Max(kMaxSize);
  P.Prop<&TNXPlotSink::FTitle, &TNXPlotSink::SetTitle>("Title", std::string());
  P.Prop<&TNXPlotSink::FPen>("Pen");
  P.Prop<&TNXPlotSink::FGridPen>("GridPen");
  P.Prop<&TNXPlotSink::FBackground>("Background");
  P.Prop<&TNXPlotSink::FFont>("Font");
}

void TNXPlotSink::FlowPrepare(const flow::TFlowRunContext& AContext) {
  TNXRealSink::FlowPrepare(AContext);
  FFont->WantPreload();
}

void TNXPlotSink::WritePlot(TPlot& APlot, const TTable& ATable, flow::TFlowNodeReport& AReport) {
  APlot.Width = Width();
  APlot.Height = Height();
  APlot.Title = Title();
  const TPlotStyle style{FPen.get(), FGridPen.get(), FBackground.get(), FFont.get()};
  const std::string picture = FileName(), table = SiblingName(".csv");
  TPngPixels pixels;
  try {
    pixels = RenderPlotPixels(APlot, style);
  } catch (const Exception& e) {
    throw Exception("cannot draw " + ShownName(picture) + ": " + e.Message());
  }
  // Drawn here (Cairo stays on this thread); compressed and written beside
  // the next sink's drawing when the host lets files be written later.
  WriteOutputFileLater(picture, [pixels = std::move(pixels)] { return EncodePngFile(pixels); });
  WriteOutputFileLater(table, [header = ATable.Header, x = *ATable.X, y = *ATable.Y] { return TableText(header, x, y); });
  AReport.Files.push_back(picture);
  AReport.Files.push_back(table);
}

TPlot TNXPlotSink::LivePlot(std::int32_t AMaxWidth) {
  TPlot plot;
  {
    std::lock_guard guard(FDataLock);
    plot = MakePlot();
  }
  plot.Width = Width();
  plot.Height = Height();
  if (AMaxWidth >= kMinSize && plot.Width > AMaxWidth) {
    plot.Height = std::max(kMinSize, static_cast<std::int32_t>(std::lround(double(plot.Height) * AMaxWidth / plot.Width)));
    plot.Width = AMaxWidth;
  }
  plot.Title = Title();
  std::lock_guard guard(FViewLock);
  if (FViewLow > 0 || FViewHigh < 1) {
    TPlotAxis& x = plot.X;
    if (x.Logarithmic && x.Min > 0 && x.Max > x.Min) {
      const double low = std::log10(x.Min), span = std::log10(x.Max) - low;
      x.Min = std::pow(10.0, low + FViewLow * span);
      x.Max = std::pow(10.0, low + FViewHigh * span);
    } else {
      const double low = x.Min, span = x.Max - x.Min;
      x.Min = low + FViewLow * span;
      x.Max = low + FViewHigh * span;
    }
  }
  return plot;
}

std::string TNXPlotSink::DisplayPicture(std::int32_t AMaxWidth) {
  return RenderPlotPNG(LivePlot(AMaxWidth), Style(), true);
}

std::string TNXPlotSink::DisplayMouse(const IFTNotifyOperation& AOperation, std::int32_t AMaxWidth) {
  const TPlot plot = LivePlot(AMaxWidth);
  const TPlotHit hit = PlotMouse(plot, Style(), AOperation);
  const IFTNotifyOperation* op = &AOperation;
  bool moved = false;
  {
    std::lock_guard guard(FViewLock);
    const double width = FViewHigh - FViewLow;
    // Zoom about the pointer: the value under it stays under it. No closer
    // than a ten-thousandth of the whole range, no further than all of it.
    auto zoom = [&](double AFactor) {
      const double next = std::clamp(width * AFactor, 1e-4, 1.0);
      const double anchor = FViewLow + hit.Fraction * width;
      FViewLow = std::clamp(anchor - hit.Fraction * next, 0.0, 1.0 - next);
      FViewHigh = FViewLow + next;
      moved = true;
    };
    const auto* button = dynamic_cast<const TFTNXSuppliedMouseButtonOperation*>(op);
    if (button && dynamic_cast<const TFTNXSuppliedMouseButtonDownOperation*>(op)) {
      if (button->GetShift().Contains(ssDouble) || button->GetButton() == mbRight) {
        FViewLow = 0, FViewHigh = 1;
        FDragging = false;
        moved = true;
      } else if (hit.InArea && button->GetButton() == mbLeft) {
        FDragging = true;
        FDragFraction = hit.Fraction;
      }
    } else if (button) {
      FDragging = false;
    } else if (dynamic_cast<const TFTNXSuppliedMouseLeaveOperation*>(op)) {
      FDragging = false;
    } else if (!hit.InArea) {
      // Wheel or move outside the plot area: nothing to zoom or pan.
    } else if (dynamic_cast<const TFTNXSuppliedMouseWheelUpOperation*>(op)) {
      zoom(1 / 1.25);
    } else if (dynamic_cast<const TFTNXSuppliedMouseWheelDownOperation*>(op)) {
      zoom(1.25);
    } else if (FDragging) {
      // The value grabbed follows the pointer.
      const double shift = (hit.Fraction - FDragFraction) * width;
      FViewLow = std::clamp(FViewLow - shift, 0.0, 1.0 - width);
      FViewHigh = FViewLow + width;
      FDragFraction = hit.Fraction;
      moved = shift != 0;
    }
  }
  if (moved) Changed();
  if (!hit.InArea || hit.Nearest < 0) return {};
  const auto at = static_cast<std::size_t>(hit.Nearest);
  // "12.5 ms: 0.25", "7.6875 kHz: -55.4 dB": the trace point nearest the pointer.
  auto value = [](double AValue, const std::string& AUnit) {
    return AUnit.empty() ? Format("%.6g", AValue) : Format("%.6g %s", AValue, AUnit.c_str());
  };
  return value(plot.XValues[at], plot.X.Unit) + ": " + value(plot.YValues[at], plot.Y.Unit);
}

// ---------------------------------------------------------------- scope

TNXScopeView::TNXScopeView(TComponent* AOwner) : TNXPlotSink(AOwner) { InitProperties(this); }

void TNXScopeView::DeclareProperties(TClassBuilder<TNXScopeView>& P) {
  P.Republish("FileName", std::string("scope.png"));
  P.Prop<&TNXScopeView::FSamplesShown, &TNXScopeView::SetSamplesShown>("Samples", std::int32_t(2048))
      .Min(std::int32_t(2))
      .Max(std::int32_t(1 << 24));
}

std::vector<double> TNXScopeView::KeptLocked() const {
  std::vector<double> out(FFilled);
  const std::size_t size = FRing.size();
  for (std::size_t i = 0, at = (FNext + size - FFilled) % std::max<std::size_t>(size, 1); i < FFilled; ++i) {
    out[i] = FRing[at];
    if (++at == size) at = 0;
  }
  return out;
}

std::vector<double> TNXScopeView::Kept(std::int64_t* AFirstIndex) const {
  std::lock_guard guard(FDataLock);
  if (AFirstIndex) *AFirstIndex = FStreamSamples - static_cast<std::int64_t>(FFilled);
  return KeptLocked();
}

void TNXScopeView::OnReset() {
  Changed();
  FRing.clear();
  FNext = FFilled = 0;
  FStreamSamples = 0;
}

void TNXScopeView::OnStart(double) { OnReset(); }

void TNXScopeView::OnProcess(const TBuffer& AInput) {
  const std::int32_t received = AInput->GetSize();
  const auto capacity = static_cast<std::size_t>(SamplesShown());
  if (FRing.size() != capacity) {
    // Samples changed (or the first buffer): keep the most recent values.
    std::vector<double> kept = KeptLocked();
    const std::size_t keep = std::min(kept.size(), capacity);
    FRing.assign(capacity, 0.0);
    std::copy(kept.end() - static_cast<std::ptrdiff_t>(keep), kept.end(), FRing.begin());
    FNext = keep % capacity;
    FFilled = keep;
  }
  // Only the last `capacity` samples of a long buffer can stay.
  auto count = static_cast<std::size_t>(received);
  const double* from = AInput->Read();
  if (count > capacity) {
    from += count - capacity;
    count = capacity;
  }
  FFilled = std::min(capacity, FFilled + count);
  while (count > 0) {
    const std::size_t chunk = std::min(count, capacity - FNext);
    std::copy(from, from + chunk, FRing.begin() + static_cast<std::ptrdiff_t>(FNext));
    FNext = (FNext + chunk) % capacity;
    from += chunk;
    count -= chunk;
  }
  FStreamSamples += received;
  Changed();
}

TPlot TNXScopeView::MakePlot() const {
  const std::vector<double> values = KeptLocked();
  const std::size_t n = values.size();
  const std::int64_t first = FStreamSamples - static_cast<std::int64_t>(n);
  const bool timed = FRate > 0;
  // The picture counts milliseconds from the first sample shown.
  std::vector<double> shown(n);
  for (std::size_t i = 0; i < n; ++i) shown[i] = timed ? double(i) * 1000 / FRate : double(i);
  TPlot plot;
  plot.X.Min = 0;
  // Nothing (or one sample) yet: the span a full window would show.
  const double window = double(SamplesShown() - 1);
  plot.X.Max = n >= 2 ? shown.back() : (timed ? window * 1000 / FRate : window);
  plot.X.Unit = timed ? "ms" : "";
  if (!timed) plot.X.Caption = "Sample";
  else if (first > 0) plot.X.Caption = Format("Time (ms) from %.6g s", double(first) / FRate);
  else plot.X.Caption = "Time (ms)";
  // The range of the finite values: a NaN or an infinity breaks the trace
  // but does not flatten the scale.
  double low = INFINITY, high = -INFINITY;
  for (double v : values)
    if (std::isfinite(v)) low = std::min(low, v), high = std::max(high, v);
  if (low > high) low = high = 0;
  plot.Y = NicePlotRange(low, high, "Amplitude");
  plot.XValues = std::move(shown);
  plot.YValues = values;
  if (n == 0) plot.Message = "No samples received";
  return plot;
}

void TNXScopeView::OnFinish(flow::TFlowNodeReport& AReport) {
  TPlot plot = MakePlot();
  const std::vector<double>& values = plot.YValues;
  const std::size_t n = values.size();
  const std::int64_t first = FStreamSamples - static_cast<std::int64_t>(n);
  // The table has the stream time of each sample in seconds.
  std::vector<double> seconds(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double index = double(first) + double(i);
    seconds[i] = FRate > 0 ? index / FRate : index;
  }
  double low = INFINITY, high = -INFINITY;
  for (double v : values)
    if (std::isfinite(v)) low = std::min(low, v), high = std::max(high, v);
  WritePlot(plot, {"time,value", &seconds, &values}, AReport);
  AReport.Summary = n == 0 ? "no samples received"
                           : Format("last %zu samples, %.4g .. %.4g", n, low, high);
}

// ---------------------------------------------------------------- spectrum view

TNXSpectrumView::TNXSpectrumView(TComponent* AOwner) : TNXPlotSink(AOwner) { InitProperties(this); }

void TNXSpectrumView::DeclareProperties(TClassBuilder<TNXSpectrumView>& P) {
  P.Republish("FileName", std::string("spectrum.png"));
  P.Prop<&TNXSpectrumView::FMinDecibels, &TNXSpectrumView::SetMinDecibels>("MinDecibels", -120.0);
  P.Prop<&TNXSpectrumView::FMaxDecibels, &TNXSpectrumView::SetMaxDecibels>("MaxDecibels", 10.0);
  P.Prop<&TNXSpectrumView::FLogFrequency, &TNXSpectrumView::SetLogFrequency>("LogFrequency", false);
}

std::span<const double> TNXSpectrumView::LastValues() const {
  if (!FLast) return {};
  return {FLast->Read(), static_cast<std::size_t>(FLast->GetSize())};
}

std::vector<double> TNXSpectrumView::LastSpectrum() const {
  std::lock_guard guard(FDataLock);
  const std::span<const double> last = LastValues();
  return {last.begin(), last.end()};
}

void TNXSpectrumView::OnReset() {
  FLast = nullptr;
  Changed();
}

void TNXSpectrumView::OnProcess(const TBuffer& AInput) {
  // A sharing copy: the samples stay where the sender wrote them (a writer
  // elsewhere gets its own block).
  FLast = AInput;
  Changed();
}

TPlot TNXSpectrumView::MakePlot() const {
  const std::span<const double> last = LastValues();
  const std::size_t n = last.size();
  // Bins 0 .. N/2 of an N-point transform: N = 2 (n - 1), spacing rate / N.
  const double spacing = FRate > 0 && n >= 2 ? FRate / double(2 * (n - 1)) : 0;
  const bool logarithmic = LogFrequency() && spacing > 0;
  const bool kilo = !logarithmic && spacing > 0 && FRate / 2 >= 10000;
  std::vector<double> shown(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double hertz = spacing > 0 ? double(i) * spacing : double(i);
    shown[i] = kilo ? hertz / 1000 : hertz;
  }
  TPlot plot;
  plot.X.Logarithmic = logarithmic;
  plot.X.Min = logarithmic ? spacing : 0;
  plot.X.Max = n >= 2 ? shown.back() : 1;
  plot.X.Caption = spacing == 0 ? "Bin" : kilo ? "Frequency (kHz)" : "Frequency (Hz)";
  plot.X.Unit = spacing == 0 ? "" : kilo ? "kHz" : "Hz";
  plot.Y.Unit = "dB";
  plot.Y.Min = MinDecibels();
  plot.Y.Max = MaxDecibels();
  if (!(plot.Y.Max > plot.Y.Min)) plot.Y.Max = plot.Y.Min + 10;
  plot.Y.Caption = "Level (dB)";
  plot.XValues = std::move(shown);
  plot.YValues.assign(last.begin(), last.end());
  if (n == 0) plot.Message = "No spectrum received";
  return plot;
}

void TNXSpectrumView::OnFinish(flow::TFlowNodeReport& AReport) {
  TPlot plot = MakePlot();
  const std::size_t n = plot.YValues.size();
  const double spacing = FRate > 0 && n >= 2 ? FRate / double(2 * (n - 1)) : 0;
  std::vector<double> hertz(n);
  for (std::size_t i = 0; i < n; ++i) hertz[i] = spacing > 0 ? double(i) * spacing : double(i);
  WritePlot(plot, {"frequency,dB", &hertz, &plot.YValues}, AReport);
  if (n == 0) {
    AReport.Summary = "no spectrum received";
  } else {
    const auto peak = std::max_element(plot.YValues.begin(), plot.YValues.end());
    const std::size_t at = static_cast<std::size_t>(peak - plot.YValues.begin());
    AReport.Summary = Format("peak %.2f dB at %.6g %s", *peak, hertz[at], spacing > 0 ? "Hz" : "(bin)");
  }
}

// ---------------------------------------------------------------- registration

void AddSinkClasses(TClassList& AList) {
  AList.push_back(&TNXScopeView::StaticClassInfo());
  AList.push_back(&TNXSpectrumView::StaticClassInfo());
  AList.push_back(&TNXCsvWriter::StaticClassInfo());
  AList.push_back(&TNXWaveWriter::StaticClassInfo());
}

}  // namespace nx::examples
