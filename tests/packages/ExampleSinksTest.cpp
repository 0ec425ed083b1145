// The sinks: the CSV and WAV files read back equal to what was sent (and
// the same bytes on a second run), the scope's ring keeps exactly the last
// Samples samples, the pictures decode at their size with trace pixels, the
// tables beside them hold what was drawn, file names must stay inside the
// output folder, and a threaded run on virtual time feeds every sink at once.
#include <gtest/gtest.h>

#include <cairo.h>
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "PackageTestSupport.h"
#include "components/NXClockGen.h"
#include "components/NXCommonGen.h"
#include "infrastructure/NXGraphDocument.h"
#include "packages/nxexamples/NXExampleSinks.h"
#include "packages/nxexamples/NXExampleSpectrum.h"

// Fontconfig keeps its configuration for the life of the process.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace nxtest {
namespace {
using namespace nx::examples;
namespace fs = std::filesystem;

// Runs ASink through a flow run in ADir: prepare, one stream of AData in
// buffers of ABufferSize at ARate, finish.
flow::TFlowNodeReport RunSink(TNXExampleSink& ASink, const std::string& ADir, const std::vector<double>& AData,
                              std::size_t ABufferSize, double ARate = 48000) {
  flow::TFlowRunContext context;
  context.OutputDir = ADir;
  ASink.FlowPrepare(context);
  TFeeder feed;
  feed.Pin().Connect(ASink.InputPin());
  feed.Start(ARate);
  feed.Send(AData, ABufferSize);
  feed.Stop();
  flow::TFlowNodeReport report;
  ASink.FlowFinish(context, report);
  return report;
}

// The lines of a text file, split at commas.
std::vector<std::vector<std::string>> ReadCsv(const std::string& APath) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(ReadFileBytes(APath));
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> cells;
    std::istringstream fields(line);
    for (std::string cell; std::getline(fields, cell, ',');) cells.push_back(cell);
    rows.push_back(cells);
  }
  return rows;
}

// ---------------------------------------------------------------- CSV writer

struct TCsvCase {
  const char* Name;
  std::size_t BufferSize, Total;
  std::int64_t MaxSamples;
};
class CsvWriter : public ::testing::TestWithParam<TCsvCase> {};

// Every written line reads back as its index and the exact double sent; the
// limit writes the first MaxSamples and still counts them all; a second run
// writes the same bytes.
TEST_P(CsvWriter, WritesIndexAndExactValue) {
  const TCsvCase& c = GetParam();
  std::vector<double> x = Noise(c.Total, 11);
  for (std::size_t i = 0; i < x.size(); i += 7) x[i] *= 1e-300;  // tiny values keep their digits too
  std::string first;
  for (int run = 0; run < 2; ++run) {
    const std::string dir = OutputFolder(std::string("csv-") + c.Name + std::to_string(run));
    TOwned<TNXCsvWriter> writer(new TNXCsvWriter());
    writer->SetFileName("s.csv");
    writer->SetMaxSamples(c.MaxSamples);
    const flow::TFlowNodeReport report = RunSink(*writer, dir, x, c.BufferSize);
    EXPECT_TRUE(report.IsSink);
    EXPECT_EQ(report.Samples, std::int64_t(c.Total));
    EXPECT_EQ(report.Buffers, std::int64_t((c.Total + c.BufferSize - 1) / c.BufferSize));
    EXPECT_EQ(report.Files, std::vector<std::string>{"s.csv"});
    const auto rows = ReadCsv(dir + "/s.csv");
    const std::size_t expected =
        c.MaxSamples == 0 ? c.Total : std::min<std::size_t>(c.Total, std::size_t(c.MaxSamples));
    ASSERT_EQ(rows.size(), expected + 1);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"index", "value"}));
    for (std::size_t i = 0; i < expected; ++i) {
      ASSERT_EQ(rows[i + 1].size(), 2u);
      EXPECT_EQ(rows[i + 1][0], std::to_string(i));
      EXPECT_EQ(std::strtod(rows[i + 1][1].c_str(), nullptr), x[i]) << "line " << i + 2;
    }
    const std::string bytes = ReadFileBytes(dir + "/s.csv");
    if (run == 0) first = bytes;
    else EXPECT_EQ(bytes, first);
    // A second finish leaves the file as it is.
    flow::TFlowNodeReport again;
    writer->FlowFinish({}, again);
    EXPECT_EQ(ReadFileBytes(dir + "/s.csv"), bytes);
  }
}

INSTANTIATE_TEST_SUITE_P(Limits, CsvWriter,
                         ::testing::Values(TCsvCase{"All", 100, 1000, 0}, TCsvCase{"Limited", 64, 1000, 250},
                                           TCsvCase{"LimitAboveTotal", 1000, 300, 5000},
                                           TCsvCase{"ManyBlocks", 4096, 20000, 0},
                                           TCsvCase{"NothingReceived", 10, 0, 0}),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

// ---------------------------------------------------------------- WAV writer

struct TWaveCase {
  TNXWaveFormat Format;
  int Subtype;
  double Tolerance;  // of a sample in -1 .. 1 read back
  bool Clips;        // full scale is the most an integer format keeps
};
class WaveWriter : public ::testing::TestWithParam<TWaveCase> {};

TEST_P(WaveWriter, ReadsBackWhatWasSent) {
  const TWaveCase& c = GetParam();
  std::vector<double> x = Noise(10000, 5);
  for (double& v : x) v *= 0.9;
  x[100] = 1.5;
  x[101] = -1.5;
  std::string first;
  for (int run = 0; run < 2; ++run) {
    const std::string dir = OutputFolder("wav-" + std::to_string(c.Format) + "-" + std::to_string(run));
    TOwned<TNXWaveWriter> writer(new TNXWaveWriter());
    writer->SetWaveFormat(c.Format);
    const flow::TFlowNodeReport report = RunSink(*writer, dir, x, 999, 44100);
    EXPECT_EQ(report.Files, std::vector<std::string>{"out.wav"});
    EXPECT_EQ(report.SampleRate, 44100);

    SF_INFO info{};
    SNDFILE* f = sf_open((dir + "/out.wav").c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(info.samplerate, 44100);
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | c.Subtype);
    ASSERT_EQ(info.frames, sf_count_t(x.size()));
    std::vector<double> y(x.size());
    // Read back without the integer formats' normalisation differences:
    // full scale reads 1.
    EXPECT_EQ(sf_read_double(f, y.data(), sf_count_t(y.size())), sf_count_t(y.size()));
    sf_close(f);
    for (std::size_t i = 0; i < x.size(); ++i) {
      const double expected = c.Clips ? std::clamp(x[i], -1.0, 1.0) : x[i];
      if (c.Tolerance == 0) ASSERT_EQ(y[i], expected) << i;
      else ASSERT_NEAR(y[i], expected, c.Tolerance) << i;
    }
    const std::string bytes = ReadFileBytes(dir + "/out.wav");
    if (run == 0) first = bytes;
    else EXPECT_EQ(bytes, first);
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, WaveWriter,
                         ::testing::Values(TWaveCase{wfPcm16, SF_FORMAT_PCM_16, 1.0 / 32768 + 1e-12, true},
                                           TWaveCase{wfPcm24, SF_FORMAT_PCM_24, 1.0 / (1 << 23) + 1e-12, true},
                                           TWaveCase{wfFloat32, SF_FORMAT_FLOAT, 1e-7, false},
                                           TWaveCase{wfFloat64, SF_FORMAT_DOUBLE, 0, false}),
                         [](const auto& AInfo) { return std::string(NXEnumInfo(AInfo.param.Format).Names[AInfo.param.Format]); });

// ---------------------------------------------------------------- scope

struct TScopeCase {
  const char* Name;
  std::int32_t Shown;
  std::size_t BufferSize, Total;
};
class ScopeRing : public ::testing::TestWithParam<TScopeCase> {};

// The scope keeps the last Samples samples in order, whatever the buffers;
// its table gives each one's stream time.
TEST_P(ScopeRing, KeepsTheLastSamples) {
  const TScopeCase& c = GetParam();
  const std::vector<double> x = Noise(c.Total, 2);
  TOwned<TNXScopeView> scope(new TNXScopeView());
  scope->SetSamplesShown(c.Shown);
  scope->SetWidth(300);
  scope->SetHeight(200);
  const std::string dir = OutputFolder(std::string("scope-") + c.Name);
  const flow::TFlowNodeReport report = RunSink(*scope, dir, x, c.BufferSize, 1000);
  const std::size_t kept = std::min<std::size_t>(c.Total, std::size_t(c.Shown));
  std::int64_t firstIndex = -1;
  const std::vector<double> values = scope->Kept(&firstIndex);
  EXPECT_EQ(values, std::vector<double>(x.end() - std::ptrdiff_t(kept), x.end()));
  EXPECT_EQ(firstIndex, std::int64_t(c.Total - kept));
  EXPECT_EQ(report.Files, (std::vector<std::string>{"scope.png", "scope.csv"}));
  const auto rows = ReadCsv(dir + "/scope.csv");
  ASSERT_EQ(rows.size(), kept + 1);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"time", "value"}));
  for (std::size_t i = 0; i < kept; ++i) {
    EXPECT_EQ(std::strtod(rows[i + 1][0].c_str(), nullptr), double(firstIndex + std::int64_t(i)) / 1000);
    EXPECT_EQ(std::strtod(rows[i + 1][1].c_str(), nullptr), values[i]);
  }
}

INSTANTIATE_TEST_SUITE_P(Buffers, ScopeRing,
                         ::testing::Values(TScopeCase{"NotFilled", 100, 30, 70}, TScopeCase{"Exactly", 64, 16, 64},
                                           TScopeCase{"Wrapped", 100, 30, 1000},
                                           TScopeCase{"BufferLongerThanRing", 50, 333, 1000},
                                           TScopeCase{"OneSampleBuffers", 10, 1, 25},
                                           TScopeCase{"Nothing", 10, 1, 0}),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

// A new Samples while the stream runs keeps the most recent samples.
TEST(ScopeResize, KeepsTheMostRecentSamples) {
  const std::vector<double> x = Noise(500, 4);
  TOwned<TNXScopeView> scope(new TNXScopeView());
  scope->SetSamplesShown(100);
  TFeeder feed;
  feed.Pin().Connect(scope->InputPin());
  feed.Start(100);
  feed.Send(std::vector<double>(x.begin(), x.begin() + 250), 40);
  scope->SetSamplesShown(30);
  feed.Send(std::vector<double>(x.begin() + 250, x.begin() + 260), 10);
  EXPECT_EQ(scope->Kept(), std::vector<double>(x.begin() + 230, x.begin() + 260));
  scope->SetSamplesShown(200);
  feed.Send(std::vector<double>(x.begin() + 260, x.end()), 64);
  EXPECT_EQ(scope->Kept(), std::vector<double>(x.end() - 200, x.end()));
}

// ---------------------------------------------------------------- pictures

struct TPicture {
  int Width = 0, Height = 0;
  int TracePixels = 0;  // clearly blue: the default trace colour
};
TPicture ReadPicture(const std::string& APath) {
  TPicture p;
  cairo_surface_t* s = cairo_image_surface_create_from_png(APath.c_str());
  if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS) {
    p.Width = cairo_image_surface_get_width(s);
    p.Height = cairo_image_surface_get_height(s);
    cairo_surface_flush(s);
    const unsigned char* data = cairo_image_surface_get_data(s);
    const int stride = cairo_image_surface_get_stride(s);
    for (int y = 0; y < p.Height; ++y)
      for (int x = 0; x < p.Width; ++x) {
        const std::uint32_t px = *reinterpret_cast<const std::uint32_t*>(data + y * stride + x * 4);
        const int r = (px >> 16) & 0xFF, b = px & 0xFF;
        p.TracePixels += b - r > 80;
      }
  }
  cairo_surface_destroy(s);
  return p;
}

struct TPictureCase {
  const char* Name;
  bool Spectrum;
  bool Log;
  std::int32_t Width, Height;
  std::size_t Total;  // samples sent (0: none)
  bool Poisoned = false;  // a NaN and infinities among them
};
class Pictures : public ::testing::TestWithParam<TPictureCase> {};

// The pictures decode at the size asked for, with a trace when there was
// data (and none without); the same data draw the same bytes.
TEST_P(Pictures, DecodeAtTheirSizeWithATrace) {
  const TPictureCase& c = GetParam();
  std::string first;
  for (int run = 0; run < 2; ++run) {
    const std::string dir = OutputFolder(std::string("picture-") + c.Name + std::to_string(run));
    TOwned<TNXPlotSink> sink(c.Spectrum ? static_cast<TNXPlotSink*>(new TNXSpectrumView())
                                      : static_cast<TNXPlotSink*>(new TNXScopeView()));
    sink->SetWidth(c.Width);
    sink->SetHeight(c.Height);
    sink->SetTitle(c.Name);
    if (c.Spectrum) static_cast<TNXSpectrumView*>(sink.get())->SetLogFrequency(c.Log);
    std::vector<double> x(c.Total);
    for (std::size_t i = 0; i < x.size(); ++i)
      x[i] = c.Spectrum ? -60 + 50 * std::exp(-std::pow((double(i) - 100) / 4, 2)) - 0.01 * double(i)
                        : 0.8 * std::sin(2 * std::numbers::pi * double(i) / 200);
    if (c.Poisoned) x[10] = NAN, x[20] = INFINITY, x[30] = -INFINITY;
    // A spectrum arrives as one buffer of bins.
    const flow::TFlowNodeReport report = RunSink(*sink, dir, x, c.Spectrum ? x.size() + 1 : 256, 48000);
    const TPicture p = ReadPicture(dir + "/" + sink->FileName());
    EXPECT_EQ(p.Width, c.Width);
    EXPECT_EQ(p.Height, c.Height);
    if (c.Total > 0) EXPECT_GT(p.TracePixels, c.Width / 3);
    else EXPECT_EQ(p.TracePixels, 0);
    const std::string bytes = ReadFileBytes(dir + "/" + sink->FileName());
    if (run == 0) first = bytes;
    else EXPECT_EQ(bytes, first);
    if (c.Spectrum && c.Total > 0 && !c.Poisoned) {
      // Bin k of 513 at 48 kHz is at k * 48000 / 1024 Hz; the peak is bin 100.
      const auto rows = ReadCsv(dir + "/spectrum.csv");
      ASSERT_EQ(rows.size(), c.Total + 1);
      EXPECT_EQ(rows[0], (std::vector<std::string>{"frequency", "dB"}));
      for (std::size_t k = 0; k < c.Total; ++k) {
        EXPECT_EQ(std::strtod(rows[k + 1][0].c_str(), nullptr), double(k) * 48000 / 1024);
        EXPECT_EQ(std::strtod(rows[k + 1][1].c_str(), nullptr), x[k]);
      }
      EXPECT_NE(report.Summary.find("at 4687.5 Hz"), std::string::npos) << report.Summary;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, Pictures,
    ::testing::Values(TPictureCase{"Scope", false, false, 800, 400, 5000},
                      TPictureCase{"ScopeSmall", false, false, 200, 120, 300},
                      TPictureCase{"ScopeEmpty", false, false, 640, 360, 0},
                      TPictureCase{"ScopePoisoned", false, false, 640, 360, 400, true},
                      TPictureCase{"SpectrumPoisoned", true, true, 640, 360, 513, true},
                      TPictureCase{"Spectrum", true, false, 800, 400, 513},
                      TPictureCase{"SpectrumLog", true, true, 900, 450, 513},
                      TPictureCase{"SpectrumEmpty", true, false, 500, 300, 0}),
    [](const auto& AInfo) { return std::string(AInfo.param.Name); });

// ---------------------------------------------------------------- file names

struct TNameCase {
  const char* Name;
  bool Accepted;
};
class FileNames : public ::testing::TestWithParam<TNameCase> {};

// A flow run writes only inside its output folder; the message names the
// component and the name.
TEST_P(FileNames, StayInsideTheOutputFolder) {
  const TNameCase& c = GetParam();
  const std::string dir = OutputFolder("names");
  TOwned<TNXCsvWriter> writer(new TNXCsvWriter());
  writer->SetName("Writer1");
  writer->SetFileName(c.Name);
  if (!c.Accepted) {
    try {
      RunSink(*writer, dir, {1, 2, 3}, 3);
      FAIL() << "accepted " << c.Name;
    } catch (const Exception& e) {
      EXPECT_NE(std::string(e.what()).find("Writer1"), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(std::string("\"") + c.Name + "\""), std::string::npos) << e.what();
    }
    return;
  }
  const flow::TFlowNodeReport report = RunSink(*writer, dir, {1, 2, 3}, 3);
  EXPECT_TRUE(fs::exists(fs::path(dir) / c.Name));
  EXPECT_EQ(report.Files, std::vector<std::string>{c.Name});
}

INSTANTIATE_TEST_SUITE_P(Names, FileNames,
                         ::testing::Values(TNameCase{"plain.csv", true}, TNameCase{"sub/dir/x.csv", true},
                                           TNameCase{"", false}, TNameCase{"/tmp/abs.csv", false},
                                           TNameCase{"../up.csv", false}, TNameCase{"a/../../up.csv", false},
                                           TNameCase{"folder/", false}));

// ---------------------------------------------------------------- documents

struct TDocumentCase {
  const char* Class;
  std::vector<std::pair<const char*, const char*>> Settings;  // "Sub.Property", text
  std::vector<const char*> Pins;
};
class Documents : public ::testing::TestWithParam<TDocumentCase> {};

// The object a dotted property path ends in, and the property's last name.
std::pair<TPersistent*, std::string> Resolve(TPersistent& ARoot, std::string APath) {
  TPersistent* object = &ARoot;
  for (std::size_t dot; (dot = APath.find('.')) != std::string::npos; APath.erase(0, dot + 1))
    object = object->GetClassInfo().FindProperty(APath.substr(0, dot))->GetObject(*object);
  return {object, APath};
}

// A component made by its class name, with settings away from the defaults
// (enumerations by name, sub-objects included), saves and loads with every
// setting, and its pins answer by their names.
TEST_P(Documents, RoundTripKeepsEverySetting) {
  const TDocumentCase& c = GetParam();
  TOwned<TComponent> original(dynamic_cast<TComponent*>(CreateObject(c.Class, nullptr)));
  ASSERT_TRUE(original);
  for (const auto& [path, text] : c.Settings) {
    auto [object, name] = Resolve(*original, path);
    SetPropText(*object, name, text);
  }
  TOwned<TComponent> loaded(TNXGraphDocument::LoadFromString(TNXGraphDocument::SaveToString(*original), nullptr));
  ASSERT_TRUE(loaded);
  for (const auto& [path, text] : c.Settings) {
    auto [object, name] = Resolve(*loaded, path);
    EXPECT_EQ(GetPropText(*object, name), text) << path;
  }
  auto* owner = dynamic_cast<INXPinOwner*>(loaded.get());
  ASSERT_NE(owner, nullptr);
  EXPECT_EQ(owner->GetPinCount(), std::int32_t(c.Pins.size()));
  for (const char* pin : c.Pins) EXPECT_NE(owner->FindPin(pin), nullptr) << pin;
}

INSTANTIATE_TEST_SUITE_P(
    Classes, Documents,
    ::testing::Values(
        TDocumentCase{"TNXSpectrum",
                      {{"Order", "12"}, {"Window", "wtBlackman"}, {"Normalization", "fnNormalizeSqrt"},
                       {"Decibels", "False"}, {"Averaging.Count", "4"}, {"Averaging.Enabled", "False"}},
                      {"InputPin", "OutputPin"}},
        TDocumentCase{"TNXWaveWriter", {{"Format", "wfFloat64"}, {"FileName", "x.wav"}}, {"InputPin"}},
        TDocumentCase{"TNXCsvWriter", {{"MaxSamples", "1099511627776"}}, {"InputPin"}},
        TDocumentCase{"TNXScopeView",
                      {{"Samples", "512"}, {"Title", "Output"}, {"Pen.Width", "2"}, {"Background.Color", "4279242768"}},
                      {"InputPin"}},
        TDocumentCase{"TNXSpectrumView",
                      {{"MinDecibels", "-90"}, {"LogFrequency", "True"}, {"Width", "1024"}, {"Font.Size", "12"}},
                      {"InputPin"}}),
    [](const auto& AInfo) { return std::string(AInfo.param.Class); });

// ---------------------------------------------------------------- threads

// Sample i of the stream holds i; stops itself after Buffers buffers.
class TRampGen : public TNXCommonRealGen {
 public:
  using TNXCommonRealGen::TNXCommonRealGen;
  std::int32_t Buffers = 0;

 protected:
  void IntGenerate(TIntfPtr<INXDataBuffer>& ABuffer, bool&, bool& AStop) override {
    INXRealBuffer* real = RealOf(ABuffer);
    double* data = real->Write();
    for (std::int32_t i = 0; i < real->GetSize(); ++i) data[i] = double(FNext++);
    if (++FPumps == Buffers) AStop = true;
  }

 private:
  std::int64_t FNext = 0;
  std::int32_t FPumps = 0;
};

// A generator paced by its clock thread on virtual time feeds a scope, a
// CSV writer and a spectrum with its view at once; the files are finished
// on this thread after the stream stopped. With its worker the spectrum
// sends from a thread of its own (a stop drops what its queue still holds,
// so the view then has some of the spectra, not all).
class SinkThreads : public ::testing::TestWithParam<bool> {};

TEST_P(SinkThreads, ClockThreadFeedsEverySink) {
  const bool worker = GetParam();
  TNXVirtualClockGuard virtualTime;
  const std::string dir = OutputFolder("threads");
  flow::TFlowRunContext context;
  context.OutputDir = dir;
  TOwned<TRampGen> gen(new TRampGen(nullptr));
  gen->SetSampleRate(8000);
  gen->SetBufferSize(100);
  gen->Buffers = 200;
  TOwned<TNXScopeView> scope(new TNXScopeView());
  TOwned<TNXCsvWriter> csv(new TNXCsvWriter());
  TOwned<TNXSpectrum> spectrum(new TNXSpectrum());
  TOwned<TNXSpectrumView> view(new TNXSpectrumView());
  spectrum->Threading()->SetEnabled(worker);
  TRecorder end;
  gen->OutputPin().Connect(scope->InputPin());
  gen->OutputPin().Connect(csv->InputPin());
  gen->OutputPin().Connect(spectrum->InputPin());
  gen->OutputPin().Connect(&end.Pin);
  spectrum->OutputPin()->Connect(view->InputPin());
  for (flow::INXFlowNode* node : std::initializer_list<flow::INXFlowNode*>{scope.get(), csv.get(), spectrum.get(),
                                                                           view.get()})
    node->FlowPrepare(context);
  gen->Start();
  ASSERT_TRUE(end.WaitOp("TFTStopOperation"));
  gen->Stop();

  std::vector<flow::TFlowNodeReport> reports(4);
  scope->FlowFinish(context, reports[0]);
  csv->FlowFinish(context, reports[1]);
  spectrum->FlowFinish(context, reports[2]);
  view->FlowFinish(context, reports[3]);
  for (int i : {0, 1}) EXPECT_EQ(reports[i].Samples, 20000) << i;
  for (int i : {0, 1, 2, 3}) EXPECT_EQ(reports[i].SampleRate, 8000) << i;
  if (!worker) {
    EXPECT_EQ(reports[3].Buffers, 20000 / 1024);  // one spectrum per whole frame
  }
  EXPECT_LE(reports[3].Buffers, 20000 / 1024);
  EXPECT_LE(reports[2].Samples, 20000);
  std::int64_t first = 0;
  const std::vector<double> kept = scope->Kept(&first);
  ASSERT_EQ(kept.size(), 2048u);
  EXPECT_EQ(first, 20000 - 2048);
  EXPECT_EQ(kept.front(), double(first));
  EXPECT_EQ(kept.back(), 19999.0);
  const auto rows = ReadCsv(dir + "/samples.csv");
  ASSERT_EQ(rows.size(), 20001u);
  EXPECT_EQ(rows.back(), (std::vector<std::string>{"19999", "19999"}));
  const std::vector<double> last = view->LastSpectrum();
  if (!last.empty() || !worker) {
    EXPECT_EQ(last.size(), 513u);
  }
}

INSTANTIATE_TEST_SUITE_P(Spectrum, SinkThreads, ::testing::Values(false, true),
                         [](const auto& AInfo) { return AInfo.param ? "OnItsWorker" : "OnTheClockThread"; });

}  // namespace
}  // namespace nxtest
