// NXFlowServe: `nxflow serve`. Loads a graph document with the loader and
// checks of `nxflow run`, runs it until told to stop, and serves a page
// that shows it live: one box per component, one wire per link, the
// properties of the selected box with editors, buttons to start, pause,
// resume and stop the graph, and to save the document, and a live panel per
// display of the graph (a component that implements INXFlowDisplay).
//
//   nxflow serve [GRAPH.xml] [--port N] [--listen ADDR] [--virtual-rate X] [--out DIR]
//                [--panel-width W]
//
// The page is the graph's designer too: a palette of every component class
// that can be made, by palette category (NXComponentPalette.h), from which
// components are dragged onto the page, named as a form designer names them
// ("NXGain1") and renamed in place; links are drawn from a source pin to a
// sink pin through the pins' own negotiation, and a link the pins refuse is
// not made (the page shows why). Every change goes through the library's
// graph editing (NXGraphEdit.h) with the document loader's checks. Without
// GRAPH.xml the page begins an empty graph (a TNXGroup), saved under a name
// the page asks for inside the folder the server was started in.
//
// Structure changes (add, rename, link, unlink, delete, undo, redo) are made
// on the stopped graph only: while it runs or is paused they are refused
// with 409 and "stop the graph first: ...". Property changes stay live. The
// server keeps the graph as it stood before each structure change made
// since it started, for undo (and redo of what was undone): an undo takes
// the graph back to that state whole, values set since included.
//
// Time: by the wall clock; with --virtual-rate X on virtual time, the
// master clock let on by X milliseconds of stream time per millisecond
// (X = 4: four times real time). Pause holds the master clock where it
// is; resume lets it go again.
//
// When every generator has ended by itself (a player at the end of its
// file) the run ends as a stop ends it, and the figures say so ("ended").
//
// Stop (the page's button, or SIGINT/SIGTERM for the program) ends the run
// as `run` ends it: the generators stop, every sink finishes and its files
// are moved into --out (default "nxflow-out"). After a stop the graph stays
// loaded (nothing runs) and can be edited, saved or started afresh.
//
// The server (cpp-httplib) listens on 127.0.0.1 unless --listen names
// another address. Every request needs the access token printed with the
// address, as "?token=..." or "Authorization: Bearer ...". What it answers:
//   GET  /                    the page (the files of nxflow/web, built in)
//   GET  /app.js, /style.css  its script and style sheet
//   GET  /api/graph           components (class, name, pins), links, box positions, state
//   GET  /api/component/NAME  NAME's published properties: kind, range or choices, value
//   POST /api/set             {component, property, value}: applied at once, as `nxflow set` applies it
//   POST /api/control         {action: start|pause|resume|stop}
//   POST /api/layout          {component, x, y}: a box's place, saved with the document
//   POST /api/save            writes the document as `nxflow set` does (its form kept);
//                             {file} names a new graph's document
//   GET  /api/palette         the component classes: category, description, pins
//   POST /api/add             {class, x, y}: a new component; answers its name
//   POST /api/rename          {component, name}
//   POST /api/link            {from, fromPin, to, toPin}; /api/unlink the same
//   POST /api/delete          {component}: the component with its links
//   POST /api/undo, /api/redo the structure changes since the server started
//   POST /api/mouse           {component, event, x, y, ...}: the pointer over a display's
//                             picture, as its mouse operation; answers the read-out
//   GET  /api/picture/NAME    the latest picture of display NAME (PNG)
//   GET  /api/trace?seconds=S a timeline of the next S seconds (1-30, default 2) in the
//                             trace-event format (see runtime/NXTrace.h), as a file to save
//   GET  /api/events          Server-Sent Events: state, stream time and each sink's buffers/s
//                             and samples/s, four times a second, and under "flow" each
//                             link's buffers/s, samples/s and latency from the clock tick
//                             (median, 99th percentile, since the start) and each worker
//                             queue's fill and drops (see NXFlowStats.h); per display its
//                             pictures per second and how late after the painter first saw
//                             a change its pictures went out (99th percentile); a "frame" event
//                             {name, serial} when a display has a new picture
//
// Live pictures: a painter thread asks each display 100 times a second
// whether its picture changed, and draws those that did, each at most 25
// times a second, no wider than
// --panel-width (default 480, the width of a panel on the page). A picture
// is drawn once for all clients and kept until the next; a client is told
// of the newest picture of each display when it can take the news, and
// fetches the picture when it is ready to show it, so a slow client skips
// pictures and never queues them.
// Refusals are JSON {"error": "one line"}: 401 without the token (nothing
// else said), 404 for anything not listed, 413 for a body over 64 KiB, 503
// when 16 clients are connected already, 400/404/409 for a request that
// cannot be done. The graph runs on whatever a request holds.

#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace nx::flow {

class TPackageLoader;

struct TServeOptions {
  std::string Graph;             // empty: a new graph, designed on the page
  int Port = 8080;              // 0: any free port
  std::string Listen = "127.0.0.1";
  double VirtualRate = 0;       // 0: the wall clock
  std::string OutDir;           // empty: "nxflow-out"
  int PanelWidth = 480;         // the largest width of a live picture
  std::string Token;            // empty: a fresh random one
};

// Reads the options of `serve` (the words after the command). EFlowError for
// a bad option.
TServeOptions ParseServeOptions(const std::vector<std::string>& AWords);

// The graph and its server. One per process (the master clock is shared).
class TGraphServer {
 public:
  // Loads and checks the graph (it does not start yet). EFlowError or the
  // loader's EGraphDocumentError on a user's mistake.
  TGraphServer(const TServeOptions& AOptions, TPackageLoader& APackages);
  // Stops what still runs (as Stop).
  ~TGraphServer();
  TGraphServer(const TGraphServer&) = delete;
  TGraphServer& operator=(const TGraphServer&) = delete;

  // Starts the graph and serves on a thread of its own; returns the port.
  // EFlowError when the address cannot be bound, or the graph refuses to start.
  int Start();
  // The page's address with the token: "http://127.0.0.1:8080/?token=...".
  std::string Address() const;
  const std::string& Token() const;
  // Stops serving (open event streams end), then ends the run cleanly:
  // every sink finished, its files in --out. Returns a line saying what was
  // written. Once only; later calls return "".
  std::string Stop();

 private:
  struct TState;
  std::unique_ptr<TState> F;
};

// The serve command: starts, prints the address, waits for a stop signal,
// stops. Returns 0 after a clean stop.
int RunServe(const TServeOptions& AOptions, TPackageLoader& APackages, std::ostream& AOut, std::ostream& AErr);

// The server is a module of its own (nxflow-serve.so), which the program
// loads for the serve command only: the HTTP library and what it brings
// (TLS, compression) would cost every other command about a quarter of the
// processor time it takes to start.
// The module resolves the host's functions from the program that loads it.
struct TServeEntry {
  TServeOptions (*Parse)(const std::vector<std::string>& AWords);
  int (*Run)(const TServeOptions& AOptions, TPackageLoader& APackages, std::ostream& AOut, std::ostream& AErr);
};
inline constexpr const char* kServeEntrySymbol = "nx_flow_serve_entry";
// The module's file name, beside the program (a build tree) or installed.
inline constexpr const char* kServeModuleName = "nxflow-serve.so";

}  // namespace nx::flow
