// NXFlowServe: `nxflow serve` (see the header).
//
// The HTTP side is cpp-httplib as Debian ships it (libcpp-httplib-dev): a
// maintained, widely used server in one header and a small library, with
// a thread pool we can bound, request-size limits and chunked answers for
// Server-Sent Events; it needs nothing beyond what Debian installs and
// brings no framework with it.
#include "nxflow/NXFlowServe.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <iomanip>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>
#include <string_view>

#include "components/NXClockGen.h"
#include "components/NXComponentPalette.h"
#include "components/NXFlowDisplay.h"
#include "components/NXRealSink.h"
#include "documents/NXGraphDocument.h"
#include "documents/NXGraphEdit.h"
#include "nxflow/NXFlowHost.h"
#include "nxflow/NXFlowPackages.h"
#include "nxflow/NXFlowRun.h"
#include "nxflow/NXFlowServeApi.h"
#include "nxflow/NXFlowStats.h"
#include "nxflow/NXFlowWebAssets.h"
#include "runtime/NXTrace.h"
#include "runtime/Zandor.Design.h"
#include "runtime/Zandor.TypeInfo.h"
#include "streams/NXFlowFigures.h"

namespace nx::flow {

namespace {

constexpr int kMaxClients = 16;
// Threads beyond the clients' own: they answer 503 to those over the limit.
constexpr int kSpareThreads = 4;
constexpr auto kEventPeriod = std::chrono::milliseconds(250);
// The live pictures: the painter looks at every display this often, and
// draws one that changed, but each at most once a frame period (25 pictures
// a second). Looking more often than drawing means a display that changes
// seldom (a spectrum view) is drawn within a look of its change, not a frame.
constexpr auto kPaintLookPeriod = std::chrono::milliseconds(10);
constexpr auto kFramePeriod = std::chrono::milliseconds(40);
constexpr const char* kLayoutAttribute = "Layout";
// Where the built-in page names its own access token (in the addresses of
// its script and style); the server writes the run's token there.
constexpr std::string_view kPageTokenMark = "__NXFLOW_TOKEN__";
// A graph begun on the page: a group to put components in. Its document
// names the package the group comes from; other packages are found when a
// document names a class still unknown.
constexpr const char* kNewGraph =
    "<NXGraph Version=\"1\" Packages=\"nxexamples\"><TNXGroup Name=\"Graph\"/></NXGraph>";
// How many structure changes the page can undo.
constexpr std::size_t kMaxUndoSteps = 200;
constexpr std::string_view kStopFirst = "stop the graph first: a running graph's structure is not changed";

// Whether the connection the current thread serves came over the limit.
thread_local bool GOverLimit = false;

// The server's thread pool, counting the connections it serves: each
// connection holds one thread for as long as it stays open, and those past
// kMaxClients are marked so that every request on them is refused.
class TClientPool final : public httplib::TaskQueue {
 public:
  explicit TClientPool(std::atomic<int>& AActive) : FPool(kMaxClients + kSpareThreads), FActive(AActive) {}
  void enqueue(std::function<void()> AJob) override {
    FPool.enqueue([this, job = std::move(AJob)]() {
      GOverLimit = FActive.fetch_add(1) + 1 > kMaxClients;
      job();
      FActive.fetch_sub(1);
      GOverLimit = false;
    });
  }
  void shutdown() override { FPool.shutdown(); }

 private:
  httplib::ThreadPool FPool;
  std::atomic<int>& FActive;
};

std::string ErrorJson(std::string_view AMessage) {
  // One line: a message from deeper down may carry more.
  std::string line(AMessage.substr(0, AMessage.find('\n')));
  return "{\"error\": " + JsonString(line) + "}";
}

void Answer(httplib::Response& ARes, int AStatus, const std::string& AJson) {
  ARes.status = AStatus;
  ARes.set_content(AJson, "application/json");
}

void Refuse(httplib::Response& ARes, int AStatus, std::string_view AMessage) {
  Answer(ARes, AStatus, ErrorJson(AMessage));
}

// The dotted path of AComponent below ARoot ("" for the root), as links name it.
std::string PathBelow(const TComponent& ARoot, const TComponent* AComponent) {
  std::string path;
  for (const TComponent* c = AComponent; c && c != &ARoot; c = c->Owner())
    path = path.empty() ? c->Name() : c->Name() + "." + path;
  return path;
}

TComponent* FindByPath(TComponent& ARoot, std::string_view APath) {
  TComponent* c = &ARoot;
  for (const std::string& part : SplitList(std::string(APath), ".")) {
    c = c->FindComponent(part);
    if (!c) return nullptr;
  }
  return c == &ARoot ? nullptr : c;
}

void Collect(TComponent* AComponent, std::vector<TComponent*>& AOut) {
  AOut.push_back(AComponent);
  for (std::int32_t i = 0; i < AComponent->ComponentCount(); ++i) Collect(AComponent->Components(i), AOut);
}

// The kind of editor a property gets; "" for those the page does not edit
// (sub-objects, references, events).
const char* EditorKind(const TPropInfo& AProp) {
  switch (AProp.Kind) {
    case TPropKind::Bool: return "bool";
    case TPropKind::Int32:
    case TPropKind::UInt32:
    case TPropKind::Int64: return "integer";
    case TPropKind::Float:
    case TPropKind::Double: return "number";
    case TPropKind::Enum: return "enum";
    case TPropKind::Set: return "set";
    case TPropKind::String: return "string";
    default: return "";
  }
}

// A property that names a file or folder: what the program reads and writes
// is chosen in the document, never from the page.
bool NamesAFile(std::string_view AProperty) {
  std::string lower;
  for (char c : AProperty) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const char* word : {"file", "folder", "directory", "path"})
    if (lower.find(word) != std::string::npos) return true;
  return false;
}

// Whether APath is AComponent or a component inside it.
bool IsAtOrBelow(std::string_view APath, std::string_view AComponent) {
  return APath == AComponent || (APath.size() > AComponent.size() && APath.starts_with(AComponent) &&
                                 APath[AComponent.size()] == '.');
}

// The pins of a class, from a component made for the question.
std::string ClassPinsJson(const TClassInfo& AClass) {
  std::string json = "[";
  TPersistent* made = nullptr;
  try {
    made = AClass.Create(nullptr);
  } catch (const std::exception&) {
    return json + "]";  // a class that cannot be made on its own shows no pins
  }
  if (const auto* owner = dynamic_cast<const INXPinOwner*>(made)) {
    bool first = true;
    for (const TFTBasicPin* pin : owner->Pins()) {
      json += std::string(first ? "" : ", ") + "{\"name\": " + JsonString(pin->GetName()) +
              ", \"direction\": " + (pin->IsSourcePin() ? "\"source\"" : "\"sink\"") + "}";
      first = false;
    }
  }
  if (auto* component = dynamic_cast<TComponent*>(made))
    TComponent::Free(component);
  else
    delete made;
  return json + "]";
}

enum class TRunState { Running, Paused, Stopped, Failed };

const char* StateName(TRunState AState) {
  switch (AState) {
    case TRunState::Running: return "running";
    case TRunState::Paused: return "paused";
    case TRunState::Stopped: return "stopped";
    case TRunState::Failed: return "failed";
  }
  return "stopped";
}

struct TSinkCount {
  std::int64_t Buffers = 0, Samples = 0;
};

// The processor time of the calling thread: what drawing costs, whatever
// else the machine is doing.
double ThreadSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// A display of the running graph and what of it was drawn last.
struct TLiveDisplay {
  std::string Path;
  INXFlowDisplay* Display = nullptr;
  std::uint64_t DrawnVersion = UINT64_MAX, DrawnSettings = UINT64_MAX;
  std::int64_t Frames = 0, LastFrames = 0;
  // When it was last drawn, and since when a change waits to be drawn
  // (the epoch: none waits).
  std::chrono::steady_clock::time_point DrawnAt{}, ChangedSince{};
};

// The latest picture of a display (PNG), or why it could not be drawn.
struct TFrame {
  std::uint64_t Serial = 0;
  std::string Picture, Error;
  // When the painter first saw the display change (within a look of the
  // change), and how long after that the last pictures went out (seconds,
  // the latest 256).
  std::chrono::steady_clock::time_point SeenAt;
  std::vector<float> Ages;
  std::size_t NextAge = 0;
};


}  // namespace

struct TGraphServer::TState {
  TServeOptions Options;
  TPackageLoader& Packages;
  std::string Token;
  int Port = 0;

  // The graph: while it runs, Run holds it; stopped, Design holds it loaded
  // in a designing holder (nothing starts), ready to be edited and started.
  // Document is the graph's document as last read or written by a stop;
  // Layout the boxes' places. All under GraphLock.
  std::mutex GraphLock;
  TGraphFile Document;
  std::unique_ptr<TGraphRun> Run;
  TComponent* DesignHolder = nullptr;
  TComponent* DesignRoot = nullptr;
  TRunState State = TRunState::Stopped;
  std::string FaultText;
  // The closing line of a run whose generators all ended by themselves.
  std::string EndedText;
  std::vector<TBoxPosition> Layout;
  // The designer: the folder the server started in (a new graph is saved
  // inside it), and the graph as it stood before each structure change
  // made since (undo) and after each one undone (redo).
  struct TDesignStep {
    std::string Text;
    std::vector<TBoxPosition> Layout;
  };
  std::filesystem::path StartFolder;
  std::vector<TDesignStep> UndoSteps, RedoSteps;
  bool PaletteLoaded = false;
  // Virtual time at a rate: the step where pacing began and when.
  std::uint64_t PaceSteps = 0;
  std::chrono::steady_clock::time_point PaceSince;
  std::map<std::string, TSinkCount> LastCounts;
  TGraphStats LastStats;
  std::chrono::steady_clock::time_point LastCountsAt;
  // The displays of the running graph and the figures of their pictures,
  // under PaintLock (taken after GraphLock where both are held). The painter
  // holds PaintLock, not GraphLock, for one picture at a time: requests are
  // never held up by drawing, and a run stops only between two pictures.
  std::mutex PaintLock;
  std::vector<TLiveDisplay> Displays;
  // Processor time spent drawing and encoding pictures since the last figures.
  double PaintSeconds = 0;
  // Grows with every property change, which may change any picture.
  std::atomic<std::uint64_t> SettingsSerial{0};

  // The latest figures for the event streams.
  std::mutex EventsLock;
  std::condition_variable EventsChanged;
  std::string EventsJson = "{}";
  std::uint64_t EventsSerial = 0;
  // The latest picture of each display; FrameSerial counts pictures made.
  std::map<std::string, TFrame> Frames;
  std::uint64_t FrameSerial = 0;

  std::atomic<bool> Stopping{false};
  std::atomic<int> ActiveClients{0};
  std::unique_ptr<httplib::Server> Http;
  std::thread Listener, Monitor, Painter;
  bool Stopped = false;

  TState(const TServeOptions& AOptions, TPackageLoader& APackages) : Options(AOptions), Packages(APackages) {}

  TRunOptions RunOptions() const {
    TRunOptions options;
    options.RealTime = Options.VirtualRate <= 0;
    options.OutDir = Options.OutDir;
    options.Graphs = {Options.Graph};
    return options;
  }

  TComponent* Root() const { return Run ? &Run->Root() : DesignRoot; }

  // ---- the graph's life (GraphLock held)

  void LoadDesign() {
    FreeDesign();
    DesignHolder = new TComponent(nullptr);
    DesignHolder->SetDesigning(true);
    try {
      DesignRoot = LoadGraph(Document, Packages, DesignHolder);
    } catch (...) {
      FreeDesign();
      throw;
    }
  }
  void FreeDesign() {
    if (DesignHolder) TComponent::Free(DesignHolder);
    DesignHolder = DesignRoot = nullptr;
  }
  // The document of the graph as it stands now, attributes of the document
  // element kept.
  void Snapshot() {
    const TComponent* root = Root();
    if (!root) return;
    TakeDocument(TNXGraphDocument::SaveToString(*root));
  }
  // Makes AText the graph's document, keeping the host's attributes.
  void TakeDocument(const std::string& AText) {
    TGraphFile fresh = ReadGraphData(Document.FileName, AText);
    TIntfPtr<IXmlElement> top = fresh.Xml->DocumentElement();
    if (TIntfPtr<IXmlElement> old = Document.Xml->DocumentElement())
      for (int i = 0; i < old->AttrCount(); ++i)
        if (old->AttrName(i) != "Version") top->SetAttr(old->AttrName(i), old->GetAttr(old->AttrName(i)));
    fresh.Binary = Document.Binary;
    fresh.Packages = Document.Packages;
    fresh.Seconds = Document.Seconds;
    Document = std::move(fresh);
  }

  void StartRun() {
    if (Run) return;
    Snapshot();
    FreeDesign();
    try {
      Run = std::make_unique<TGraphRun>(Document, RunOptions(), Packages);
      // The figures of every link and queue count from the streams' start.
      figures::Enable(true);
      Run->Start();
    } catch (...) {
      Run.reset();
      figures::Enable(false);
      LoadDesign();
      throw;
    }
    LastCounts.clear();
    LastStats = {};
    LastCountsAt = std::chrono::steady_clock::now();
    FaultText.clear();
    EndedText.clear();
    {
      std::lock_guard paint(PaintLock);
      Displays.clear();
      for (TComponent* c : Run->Components())
        if (auto* display = dynamic_cast<INXFlowDisplay*>(c))
          Displays.push_back({.Path = PathBelow(Run->Root(), c), .Display = display});
    }
    Release();
  }
  // Lets the master clock go: all the way on the wall clock, by the pacer on
  // virtual time.
  void Release() {
    if (State == TRunState::Paused && Run) Run->NotifyResume();
    State = TRunState::Running;
    PaceSteps = NXMasterClockSteps();
    PaceSince = std::chrono::steady_clock::now();
    NXSetClockStepLimit(Options.VirtualRate > 0 ? PaceSteps : UINT64_MAX);
  }
  void Pause() {
    if (State != TRunState::Running) return;
    TGraphRun::HoldClockHere();
    Run->NotifyPause();
    State = TRunState::Paused;
  }
  // Ends the run: every sink finishes, the files go into --out; the graph
  // stays loaded for editing. Returns the closing line.
  std::string FinishRun() {
    if (!Run) return {};
    TGraphRun::HoldClockHere();
    const double seconds = NXMasterClockSteps() / 1000.0;
    {
      std::lock_guard paint(PaintLock);
      Displays.clear();
    }
    Snapshot();
    std::string line;
    std::string failure;
    try {
      const std::vector<TNodeRow> rows = Run->Finish();
      std::size_t files = 0;
      for (const TNodeRow& row : rows) files += row.Report.Files.size();
      std::ostringstream text;
      text << Document.FileName << ": " << std::fixed << std::setprecision(2) << seconds << " s of stream time, "
           << files << (files == 1 ? " file" : " files") << " written into " << Run->OutDir();
      line = text.str();
    } catch (const std::exception& e) {
      failure = e.what();
    }
    Run.reset();
    figures::Enable(false);
    State = failure.empty() ? TRunState::Stopped : TRunState::Failed;
    if (!failure.empty()) FaultText = failure;
    LoadDesign();
    return failure.empty() ? line : failure;
  }

  // ---- the designer (GraphLock held)

  TDesignStep CaptureDesign() const { return {TNXGraphDocument::SaveToString(*DesignRoot), Layout}; }
  void RestoreDesign(const TDesignStep& AStep) {
    TakeDocument(AStep.Text);
    Layout = AStep.Layout;
    LoadDesign();
  }
  // Runs AChange on the stopped graph as one step that undo takes back.
  // Refused while the graph runs (or is paused): its streams have started,
  // and the bases give a running stream no way to take a component in or
  // out. A change the library refuses throws, and the graph stays as it was.
  template <class F>
  bool Structure(httplib::Response& ARes, F&& AChange) {
    if (Run) {
      Refuse(ARes, 409, kStopFirst);
      return false;
    }
    if (!DesignRoot) {
      Refuse(ARes, 409, "no graph is loaded");
      return false;
    }
    TDesignStep before = CaptureDesign();
    AChange();
    UndoSteps.push_back(std::move(before));
    if (UndoSteps.size() > kMaxUndoSteps) UndoSteps.erase(UndoSteps.begin());
    RedoSteps.clear();
    return true;
  }
  // Undo (AFrom: UndoSteps, ATo: RedoSteps) or redo (the other way round).
  void Step(httplib::Response& ARes, std::vector<TDesignStep>& AFrom, std::vector<TDesignStep>& ATo,
            const char* AWhat) {
    if (Run) return Refuse(ARes, 409, kStopFirst);
    if (AFrom.empty()) return Refuse(ARes, 409, std::string("nothing to ") + AWhat);
    ATo.push_back(CaptureDesign());
    TDesignStep step = std::move(AFrom.back());
    AFrom.pop_back();
    RestoreDesign(step);
    Answer(ARes, 200, "{\"undo\": " + std::to_string(UndoSteps.size()) + ", \"redo\": " +
                          std::to_string(RedoSteps.size()) + "}");
  }

  // Every component class that can be made, grouped by palette category,
  // with its pins and description. A class in no category stands under
  // "Other" when it has pins; one without (a base class, a collection
  // item) is nothing to link on a page.
  std::string PaletteJson() {
    if (!PaletteLoaded) {
      PaletteLoaded = true;
      try {
        Packages.LoadAll();
      } catch (const std::exception&) {
        // A package that does not load leaves its classes off the palette;
        // the graph's own packages are loaded already.
      }
    }
    std::vector<const TClassInfo*> classes;
    for (const TClassInfo* c : RegisteredClasses())
      if (c->IsComponent() && c->Factory()) classes.push_back(c);
    std::sort(classes.begin(), classes.end(), [](auto* a, auto* b) { return a->Name() < b->Name(); });
    std::string json = "{\"classes\": [";
    bool first = true;
    for (const TClassInfo* c : classes) {
      const std::vector<std::string> categories = CategoriesOf(*c);
      const std::string pins = ClassPinsJson(*c);
      if (categories.empty() && pins == "[]") continue;
      json += std::string(first ? "" : ", ") + "{\"class\": " + JsonString(c->Name()) + ", \"category\": " +
              JsonString(categories.empty() ? "Other" : categories.front()) + ", \"description\": " +
              JsonString(PaletteDescription(*c)) + ", \"pins\": " + pins + "}";
      first = false;
    }
    return json + "]}";
  }

  // Writes a graph begun on the page as AFile inside the start folder: the
  // name's form is checked by the request parser; here its folders must
  // exist and lead nowhere else (a symbolic link out is refused), and no
  // file may stand there yet.
  std::string SaveNewGraph(const std::string& AFile) {
    namespace fs = std::filesystem;
    const fs::path target = StartFolder / AFile;
    std::error_code ec;
    const fs::path folder = fs::canonical(target.parent_path(), ec);
    if (ec || !fs::is_directory(folder)) throw EFlowError("no folder " + target.parent_path().string());
    const auto [end, at] = std::mismatch(StartFolder.begin(), StartFolder.end(), folder.begin(), folder.end());
    if (end != StartFolder.end()) throw EFlowError(AFile + " leads out of the folder the server was started in");
    if (fs::exists(fs::symlink_status(target, ec))) throw EFlowError(AFile + " exists already: choose another name");
    const std::string file = (folder / target.filename()).string();
    Document.FileName = file;
    SaveGraphFile(file, Document, *Root(), {{kLayoutAttribute, FormatLayout(Layout)}});
    Options.Graph = file;
    return file;
  }

  // ---- the monitor thread: faults, the pace of virtual time, the figures

  void MonitorLoop() {
    auto nextFigures = std::chrono::steady_clock::now();
    while (!Stopping.load()) {
      {
        std::lock_guard guard(GraphLock);
        if (Run && State == TRunState::Running) {
          if (std::string fault = Run->Fault(); !fault.empty()) {
            FinishRun();
            State = TRunState::Failed;
            FaultText = fault;
          } else if (!Run->AnyGeneratorRunning()) {
            // The stream ended by itself (a player at the end of its file,
            // a network source told to stop): the run ends as a stop ends it.
            EndedText = FinishRun();
          } else if (Options.VirtualRate > 0) {
            const double ms =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - PaceSince).count();
            NXSetClockStepLimit(PaceSteps + static_cast<std::uint64_t>(ms * Options.VirtualRate));
          }
        }
        if (std::chrono::steady_clock::now() >= nextFigures) {
          nextFigures += kEventPeriod;
          PublishFigures();
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  // ---- the painter thread: the live pictures

  void PaintLoop() {
    auto next = std::chrono::steady_clock::now();
    while (!Stopping.load()) {
      next += kPaintLookPeriod;
      PaintChanged();
      const auto now = std::chrono::steady_clock::now();
      // Behind by more than a period (a slow machine): start afresh rather
      // than drawing in bursts.
      if (next < now) next = now;
      std::this_thread::sleep_until(next);
    }
  }

  // Draws the displays whose pictures changed, each under PaintLock: the
  // graph cannot stop (and free its displays) while one is drawn.
  void PaintChanged() {
    for (std::size_t i = 0;; ++i) {
      std::lock_guard paint(PaintLock);
      if (i >= Displays.size()) break;
      TLiveDisplay& d = Displays[i];
      const std::uint64_t version = d.Display->DisplayVersion(), settings = SettingsSerial.load();
      if (version == d.DrawnVersion && settings == d.DrawnSettings) continue;
      const auto now = std::chrono::steady_clock::now();
      if (d.ChangedSince == std::chrono::steady_clock::time_point{}) d.ChangedSince = now;
      if (now - d.DrawnAt < kFramePeriod) continue;  // drawn a moment ago: at a later look
      d.DrawnVersion = version;
      d.DrawnSettings = settings;
      d.DrawnAt = now;
      const auto seen = std::exchange(d.ChangedSince, std::chrono::steady_clock::time_point{});
      const double began = ThreadSeconds();
      std::string picture, error;
      try {
        picture = d.Display->DisplayPicture(Options.PanelWidth);
      } catch (const std::exception& e) {
        error = e.what();
      }
      PaintSeconds += ThreadSeconds() - began;
      ++d.Frames;
      {
        std::lock_guard guard(EventsLock);
        TFrame& frame = Frames[d.Path];
        frame.Serial = ++FrameSerial;
        frame.Picture = std::move(picture);
        frame.Error = std::move(error);
        frame.SeenAt = seen;
      }
      EventsChanged.notify_all();
    }
  }

  // GraphLock held.
  void PublishFigures() {
    const auto now = std::chrono::steady_clock::now();
    const double dt = std::chrono::duration<double>(now - LastCountsAt).count();
    std::string json = "{\"state\": " + JsonString(StateName(State));
    if (!FaultText.empty()) json += ", \"fault\": " + JsonString(FaultText);
    if (!EndedText.empty() && State == TRunState::Stopped) json += ", \"ended\": " + JsonString(EndedText);
    // A graph a device paces has no clock steps: its stream time is what
    // the device played or captured.
    json += ", \"streamSeconds\": " +
            JsonNumber(!Run ? 0.0 : Run->Paced() ? Run->PacedSeconds() : NXMasterClockSteps() / 1000.0);
    // The live pictures: how many each display got and the share of one
    // core that drawing and encoding them took.
    {
      std::lock_guard paint(PaintLock);
      json += ", \"paintLoad\": " + JsonNumber(dt > 0 ? PaintSeconds / dt : 0) + ", \"displays\": {";
      PaintSeconds = 0;
      bool firstDisplay = true;
      for (TLiveDisplay& d : Displays) {
        // The 99th percentile of how long after the painter first saw a
        // change its picture went out to a page (null before the first).
        std::string age = "null";
        {
          std::lock_guard guard(EventsLock);
          if (const auto f = Frames.find(d.Path); f != Frames.end() && !f->second.Ages.empty()) {
            std::vector<float> ages = f->second.Ages;
            const std::size_t k = std::min(ages.size() - 1, static_cast<std::size_t>(ages.size() * 0.99));
            std::nth_element(ages.begin(), ages.begin() + static_cast<std::ptrdiff_t>(k), ages.end());
            age = JsonNumber(ages[k]);
          }
        }
        json += std::string(firstDisplay ? "" : ", ") + JsonString(d.Path) + ": {\"framesPerSecond\": " +
                JsonNumber(dt > 0 ? double(d.Frames - d.LastFrames) / dt : 0) + ", \"pictureAgeP99\": " + age + "}";
        d.LastFrames = d.Frames;
        firstDisplay = false;
      }
    }
    json += "}, \"components\": {";
    std::map<std::string, TSinkCount> counts;
    if (TComponent* root = Run ? &Run->Root() : nullptr) {
      bool first = true;
      for (TComponent* c : Run->Components())
        if (const auto* sink = dynamic_cast<const TNXRealSink*>(c)) {
          const std::string path = PathBelow(*root, c);
          const TSinkCount now{sink->Buffers(), sink->Samples()};
          counts[path] = now;
          const auto last = LastCounts.find(path);
          const TSinkCount before = last == LastCounts.end() ? TSinkCount{} : last->second;
          const bool paced = dt > 0 && State == TRunState::Running;
          json += std::string(first ? "" : ", ") + JsonString(path) + ": {\"buffers\": " +
                  std::to_string(now.Buffers) + ", \"samples\": " + std::to_string(now.Samples) +
                  ", \"buffersPerSecond\": " + JsonNumber(paced ? (now.Buffers - before.Buffers) / dt : 0) +
                  ", \"samplesPerSecond\": " + JsonNumber(paced ? (now.Samples - before.Samples) / dt : 0) + "}";
          first = false;
        }
    }
    json += "}";
    // Per link and per worker queue: rates between this look and the last.
    if (Run) {
      TGraphStats stats = CollectStats(Run->Root(), Run->Components());
      json += ", \"flow\": " + StatsJson(stats, LastStats, State == TRunState::Running ? dt : 0);
      LastStats = std::move(stats);
    }
    json += "}";
    LastCounts = std::move(counts);
    LastCountsAt = now;
    {
      std::lock_guard guard(EventsLock);
      EventsJson = std::move(json);
      ++EventsSerial;
    }
    EventsChanged.notify_all();
  }

  // ---- answers (GraphLock held by the caller)

  std::string GraphJson() {
    TComponent* root = Root();
    std::string json = "{\"file\": " + JsonString(std::filesystem::path(Options.Graph).filename().string()) +
                       ", \"new\": " + (Options.Graph.empty() ? "true" : "false") +
                       ", \"undo\": " + std::to_string(UndoSteps.size()) + ", \"redo\": " +
                       std::to_string(RedoSteps.size()) + ", \"state\": " + JsonString(StateName(State)) +
                       ", \"components\": [";
    std::vector<TComponent*> components;
    if (root) Collect(root, components);
    bool first = true;
    for (TComponent* c : components) {
      const auto* owner = dynamic_cast<const INXPinOwner*>(c);
      // The root is a box only when it has pins of its own (a group has none).
      if (c == root && (!owner || owner->Pins().empty())) continue;
      const std::string path = PathBelow(*root, c);
      json += std::string(first ? "" : ", ") + "{\"name\": " + JsonString(path) +
              ", \"class\": " + JsonString(c->ClassName()) + ", \"sink\": " +
              (dynamic_cast<const TNXRealSink*>(c) ? "true" : "false") + ", \"display\": " +
              (dynamic_cast<const INXFlowDisplay*>(c) ? "true" : "false") + ", \"pins\": [";
      first = false;
      if (owner) {
        bool firstPin = true;
        for (const TFTBasicPin* pin : owner->Pins()) {
          json += std::string(firstPin ? "" : ", ") + "{\"name\": " + JsonString(pin->GetName()) +
                  ", \"direction\": " + (pin->IsSourcePin() ? "\"source\"" : "\"sink\"") + "}";
          firstPin = false;
        }
      }
      json += "]";
      for (const TBoxPosition& p : Layout)
        if (p.Component == path) json += ", \"x\": " + JsonNumber(p.X) + ", \"y\": " + JsonNumber(p.Y);
      json += "}";
    }
    json += "], \"links\": [";
    first = true;
    if (root)
      for (const TGraphLink& l : TNXGraphDocument::Links(*root)) {
        json += std::string(first ? "" : ", ") + "{\"from\": " + JsonString(l.From) +
                ", \"fromPin\": " + JsonString(l.FromPin) + ", \"to\": " + JsonString(l.To) +
                ", \"toPin\": " + JsonString(l.ToPin) + "}";
        first = false;
      }
    return json + "]}";
  }

  // The published properties the page can edit, with the rows `describe`
  // prints and each one's current value.
  std::string ComponentJson(TComponent& AComponent) {
    const TComponent* root = Root();
    std::string json = "{\"name\": " + JsonString(PathBelow(*root, &AComponent)) +
                       ", \"class\": " + JsonString(AComponent.ClassName()) + ", \"properties\": [";
    bool first = true;
    for (const TPropertyRow& row : DescribeProperties(AComponent.GetClassInfo())) {
      const TPropInfo& p = *row.Info;
      const std::string kind = EditorKind(p);
      if (kind.empty() || p.Name == "Name") continue;
      std::string value;
      try {
        value = p.GetText(AComponent);
      } catch (const std::exception&) {
        continue;
      }
      json += std::string(first ? "" : ", ") + "{\"name\": " + JsonString(p.Name) + ", \"kind\": " +
              JsonString(kind) + ", \"type\": " + JsonString(row.Type) + ", \"value\": " + JsonString(value) +
              ", \"default\": " + JsonString(row.Default);
      first = false;
      if (!row.Min.empty()) json += ", \"min\": " + JsonString(row.Min);
      if (!row.Max.empty()) json += ", \"max\": " + JsonString(row.Max);
      if (!row.Values.empty()) {
        json += ", \"values\": [";
        for (std::size_t i = 0; i < row.Values.size(); ++i) json += (i ? ", " : "") + JsonString(row.Values[i]);
        json += "]";
      }
      const bool readOnly = p.ReadOnly() || NamesAFile(p.Name);
      json += std::string(", \"readOnly\": ") + (readOnly ? "true" : "false");
      if (!p.Hints.Description.empty()) json += ", \"description\": " + JsonString(p.Hints.Description);
      json += "}";
    }
    return json + "]}";
  }

  // ---- the HTTP side

  // Every request passes here first: the client limit, then the token.
  httplib::Server::HandlerResponse Gate(const httplib::Request& AReq, httplib::Response& ARes) {
    if (GOverLimit) {
      ARes.set_header("Connection", "close");
      Refuse(ARes, 503, "too many clients");
      return httplib::Server::HandlerResponse::Handled;
    }
    const std::string given =
        AReq.has_param("token") ? AReq.get_param_value("token") : BearerToken(AReq.get_header_value("Authorization"));
    if (!TokenMatches(Token, given)) {
      ARes.set_header("Connection", "close");
      Refuse(ARes, 401, "a valid token is required");
      return httplib::Server::HandlerResponse::Handled;
    }
    // Nothing the server answers is to be cached or framed by another site.
    ARes.set_header("Cache-Control", "no-store");
    ARes.set_header("X-Content-Type-Options", "nosniff");
    ARes.set_header("X-Frame-Options", "DENY");
    ARes.set_header("Referrer-Policy", "no-referrer");
    return httplib::Server::HandlerResponse::Unhandled;
  }

  void ServeAsset(const std::string& AName, httplib::Response& ARes) {
    const TWebAsset* asset = FindWebAsset(AName);
    if (!asset) return Refuse(ARes, 404, "not found");
    std::string bytes(asset->Bytes);
    // The page passes the token on to its script; the token is hex digits.
    if (AName == "index.html")
      for (std::size_t at; (at = bytes.find(kPageTokenMark)) != std::string::npos;)
        bytes.replace(at, kPageTokenMark.size(), Token);
    ARes.set_header("Content-Security-Policy",
                    "default-src 'self'; img-src 'self' data:; connect-src 'self'; frame-ancestors 'none'");
    ARes.status = 200;
    ARes.set_content(bytes, std::string(asset->ContentType));
  }

  // Runs AHandler under the graph's lock; what it throws becomes a JSON
  // refusal: 400 for a request the graph refuses, 500 for anything else.
  template <class F>
  void Locked(httplib::Response& ARes, F&& AHandler) {
    try {
      std::lock_guard guard(GraphLock);
      AHandler();
    } catch (const EServeRequestError& e) {
      Refuse(ARes, 400, e.what());
    } catch (const EFlowError& e) {
      Refuse(ARes, 400, e.what());
    } catch (const EGraphDocumentError& e) {
      Refuse(ARes, 400, e.what());
    } catch (const std::exception& e) {
      Refuse(ARes, 500, e.what());
    }
  }

  void Routes(httplib::Server& AHttp) {
    AHttp.Get("/", [this](const httplib::Request&, httplib::Response& res) { ServeAsset("index.html", res); });
    AHttp.Get("/app.js", [this](const httplib::Request&, httplib::Response& res) { ServeAsset("app.js", res); });
    AHttp.Get("/style.css", [this](const httplib::Request&, httplib::Response& res) { ServeAsset("style.css", res); });
    AHttp.Get("/api/graph", [this](const httplib::Request&, httplib::Response& res) {
      Locked(res, [&] { Answer(res, 200, GraphJson()); });
    });
    AHttp.Get(R"(/api/component/([A-Za-z0-9_.]{1,256}))", [this](const httplib::Request& req, httplib::Response& res) {
      Locked(res, [&] {
        const std::string path = req.matches[1];
        TComponent* root = Root();
        TComponent* c = root && IsComponentPath(path) ? FindByPath(*root, path) : nullptr;
        if (!c) return Refuse(res, 404, "no component " + JsonString(path));
        Answer(res, 200, ComponentJson(*c));
      });
    });
    AHttp.Post("/api/set", [this](const httplib::Request& req, httplib::Response& res) {
      Locked(res, [&] {
        const TSetRequest request = ParseSetRequest(req.body);
        TComponent* root = Root();
        TComponent* c = root ? FindByPath(*root, request.Component) : nullptr;
        if (!c) return Refuse(res, 404, "no component " + JsonString(request.Component));
        if (NamesAFile(request.Property))
          return Refuse(res, 403, "property " + request.Property +
                                      " names a file: files are chosen in the document, not from the page");
        if (SameNameNoCase(request.Property, "Name"))
          return Refuse(res, 403, "components are renamed with their own request (/api/rename)");
        ApplySetting(*root, request.Setting());
        ++SettingsSerial;
        // The value as the component now holds it (a property may round it).
        const std::vector<std::string> parts = SplitList(request.Property, ".");
        TPersistent* object = c;
        const TPropInfo* prop = nullptr;
        for (std::size_t i = 0; object && i < parts.size(); ++i) {
          prop = object->GetClassInfo().FindProperty(parts[i]);
          if (prop && i + 1 < parts.size()) object = prop->GetObject(*object);
        }
        const std::string value = prop && object ? prop->GetText(*object) : request.Value;
        Answer(res, 200, "{\"component\": " + JsonString(request.Component) + ", \"property\": " +
                             JsonString(request.Property) + ", \"value\": " + JsonString(value) + "}");
      });
    });
    AHttp.Post("/api/control", [this](const httplib::Request& req, httplib::Response& res) {
      Locked(res, [&] {
        const TControlAction action = ParseControlRequest(req.body);
        switch (action) {
          case TControlAction::Start:
            if (State == TRunState::Paused) Release();
            else StartRun();
            break;
          case TControlAction::Pause:
            if (State != TRunState::Running) return Refuse(res, 409, "the graph is not running");
            Pause();
            break;
          case TControlAction::Resume:
            if (State != TRunState::Paused) return Refuse(res, 409, "the graph is not paused");
            Release();
            break;
          case TControlAction::Stop: {
            if (!Run) return Refuse(res, 409, "the graph is not running");
            const std::string line = FinishRun();
            if (State == TRunState::Failed) return Refuse(res, 500, line);
            break;
          }
        }
        PublishFigures();
        Answer(res, 200, "{\"state\": " + JsonString(StateName(State)) + "}");
      });
    });
    AHttp.Post("/api/layout", [this](const httplib::Request& req, httplib::Response& res) {
      Locked(res, [&] {
        TBoxPosition position = ParseLayoutRequest(req.body);
        TComponent* root = Root();
        if (!root || !FindByPath(*root, position.Component))
          return Refuse(res, 404, "no component " + JsonString(position.Component));
        std::erase_if(Layout, [&](const TBoxPosition& p) { return p.Component == position.Component; });
        Layout.push_back(std::move(position));
        Answer(res, 200, "{}");
      });
    });
    AHttp.Get(R"(/api/picture/([A-Za-z0-9_.]{1,256}))", [this](const httplib::Request& req, httplib::Response& res) {
      std::string picture;
      std::uint64_t serial = 0;
      {
        std::lock_guard guard(EventsLock);
        const auto it = Frames.find(req.matches[1]);
        if (it != Frames.end() && !it->second.Picture.empty()) {
          TFrame& frame = it->second;
          picture = frame.Picture, serial = frame.Serial;
          const float age = std::chrono::duration<float>(std::chrono::steady_clock::now() - frame.SeenAt).count();
          if (frame.Ages.size() < 256)
            frame.Ages.push_back(age);
          else
            frame.Ages[frame.NextAge++ % 256] = age;
        }
      }
      if (picture.empty()) return Refuse(res, 404, "no picture of " + JsonString(req.matches[1].str()));
      res.status = 200;
      res.set_header("X-Frame-Serial", std::to_string(serial));
      res.set_content(std::move(picture), "image/png");
    });
    AHttp.Post("/api/mouse", [this](const httplib::Request& req, httplib::Response& res) {
      Locked(res, [&] {
        const TMouseRequest request = ParseMouseRequest(req.body);
        TComponent* root = Root();
        TComponent* c = root ? FindByPath(*root, request.Component) : nullptr;
        if (!c) return Refuse(res, 404, "no component " + JsonString(request.Component));
        auto* display = dynamic_cast<INXFlowDisplay*>(c);
        if (!display) return Refuse(res, 409, request.Component + " shows no picture");
        const std::string readout = display->DisplayMouse(*MakeMouseOperation(request), Options.PanelWidth);
        Answer(res, 200, "{\"readout\": " + JsonString(readout) + "}");
      });
    });
    AHttp.Post("/api/save", [this](const httplib::Request& req, httplib::Response& res) {
      Locked(res, [&] {
        const std::string file = ParseSaveRequest(req.body);
        TComponent* root = Root();
        if (!root) return Refuse(res, 409, "no graph is loaded");
        if (Options.Graph.empty()) {
          if (file.empty()) return Refuse(res, 400, "a new graph needs a file name (\"file\")");
          Answer(res, 200, "{\"saved\": " + JsonString(SaveNewGraph(file)) + "}");
          return;
        }
        if (!file.empty())
          return Refuse(res, 400, "the graph is saved in its own document " + Options.Graph + "; a file name is asked for a new graph only");
        SaveGraphFile(Options.Graph, Document, *root, {{kLayoutAttribute, FormatLayout(Layout)}});
        Answer(res, 200, "{\"saved\": " + JsonString(Options.Graph) + "}");
      });
    });
    // A timeline of the next few seconds (1 to 30, 2 unless asked), as a
    // file to save: one recording at a time, of at most 200,000 events.
    AHttp.Get("/api/trace", [](const httplib::Request& req, httplib::Response& res) {
      int seconds = 2;
      if (req.has_param("seconds")) {
        const std::string text = req.get_param_value("seconds");
        if (text.empty() || text.size() > 2 || !std::all_of(text.begin(), text.end(), ::isdigit) ||
            (seconds = std::stoi(text)) < 1 || seconds > 30)
          return Refuse(res, 400, "seconds must be a whole number from 1 to 30");
      }
      static std::atomic<bool> busy{false};
      if (trace::Recording() || busy.exchange(true)) return Refuse(res, 409, "a timeline is being recorded already");
      trace::Start(200'000);
      std::this_thread::sleep_for(std::chrono::seconds(seconds));
      trace::Stop();
      std::ostringstream json;
      trace::WriteJson(json);
      busy.store(false);
      res.status = 200;
      res.set_header("Content-Disposition", "attachment; filename=\"nxflow-timeline.json\"");
      res.set_content(json.str(), "application/json");
    });
    DesignerRoutes(AHttp);
    AHttp.Get("/api/events", [this](const httplib::Request&, httplib::Response& res) {
      res.set_header("Cache-Control", "no-store");
      res.set_chunked_content_provider("text/event-stream", [this](std::size_t, httplib::DataSink& sink) {
        return SendEvents(sink);
      });
    });
    AHttp.set_error_handler([](const httplib::Request&, httplib::Response& res) {
      // Keep what a handler already said; give the others a JSON line.
      if (!res.body.empty()) return;
      const char* message = res.status == 413 ? "the request body is larger than 64 KiB"
                            : res.status == 404 ? "not found"
                                                : "the request cannot be served";
      Answer(res, res.status, ErrorJson(message));
    });
    AHttp.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
      Refuse(res, 500, "internal error");
    });
  }

  void DesignerRoutes(httplib::Server& AHttp) {
    AHttp.Get("/api/palette", [this](const httplib::Request&, httplib::Response& res) {
      Locked(res, [&] { Answer(res, 200, PaletteJson()); });
    });
    AHttp.Post("/api/add", [this](const httplib::Request& req, httplib::Response& res) {
      Locked(res, [&] {
        const TAddRequest request = ParseAddRequest(req.body);
        std::string name;
        if (!Structure(res, [&] {
              name = PathBelow(*DesignRoot, AddGraphComponent(*DesignRoot, request.Class));
              if (request.Placed) Layout.push_back({name, request.X, request.Y});
            }))
          return;
        Answer(res, 200, "{\"name\": " + JsonString(name) + "}");
      });
    });
    AHttp.Post("/api/rename", [this](const httplib::Request& req, httplib::Response& res) {
      Locked(res, [&] {
        const TRenameRequest request = ParseRenameRequest(req.body);
        std::string name;
        if (!Structure(res, [&] {
              TComponent* c = FindByPath(*DesignRoot, request.Component);
              if (!c) throw EFlowError("no component " + JsonString(request.Component));
              RenameGraphComponent(*c, request.Name);
              name = PathBelow(*DesignRoot, c);
              // The boxes of the component and of those inside it keep their places.
              for (TBoxPosition& p : Layout)
                if (IsAtOrBelow(p.Component, request.Component))
                  p.Component = name + p.Component.substr(request.Component.size());
            }))
          return;
        Answer(res, 200, "{\"name\": " + JsonString(name) + "}");
      });
    });
    for (const bool link : {true, false})
      AHttp.Post(link ? "/api/link" : "/api/unlink", [this, link](const httplib::Request& req, httplib::Response& res) {
        Locked(res, [&] {
          const TLinkRequest r = ParseLinkRequest(req.body);
          const TGraphLink l{r.From, r.FromPin, r.To, r.ToPin};
          if (!Structure(res, [&] { link ? LinkGraphPins(*DesignRoot, l) : UnlinkGraphPins(*DesignRoot, l); }))
            return;
          Answer(res, 200, "{}");
        });
      });
    AHttp.Post("/api/delete", [this](const httplib::Request& req, httplib::Response& res) {
      Locked(res, [&] {
        const std::string path = ParseDeleteRequest(req.body);
        if (!Structure(res, [&] {
              DeleteGraphComponent(*DesignRoot, path);
              std::erase_if(Layout, [&](const TBoxPosition& p) { return IsAtOrBelow(p.Component, path); });
            }))
          return;
        Answer(res, 200, "{}");
      });
    });
    AHttp.Post("/api/undo", [this](const httplib::Request& req, httplib::Response& res) {
      Locked(res, [&] {
        ParseEmptyRequest(req.body);
        Step(res, UndoSteps, RedoSteps, "undo");
      });
    });
    AHttp.Post("/api/redo", [this](const httplib::Request& req, httplib::Response& res) {
      Locked(res, [&] {
        ParseEmptyRequest(req.body);
        Step(res, RedoSteps, UndoSteps, "redo");
      });
    });
  }

  // One event stream: the latest figures whenever they change, until the
  // client goes or the server stops.
  bool SendEvents(httplib::DataSink& ASink) {
    std::uint64_t seen = 0, seenFrames = 0;
    std::map<std::string, std::uint64_t> sent;
    while (!Stopping.load()) {
      // Built when the client can take it: a client that reads slowly gets
      // the newest figures and pictures, never a queue of old ones.
      std::string message;
      {
        std::unique_lock lock(EventsLock);
        EventsChanged.wait_for(lock, std::chrono::seconds(1), [&] {
          return EventsSerial != seen || FrameSerial != seenFrames || Stopping.load();
        });
        if (Stopping.load()) break;
        if (EventsSerial != seen) {
          seen = EventsSerial;
          message = "data: " + EventsJson + "\n\n";
        }
        if (FrameSerial != seenFrames) {
          seenFrames = FrameSerial;
          for (const auto& [name, frame] : Frames) {
            std::uint64_t& last = sent[name];
            if (last == frame.Serial) continue;
            last = frame.Serial;
            // The picture itself is fetched from /api/picture/NAME: the
            // browser decodes it off its page's thread, and asks for the
            // next only once it has shown this one.
            message += "event: frame\ndata: {\"name\": " + JsonString(name) + ", \"serial\": " +
                       std::to_string(frame.Serial) +
                       (frame.Error.empty() ? std::string() : ", \"error\": " + JsonString(frame.Error)) + "}\n\n";
          }
        }
      }
      if (message.empty()) continue;
      if (!ASink.is_writable() || !ASink.write(message.data(), message.size())) return false;
    }
    ASink.done();
    return true;
  }
};

TServeOptions ParseServeOptions(const std::vector<std::string>& AWords) {
  TServeOptions options;
  for (std::size_t i = 0; i < AWords.size(); ++i) {
    const std::string& word = AWords[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 == AWords.size()) throw EFlowError(word + " needs a value");
      return AWords[++i];
    };
    if (word == "--port") {
      const std::string& text = value();
      char* end = nullptr;
      const long port = std::strtol(text.c_str(), &end, 10);
      if (text.empty() || *end != 0 || port < 0 || port > 65535)
        throw EFlowError("--port needs a port number (0 .. 65535), not \"" + text + "\"");
      options.Port = static_cast<int>(port);
    } else if (word == "--listen") {
      options.Listen = value();
      if (options.Listen.empty()) throw EFlowError("--listen needs an address");
    } else if (word == "--virtual-rate") {
      const std::string& text = value();
      char* end = nullptr;
      const double rate = std::strtod(text.c_str(), &end);
      if (text.empty() || *end != 0 || !(rate > 0) || rate > 1e4)
        throw EFlowError("--virtual-rate needs a positive number (at most 10000), not \"" + text + "\"");
      options.VirtualRate = rate;
    } else if (word == "--panel-width") {
      const std::string& text = value();
      char* end = nullptr;
      const long width = std::strtol(text.c_str(), &end, 10);
      if (text.empty() || *end != 0 || width < 64 || width > 4096)
        throw EFlowError("--panel-width needs a width in pixels (64 .. 4096), not \"" + text + "\"");
      options.PanelWidth = static_cast<int>(width);
    } else if (word == "--out") {
      options.OutDir = value();
    } else if (word.starts_with("--")) {
      throw EFlowError("unknown option \"" + word + "\" of serve");
    } else if (options.Graph.empty()) {
      options.Graph = word;
    } else {
      throw EFlowError("serve runs one graph document");
    }
  }
  return options;
}

TGraphServer::TGraphServer(const TServeOptions& AOptions, TPackageLoader& APackages)
    : F(std::make_unique<TState>(AOptions, APackages)) {
  F->Token = AOptions.Token.empty() ? MakeAccessToken() : AOptions.Token;
  F->StartFolder = std::filesystem::canonical(std::filesystem::current_path());
  F->Document = AOptions.Graph.empty() ? ReadGraphData("new graph", kNewGraph) : ReadGraphFile(AOptions.Graph);
  if (TIntfPtr<IXmlElement> top = F->Document.Xml->DocumentElement())
    F->Layout = ParseLayout(top->GetAttr(kLayoutAttribute));
  std::lock_guard guard(F->GraphLock);
  F->LoadDesign();
}

TGraphServer::~TGraphServer() {
  try {
    Stop();
  } catch (const std::exception&) {
  }
}

int TGraphServer::Start() {
  auto http = std::make_unique<httplib::Server>();
  std::atomic<int>& active = F->ActiveClients;
  http->new_task_queue = [&active] { return new TClientPool(active); };
  // The library's default also sets SO_REUSEPORT, which would let a second
  // server bind the same port and take half the connections: address reuse
  // only (a restart finds its port free at once).
  http->set_socket_options([](socket_t ASocket) {
    int yes = 1;
    ::setsockopt(ASocket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  http->set_payload_max_length(kServeMaxBody);
  http->set_read_timeout(5, 0);
  http->set_write_timeout(5, 0);
  http->set_keep_alive_timeout(5);
  // A page fetches its pictures one after another on one connection: let it
  // keep it (the library's default closes it after five requests), and send
  // each answer at once (the answer goes out as two writes, and a client
  // that delays its acknowledgement would otherwise hold the second for
  // 40 ms: 25 pictures a second at most).
  http->set_keep_alive_max_count(10000);
  http->set_tcp_nodelay(true);
  http->set_pre_routing_handler(
      [this](const httplib::Request& req, httplib::Response& res) { return F->Gate(req, res); });
  F->Routes(*http);
  const int port = F->Options.Port == 0 ? http->bind_to_any_port(F->Options.Listen)
                                        : (http->bind_to_port(F->Options.Listen, F->Options.Port) ? F->Options.Port : -1);
  if (port < 0)
    throw EFlowError("cannot listen on " + F->Options.Listen + " port " + std::to_string(F->Options.Port));
  {
    // Bound first: a port that is taken ends the command before anything runs.
    // A graph begun on the page has nothing to run yet.
    std::lock_guard guard(F->GraphLock);
    if (!F->Options.Graph.empty()) F->StartRun();
  }
  F->Port = port;
  F->Http = std::move(http);
  F->Monitor = std::thread([this] { F->MonitorLoop(); });
  F->Painter = std::thread([this] { F->PaintLoop(); });
  F->Listener = std::thread([this] { F->Http->listen_after_bind(); });
  // Stop must find the server running, or it would not end the listener.
  while (!F->Http->is_running() && F->Listener.joinable()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return port;
}

std::string TGraphServer::Address() const {
  const std::string& host = F->Options.Listen;
  const std::string shown = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  return "http://" + shown + ":" + std::to_string(F->Port) + "/?token=" + F->Token;
}

const std::string& TGraphServer::Token() const { return F->Token; }

std::string TGraphServer::Stop() {
  if (F->Stopped) return {};
  F->Stopped = true;
  F->Stopping = true;
  F->EventsChanged.notify_all();
  if (F->Http) F->Http->stop();
  if (F->Listener.joinable()) F->Listener.join();
  if (F->Monitor.joinable()) F->Monitor.join();
  if (F->Painter.joinable()) F->Painter.join();
  std::lock_guard guard(F->GraphLock);
  std::string line = F->FinishRun();
  F->FreeDesign();
  return line;
}

int RunServe(const TServeOptions& AOptions, TPackageLoader& APackages, std::ostream& AOut, std::ostream& AErr) {
  TGraphServer server(AOptions, APackages);
  if (AOptions.Listen != "127.0.0.1" && AOptions.Listen != "localhost" && AOptions.Listen != "::1")
    AErr << "nxflow serve: warning: listening on " << AOptions.Listen
         << ": anyone who can reach it and learns the token can change and save the graph\n";
  server.Start();
  AOut << server.Address() << std::endl;
  while (StopSignal() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const std::string line = server.Stop();
  if (!line.empty()) AErr << line << "\n";
  return 0;
}

}  // namespace nx::flow

// The module's one exported symbol: the program finds the serve command here.
extern "C" __attribute__((visibility("default"))) const nx::flow::TServeEntry* nx_flow_serve_entry() {
  static const nx::flow::TServeEntry entry{&nx::flow::ParseServeOptions, &nx::flow::RunServe};
  return &entry;
}
