// The vendor path: stand-in vendor libraries on the library search path must
// supply exactly the primitives they export, the rest staying built in.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>

namespace {

struct ProbeResult {
  std::map<std::string, std::string> source;  // "Unit.Name" -> vendor|builtin|null
  std::map<std::string, std::string> lines;   // first word -> rest of the line
};

ProbeResult RunProbe(const std::string& libraryDir) {
  const std::string cmd = "env LD_LIBRARY_PATH='" + libraryDir + "' '" NX_VENDOR_PROBE "'";
  ProbeResult r;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return r;
  char line[512];
  while (std::fgets(line, sizeof line, p)) {
    std::istringstream in(line);
    std::string word;
    in >> word;
    if (word == "entry") {
      std::string unit, name, src;
      in >> unit >> name >> src;
      r.source[unit + "." + name] = src;
    } else {
      std::string rest;
      std::getline(in, rest);
      r.lines[word] = rest;
    }
  }
  EXPECT_EQ(::pclose(p), 0);
  return r;
}

std::size_t CountSource(const ProbeResult& r, const std::string& src) {
  std::size_t n = 0;
  for (const auto& [k, v] : r.source) n += (v == src);
  return n;
}

TEST(VendorPath, NoVendorLibraryMeansEverythingBuiltIn) {
  const ProbeResult r = RunProbe(NX_FAKE_VENDOR_DIR "/none");
  ASSERT_EQ(r.source.size(), 198u);
  EXPECT_EQ(CountSource(r, "vendor"), 0u);
  EXPECT_EQ(CountSource(r, "null"), 1u);
  EXPECT_EQ(r.source.at("NXBasicDispatcher.ippsSVD_64f_D2L"), "null");
  EXPECT_EQ(r.lines.at("signal"), " 0 image 0");
  EXPECT_EQ(r.lines.at("add"), " 0 4 6");
  EXPECT_EQ(r.lines.at("kmp"), " disabled");
}

TEST(VendorPath, SignalLibraryOnlySuppliesItsExports) {
  const ProbeResult r = RunProbe(NX_FAKE_VENDOR_DIR "/signal");
  ASSERT_EQ(r.source.size(), 198u);
  EXPECT_EQ(r.lines.at("signal"), " 1 image 0");
  EXPECT_EQ(r.source.at("NXBasicDispatcher.ippsAdd_64f"), "vendor");
  EXPECT_EQ(r.source.at("NXBasicDispatcher.ippsSum_64f"), "vendor");
  // The same name in two dispatchers: each fills its own pointer.
  EXPECT_EQ(r.source.at("NXBasicDispatcher.ippsConvert_64f32f"), "vendor");
  EXPECT_EQ(r.source.at("NXScopeDispatcher.ippsConvert_64f32f"), "vendor");
  // Image names are looked up in the image libraries only.
  EXPECT_EQ(r.source.at("NXBasicDispatcher.ippiMirror_8u_C4R"), "builtin");
  EXPECT_EQ(CountSource(r, "vendor"), 4u);
  EXPECT_EQ(r.lines.at("add"), " 0 1004 1006");
  EXPECT_EQ(r.lines.at("sum"), " 0 44");
  EXPECT_EQ(r.lines.at("copy"), " 0 0");  // built-in copy of a zero pixel
}

TEST(VendorPath, ImageLibrariesSearchedInOrder) {
  const ProbeResult r = RunProbe(NX_FAKE_VENDOR_DIR "/full");
  ASSERT_EQ(r.source.size(), 198u);
  EXPECT_EQ(r.lines.at("signal"), " 1 image 1");
  EXPECT_EQ(r.source.at("NXBasicDispatcher.ippiCopy_8u_C4R"), "vendor");
  EXPECT_EQ(r.source.at("NXBasicDispatcher.ippiSet_8u_C4R"), "vendor");
  EXPECT_EQ(r.source.at("NXBasicDispatcher.ippsSVD_64f_D2L"), "vendor");
  EXPECT_EQ(r.source.at("NXResizeDispatcher.ippiResizeCenter_8u_C1R"), "builtin");
  // The image library wins over the colour-conversion library.
  EXPECT_EQ(r.lines.at("copy"), " 77 171");
  EXPECT_EQ(CountSource(r, "null"), 0u);
}

}  // namespace
