// XML benchmark: parsing a generated 20 MB document from memory and writing it
// back, ours side by side with pugixml and libxml2 in the same run, plus the
// resident memory the parsed tree takes; the same for a corpus of 2,000 small
// documents (1 to 10 KB) parsed one after the other, where what a document
// costs to set up and to free counts as much as the parsing. Each parse case
// includes freeing the tree, for all three libraries alike.
#include <benchmark/benchmark.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <pugixml.hpp>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "nxruntime.h"

namespace {

// 200,000 records with attributes, entities and text, four levels deep,
// indented one record per line (about 20 MB).
const std::string& Document() {
  static const std::string doc = [] {
    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<dataset name=\"bench &amp; co\">\n";
    s.reserve(21u << 20);
    char buf[256];
    static const char* const kinds[] = {"alpha", "beta", "gamma", "delta"};
    for (int g = 0; g < 200; ++g) {
      std::snprintf(buf, sizeof buf, " <group n=\"%d\">\n", g);
      s += buf;
      for (int k = 0; k < 1000; ++k) {
        const int id = g * 1000 + k;
        std::snprintf(buf, sizeof buf,
                      "  <rec id=\"%06d\" k=\"%s\"><name>Item %06d &amp; company, north wing</name><v u=\"mV\">%d.%02d</v></rec>\n",
                      id, kinds[id & 3], id, id % 977, id % 100);
        s += buf;
      }
      s += " </group>\n";
    }
    s += "</dataset>\n";
    return s;
  }();
  return doc;
}

// 2,000 small documents of 1 to 10 KB (about 11 MB in all), each a settings
// file of its own shape: sections of elements with attributes, texts with
// entities, empty elements, now and then a comment or a CDATA section.
const std::vector<std::string>& Corpus() {
  static const std::vector<std::string> docs = [] {
    std::vector<std::string> out;
    std::uint32_t seed = 12345;
    auto rnd = [&](std::uint32_t n) {
      seed = seed * 1664525u + 1013904223u;
      return (seed >> 8) % n;
    };
    static const char* const tags[] = {"item", "entry", "param", "node", "record", "field", "option", "value"};
    static const char* const words[] = {"north",    "south",       "gain",     "offset",           "filter",
                                        "sample rate", "channel", "left &amp; right", "x &lt; y",
                                        "a &quot;quoted&quot; word", "level", "buffer"};
    char buf[512];
    for (int d = 0; d < 2000; ++d) {
      const std::size_t target = 1024 + rnd(9 * 1024);
      std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
      std::snprintf(buf, sizeof buf, "<config name=\"doc%d\" version=\"%u\">\n", d, rnd(10));
      s += buf;
      if (rnd(4) == 0) s += "  <!-- generated settings -->\n";
      for (int section = 0; s.size() < target; ++section) {
        const char* tag = tags[rnd(8)];
        std::snprintf(buf, sizeof buf, "  <section id=\"%d\" kind=\"%s\">\n", section, tags[rnd(8)]);
        s += buf;
        for (int k = 0, n = 2 + static_cast<int>(rnd(8)); k < n; ++k) {
          switch (rnd(4)) {
            case 0:
              std::snprintf(buf, sizeof buf, "    <%s key=\"k%u\" v=\"%u.%02u\"/>\n", tag, rnd(1000), rnd(100), rnd(100));
              break;
            case 1:
              std::snprintf(buf, sizeof buf, "    <%s name=\"%s\">%s %u</%s>\n", tag, words[rnd(12)], words[rnd(12)],
                            rnd(100000), tag);
              break;
            case 2:
              std::snprintf(buf, sizeof buf, "    <%s enabled=\"%s\" min=\"-%u\" max=\"%u\"><note>%s</note></%s>\n",
                            tag, rnd(2) ? "true" : "false", rnd(100), rnd(1000), words[rnd(12)], tag);
              break;
            default: std::snprintf(buf, sizeof buf, "    <%s>%u</%s>\n", tag, rnd(1u << 20), tag); break;
          }
          s += buf;
        }
        if (rnd(6) == 0) s += "    <data><![CDATA[0101 <raw> & bytes]]></data>\n";
        s += "  </section>\n";
      }
      s += "</config>\n";
      out.push_back(std::move(s));
    }
    return out;
  }();
  return docs;
}

std::size_t CorpusBytes() {
  std::size_t n = 0;
  for (const std::string& d : Corpus()) n += d.size();
  return n;
}

void BM_ParseOurs(benchmark::State& state) {
  const std::string& xml = Document();
  for (auto _ : state) {
    auto doc = nx::CreateXmlDocument();
    doc->LoadXML(xml);
    benchmark::DoNotOptimize(doc->ChildNodes()->Count());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * xml.size()));
}

void BM_ParsePugixml(benchmark::State& state) {
  const std::string& xml = Document();
  for (auto _ : state) {
    pugi::xml_document doc;
    auto r = doc.load_buffer(xml.data(), xml.size());
    benchmark::DoNotOptimize(r.status);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * xml.size()));
}

void BM_ParseLibxml2(benchmark::State& state) {
  const std::string& xml = Document();
  for (auto _ : state) {
    xmlDoc* doc = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr, XML_PARSE_NONET);
    benchmark::DoNotOptimize(doc);
    xmlFreeDoc(doc);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * xml.size()));
}

void BM_SaveOurs(benchmark::State& state) {
  auto doc = nx::LoadXmlDocumentFromXML(Document());
  std::size_t size = 0;
  for (auto _ : state) {
    std::string out = doc->SaveXML();
    size = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

struct TStringWriter : pugi::xml_writer {
  std::string Out;
  void write(const void* data, size_t size) override { Out.append(static_cast<const char*>(data), size); }
};

void BM_SavePugixml(benchmark::State& state) {
  pugi::xml_document doc;
  doc.load_buffer(Document().data(), Document().size());
  std::size_t size = 0;
  for (auto _ : state) {
    TStringWriter w;
    doc.save(w, "\t");
    size = w.Out.size();
    benchmark::DoNotOptimize(w.Out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

void BM_ParseCorpusOurs(benchmark::State& state) {
  for (auto _ : state)
    for (const std::string& xml : Corpus()) {
      auto doc = nx::CreateXmlDocument();
      doc->LoadXML(xml);
      benchmark::DoNotOptimize(doc->ChildNodes()->Count());
    }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * CorpusBytes()));
}

void BM_ParseCorpusPugixml(benchmark::State& state) {
  for (auto _ : state)
    for (const std::string& xml : Corpus()) {
      pugi::xml_document doc;
      auto r = doc.load_buffer(xml.data(), xml.size());
      benchmark::DoNotOptimize(r.status);
    }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * CorpusBytes()));
}

void BM_ParseCorpusLibxml2(benchmark::State& state) {
  for (auto _ : state)
    for (const std::string& xml : Corpus()) {
      xmlDoc* doc = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr, XML_PARSE_NONET);
      benchmark::DoNotOptimize(doc);
      xmlFreeDoc(doc);
    }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * CorpusBytes()));
}

void BM_SaveCorpusOurs(benchmark::State& state) {
  std::vector<nx::TIntfPtr<nx::IXmlDocument>> docs;
  for (const std::string& xml : Corpus()) docs.push_back(nx::LoadXmlDocumentFromXML(xml));
  for (auto _ : state)
    for (const auto& doc : docs) {
      std::string out = doc->SaveXML();
      benchmark::DoNotOptimize(out.data());
    }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * CorpusBytes()));
}

void BM_SaveCorpusPugixml(benchmark::State& state) {
  std::vector<std::unique_ptr<pugi::xml_document>> docs;
  for (const std::string& xml : Corpus()) {
    docs.push_back(std::make_unique<pugi::xml_document>());
    docs.back()->load_buffer(xml.data(), xml.size());
  }
  for (auto _ : state)
    for (const auto& doc : docs) {
      TStringWriter w;
      doc->save(w, "\t");
      benchmark::DoNotOptimize(w.Out.data());
    }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * CorpusBytes()));
}

BENCHMARK(BM_ParseOurs)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ParsePugixml)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ParseLibxml2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SaveOurs)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SavePugixml)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ParseCorpusOurs)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ParseCorpusPugixml)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ParseCorpusLibxml2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SaveCorpusOurs)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SaveCorpusPugixml)->Unit(benchmark::kMillisecond)->UseRealTime();

// Resident set size in bytes.
long ResidentBytes() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * 4096;
}

// Also keeps the median CPU time of each case run with repetitions: on a
// shared machine CPU time leaves out the time spent waiting for a core.
class TReporter : public nxbench::TCollectingReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (!r.error_occurred && r.run_type == Run::RT_Aggregate && r.aggregate_name == "median")
        FCpuMedian[r.run_name.function_name] = r.GetAdjustedCPUTime();
    TCollectingReporter::ReportRuns(runs);
  }
  // The median CPU time, else the smallest over the repetitions; negative if not run.
  double CpuTime(const std::string& name) const {
    const auto it = FCpuMedian.find(name);
    return it != FCpuMedian.end() ? it->second : Cpu(name);
  }

 private:
  std::map<std::string, double> FCpuMedian;
};

// The resident growth while what `make` built is held, per byte of `bytes`,
// measured in a child process of its own: no library finds memory that an
// earlier tree left in the allocator's hands.
template <class Make>
double TreeRatio(std::size_t bytes, Make make) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    const long base = ResidentBytes();
    auto hold = make();
    const double r = static_cast<double>(ResidentBytes() - base) / static_cast<double>(bytes);
    const ssize_t n = write(fds[1], &r, sizeof r);
    _exit(n == sizeof r ? 0 : 1);
  }
  close(fds[1]);
  double r = -1;
  if (child < 0 || read(fds[0], &r, sizeof r) != sizeof r) r = -1;
  close(fds[0]);
  if (child > 0) waitpid(child, nullptr, 0);
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string& xml = Document();
  const std::vector<std::string>& corpus = Corpus();
  const std::size_t corpusBytes = CorpusBytes();
  // The trees' memory, ours and the peers' (the corpus: all its documents held at once).
  const double corpusRatio = TreeRatio(corpusBytes, [&] {
    std::vector<nx::TIntfPtr<nx::IXmlDocument>> docs;
    for (const std::string& d : corpus) docs.push_back(nx::LoadXmlDocumentFromXML(d));
    return docs;
  });
  const double treeRatio = TreeRatio(xml.size(), [&] { return nx::LoadXmlDocumentFromXML(xml); });
  const double pugiRatio = TreeRatio(xml.size(), [&] {
    auto doc = std::make_unique<pugi::xml_document>();
    doc->load_buffer(xml.data(), xml.size());
    return doc;
  });
  auto xmlFree = [](xmlDoc* d) { xmlFreeDoc(d); };
  using TLibxmlDoc = std::unique_ptr<xmlDoc, decltype(xmlFree)>;
  const double libxmlRatio = TreeRatio(xml.size(), [&] {
    return TLibxmlDoc(xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr, XML_PARSE_NONET),
                      xmlFree);
  });
  const double pugiCorpusRatio = TreeRatio(corpusBytes, [&] {
    std::vector<std::unique_ptr<pugi::xml_document>> docs;
    for (const std::string& d : corpus) {
      docs.push_back(std::make_unique<pugi::xml_document>());
      docs.back()->load_buffer(d.data(), d.size());
    }
    return docs;
  });
  const double libxmlCorpusRatio = TreeRatio(corpusBytes, [&] {
    std::vector<TLibxmlDoc> docs;
    for (const std::string& d : corpus)
      docs.emplace_back(xmlReadMemory(d.data(), static_cast<int>(d.size()), nullptr, nullptr, XML_PARSE_NONET), xmlFree);
    return docs;
  });

  // Each library parses the large document once before the timings (held
  // and freed as in the memory measurements before): its allocator then has
  // the memory at hand, and no case pays for the first touch of its pages,
  // which costs more than the parsing itself where page faults are slow.
  {
    auto ours = nx::LoadXmlDocumentFromXML(xml);
    pugi::xml_document pugiDoc;
    pugiDoc.load_buffer(xml.data(), xml.size());
    TLibxmlDoc libxmlDoc(xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr, XML_PARSE_NONET),
                         xmlFree);
  }
  benchmark::Initialize(&argc, argv);
  TReporter rep;
  benchmark::RunSpecifiedBenchmarks(&rep);
  std::printf("\nDocument: %.1f MB; corpus: %zu documents, %.1f MB\n", static_cast<double>(xml.size()) / 1048576.0,
              corpus.size(), static_cast<double>(corpusBytes) / 1048576.0);
  // With repetitions the medians are compared, else the single runs.
  auto median = [&](const std::string& name) {
    const std::string m = name + "/real_time_median";
    return rep.Time(m) > 0 ? m : name;
  };
  const std::vector<std::array<const char*, 4>> rows = {
      {"parse vs pugixml (ours at most 1.5x)", "BM_ParseOurs", "BM_ParsePugixml", "1.5"},
      {"parse vs libxml2", "BM_ParseOurs", "BM_ParseLibxml2", ""},
      {"save vs pugixml (ours at most 1.2x)", "BM_SaveOurs", "BM_SavePugixml", "1.2"},
      {"corpus parse vs pugixml (ours at most 1.5x)", "BM_ParseCorpusOurs", "BM_ParseCorpusPugixml", "1.5"},
      {"corpus parse vs libxml2", "BM_ParseCorpusOurs", "BM_ParseCorpusLibxml2", ""},
      {"corpus save vs pugixml (ours at most 1.2x)", "BM_SaveCorpusOurs", "BM_SaveCorpusPugixml", "1.2"}};
  std::vector<nxbench::TRatio> real;
  for (const auto& r : rows) real.push_back({r[0], median(r[1]), median(r[2]), r[3][0] ? 1.0 / std::atof(r[3]) : 0.0});
  nxbench::PrintRatios(rep, "XML: ours against pugixml and libxml2 (real time, medians; ratio = baseline / ours)", real,
                       "ratio");
  std::printf("\nThe same by CPU time (medians; steadier on a shared machine)\n");
  std::printf("%-44s %12s %12s %9s %6s\n", "case", "ours", "baseline", "ratio", "goal");
  for (const auto& r : rows) {
    const double a = rep.CpuTime(r[1]), b = rep.CpuTime(r[2]);
    if (a <= 0 || b <= 0) continue;
    const double goal = r[3][0] ? 1.0 / std::atof(r[3]) : 0.0;
    std::printf("%-44s %12.4g %12.4g %9.3f %6.2f %s\n", r[0], a, b, b / a, goal,
                goal > 0 ? (b / a >= goal ? "ok" : "BELOW") : "");
  }
  auto verdict = [](double r) { return r <= 3.0 ? "ok" : "ABOVE"; };
  std::printf("\nParsed tree: %.2f x the document's size in resident memory (goal at most 3): %s\n", treeRatio,
              verdict(treeRatio));
  std::printf("Parsed corpus: %.2f x the documents' size (goal at most 3): %s\n", corpusRatio, verdict(corpusRatio));
  std::printf("(pugixml: %.2f x and %.2f x, libxml2: %.2f x and %.2f x; each the growth of the resident set\n"
              " of a fresh child process that parsed the document or the corpus and holds it)\n",
              pugiRatio, pugiCorpusRatio, libxmlRatio, libxmlCorpusRatio);
  benchmark::Shutdown();
  return 0;
}
