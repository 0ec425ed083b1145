// Fuzz target of what `nxflow serve` reads from a request: the first byte
// picks the reader, the rest is the request body (or the Layout attribute).
// A property change that reads is applied to a small graph of the example
// package, loaded afresh for each input in the designing state, through the
// code `nxflow set` uses. A refusal (EServeRequestError, EFlowError) is an
// expected result; a crash, a hang, a sanitizer report, a leak or any other
// exception is a finding. A pointer request that reads is routed to the
// scope of that graph (loaded once), as the server routes it to a display.
// A designer's request that reads (add, rename, link, unlink, delete) is
// made on a fresh copy of the graph through the library's graph editing,
// as the server makes it; its refusal (EGraphDocumentError) is expected
// too, and the graph must still write a document the loader reads back.
// Beside that, three properties must hold:
//   - JsonString writes valid JSON that reads back to the same text (for
//     UTF-8 input);
//   - a layout written by FormatLayout reads back to the same layout;
//   - a refusal's message is one line.
//
// The package is looked up in NX_FUZZ_PACKAGES (fuzz/run.sh builds it there).
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "components/NXFlowDisplay.h"
#include "documents/NXGraphEdit.h"
#include "nxflow/NXFlowHost.h"
#include "nxflow/NXFlowPackages.h"
#include "nxflow/NXFlowServeApi.h"

using namespace nx;
using namespace nx::flow;

namespace {

TPackageLoader* GPackages = nullptr;
INXFlowDisplay* GScope = nullptr;

// A tone through an FIR low-pass and a mixer into a scope.
const char* const kGraph =
    "<NXGraph Version=\"1\" Packages=\"nxexamples\">"
    "<TNXGroup Name=\"G\"><_Components>"
    "<TNXSineGenerator Name=\"Tone\" SampleRate=\"8000\" BufferSize=\"64\"/>"
    "<TNXFirFilter Name=\"LowPass\" Order=\"16\" LowFrequency=\"1000\"/>"
    "<TNXMixer Name=\"Mix\" InputCount=\"2\"/>"
    "<TNXScopeView Name=\"Scope\" FileName=\"scope.png\" Samples=\"64\"/>"
    "</_Components></TNXGroup>"
    "<Links><Link From=\"Tone\" FromPin=\"OutputPin\" To=\"LowPass\" ToPin=\"InputPin\"/>"
    "<Link From=\"LowPass\" FromPin=\"OutputPin\" To=\"Mix\" ToPin=\"InputPin1\"/>"
    "<Link From=\"Mix\" FromPin=\"OutputPin\" To=\"Scope\" ToPin=\"InputPin\"/></Links>"
    "</NXGraph>";

[[noreturn]] void Finding(const char* AWhat, std::string_view AText) {
  std::fprintf(stderr, "ServeRequestFuzz: %s: \"%.*s\"\n", AWhat, static_cast<int>(AText.size()), AText.data());
  std::abort();
}

void CheckOneLine(const std::exception& AError) {
  if (std::string_view(AError.what()).find('\n') != std::string_view::npos) Finding("a refusal of two lines", AError.what());
}

// Sizes past these make a property change cost what the user asked for
// (a mixer of a million inputs), which is no fault of the reader.
bool WithinBudget(const std::string& AValue) {
  double number = 0;
  const auto [ptr, ec] = std::from_chars(AValue.data(), AValue.data() + AValue.size(), number);
  return ec != std::errc() || std::fabs(number) <= 4096;
}

void ApplyToGraph(const TSetRequest& ARequest) {
  if (!WithinBudget(ARequest.Value)) return;
  TComponent* holder = new TComponent(nullptr);
  holder->SetDesigning(true);
  try {
    TComponent* root = LoadGraph(ReadGraphData("fuzz.xml", kGraph), *GPackages, holder);
    ApplySetting(*root, ARequest.Setting());
  } catch (const EFlowError& e) {
    CheckOneLine(e);
  }
  TComponent::Free(holder);
}

// Runs AEdit on a fresh copy of the graph; what is left must save and load.
template <class F>
void EditGraph(F&& AEdit) {
  TComponent* holder = new TComponent(nullptr);
  holder->SetDesigning(true);
  TComponent* root = LoadGraph(ReadGraphData("fuzz.xml", kGraph), *GPackages, holder);
  try {
    AEdit(*root);
  } catch (const EGraphDocumentError& e) {
    CheckOneLine(e);
  }
  const std::string text = TNXGraphDocument::SaveToString(*root);
  TComponent::Free(root);
  try {
    TComponent::Free(LoadGraph(ReadGraphData("edited.xml", text), *GPackages, holder));
  } catch (const std::exception& e) {
    Finding("an edited graph that does not load again", e.what());
  }
  TComponent::Free(holder);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  GPackages = new TPackageLoader({NX_FUZZ_PACKAGES}, "");
  GPackages->Load("nxexamples");
  // Kept for the whole run: the display the pointer requests reach.
  TComponent* holder = new TComponent(nullptr);
  holder->SetDesigning(true);
  TComponent* root = LoadGraph(ReadGraphData("fuzz.xml", kGraph), *GPackages, holder);
  for (std::int32_t i = 0; i < root->ComponentCount() && !GScope; ++i)
    GScope = dynamic_cast<INXFlowDisplay*>(root->Components(i));
  if (!GScope) Finding("no display in the graph", kGraph);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view body(reinterpret_cast<const char*>(data) + 1, size - 1);
  try {
    switch (data[0] % 12) {
      case 0:
        ApplyToGraph(ParseSetRequest(body));
        break;
      case 1:
        ParseControlRequest(body);
        break;
      case 2:
        ParseLayoutRequest(body);
        break;
      case 3: {
        const std::string once = FormatLayout(ParseLayout(body));
        if (FormatLayout(ParseLayout(once)) != once) Finding("a layout that does not read back", once);
        break;
      }
      case 4: {
        const std::string json = "{\"v\": " + JsonString(body) + "}";
        const auto object = ParseJsonObject(json);
        // Text that is UTF-8 reads back as it was.
        if (JsonString(object.at("v").Text) == JsonString(body) && object.at("v").Text != body)
          Finding("a string that does not read back", body);
        break;
      }
      case 5:
        GScope->DisplayMouse(*MakeMouseOperation(ParseMouseRequest(body)), 480);
        break;
      case 6: {
        const TAddRequest request = ParseAddRequest(body);
        EditGraph([&](TComponent& ARoot) { AddGraphComponent(ARoot, request.Class); });
        break;
      }
      case 7: {
        const TRenameRequest request = ParseRenameRequest(body);
        EditGraph([&](TComponent& ARoot) {
          if (TComponent* c = FindGraphComponent(ARoot, request.Component)) RenameGraphComponent(*c, request.Name);
        });
        break;
      }
      case 8:
      case 9: {
        const TLinkRequest r = ParseLinkRequest(body);
        const bool link = data[0] % 12 == 8;
        EditGraph([&](TComponent& ARoot) {
          const TGraphLink l{r.From, r.FromPin, r.To, r.ToPin};
          link ? LinkGraphPins(ARoot, l) : UnlinkGraphPins(ARoot, l);
        });
        break;
      }
      case 10: {
        const std::string path = ParseDeleteRequest(body);
        EditGraph([&](TComponent& ARoot) { DeleteGraphComponent(ARoot, path); });
        break;
      }
      case 11:
        ParseSaveRequest(body);
        ParseEmptyRequest(body);
        break;
    }
  } catch (const EServeRequestError& e) {
    CheckOneLine(e);
  }
  return 0;
}
