// nxflow serve: the request parsers on their own, then the server on loopback
// with the filter demo (tokens, limits, paths, the graph's JSON, property
// changes on the running graph, control, saving and a clean stop).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "nxflow/NXFlowHost.h"
#include "nxflow/NXFlowPackages.h"
#include "nxflow/NXFlowServe.h"
#include "nxflow/NXFlowServeApi.h"
#include "documents/NXGraphEdit.h"

namespace {
using namespace nx;
using namespace nx::flow;
namespace fs = std::filesystem;

// ---- the parsers

TEST(ServeApi, SetRequestsReadOrRefuseWithOneLine) {
  struct TCase {
    const char* Body;
    const char* Setting;  // null: refused, with Message in the error
    const char* Message;
  };
  const TCase cases[] = {
      {R"({"component": "LowPass", "property": "Order", "value": 256})", "LowPass.Order=256", nullptr},
      {R"({"component":"G.Mix","property":"Threading.Priority","value":"tpHigh"})", "G.Mix.Threading.Priority=tpHigh",
       nullptr},
      {R"({"value": true, "component": "A", "property": "Enabled"})", "A.Enabled=True", nullptr},
      {R"({"component": "A", "property": "Gain", "value": -1.5e-3})", "A.Gain=-1.5e-3", nullptr},
      {R"( {"component":"A","property":"Title","value":"caf\u00e9 \ud83c\udfb5"} )",
       "A.Title=caf\xc3\xa9 \xf0\x9f\x8e\xb5", nullptr},
      {R"({"component": "A", "property": "Order"})", nullptr, "no \"value\""},
      {R"({"component": "A", "property": "Order", "value": null})", nullptr, "must be a string"},
      {R"({"component": "A", "property": "Order", "value": [1]})", nullptr, "nested"},
      {R"({"component": "A=1", "property": "Order", "value": 1})", nullptr, "not a component name"},
      {R"({"component": "../etc", "property": "Order", "value": 1})", nullptr, "not a component name"},
      {R"({"component": "A..B", "property": "Order", "value": 1})", nullptr, "not a component name"},
      {R"({"component": "A", "property": "Or der", "value": 1})", nullptr, "not a property name"},
      {R"({"component": "A", "property": "Order", "value": "1\n2"})", nullptr, "one line"},
      {R"({"component": "A", "property": "Order", "value": 1, "value": 2})", nullptr, "twice"},
      {R"({"component": "A", "property": "Order", "value": 1, "extra": 0})", nullptr, "unknown member"},
      {R"({"component": "A", "property": "Order", "value": 01})", nullptr, "expected"},
      {R"({"component": "A", "property": "Order", "value": 1} x)", nullptr, "text after"},
      {R"({"component": "A", "property": "Order", "value": "\ud800"})", nullptr, "surrogate"},
      {"{\"component\": \"A\xff\", \"property\": \"Order\", \"value\": 1}", nullptr, "not UTF-8"},
      {R"({"component": "A", "property": "Order", "value": "\q"})", nullptr, "escape"},
      {R"({"component": "A", "property": "Order", "value": 1)", nullptr, "expected"},
      {"", nullptr, "a JSON object expected"},
      {"[]", nullptr, "a JSON object expected"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Body);
    if (c.Setting) {
      EXPECT_EQ(ParseSetRequest(c.Body).Setting(), c.Setting);
      continue;
    }
    try {
      ParseSetRequest(c.Body);
      ADD_FAILURE() << "accepted";
    } catch (const EServeRequestError& e) {
      const std::string message = e.what();
      EXPECT_NE(message.find(c.Message), std::string::npos) << message;
      EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    }
  }
  EXPECT_THROW(ParseSetRequest(std::string(kServeMaxBody + 1, ' ')), EServeRequestError);
}

TEST(ServeApi, ControlAndLayoutRequests) {
  EXPECT_EQ(ParseControlRequest(R"({"action": "pause"})"), TControlAction::Pause);
  EXPECT_EQ(ParseControlRequest(R"({"action": "resume"})"), TControlAction::Resume);
  EXPECT_THROW(ParseControlRequest(R"({"action": "reboot"})"), EServeRequestError);
  EXPECT_THROW(ParseControlRequest(R"({"action": 1})"), EServeRequestError);
  const TBoxPosition p = ParseLayoutRequest(R"({"component": "Mix", "x": 12.5, "y": -3})");
  EXPECT_EQ(p.Component, "Mix");
  EXPECT_EQ(p.X, 12.5);
  EXPECT_EQ(p.Y, -3);
  for (const char* bad : {R"({"component": "Mix", "x": 1e7, "y": 0})", R"({"component": "Mix", "x": "1", "y": 0})",
                          R"({"component": "M;x", "x": 1, "y": 0})"})
    EXPECT_THROW(ParseLayoutRequest(bad), EServeRequestError) << bad;
}

TEST(ServeApi, MouseRequestsBecomeEventsAtPicturePixels) {
  const TMouseRequest m = ParseMouseRequest(
      R"({"component": "G.Scope", "event": "down", "x": 120, "y": 40.7, "button": "right", "double": true, "ctrl": true})");
  EXPECT_EQ(std::tuple(m.Component, m.Event, m.X, m.Y, m.Button), std::tuple(std::string("G.Scope"), TMouseEvent::Down, 120, 40, mbRight));
  EXPECT_TRUE(m.Shift.Contains(ssDouble) && m.Shift.Contains(ssCtrl));
  EXPECT_FALSE(m.Shift.Contains(ssShift) || m.Shift.Contains(ssRight));
  // A move with the left button held carries it in the shift state, as the stream's mouse operations do.
  const TMouseRequest drag = ParseMouseRequest(R"({"component": "S", "event": "move", "x": 0, "y": 65535, "held": true})");
  EXPECT_TRUE(drag.Shift.Contains(ssLeft));
  EXPECT_EQ(ParseMouseRequest(R"({"component": "S", "event": "leave"})").Event, TMouseEvent::Leave);
  const struct { const char* Body; const char* Message; } bad[] = {
      {R"({"component": "S", "event": "click", "x": 1, "y": 1})", "unknown event"},
      {R"({"component": "S", "event": "move", "x": -1, "y": 1})", "0 .. 65535"},
      {R"({"component": "S", "event": "move", "x": 1, "y": 70000})", "0 .. 65535"},
      {R"({"component": "S", "event": "move", "x": 1})", "no \"y\""},
      {R"({"component": "S", "event": "move", "x": "1", "y": 1})", "must be a number"},
      {R"({"component": "S", "event": "down", "x": 1, "y": 1, "button": "fourth"})", "unknown button"},
      {R"({"component": "S", "event": "move", "x": 1, "y": 1, "shift": 1})", "true or false"},
      {R"({"component": "../S", "event": "move", "x": 1, "y": 1})", "not a component name"},
      {R"({"component": "S", "event": "move", "x": 1, "y": 1, "z": 1})", "unknown member"},
  };
  for (const auto& c : bad) {
    try {
      ParseMouseRequest(c.Body);
      ADD_FAILURE() << c.Body;
    } catch (const EServeRequestError& e) {
      EXPECT_NE(std::string(e.what()).find(c.Message), std::string::npos) << e.what();
    }
  }
}

// The designer's requests: what each reads, and the line a bad one gets.
TEST(ServeApi, DesignerRequestsReadOrRefuseWithOneLine) {
  using TParse = std::function<std::string(std::string_view)>;
  const TParse add = [](std::string_view b) {
    const TAddRequest r = ParseAddRequest(b);
    return r.Class + (r.Placed ? "@" + JsonNumber(r.X) + "," + JsonNumber(r.Y) : "");
  };
  const TParse rename = [](std::string_view b) {
    const TRenameRequest r = ParseRenameRequest(b);
    return r.Component + ">" + r.Name;
  };
  const TParse link = [](std::string_view b) {
    const TLinkRequest r = ParseLinkRequest(b);
    return r.From + "." + r.FromPin + ">" + r.To + "." + r.ToPin;
  };
  const TParse erase = [](std::string_view b) { return ParseDeleteRequest(b); };
  const TParse empty = [](std::string_view b) { return ParseEmptyRequest(b), std::string("ok"); };
  const TParse save = [](std::string_view b) { return ParseSaveRequest(b); };
  const struct {
    const TParse* Parse;
    const char* Body;
    const char* Read;     // null: refused
    const char* Message;  // in the refusal
  } cases[] = {
      {&add, R"({"class": "TNXGain", "x": 120, "y": 40.5})", "TNXGain@120,40.5", nullptr},
      {&add, R"({"class": "TNXGain"})", "TNXGain", nullptr},
      {&add, R"({"class": "TNXGain", "x": 1})", nullptr, "both \"x\" and \"y\""},
      {&add, R"({"class": "TNX Gain"})", nullptr, "not a class name"},
      {&add, R"({"class": "TNXGain", "x": 2e6, "y": 0})", nullptr, "-1e6 .. 1e6"},
      {&add, R"({"class": "TNXGain", "name": "G"})", nullptr, "unknown member"},
      {&rename, R"({"component": "NXGain1", "name": "Gain"})", "NXGain1>Gain", nullptr},
      {&rename, R"({"component": "NXGain1", "name": "1x"})", "NXGain1>1x", nullptr},  // the library judges names
      {&rename, R"({"component": "NXGain1", "name": "a\nb"})", nullptr, "one line"},
      {&rename, R"({"component": "NXGain1"})", nullptr, "no \"name\""},
      {&link, R"({"from": "Sine", "fromPin": "OutputPin", "to": "G.Gain", "toPin": "InputPin"})",
       "Sine.OutputPin>G.Gain.InputPin", nullptr},
      {&link, R"({"from": "", "fromPin": "Out", "to": "A", "toPin": "In"})", ".Out>A.In", nullptr},  // the root
      {&link, R"({"from": "Sine", "fromPin": "Output Pin", "to": "G", "toPin": "InputPin"})", nullptr, "not a pin name"},
      {&link, R"({"from": "Sine", "fromPin": "OutputPin", "to": "G"})", nullptr, "no \"toPin\""},
      {&link, R"({"from": "Sine;", "fromPin": "OutputPin", "to": "G", "toPin": "InputPin"})", nullptr,
       "not a component name"},
      {&erase, R"({"component": "G.Gain"})", "G.Gain", nullptr},
      {&erase, R"({"component": ""})", nullptr, "not a component name"},  // the root stays
      {&empty, "", "ok", nullptr},
      {&empty, "{}", "ok", nullptr},
      {&empty, R"({"steps": 2})", nullptr, "unknown member"},
      {&save, "{}", "", nullptr},
      {&save, R"({"file": "graphs/tone-1.xml"})", "graphs/tone-1.xml", nullptr},
      {&save, R"({"file": "../tone.xml"})", nullptr, "inside the folder"},
      {&save, R"({"file": "a/../../tone.xml"})", nullptr, "inside the folder"},
      {&save, R"({"file": "/tmp/tone.xml"})", nullptr, "relative"},
      {&save, R"({"file": ".tone.xml"})", nullptr, "hidden"},
      {&save, R"({"file": "graphs/.git/tone.xml"})", nullptr, "hidden"},
      {&save, R"({"file": "a//tone.xml"})", nullptr, "empty folder name"},
      {&save, R"({"file": "tone.txt"})", nullptr, "end in .xml"},
      {&save, R"({"file": "to ne.xml"})", nullptr, "letters, digits"},
      {&save, R"({"file": "a\\tone.xml"})", nullptr, "letters, digits"},
      {&save, R"({"file": ""})", nullptr, "needs a file name"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Body);
    if (c.Read) {
      EXPECT_EQ((*c.Parse)(c.Body), c.Read);
      continue;
    }
    try {
      (*c.Parse)(c.Body);
      ADD_FAILURE() << "accepted";
    } catch (const EServeRequestError& e) {
      const std::string message = e.what();
      EXPECT_NE(message.find(c.Message), std::string::npos) << message;
      EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    }
  }
  EXPECT_THROW(CheckNewGraphName(std::string(252, 'a') + ".xml"), EServeRequestError);
}

TEST(ServeApi, LayoutAttributeSkipsWhatDoesNotRead) {
  const std::vector<TBoxPosition> read =
      ParseLayout("Noise:40,60;bad;Mix:1e9,0;G.Mix:220,-60;:1,2;Noise:41,61;Low:1,2,3;");
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(FormatLayout(read), "G.Mix:220,-60;Noise:41,61");
  EXPECT_EQ(FormatLayout(ParseLayout(FormatLayout(read))), FormatLayout(read));
  EXPECT_TRUE(ParseLayout("").empty());
}

TEST(ServeApi, JsonTextReadsBackAndTokensCompareWhole) {
  for (const std::string& text : {std::string("plain"), std::string("q\"b\\s/\n\t\x01<"), std::string("\xc3\xa9")}) {
    const auto object = ParseJsonObject("{\"v\": " + JsonString(text) + "}");
    EXPECT_EQ(object.at("v").Text, text);
  }
  EXPECT_EQ(JsonString("a\xffz"), "\"a\\ufffdz\"");  // not UTF-8: still valid JSON
  EXPECT_EQ(JsonString("</script>").find('<'), std::string::npos);
  EXPECT_EQ(JsonNumber(NAN), "null");
  const std::string token = MakeAccessToken();
  EXPECT_EQ(token.size(), 64u);
  EXPECT_NE(token, MakeAccessToken());
  EXPECT_TRUE(TokenMatches(token, token));
  for (const std::string& given : {std::string(), token.substr(0, 63), token + "0", std::string(64, '0'),
                                  token.substr(0, 63) + (token[63] == 'a' ? "b" : "a")})
    EXPECT_FALSE(TokenMatches(token, given)) << given;
  EXPECT_FALSE(TokenMatches("", ""));
  EXPECT_EQ(BearerToken("Bearer abc"), "abc");
  EXPECT_EQ(BearerToken("Basic abc"), "");
}

TEST(ServeApi, CommandLineOptions) {
  const TServeOptions o = ParseServeOptions({"g.xml", "--port", "0", "--virtual-rate", "2.5", "--listen", "::1"});
  EXPECT_EQ(std::tuple(o.Graph, o.Port, o.VirtualRate, o.Listen), std::tuple(std::string("g.xml"), 0, 2.5, std::string("::1")));
  EXPECT_EQ(ParseServeOptions({"g.xml"}).Listen, "127.0.0.1");
  EXPECT_EQ(ParseServeOptions({"g.xml", "--panel-width", "640"}).PanelWidth, 640);
  EXPECT_EQ(ParseServeOptions({"--port", "0"}).Graph, "");  // a new graph, designed on the page
  const struct {
    std::vector<std::string> Words;
    const char* Message;
  } bad[] = {
      {{"a.xml", "b.xml"}, "one graph document"},
      {{"g.xml", "--port", "65536"}, "--port needs a port number"},
      {{"g.xml", "--port", "80x"}, "--port needs a port number"},
      {{"g.xml", "--virtual-rate", "0"}, "--virtual-rate needs a positive number"},
      {{"g.xml", "--virtual-rate", "nan"}, "--virtual-rate needs a positive number"},
      {{"g.xml", "--listen"}, "--listen needs a value"},
      {{"g.xml", "--seconds", "3"}, "unknown option \"--seconds\""},
      {{"g.xml", "--panel-width", "32"}, "--panel-width needs a width in pixels"},
  };
  for (const auto& c : bad) {
    try {
      ParseServeOptions(c.Words);
      ADD_FAILURE() << c.Message;
    } catch (const EFlowError& e) {
      EXPECT_NE(std::string(e.what()).find(c.Message), std::string::npos) << e.what();
    }
  }
}

// ---- the server on loopback

struct TAnswer {
  int Status = 0;
  std::string Head, Body;
};

int Connect(int APort) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  timeval timeout{10, 0};  // a server that hangs fails the test instead of stalling it
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(APort));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

void SendAll(int AFd, const std::string& AData) {
  for (std::size_t sent = 0; sent < AData.size();) {
    const ssize_t n = ::send(AFd, AData.data() + sent, AData.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return;
    sent += static_cast<std::size_t>(n);
  }
}

// Reads from AFd until AUntil is seen or the connection ends.
std::string ReadUntil(int AFd, const std::string& AUntil = {}) {
  std::string data;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::recv(AFd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    data.append(buffer, static_cast<std::size_t>(n));
    if (!AUntil.empty() && data.find(AUntil) != std::string::npos) break;
  }
  return data;
}

TAnswer Parse(const std::string& AData) {
  TAnswer answer;
  const std::size_t end = AData.find("\r\n\r\n");
  answer.Head = AData.substr(0, end);
  answer.Body = end == std::string::npos ? "" : AData.substr(end + 4);
  if (AData.starts_with("HTTP/1.1 ")) answer.Status = std::atoi(AData.c_str() + 9);
  return answer;
}

// One request on a connection of its own; ATarget goes on the request line as it is.
TAnswer Request(int APort, const std::string& AMethod, const std::string& ATarget, const std::string& ABody = {},
                const std::string& AHeaders = {}) {
  const int fd = Connect(APort);
  if (fd < 0) return {};
  std::string request = AMethod + " " + ATarget + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + AHeaders;
  if (AMethod == "POST")
    request += "Content-Type: application/json\r\nContent-Length: " + std::to_string(ABody.size()) + "\r\n";
  SendAll(fd, request + "\r\n" + (AMethod == "POST" ? ABody : std::string()));
  const std::string data = ReadUntil(fd);
  ::close(fd);
  return Parse(data);
}

std::size_t Count(const std::string& AText, const std::string& APart) {
  std::size_t n = 0;
  for (std::size_t at = AText.find(APart); at != std::string::npos; at = AText.find(APart, at + 1)) ++n;
  return n;
}

// The text of a string member "NAME": "..." following AAfter in a JSON answer.
std::string Member(const std::string& AJson, const std::string& AAfter, const std::string& AName) {
  const std::size_t from = AJson.find(AAfter);
  if (from == std::string::npos) return {};
  const std::string key = "\"" + AName + "\": \"";
  const std::size_t at = AJson.find(key, from);
  if (at == std::string::npos) return {};
  const std::size_t start = at + key.size();
  return AJson.substr(start, AJson.find('"', start) - start);
}

class ServeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FDir = fs::path(std::getenv("NX_TEST_OUTPUT_DIR") ? std::getenv("NX_TEST_OUTPUT_DIR") : "/tmp") /
           ("nxflow-serve-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(FDir);
    fs::create_directories(FDir);
    FGraph = FDir / "filter-demo.xml";
    fs::copy_file(fs::path(NX_FLOW_GRAPHS) / "filter-demo.xml", FGraph);
    TServeOptions options;
    options.Graph = FGraph.string();
    options.Port = 0;
    options.OutDir = (FDir / "out").string();
    FServer = std::make_unique<TGraphServer>(options, FPackages);
    FPort = FServer->Start();
    FToken = FServer->Token();
  }
  void TearDown() override { FServer.reset(); }

  std::string Auth() const { return "Authorization: Bearer " + FToken + "\r\n"; }
  TAnswer Get(const std::string& APath) { return Request(FPort, "GET", APath, {}, Auth()); }
  TAnswer Post(const std::string& APath, const std::string& ABody) { return Request(FPort, "POST", APath, ABody, Auth()); }
  // The figures of the next event.
  std::string NextEvent() {
    const int fd = Connect(FPort);
    SendAll(fd, "GET /api/events?token=" + FToken + " HTTP/1.1\r\nHost: x\r\n\r\n");
    std::string data = ReadUntil(fd, "}}\n\n");
    ::close(fd);
    const std::size_t at = data.find("data: ");
    return at == std::string::npos ? "" : data.substr(at);
  }
  // How many buffers the mix's scope has received, from the event stream.
  long ScopeBuffers() {
    const std::string event = NextEvent();
    const std::size_t at = event.find("\"MixScope\": {\"buffers\": ");
    return at == std::string::npos ? -1 : std::atol(event.c_str() + at + 24);
  }
  // Waits (at most ten seconds) until APredicate holds.
  static bool Eventually(const std::function<bool()>& APredicate) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      if (APredicate()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return APredicate();
  }

  TPackageLoader FPackages{{NX_FLOW_PACKAGES}, ""};
  fs::path FDir, FGraph;
  std::unique_ptr<TGraphServer> FServer;
  int FPort = 0;
  std::string FToken;
};

TEST_F(ServeTest, EveryRequestNeedsTheToken) {
  const std::string wrong = std::string(FToken.size(), '0');
  const struct {
    const char* Method;
    std::string Target, Headers;
  } cases[] = {
      {"GET", "/", ""},
      {"GET", "/app.js", ""},
      {"GET", "/api/graph", ""},
      {"GET", "/api/graph?token=" + wrong, ""},
      {"GET", "/api/graph?token=" + FToken.substr(0, 10), ""},
      {"GET", "/api/graph", "Authorization: Bearer " + wrong + "\r\n"},
      {"GET", "/api/graph", "Authorization: Basic " + FToken + "\r\n"},
      {"GET", "/api/component/LowPass", ""},
      {"GET", "/api/events", ""},
      {"GET", "/api/trace?seconds=1", ""},
      {"GET", "/../../etc/passwd", ""},
      {"POST", "/api/set", ""},
      {"POST", "/api/control?token=" + wrong, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Target + " " + c.Headers);
    const TAnswer a = Request(FPort, c.Method, c.Target,
                              R"({"component": "LowPass", "property": "Order", "value": 8})", c.Headers);
    EXPECT_EQ(a.Status, 401);
    // Nothing about the graph.
    for (const char* secret : {"LowPass", "Mix", "TNX", "filter-demo"}) EXPECT_EQ(a.Body.find(secret), std::string::npos);
  }
  EXPECT_EQ(Member(Get("/api/component/LowPass").Body, "\"Order\"", "value"), "128");  // nothing was changed
  EXPECT_EQ(Request(FPort, "GET", "/api/graph?token=" + FToken).Status, 200);
  EXPECT_EQ(Get("/api/graph").Status, 200);
}

TEST_F(ServeTest, NoPathReachesAFile) {
  for (const std::string target :
       {"/../../etc/passwd", "/%2e%2e/%2e%2e/etc/passwd", "/..%2f..%2fetc%2fpasswd", "/app.js/../../../../etc/passwd",
        "/%2Fetc%2Fpasswd", "//etc/passwd", "/index.html/..%5c..%5cetc%5cpasswd", "/api/component/..%2F..%2Fetc",
        "/api/component/../../etc/passwd", "/web/app.js", "/NXFlowServe.cpp", "/filter-demo.xml"}) {
    const TAnswer a = Get(target + (target.find('?') == std::string::npos ? "?" : "&") + "token=" + FToken);
    EXPECT_TRUE(a.Status == 404 || a.Status == 400) << target << " " << a.Status;
    EXPECT_EQ(a.Body.find("root:"), std::string::npos) << target;
    EXPECT_EQ(a.Body.find("NXGraph"), std::string::npos) << target;
  }
  const TAnswer page = Get("/");
  EXPECT_EQ(page.Status, 200);
  EXPECT_NE(page.Body.find("app.js?token=" + FToken), std::string::npos);  // the page passes the token on
  EXPECT_NE(page.Head.find("Content-Security-Policy: default-src 'self'"), std::string::npos);
}

TEST_F(ServeTest, RefusesLargeBodiesAndTheSeventeenthClient) {
  const TAnswer big = Post("/api/set", std::string(kServeMaxBody + 1, ' '));
  EXPECT_EQ(big.Status, 413);
  EXPECT_NE(big.Body.find("\"error\""), std::string::npos);

  // Sixteen clients hold event streams open; the seventeenth is refused.
  std::vector<int> clients;
  for (int i = 0; i < 16; ++i) {
    const int fd = Connect(FPort);
    ASSERT_GE(fd, 0);
    SendAll(fd, "GET /api/events?token=" + FToken + " HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_NE(ReadUntil(fd, "data: ").find("data: "), std::string::npos) << "client " << i;
    clients.push_back(fd);
  }
  const TAnswer refused = Get("/api/graph");
  EXPECT_EQ(refused.Status, 503);
  EXPECT_EQ(refused.Body.find("LowPass"), std::string::npos);
  for (int fd : clients) ::close(fd);
  // Their streams end at the next event; then there is room again.
  EXPECT_TRUE(Eventually([&] { return Get("/api/graph").Status == 200; }));
}

TEST_F(ServeTest, APortInUseEndsBeforeAnythingRuns) {
  TServeOptions options;
  options.Graph = FGraph.string();
  options.Port = FPort;
  options.OutDir = (FDir / "second").string();
  TGraphServer second(options, FPackages);
  try {
    second.Start();
    ADD_FAILURE() << "a second server on port " << FPort;
  } catch (const EFlowError& e) {
    EXPECT_NE(std::string(e.what()).find("cannot listen on 127.0.0.1 port " + std::to_string(FPort)), std::string::npos)
        << e.what();
  }
  EXPECT_EQ(second.Stop(), "");
  EXPECT_FALSE(fs::exists(FDir / "second"));
  EXPECT_EQ(Get("/api/graph").Status, 200);  // the first goes on
}

TEST_F(ServeTest, GraphHasABoxPerComponentAndAWirePerLink) {
  const TAnswer a = Get("/api/graph");
  ASSERT_EQ(a.Status, 200);
  EXPECT_EQ(Count(a.Body, "\"class\": "), 15u) << a.Body;  // the group that holds them has no pins: no box
  EXPECT_EQ(Count(a.Body, "\"fromPin\": "), 14u);
  EXPECT_NE(a.Body.find(R"({"name": "Mix", "class": "TNXMixer", "sink": false, "display": false, "pins": [{"name": "InputPin1", )"
                        R"("direction": "sink"}, {"name": "InputPin2", "direction": "sink"}, {"name": "InputPin3", )"
                        R"("direction": "sink"}, {"name": "OutputPin", "direction": "source"}]})"),
            std::string::npos)
      << a.Body;
  EXPECT_NE(a.Body.find(R"({"from": "Mix", "fromPin": "OutputPin", "to": "LowPass", "toPin": "InputPin"})"),
            std::string::npos);
  EXPECT_NE(a.Body.find("\"state\": \"running\""), std::string::npos);

  const TAnswer fir = Get("/api/component/LowPass");
  ASSERT_EQ(fir.Status, 200);
  EXPECT_NE(fir.Body.find(R"("name": "Order", "kind": "integer", "type": "Int32", "value": "128", "default": "64", )"
                          R"("min": "0", "max": "65536")"),
            std::string::npos)
      << fir.Body;
  EXPECT_NE(fir.Body.find(R"("values": ["wtRect", "wtBartlett", "wtBlackman")"), std::string::npos);
  EXPECT_NE(fir.Body.find(R"("name": "Enabled", "kind": "bool")"), std::string::npos);
  EXPECT_EQ(Get("/api/component/Nothing").Status, 404);
}

// Every display sends pictures while the stream runs, each a PNG that
// changes as the samples go by; the pointer over one gets its read-out.
TEST_F(ServeTest, DisplaysSendLivePicturesAndAnswerThePointer) {
  const int fd = Connect(FPort);
  SendAll(fd, "GET /api/events?token=" + FToken + " HTTP/1.1\r\nHost: x\r\n\r\n");
  // Each display's news of new pictures; each picture fetched is a PNG, and
  // a display's pictures differ as the samples go by.
  std::map<std::string, std::set<std::string>> pictures;
  std::string data;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  auto enough = [&] {
    if (pictures.size() < 6) return false;
    for (const auto& [name, seen] : pictures)
      if (seen.size() < 2) return false;
    return true;
  };
  char buffer[4096];
  while (!enough() && std::chrono::steady_clock::now() < deadline) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    data.append(buffer, static_cast<std::size_t>(n));
    for (std::size_t at; (at = data.find("event: frame\ndata: ")) != std::string::npos;) {
      const std::size_t end = data.find("\n\n", at);
      if (end == std::string::npos) break;
      const std::string event = data.substr(at, end - at);
      data.erase(0, end + 2);
      const std::string name = Member(event, "", "name");
      EXPECT_NE(event.find("\"serial\": "), std::string::npos) << event;
      if (pictures[name].size() >= 2) continue;
      const TAnswer picture = Get("/api/picture/" + name);
      EXPECT_EQ(picture.Status, 200) << name;
      EXPECT_NE(picture.Head.find("Content-Type: image/png"), std::string::npos) << picture.Head;
      EXPECT_TRUE(picture.Body.starts_with("\x89PNG\r\n\x1a\n")) << name;
      pictures[name].insert(picture.Body);
    }
  }
  ::close(fd);
  EXPECT_TRUE(enough()) << pictures.size() << " displays sent pictures";
  for (const char* name : {"MixScope", "LowPassScope", "BandPassScope", "MixView", "LowPassView", "BandPassView"})
    EXPECT_GE(pictures[name].size(), 2u) << name;
  EXPECT_EQ(Get("/api/picture/LowPass").Status, 404);
  EXPECT_EQ(Request(FPort, "GET", "/api/picture/MixScope").Status, 401);

  const TAnswer over = Post("/api/mouse", R"({"component": "MixScope", "event": "move", "x": 240, "y": 120})");
  ASSERT_EQ(over.Status, 200) << over.Body;
  EXPECT_NE(over.Body.find(" ms: "), std::string::npos) << over.Body;
  EXPECT_EQ(Post("/api/mouse", R"({"component": "MixScope", "event": "move", "x": 0, "y": 0})").Body,
            R"({"readout": ""})");
  EXPECT_EQ(Post("/api/mouse", R"({"component": "MixView", "event": "wheelup", "x": 240, "y": 120})").Status, 200);
  const TAnswer notADisplay = Post("/api/mouse", R"({"component": "LowPass", "event": "move", "x": 1, "y": 1})");
  EXPECT_EQ(notADisplay.Status, 409);
  EXPECT_NE(notADisplay.Body.find("LowPass shows no picture"), std::string::npos);
  EXPECT_EQ(Post("/api/mouse", R"({"component": "Nobody", "event": "move", "x": 1, "y": 1})").Status, 404);
  EXPECT_EQ(Post("/api/mouse", R"({"component": "MixScope", "event": "jump"})").Status, 400);
  const std::string figures = NextEvent();
  EXPECT_NE(figures.find("\"paintLoad\": "), std::string::npos);
  EXPECT_NE(figures.find("\"MixScope\": {\"framesPerSecond\": "), std::string::npos) << figures;
  // Pictures were fetched: how late they went out is measured (a number, not null).
  const std::size_t age = figures.find("\"pictureAgeP99\": ", figures.find("\"MixScope\": {\"framesPerSecond\""));
  ASSERT_NE(age, std::string::npos) << figures;
  EXPECT_GE(std::strtod(figures.c_str() + age + 18, nullptr), 0.0);
  EXPECT_NE(figures.compare(age + 18, 4, "null"), 0) << figures;
}

TEST_F(ServeTest, PropertyChangesApplyToTheRunningGraph) {
  struct TCase {
    std::string Body;
    int Status;
    std::string Expect;  // the value read back, or a part of the error line
  } cases[] = {
      {R"({"component": "LowPass", "property": "Order", "value": 256})", 200, "256"},
      {R"({"component": "Low", "property": "Frequency", "value": "880"})", 200, "880"},
      {R"({"component": "LowPass", "property": "Window", "value": "wtHanning"})", 200, "wtHanning"},
      {R"({"component": "LowPass", "property": "Order", "value": -5})", 400,
       "value -5 of Order is out of range (minimum 0)"},
      {R"({"component": "LowPass", "property": "Window", "value": "wtBlakman"})", 400, "wtBlakman"},
      {R"({"component": "LowPass", "property": "Ordr", "value": 1})", 400, "did you mean \\\"Order\\\""},
      {R"({"component": "LowPass", "property": "Order", "value": "many"})", 400, "many"},
      {R"({"component": "Nowhere", "property": "Order", "value": 1})", 404, "no component"},
      {R"({"component": "MixScope", "property": "FileName", "value": "/tmp/x.png"})", 403, "names a file"},
      {R"({"component": "Mix", "property": "name", "value": "Other"})", 403, "/api/rename"},
      {R"({"component": "LowPass", "property": "Order"})", 400, "no \\\"value\\\""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Body);
    const TAnswer a = Post("/api/set", c.Body);
    EXPECT_EQ(a.Status, c.Status) << a.Body;
    EXPECT_NE(a.Body.find(c.Expect), std::string::npos) << a.Body;
    if (c.Status != 200) {
      EXPECT_TRUE(a.Body.starts_with("{\"error\": \"")) << a.Body;
      EXPECT_EQ(a.Body.find('\n'), std::string::npos);
    }
  }
  const std::string fir = Get("/api/component/LowPass").Body;
  EXPECT_EQ(Member(fir, "\"Order\"", "value"), "256");
  EXPECT_EQ(Member(fir, "\"Window\"", "value"), "wtHanning");
  EXPECT_EQ(Member(Get("/api/component/Low").Body, "\"Frequency\"", "value"), "880");
  // The graph ran on through the refusals.
  EXPECT_NE(NextEvent().find("\"state\": \"running\""), std::string::npos);
  const long before = ScopeBuffers();
  EXPECT_TRUE(Eventually([&] { return ScopeBuffers() > before; }));
}

// An empty folder of the tests' output named AName.
fs::path FreshDir(const std::string& AName) {
  const fs::path dir =
      fs::path(std::getenv("NX_TEST_OUTPUT_DIR") ? std::getenv("NX_TEST_OUTPUT_DIR") : "/tmp") / AName;
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

// Serving ADir/AFile on a free port, writing into ADir/out.
TServeOptions OptionsFor(const fs::path& ADir, const std::string& AFile) {
  TServeOptions options;
  options.Graph = (ADir / AFile).string();
  options.Port = 0;
  options.OutDir = (ADir / "out").string();
  return options;
}

// The newest figures of the server on APort, from a fresh event stream.
std::string LatestEvent(int APort, const std::string& AToken) {
  const int fd = Connect(APort);
  SendAll(fd, "GET /api/events?token=" + AToken + " HTTP/1.1\r\nHost: x\r\n\r\n");
  std::string event = ReadUntil(fd, "}}\n\n");
  ::close(fd);
  return event;
}

// A stream that ends by itself (a player at the end of its file) ends the
// run as a stop does: the sinks write their files, the figures say so.
TEST(ServeEnd, AStreamThatEndsEndsTheRun) {
  const fs::path dir = FreshDir("nxflow-serve-end");
  // 0.1 s of mono 16-bit PCM at 8 kHz: a ramp.
  const std::uint32_t frames = 800;
  std::string wav = "RIFF";
  auto put = [&](std::uint32_t AValue, int ABytes) {
    for (int i = 0; i < ABytes; ++i) wav += static_cast<char>((AValue >> (8 * i)) & 0xFF);
  };
  put(36 + frames * 2, 4);
  wav += "WAVEfmt ";
  put(16, 4), put(1, 2), put(1, 2), put(8000, 4), put(16000, 4), put(2, 2), put(16, 2);
  wav += "data";
  put(frames * 2, 4);
  for (std::uint32_t i = 0; i < frames; ++i) put(i * 8, 2);
  std::ofstream(dir / "ramp.wav", std::ios::binary) << wav;
  std::ofstream(dir / "play.xml") << R"(<NXGraph Version="1" Packages="nxexamples"><TNXGroup Name="G"><_Components>)"
                                     R"(<TNXWavePlayer Name="Player" FileName="ramp.wav" BufferSize="100"/>)"
                                     R"(<TNXCsvWriter Name="Played" FileName="played.csv"/>)"
                                     R"(</_Components></TNXGroup><Links>)"
                                     R"(<Link From="Player" FromPin="OutputPin" To="Played" ToPin="InputPin"/>)"
                                     R"(</Links></NXGraph>)";
  TPackageLoader packages{{NX_FLOW_PACKAGES}, ""};
  TGraphServer server(OptionsFor(dir, "play.xml"), packages);
  const int port = server.Start();
  std::string figures;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (figures.find("\"ended\": ") == std::string::npos && std::chrono::steady_clock::now() < deadline)
    figures = LatestEvent(port, server.Token());
  EXPECT_NE(figures.find("\"state\": \"stopped\""), std::string::npos) << figures;
  EXPECT_NE(figures.find("1 file written"), std::string::npos) << figures;
  // A heading, then every sample of the file.
  std::ifstream csv(dir / "out" / "played.csv");
  std::vector<std::string> rows;
  for (std::string line; std::getline(csv, line);) rows.push_back(line);
  ASSERT_EQ(rows.size(), frames + 1);
  EXPECT_EQ(rows.back().substr(0, 4), "799,");
  // Started again from the page, it plays the file once more.
  EXPECT_EQ(Request(port, "POST", "/api/control", R"({"action": "start"})", "Authorization: Bearer " + server.Token() + "\r\n").Status, 200);
  server.Stop();
}

// A component's own readings (a device's underruns ...) go out with the
// live figures and keep counting while the graph runs.
TEST(ServeReadings, AComponentsOwnCountsReachThePage) {
  const fs::path dir = FreshDir("nxflow-serve-readings");
  std::ofstream(dir / "rec.xml") << R"(<NXGraph Version="1" Packages="flowtestpkg"><TFlowGroup Name="G"><_Components>)"
                                    R"(<TFlowRamp Name="Ramp" SampleRate="8000" BufferSize="100"/>)"
                                    R"(<TFlowRecorder Name="Rec"/>)"
                                    R"(</_Components></TFlowGroup><Links>)"
                                    R"(<Link From="Ramp" FromPin="OutputPin" To="Rec" ToPin="In"/>)"
                                    R"(</Links></NXGraph>)";
  TPackageLoader packages{{NX_FLOW_TEST_PACKAGES}, ""};
  TGraphServer server(OptionsFor(dir, "rec.xml"), packages);
  const int port = server.Start();
  // The newest event, and the value of the recorder's reading AName in it (-1: none).
  const auto nextEvent = [&] {
    const std::string event = LatestEvent(port, server.Token());
    // The server notices a closed stream at its next send: a pause keeps
    // these looks from filling its client slots.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    return event;
  };
  const auto reading = [](const std::string& AEvent, const std::string& AName) {
    const std::string row = R"({"component": "Rec", "name": ")" + AName + R"(", "value": )";
    const std::size_t at = AEvent.find(row);
    return at == std::string::npos ? -1L : std::atol(AEvent.c_str() + at + row.size());
  };
  std::string event;
  long first = -1, later = -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (first <= 0 && std::chrono::steady_clock::now() < deadline) first = reading(event = nextEvent(), "Buffers");
  ASSERT_GT(first, 0) << event;
  while (later <= first && std::chrono::steady_clock::now() < deadline) later = reading(event = nextEvent(), "Buffers");
  EXPECT_GT(later, first) << event;
  // 100 samples a buffer; both counts come from one look at the recorder.
  EXPECT_EQ(reading(event, "Samples"), 100 * later) << event;
  server.Stop();
}

// The figures of each link and worker queue reach the page; a timeline of
// the running graph comes as a file, one recording at a time.
TEST_F(ServeTest, SendsLinkFiguresAndRecordsATimeline) {
  // A number member of the link's object (null reads as 0).
  const auto number = [](const std::string& ARow, const std::string& AName) {
    const std::size_t at = ARow.find("\"" + AName + "\": ");
    return at == std::string::npos || at > ARow.find('}') ? 0.0 : std::atof(ARow.c_str() + at + AName.size() + 4);
  };
  const std::string link = R"({"from": "Mix.OutputPin", "to": "LowPass.InputPin", )";
  std::string event, row;
  ASSERT_TRUE(Eventually([&] {
    event = NextEvent();
    const std::size_t at = event.find(link);
    row = at == std::string::npos ? "" : event.substr(at);
    return number(row, "buffersPerSecond") > 0 && number(row, "latencyP50") > 0;
  })) << event;
  EXPECT_GT(number(row, "samplesPerSecond"), 0);
  EXPECT_GE(number(row, "latencyP99"), number(row, "latencyP50"));
  EXPECT_NE(event.find(R"("queues": [)"), std::string::npos);

  for (const char* bad : {"0", "31", "-1", "1.5", "x", "100"})
    EXPECT_EQ(Get(std::string("/api/trace?seconds=") + bad).Status, 400) << bad;
  TAnswer second;
  std::thread other([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    second = Get("/api/trace?seconds=1");
  });
  const TAnswer timeline = Get("/api/trace?seconds=2");
  other.join();
  ASSERT_EQ(timeline.Status, 200);
  EXPECT_EQ(second.Status, 409);
  for (const char* part : {"\"traceEvents\": [", "\"cat\": \"tick\", \"name\": \"Noise\"", "\"thread_name\""})
    EXPECT_NE(timeline.Body.find(part), std::string::npos) << part;
  EXPECT_EQ(Get("/api/trace?seconds=1").Status, 200);  // the next recording may begin
}

TEST_F(ServeTest, ControlsTheRunAndStopsCleanly) {
  EXPECT_EQ(Post("/api/control", R"({"action": "resume"})").Status, 409);
  EXPECT_EQ(Post("/api/control", R"({"action": "pause"})").Body, "{\"state\": \"paused\"}");
  const long held = ScopeBuffers();
  EXPECT_EQ(ScopeBuffers(), held);  // the clock is held: nothing flows
  EXPECT_EQ(Post("/api/control", R"({"action": "resume"})").Body, "{\"state\": \"running\"}");
  EXPECT_TRUE(Eventually([&] { return ScopeBuffers() > held; }));

  // Stopped from the page: every sink has written its files into --out; the
  // graph stays loaded, can be changed and started again.
  EXPECT_EQ(Post("/api/control", R"({"action": "stop"})").Body, "{\"state\": \"stopped\"}");
  EXPECT_TRUE(fs::exists(FDir / "out" / "mix-scope.png"));
  EXPECT_EQ(Post("/api/control", R"({"action": "stop"})").Status, 409);
  EXPECT_EQ(Post("/api/set", R"({"component": "LowPass", "property": "Order", "value": 64})").Status, 200);
  EXPECT_EQ(Post("/api/control", R"({"action": "start"})").Body, "{\"state\": \"running\"}");
  EXPECT_EQ(Member(Get("/api/component/LowPass").Body, "\"Order\"", "value"), "64");

  // Saved with a box's place: the loader reads it back, `nxflow set` keeps it.
  EXPECT_EQ(Post("/api/layout", R"({"component": "Mix", "x": 300, "y": 40})").Status, 200);
  EXPECT_EQ(Post("/api/layout", R"({"component": "Nobody", "x": 1, "y": 1})").Status, 404);
  EXPECT_EQ(Post("/api/save", "{}").Status, 200);
  const TGraphFile saved = ReadGraphFile(FGraph.string());
  EXPECT_EQ(saved.Xml->DocumentElement()->GetAttr("Layout"), "Mix:300,40");
  EXPECT_EQ(saved.Xml->DocumentElement()->GetAttr("Seconds"), "60");
  std::ostringstream out, err;
  EXPECT_EQ(RunCommandLine({"--packages", NX_FLOW_PACKAGES, "set", FGraph.string(), "LowPass.Order=32"}, out, err), 0)
      << err.str();
  const TGraphFile reset = ReadGraphFile(FGraph.string());
  EXPECT_EQ(reset.Xml->DocumentElement()->GetAttr("Layout"), "Mix:300,40");
  EXPECT_NE(Get("/api/graph").Body.find(R"("name": "Mix", )"), std::string::npos);

  // The program's stop: the server ends, the files are there, no staging
  // folder is left and the port is closed.
  fs::remove_all(FDir / "out");
  const std::string line = FServer->Stop();
  EXPECT_NE(line.find("12 files written"), std::string::npos) << line;
  EXPECT_TRUE(fs::exists(FDir / "out" / "lowpass-spectrum.csv"));
  for (const auto& entry : fs::directory_iterator(FDir))
    EXPECT_EQ(entry.path().filename().string().find(".nxflow-"), std::string::npos) << entry.path();
  EXPECT_LT(Connect(FPort), 0);
  EXPECT_EQ(FServer->Stop(), "");
}

// ---- the designer: a graph begun on the page

// A server without a document, started in a folder of its own.
class DesignTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FDir = fs::path(std::getenv("NX_TEST_OUTPUT_DIR") ? std::getenv("NX_TEST_OUTPUT_DIR") : "/tmp") /
           ("nxflow-design-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(FDir);
    fs::create_directories(FDir / "graphs");
    FOldFolder = fs::current_path();
    fs::current_path(FDir);
    TServeOptions options;
    options.Port = 0;
    options.OutDir = (FDir / "out").string();
    FServer = std::make_unique<TGraphServer>(options, FPackages);
    FPort = FServer->Start();
    FToken = FServer->Token();
  }
  void TearDown() override {
    FServer.reset();
    fs::current_path(FOldFolder);
  }
  TAnswer Post(const std::string& APath, const std::string& ABody) {
    return Request(FPort, "POST", APath, ABody, "Authorization: Bearer " + FToken + "\r\n");
  }
  TAnswer Get(const std::string& APath) {
    return Request(FPort, "GET", APath, {}, "Authorization: Bearer " + FToken + "\r\n");
  }
  struct TStep {
    const char* Path;
    std::string Body;
    int Status;
    const char* Answer;  // in the answer's body
  };
  void Steps(const std::vector<TStep>& ASteps) {
    for (const TStep& s : ASteps) {
      SCOPED_TRACE(std::string(s.Path) + " " + s.Body);
      const TAnswer a = Post(s.Path, s.Body);
      EXPECT_EQ(a.Status, s.Status) << a.Body;
      EXPECT_NE(a.Body.find(s.Answer), std::string::npos) << a.Body;
    }
  }
  // The components (name:class) and links (from.pin>to.pin) the server reports, sorted.
  std::string Structure() {
    const std::string graph = Get("/api/graph").Body;
    std::vector<std::string> parts;
    static const std::regex component(R"re(\{"name": "([^"]*)", "class": "([^"]*)")re");
    static const std::regex link(R"re(\{"from": "([^"]*)", "fromPin": "([^"]*)", "to": "([^"]*)", "toPin": "([^"]*)"\})re");
    for (std::sregex_iterator m(graph.begin(), graph.end(), component), end; m != end; ++m)
      parts.push_back((*m)[1].str() + ":" + (*m)[2].str());
    for (std::sregex_iterator m(graph.begin(), graph.end(), link), end; m != end; ++m)
      parts.push_back((*m)[1].str() + "." + (*m)[2].str() + ">" + (*m)[3].str() + "." + (*m)[4].str());
    std::sort(parts.begin(), parts.end());
    std::string text;
    for (const std::string& p : parts) text += (text.empty() ? "" : " ") + p;
    return text;
  }

  TPackageLoader FPackages{{NX_FLOW_PACKAGES}, ""};
  fs::path FDir, FOldFolder;
  std::unique_ptr<TGraphServer> FServer;
  int FPort = 0;
  std::string FToken;
};

TEST(GraphEdit, DesignerNamesTakeTheFirstFreeNumber) {
  TComponent& owner = *new TComponent(nullptr);
  const struct {
    std::vector<std::string> Taken;
    const char* Class;
    const char* Name;
  } cases[] = {
      {{}, "TNXGain", "NXGain1"},
      {{"NXGain1", "NXGain2"}, "TNXGain", "NXGain3"},
      {{"nxgain1", "NXGain3"}, "TNXGain", "NXGain2"},  // names are told apart without case
      {{"NXGain1"}, "TNXMixer", "NXMixer1"},
      {{}, "Gain", "Gain1"},  // only a leading T goes
      {{}, "tone", "tone1"},
      {{}, "T", "T1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Class);
    std::vector<TComponent*> made;
    for (const std::string& name : c.Taken) {
      made.push_back(new TComponent(&owner));
      made.back()->SetName(name);
    }
    EXPECT_EQ(DesignerName(owner, c.Class), c.Name);
    for (TComponent* m : made) TComponent::Free(m);
  }
  TComponent::Free(&owner);
}

TEST_F(DesignTest, BuildsAGraphFromNothingThroughTheLibrarysChecks) {
  EXPECT_NE(Get("/api/graph").Body.find("\"new\": true"), std::string::npos);
  EXPECT_EQ(Structure(), "");
  Steps({
      {"/api/add", R"({"class": "TNXSineGenerator", "x": 20, "y": 30})", 200, R"("name": "NXSineGenerator1")"},
      {"/api/add", R"({"class": "TNXSineGenerator"})", 200, R"("name": "NXSineGenerator2")"},
      {"/api/add", R"({"class": "TNXGain"})", 200, R"("name": "NXGain1")"},
      {"/api/add", R"({"class": "TNXScopeView"})", 200, R"("name": "NXScopeView1")"},
      {"/api/add", R"({"class": "TRGProcessingManager"})", 200, R"("name": "RGProcessingManager1")"},
      {"/api/add", R"({"class": "TNXGian"})", 400, R"(unknown component class \"TNXGian\" (did you mean \"TNXGain\"?))"},
      {"/api/rename", R"({"component": "NXGain1", "name": "1x"})", 400, "is not a valid component name"},
      {"/api/rename", R"({"component": "NXGain1", "name": "nxsinegenerator1"})", 400, "already exists"},
      {"/api/rename", R"({"component": "NXGain1", "name": ""})", 400, "needs a name"},
      {"/api/rename", R"({"component": "Nobody", "name": "X"})", 400, "no component"},
      {"/api/rename", R"({"component": "NXGain1", "name": "Gain"})", 200, R"("name": "Gain")"},
      {"/api/link", R"({"from": "NXSineGenerator1", "fromPin": "OutputPin", "to": "Gain", "toPin": "InputPin"})", 200, "{}"},
      {"/api/link", R"({"from": "Gain", "fromPin": "OutputPin", "to": "NXScopeView1", "toPin": "InputPin"})", 200, "{}"},
      // The pins negotiate: a processing-control source has nothing a real-stream sink takes.
      {"/api/link", R"({"from": "RGProcessingManager1", "fromPin": "ProcessingPin", "to": "NXScopeView1", "toPin": "InputPin"})",
       400, R"(The pins \"ProcessingPin\" and \"InputPin\" cannot be linked)"},
      {"/api/link", R"({"from": "Gain", "fromPin": "OutputPin", "to": "Gain", "toPin": "InputPin"})", 400,
       "A cycle of links: Gain -> Gain"},
      {"/api/link", R"({"from": "NXScopeView1", "fromPin": "InputPin", "to": "Gain", "toPin": "InputPin"})", 400,
       "from a source pin to a sink pin"},
      {"/api/link", R"({"from": "Gain", "fromPin": "Out", "to": "NXScopeView1", "toPin": "InputPin"})", 400,
       R"(missing pin \"Gain.Out\")"},
      {"/api/link", R"({"from": "Nobody", "fromPin": "OutputPin", "to": "Gain", "toPin": "InputPin"})", 400,
       R"(missing component \"Nobody\")"},
      {"/api/unlink", R"({"from": "NXSineGenerator1", "fromPin": "OutputPin", "to": "Gain", "toPin": "InputPin"})", 200, "{}"},
      {"/api/unlink", R"({"from": "NXSineGenerator1", "fromPin": "OutputPin", "to": "Gain", "toPin": "InputPin"})", 400,
       "are not linked"},
      {"/api/undo", "", 200, R"("undo": )"},
      {"/api/delete", R"({"component": "NXSineGenerator2"})", 200, "{}"},
      {"/api/delete", R"({"component": "RGProcessingManager1"})", 200, "{}"},
      {"/api/delete", R"({"component": "NXSineGenerator2"})", 400, "No component"},
  });
  const std::string built =
      "Gain.OutputPin>NXScopeView1.InputPin Gain:TNXGain NXScopeView1:TNXScopeView "
      "NXSineGenerator1.OutputPin>Gain.InputPin NXSineGenerator1:TNXSineGenerator";
  EXPECT_EQ(Structure(), built);
  // Deleting a linked component takes its links; undo brings both back, redo takes them again.
  Steps({{"/api/delete", R"({"component": "Gain"})", 200, "{}"}});
  EXPECT_EQ(Structure(), "NXScopeView1:TNXScopeView NXSineGenerator1:TNXSineGenerator");
  Steps({{"/api/undo", "{}", 200, R"("redo": 1)"}});
  EXPECT_EQ(Structure(), built);
  Steps({{"/api/redo", "{}", 200, R"("redo": 0)"}, {"/api/redo", "{}", 409, "nothing to redo"}, {"/api/undo", "{}", 200, "{"}});
  EXPECT_EQ(Structure(), built);
  EXPECT_NE(Get("/api/graph").Body.find(R"("name": "NXSineGenerator1", "class": "TNXSineGenerator", "sink": false, "display": false, "pins": [{"name": "OutputPin", "direction": "source"}, {"name": "ClockInputPin", "direction": "sink"}], "x": 20, "y": 30})"),
            std::string::npos)
      << Get("/api/graph").Body;

  // Saved under a name inside the start folder only; the file loads and runs.
  fs::create_directory_symlink(fs::temp_directory_path(), FDir / "graphs" / "away");
  Steps({
      {"/api/save", "{}", 400, "a new graph needs a file name"},
      {"/api/save", R"({"file": "graphs/away/tone.xml"})", 400, "leads out of the folder"},
      {"/api/save", R"({"file": "missing/tone.xml"})", 400, "no folder"},
      {"/api/save", R"({"file": "graphs/tone.xml"})", 200, "graphs/tone.xml"},
      {"/api/save", R"({"file": "graphs/other.xml"})", 400, "a file name is asked for a new graph only"},
      {"/api/save", "{}", 200, "graphs/tone.xml"},
  });
  std::ostringstream out, err;
  EXPECT_EQ(RunCommandLine({"--packages", NX_FLOW_PACKAGES, "check", (FDir / "graphs" / "tone.xml").string()}, out, err), 0)
      << err.str();
  EXPECT_EQ(ReadGraphFile((FDir / "graphs" / "tone.xml").string()).Xml->DocumentElement()->GetAttr("Layout"),
            "NXSineGenerator1:20,30");
  EXPECT_NE(Get("/api/graph").Body.find(R"("file": "tone.xml", "new": false)"), std::string::npos);
}

TEST_F(DesignTest, ARunningGraphKeepsItsStructureButTakesSettings) {
  Steps({
      {"/api/add", R"({"class": "TNXSineGenerator"})", 200, "NXSineGenerator1"},
      {"/api/add", R"({"class": "TNXScopeView"})", 200, "NXScopeView1"},
      {"/api/link", R"({"from": "NXSineGenerator1", "fromPin": "OutputPin", "to": "NXScopeView1", "toPin": "InputPin"})", 200, "{}"},
      {"/api/control", R"({"action": "start"})", 200, "running"},
  });
  const std::string before = Structure();
  for (const char* state : {"running", "paused"}) {
    SCOPED_TRACE(state);
    if (std::string(state) == "paused") Steps({{"/api/control", R"({"action": "pause"})", 200, "paused"}});
    Steps({
        {"/api/add", R"({"class": "TNXGain"})", 409, "stop the graph first"},
        {"/api/rename", R"({"component": "NXScopeView1", "name": "Scope"})", 409, "stop the graph first"},
        {"/api/unlink", R"({"from": "NXSineGenerator1", "fromPin": "OutputPin", "to": "NXScopeView1", "toPin": "InputPin"})", 409,
         "stop the graph first"},
        {"/api/delete", R"({"component": "NXScopeView1"})", 409, "stop the graph first"},
        {"/api/undo", "{}", 409, "stop the graph first"},
        {"/api/set", R"({"component": "NXSineGenerator1", "property": "Frequency", "value": 440})", 200, "440"},
    });
  }
  EXPECT_EQ(Structure(), before);
  Steps({
      {"/api/control", R"({"action": "stop"})", 200, "stopped"},
  });
  // The value set while it ran is the stopped graph's too.
  EXPECT_EQ(Member(Get("/api/component/NXSineGenerator1").Body, "\"Frequency\"", "value"), "440");
  // Undo takes the graph back as it stood before the link, values included.
  Steps({{"/api/undo", "{}", 200, "{"}});
  EXPECT_EQ(Structure(), "NXScopeView1:TNXScopeView NXSineGenerator1:TNXSineGenerator");
  EXPECT_EQ(Member(Get("/api/component/NXSineGenerator1").Body, "\"Frequency\"", "value"), "1000");
}

TEST_F(DesignTest, ThePaletteGroupsClassesAndEveryEditNeedsTheToken) {
  const std::string palette = Get("/api/palette").Body;
  for (const char* entry : {
           R"({"class": "TNXGain", "category": "Filters", "description": "Multiplies the stream by Gain", "pins": [{"name": "InputPin", "direction": "sink"}, {"name": "OutputPin", "direction": "source"}]})",
           R"({"class": "TNXScopeView", "category": "Displays", )",
           R"({"class": "TRGProcessingManager", "category": "Processing", )",
       })
    EXPECT_NE(palette.find(entry), std::string::npos) << entry << "\n" << palette;
  // A class in no category and without pins is nothing to link.
  EXPECT_EQ(palette.find("\"TNXComponentItem\""), std::string::npos);
  for (const char* path : {"/api/add", "/api/rename", "/api/link", "/api/unlink", "/api/delete", "/api/undo", "/api/redo",
                           "/api/save", "/api/palette"}) {
    SCOPED_TRACE(path);
    const TAnswer a = Request(FPort, std::string(path) == "/api/palette" ? "GET" : "POST", path, R"({"class": "TNXGain"})",
                              "Authorization: Bearer " + std::string(64, '0') + "\r\n");
    EXPECT_EQ(a.Status, 401);
    EXPECT_EQ(a.Body.find("TNX"), std::string::npos);
  }
  EXPECT_EQ(Structure(), "");
}

}  // namespace
