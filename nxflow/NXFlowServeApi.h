// NXFlowServeApi: what the `nxflow serve` server reads from a request and
// writes into an answer, kept apart from the server itself so that it can be
// tested and fuzzed without a socket: JSON text, the request bodies of the
// API, the layout attribute of a document and the access token.
//
// Request bodies are small JSON objects whose members are strings, numbers,
// Booleans or null:
//   POST /api/set      {"component": "LowPass", "property": "Order", "value": 256}
//   POST /api/control  {"action": "start" | "pause" | "resume" | "stop"}
//   POST /api/layout   {"component": "LowPass", "x": 120, "y": 40}
//   POST /api/mouse    {"component": "MixScope", "event": "move", "x": 120, "y": 40,
//                       "button": "left", "shift": false, "ctrl": false, "alt": false,
//                       "held": false, "double": false}   (the last six optional)
// and those of the designer, which change the graph's structure:
//   POST /api/add      {"class": "TNXGain", "x": 120, "y": 40}   (x and y optional)
//   POST /api/rename   {"component": "NXGain1", "name": "Gain"}
//   POST /api/link     {"from": "Sine", "fromPin": "OutputPin", "to": "Gain", "toPin": "InputPin"}
//   POST /api/unlink   (the same members)
//   POST /api/delete   {"component": "Gain"}
//   POST /api/undo, /api/redo   {} (or no body)
//   POST /api/save     {} or, for a graph begun without a document, {"file": "tone.xml"}
// Anything else (nested values, a duplicate member, trailing text, a wrong
// kind) is refused with EServeRequestError and one line saying what is wrong.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/SysUtils.h"
#include "runtime/Zandor.MouseState.h"
#include "streams/NXMouseOperations.h"
#include "streams/NXStreamTypes.h"

namespace nx::flow {

NX_DECLARE_EXCEPTION(EServeRequestError, Exception, "bad request")

// The largest request body the server takes.
inline constexpr std::size_t kServeMaxBody = 64 * 1024;

// A JSON string literal of AText (quotes, escapes; bytes that are not valid
// UTF-8 become U+FFFD, so the answer is always valid JSON).
std::string JsonString(std::string_view AText);
// A JSON number; NaN and the infinities, which JSON has no form for, as null.
std::string JsonNumber(double AValue);

struct TJsonValue {
  enum class TKind { String, Number, Bool, Null };
  TKind Kind = TKind::Null;
  std::string Text;  // a string's value; a number as written; "true"/"false"; "null"
};
// A flat JSON object. EServeRequestError for anything else, and for more
// than 64 members or a body over kServeMaxBody.
std::map<std::string, TJsonValue> ParseJsonObject(std::string_view AText);

// A path of components from the graph's root as `nxflow set` takes it:
// names of letters, digits and '_', joined by '.'; at most 256 characters.
bool IsComponentPath(std::string_view AText);
// A property name (letters, digits, '_'; a sub-object's property with '.').
bool IsPropertyPath(std::string_view AText);

struct TSetRequest {
  std::string Component, Property, Value;
  // The "Component.Property=value" of `nxflow set`.
  std::string Setting() const { return Component + "." + Property + "=" + Value; }
};
// The value may be a string, a number (as written) or a Boolean ("True" /
// "False", as documents write them); it is one line.
TSetRequest ParseSetRequest(std::string_view ABody);

enum class TControlAction { Start, Pause, Resume, Stop };
TControlAction ParseControlRequest(std::string_view ABody);

struct TBoxPosition {
  std::string Component;
  double X = 0, Y = 0;
};
// Finite coordinates within +-1e6.
TBoxPosition ParseLayoutRequest(std::string_view ABody);

// The pointer over a display's picture, in its pixels: what becomes one of
// the stream pins' mouse operations for the display.
enum class TMouseEvent { Enter, Leave, Move, Down, Up, WheelUp, WheelDown };
struct TMouseRequest {
  std::string Component;
  TMouseEvent Event = TMouseEvent::Move;
  std::int32_t X = 0, Y = 0;   // within 0 .. 65535
  TMouseButton Button = mbLeft;
  TShiftState Shift;           // the keys, a held button ("held") and a double click
};
TMouseRequest ParseMouseRequest(std::string_view ABody);
// The stream pins' mouse operation of a request.
TIntfPtr<IFTNotifyOperation> MakeMouseOperation(const TMouseRequest& ARequest);

// The designer's requests. Names are only checked for their form here; the
// library's graph editing checks them against the graph.
struct TAddRequest {
  std::string Class;
  bool Placed = false;  // x and y given
  double X = 0, Y = 0;  // within +-1e6
};
TAddRequest ParseAddRequest(std::string_view ABody);

struct TRenameRequest {
  std::string Component, Name;  // Name: one line of at most 256 bytes
};
TRenameRequest ParseRenameRequest(std::string_view ABody);

struct TLinkRequest {
  std::string From, FromPin, To, ToPin;  // components by path ("" is the root), pins by name
};
TLinkRequest ParseLinkRequest(std::string_view ABody);

// The component of a delete request.
std::string ParseDeleteRequest(std::string_view ABody);
// Undo and redo take an empty object (or an empty body).
void ParseEmptyRequest(std::string_view ABody);
// The file a save request names ("" when it names none), checked with
// CheckNewGraphName.
std::string ParseSaveRequest(std::string_view ABody);

// A new graph document's file name, relative to the folder the server was
// started in: folders and a file name of letters, digits, '_', '-' and '.',
// joined by '/', none empty, none hidden (starting with '.'), no "..", no
// absolute path, at most 255 bytes, ending in ".xml". EServeRequestError
// otherwise. (The server also refuses a name whose folders lead out of the
// start folder through a symbolic link.)
void CheckNewGraphName(std::string_view AName);

// The Layout attribute of a document element: "Noise:40,60;Mix:220,60".
// Entries that do not read are skipped (a hand-edited layout costs the
// boxes their places, never the document); a later entry of the same
// component wins.
std::vector<TBoxPosition> ParseLayout(std::string_view AText);
std::string FormatLayout(const std::vector<TBoxPosition>& APositions);

// A fresh access token: 32 random bytes as 64 hex digits.
std::string MakeAccessToken();
// Whether AGiven equals AExpected, in a time that depends on AExpected's
// length only.
bool TokenMatches(std::string_view AExpected, std::string_view AGiven) noexcept;
// The token of an "Authorization: Bearer TOKEN" header ("" when absent).
std::string BearerToken(std::string_view AAuthorization);

}  // namespace nx::flow
