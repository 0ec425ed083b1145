// Fuzz target of whole runs: arbitrary bytes read as a graph document (text
// or binary XML) of the example package's components, loaded and run for
// 5 ms of virtual time by the nxflow host, with the sinks writing into a
// fresh folder. A document the host refuses (EFlowError, or any nx::Exception
// a component raises) is an expected result; a crash, a hang, a sanitizer
// report, a leak or any other exception is a finding. After every run the
// folder must hold the committed output of a run that succeeded, or nothing
// at all after one that failed (no staging folder, no half-written file).
//
// The package is looked up in NX_FUZZ_PACKAGES (fuzz/run.sh builds it there).
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "nxflow/NXFlowHost.h"
#include "nxflow/NXFlowPackages.h"
#include "nxflow/NXFlowRun.h"

using namespace nx;
using namespace nx::flow;
namespace fs = std::filesystem;

namespace {

// The memory and time budget of one run. Only a few numbers in a document
// decide what a run costs; each is held to a cap that keeps one run well
// under 64 MiB and 100 ms even where all of them meet their caps. A document
// over budget is skipped: that it would run for long or fill the memory is
// no fault (the user asked for it), and the fuzzer's time goes further on
// documents that run.
//   SampleRate   192 kHz: in 5 ms at most 960 samples, so 960 buffers per
//                generator at BufferSize 1;
//   BufferSize   64 Ki samples: 512 KiB a buffer;
//   Order        FIR 1024 taps (a million products per run), IIR 32 (the
//                design's polynomials), spectrum 2^16 points (the largest
//                transform and its window, 1.5 MiB);
//   Count        64 averaged spectra of up to 32 Ki bins (16 MiB);
//   Size         a filter queue of 1024 buffers (a font of 1024 points);
//   InputCount   16 mixer inputs;
//   Samples      a scope ring of 64 Ki samples;
//   Width/Height 1024 pixels: a 4 MiB picture to draw and encode (a pen
//                width alike);
//   elements     256 in all: the components, their threads and their links.
// The properties' own maxima are those of a machine, not of a fuzzer's run,
// hence the tighter caps. Beyond sizes, a document must keep to its own
// folder: file names are relative without ".." (an input named /dev/stdin
// would wait for ever), and no texture image is embedded (a few bytes of
// image header can ask for gigabytes of pixels; the image decoders have their
// own target).
struct TCap {
  const char* Class;  // null: any element
  const char* Attr;
  double Max;         // |value| <= Max
};
constexpr TCap kCaps[] = {
    {nullptr, "SampleRate", 192000},   {nullptr, "BufferSize", 65536},  {"TNXFirFilter", "Order", 1024},
    {"TNXIirFilter", "Order", 32},     {"TNXSpectrum", "Order", 16},    {nullptr, "Order", 64},
    {nullptr, "Count", 64},            {nullptr, "Size", 1024},         {nullptr, "InputCount", 16},
    {nullptr, "Samples", 65536},       {nullptr, "Width", 1024},        {nullptr, "Height", 1024},
};
constexpr int kMaxElements = 256;

bool IsNumber(std::string_view AText, double& AValue) {
  const auto r = std::from_chars(AText.data(), AText.data() + AText.size(), AValue);
  return !AText.empty() && r.ec == std::errc() && r.ptr == AText.data() + AText.size();
}

bool AttributeWithinBudget(const std::string& AClass, const std::string& AName, const std::string& AValue) {
  if (AName == "FileName") {
    const fs::path path(AValue);
    return !path.is_absolute() && std::none_of(path.begin(), path.end(), [](const fs::path& p) { return p == ".."; });
  }
  if (AName == "Texture") return AValue.empty();
  double value = 0;
  if (!IsNumber(AValue, value)) return true;  // not a number: the reader refuses it where one is due
  for (const TCap& cap : kCaps) {
    if (AName != cap.Attr || (cap.Class && AClass != cap.Class)) continue;
    return std::abs(value) <= cap.Max;  // false for NaN
  }
  return true;
}

bool WithinBudget(const TIntfPtr<IXmlElement>& AElement, int& AElements) {
  if (++AElements > kMaxElements) return false;
  const std::string name = AElement->NodeName();
  for (int i = 0; i < AElement->AttrCount(); ++i) {
    const std::string attr = AElement->AttrName(i);
    if (!AttributeWithinBudget(name, attr, AElement->GetAttr(attr))) return false;
  }
  const TIntfPtr<IXmlNodeList> children = AElement->ChildNodes();
  for (int i = 0; i < children->Count(); ++i) {
    const TIntfPtr<IXmlNode> child = children->Item(i);
    if (child->NodeType() != NODE_ELEMENT) continue;
    if (!WithinBudget(child->AsElement(), AElements)) return false;
  }
  return true;
}

TPackageLoader* GPackages = nullptr;
fs::path GFolder;  // this process's own working folder

// Entries of ADir (sorted names).
std::string Listing(const fs::path& ADir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(ADir, ec)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  std::string text;
  for (const std::string& n : names) text += n + " ";
  return text;
}

}  // namespace

// fontconfig sets up its configuration once, at the first picture drawn, and
// frees it only in FcFini, which a process that may still draw cannot call
// (as in the tests' suppressions).
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The package stays loaded for the whole process (its classes registered
  // once, before the first input).
  GPackages = new TPackageLoader({NX_FUZZ_PACKAGES}, "");
  GPackages->Load("nxexamples");
  GFolder = fs::temp_directory_path() / ("GraphRunFuzz-" + std::to_string(::getpid()));
  fs::remove_all(GFolder);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  fs::create_directories(GFolder);
  // The document lives in the run's folder (relative input names are looked
  // up beside it, where nothing is).
  TGraphFile file;
  try {
    file = ReadGraphData((GFolder / "graph.xml").string(), bytes);
  } catch (const Exception&) {
    return 0;
  }
  int elements = 0;
  if (!file.Xml || !file.Xml->DocumentElement() || !WithinBudget(file.Xml->DocumentElement(), elements)) return 0;

  TRunOptions options;
  options.Seconds = 0.005;
  options.OutDir = (GFolder / "out").string();
  std::ostringstream out, err;
  bool ran = true;
  try {
    RunGraph(file, options, *GPackages, out, err);
  } catch (const Exception&) {
    ran = false;
  }
  // A run that succeeded leaves only its output folder; one that failed
  // leaves nothing.
  const std::string left = Listing(GFolder);
  if (left != (ran ? "out " : "")) {
    std::fprintf(stderr, "GraphRunFuzz: the run %s left \"%s\" behind\n", ran ? "succeeded but" : "failed and",
                 left.c_str());
    std::abort();
  }
  fs::remove_all(GFolder);
  return 0;
}
