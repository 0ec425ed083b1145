// Stand-in vendor libraries supply exactly the primitives they export, the rest stay built in.
#include <gtest/gtest.h>

#include <algorithm>
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

int CountSource(const ProbeResult& r, const std::string& src) {
  return static_cast<int>(std::count_if(r.source.begin(), r.source.end(), [&](const auto& e) { return e.second == src; }));
}

// Per folder: vendor and null entry counts (-1: not counted), chosen sources, other probe lines.
TEST(VendorPath, EachFolderSuppliesExactlyItsExports) {
  const struct {
    const char* Dir;
    int Vendor, Null;
    std::map<std::string, std::string> Sources, Lines;
  } cases[] = {
      {"none", 0, 1, {{"NXBasicDispatcher.ippsSVD_64f_D2L", "null"}},
       {{"signal", " 0 image 0"}, {"add", " 0 4 6"}, {"kmp", " disabled"}}},
      // A name in two dispatchers fills both; image names come from the image libraries only.
      {"signal", 4, -1,
       {{"NXBasicDispatcher.ippsAdd_64f", "vendor"}, {"NXBasicDispatcher.ippsSum_64f", "vendor"},
        {"NXBasicDispatcher.ippsConvert_64f32f", "vendor"}, {"NXScopeDispatcher.ippsConvert_64f32f", "vendor"},
        {"NXBasicDispatcher.ippiMirror_8u_C4R", "builtin"}},
       {{"signal", " 1 image 0"}, {"add", " 0 1004 1006"}, {"sum", " 0 44"}, {"copy", " 0 0"}}},
      // The image library wins over the colour-conversion library ("copy").
      {"full", -1, 0,
       {{"NXBasicDispatcher.ippiCopy_8u_C4R", "vendor"}, {"NXBasicDispatcher.ippiSet_8u_C4R", "vendor"},
        {"NXBasicDispatcher.ippsSVD_64f_D2L", "vendor"}, {"NXResizeDispatcher.ippiResizeCenter_8u_C1R", "builtin"}},
       {{"signal", " 1 image 1"}, {"copy", " 77 171"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Dir);
    const ProbeResult r = RunProbe(NX_FAKE_VENDOR_DIR "/" + std::string(c.Dir));
    ASSERT_EQ(r.source.size(), 198u);
    EXPECT_TRUE(c.Vendor < 0 || CountSource(r, "vendor") == c.Vendor) << CountSource(r, "vendor");
    EXPECT_TRUE(c.Null < 0 || CountSource(r, "null") == c.Null) << CountSource(r, "null");
    for (const auto& [name, src] : c.Sources) EXPECT_EQ(r.source.at(name), src) << name;
    for (const auto& [word, rest] : c.Lines) EXPECT_EQ(r.lines.at(word), rest) << word;
  }
}

}  // namespace
