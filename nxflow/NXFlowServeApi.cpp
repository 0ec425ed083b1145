// NXFlowServeApi: request bodies, JSON and tokens of `nxflow serve` (see the header).
#include "nxflow/NXFlowServeApi.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>

namespace nx::flow {

namespace {

constexpr std::size_t kMaxMembers = 64;
constexpr std::size_t kMaxPath = 256;

[[noreturn]] void Refuse(const std::string& AMessage) { throw EServeRequestError(AMessage); }

void AppendUtf8(std::string& AOut, std::uint32_t ACode) {
  if (ACode < 0x80) {
    AOut += static_cast<char>(ACode);
  } else if (ACode < 0x800) {
    AOut += static_cast<char>(0xC0 | (ACode >> 6));
    AOut += static_cast<char>(0x80 | (ACode & 0x3F));
  } else if (ACode < 0x10000) {
    AOut += static_cast<char>(0xE0 | (ACode >> 12));
    AOut += static_cast<char>(0x80 | ((ACode >> 6) & 0x3F));
    AOut += static_cast<char>(0x80 | (ACode & 0x3F));
  } else {
    AOut += static_cast<char>(0xF0 | (ACode >> 18));
    AOut += static_cast<char>(0x80 | ((ACode >> 12) & 0x3F));
    AOut += static_cast<char>(0x80 | ((ACode >> 6) & 0x3F));
    AOut += static_cast<char>(0x80 | (ACode & 0x3F));
  }
}

// The length of the valid UTF-8 sequence at AText[i] (0: not valid).
std::size_t Utf8Length(std::string_view AText, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(AText[k]); };
  const unsigned char c = byte(i);
  std::size_t n;
  std::uint32_t code;
  if (c < 0x80) return 1;
  if ((c & 0xE0) == 0xC0) { n = 2; code = c & 0x1F; }
  else if ((c & 0xF0) == 0xE0) { n = 3; code = c & 0x0F; }
  else if ((c & 0xF8) == 0xF0) { n = 4; code = c & 0x07; }
  else return 0;
  if (i + n > AText.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
  static constexpr std::uint32_t kMinimum[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kMinimum[n] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return n;
}

class TJsonReader {
 public:
  explicit TJsonReader(std::string_view AText) : FText(AText) {}

  std::map<std::string, TJsonValue> Object() {
    std::map<std::string, TJsonValue> members;
    Space();
    Expect('{', "a JSON object");
    Space();
    if (Peek() == '}') {
      ++FPos;
    } else {
      for (;;) {
        Space();
        if (Peek() != '"') Refuse("a member name in quotes expected at offset " + std::to_string(FPos));
        std::string name = String();
        Space();
        Expect(':', "':' after a member name");
        Space();
        TJsonValue value = Value();
        if (members.size() == kMaxMembers) Refuse("too many members");
        if (!members.emplace(std::move(name), std::move(value)).second) Refuse("a member is given twice");
        Space();
        if (Peek() == ',') {
          ++FPos;
          continue;
        }
        Expect('}', "',' or '}'");
        break;
      }
    }
    Space();
    if (FPos != FText.size()) Refuse("text after the JSON object");
    return members;
  }

 private:
  char Peek() const { return FPos < FText.size() ? FText[FPos] : '\0'; }
  void Space() {
    while (FPos < FText.size() && (FText[FPos] == ' ' || FText[FPos] == '\t' || FText[FPos] == '\n' || FText[FPos] == '\r'))
      ++FPos;
  }
  void Expect(char AChar, const char* AWhat) {
    if (Peek() != AChar || FPos >= FText.size()) Refuse(std::string(AWhat) + " expected at offset " + std::to_string(FPos));
    ++FPos;
  }
  std::uint32_t Hex4() {
    if (FPos + 4 > FText.size()) Refuse("a \\u escape needs four hex digits");
    std::uint32_t code = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = FText[FPos++];
      code <<= 4;
      if (c >= '0' && c <= '9') code |= static_cast<std::uint32_t>(c - '0');
      else if (c >= 'a' && c <= 'f') code |= static_cast<std::uint32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') code |= static_cast<std::uint32_t>(c - 'A' + 10);
      else Refuse("a \\u escape needs four hex digits");
    }
    return code;
  }
  std::string String() {
    ++FPos;  // the opening quote
    std::string out;
    for (;;) {
      if (FPos >= FText.size()) Refuse("a string without its closing quote");
      const char c = FText[FPos];
      if (c == '"') {
        ++FPos;
        return out;
      }
      if (static_cast<unsigned char>(c) < 0x20) Refuse("a control character inside a string");
      if (c != '\\') {
        const std::size_t n = Utf8Length(FText, FPos);
        if (n == 0) Refuse("a string that is not UTF-8");
        out.append(FText.substr(FPos, n));
        FPos += n;
        continue;
      }
      ++FPos;
      const char e = Peek();
      ++FPos;
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          std::uint32_t code = Hex4();
          if (code >= 0xDC00 && code <= 0xDFFF) Refuse("a lone low surrogate");
          if (code >= 0xD800 && code <= 0xDBFF) {
            if (FPos + 2 > FText.size() || FText[FPos] != '\\' || FText[FPos + 1] != 'u')
              Refuse("a high surrogate without its low half");
            FPos += 2;
            const std::uint32_t low = Hex4();
            if (low < 0xDC00 || low > 0xDFFF) Refuse("a high surrogate without its low half");
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          }
          AppendUtf8(out, code);
          break;
        }
        default:
          Refuse("an unknown escape in a string");
      }
    }
  }
  TJsonValue Value() {
    const char c = Peek();
    if (c == '"') return {TJsonValue::TKind::String, String()};
    for (const char* word : {"true", "false", "null"})
      if (FText.substr(FPos).starts_with(word)) {
        FPos += std::char_traits<char>::length(word);
        return {word[0] == 'n' ? TJsonValue::TKind::Null : TJsonValue::TKind::Bool, word};
      }
    if (c == '-' || (c >= '0' && c <= '9')) {
      // JSON's grammar: -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
      const std::size_t start = FPos;
      auto digits = [&]() {
        const std::size_t from = FPos;
        while (FPos < FText.size() && std::isdigit(static_cast<unsigned char>(FText[FPos]))) ++FPos;
        if (FPos == from) Refuse("a malformed number at offset " + std::to_string(from));
      };
      if (Peek() == '-') ++FPos;
      if (Peek() == '0')
        ++FPos;
      else
        digits();
      if (Peek() == '.') {
        ++FPos;
        digits();
      }
      if (Peek() == 'e' || Peek() == 'E') {
        ++FPos;
        if (Peek() == '+' || Peek() == '-') ++FPos;
        digits();
      }
      if (FPos - start > 64) Refuse("a number of more than 64 characters");
      return {TJsonValue::TKind::Number, std::string(FText.substr(start, FPos - start))};
    }
    if (c == '{' || c == '[') Refuse("nested objects and arrays are not taken");
    Refuse("a value expected at offset " + std::to_string(FPos));
  }

  std::string_view FText;
  std::size_t FPos = 0;
};

const TJsonValue& Member(const std::map<std::string, TJsonValue>& AObject, const std::string& AName,
                         TJsonValue::TKind AKind, const char* AKindName) {
  const auto it = AObject.find(AName);
  if (it == AObject.end()) Refuse("the request has no \"" + AName + "\"");
  if (it->second.Kind != AKind) Refuse("\"" + AName + "\" must be " + AKindName);
  return it->second;
}

void OnlyMembers(const std::map<std::string, TJsonValue>& AObject, std::initializer_list<const char*> ANames) {
  for (const auto& [name, value] : AObject) {
    bool known = false;
    for (const char* n : ANames) known = known || name == n;
    if (!known) Refuse("unknown member " + JsonString(name));
  }
}

bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// Dotted names: no empty part, every part of name characters.
bool IsDottedName(std::string_view AText) {
  if (AText.empty() || AText.size() > kMaxPath) return false;
  bool partEmpty = true;
  for (char c : AText) {
    if (c == '.') {
      if (partEmpty) return false;
      partEmpty = true;
    } else if (IsNameChar(c)) {
      partEmpty = false;
    } else {
      return false;
    }
  }
  return !partEmpty;
}

bool ReadCoordinate(std::string_view AText, double& AValue) {
  const char* end = AText.data() + AText.size();
  const auto [ptr, ec] = std::from_chars(AText.data(), end, AValue);
  return ec == std::errc() && ptr == end && std::isfinite(AValue) && std::fabs(AValue) <= 1e6;
}

}  // namespace

std::string JsonString(std::string_view AText) {
  std::string out = "\"";
  for (std::size_t i = 0; i < AText.size();) {
    const unsigned char c = static_cast<unsigned char>(AText[i]);
    const std::size_t n = Utf8Length(AText, i);
    if (n == 0) {
      out += "\\ufffd";
      ++i;
      continue;
    }
    if (n > 1) {
      out.append(AText.substr(i, n));
      i += n;
      continue;
    }
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        // '<' is escaped too: a value never closes a script element.
        if (c < 0x20 || c == 0x7F || c == '<') {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
          out += buffer;
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  return out + "\"";
}

std::string JsonNumber(double AValue) {
  if (!std::isfinite(AValue)) return "null";
  char buffer[32];
  const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, AValue);
  return ec == std::errc() ? std::string(buffer, ptr) : "null";
}

std::map<std::string, TJsonValue> ParseJsonObject(std::string_view AText) {
  if (AText.size() > kServeMaxBody) Refuse("the request body is larger than 64 KiB");
  return TJsonReader(AText).Object();
}

bool IsComponentPath(std::string_view AText) { return IsDottedName(AText); }
bool IsPropertyPath(std::string_view AText) { return IsDottedName(AText); }

TSetRequest ParseSetRequest(std::string_view ABody) {
  const auto object = ParseJsonObject(ABody);
  OnlyMembers(object, {"component", "property", "value"});
  TSetRequest request;
  request.Component = Member(object, "component", TJsonValue::TKind::String, "a string").Text;
  request.Property = Member(object, "property", TJsonValue::TKind::String, "a string").Text;
  if (!IsComponentPath(request.Component)) Refuse("\"component\" is not a component name: " + JsonString(request.Component));
  if (!IsPropertyPath(request.Property)) Refuse("\"property\" is not a property name: " + JsonString(request.Property));
  const auto value = object.find("value");
  if (value == object.end()) Refuse("the request has no \"value\"");
  switch (value->second.Kind) {
    case TJsonValue::TKind::String:
    case TJsonValue::TKind::Number:
      request.Value = value->second.Text;
      break;
    case TJsonValue::TKind::Bool:
      request.Value = value->second.Text == "true" ? "True" : "False";
      break;
    case TJsonValue::TKind::Null:
      Refuse("\"value\" must be a string, a number or a Boolean");
  }
  if (request.Value.find_first_of("\r\n") != std::string::npos) Refuse("\"value\" must be one line");
  return request;
}

TControlAction ParseControlRequest(std::string_view ABody) {
  const auto object = ParseJsonObject(ABody);
  OnlyMembers(object, {"action"});
  const std::string& action = Member(object, "action", TJsonValue::TKind::String, "a string").Text;
  if (action == "start") return TControlAction::Start;
  if (action == "pause") return TControlAction::Pause;
  if (action == "resume") return TControlAction::Resume;
  if (action == "stop") return TControlAction::Stop;
  Refuse("unknown action " + JsonString(action) + " (start, pause, resume or stop)");
}

TBoxPosition ParseLayoutRequest(std::string_view ABody) {
  const auto object = ParseJsonObject(ABody);
  OnlyMembers(object, {"component", "x", "y"});
  TBoxPosition position;
  position.Component = Member(object, "component", TJsonValue::TKind::String, "a string").Text;
  if (!IsComponentPath(position.Component))
    Refuse("\"component\" is not a component name: " + JsonString(position.Component));
  if (!ReadCoordinate(Member(object, "x", TJsonValue::TKind::Number, "a number").Text, position.X) ||
      !ReadCoordinate(Member(object, "y", TJsonValue::TKind::Number, "a number").Text, position.Y))
    Refuse("a position lies within -1e6 .. 1e6");
  return position;
}

TMouseRequest ParseMouseRequest(std::string_view ABody) {
  const auto object = ParseJsonObject(ABody);
  OnlyMembers(object, {"component", "event", "x", "y", "button", "shift", "ctrl", "alt", "held", "double"});
  TMouseRequest request;
  request.Component = Member(object, "component", TJsonValue::TKind::String, "a string").Text;
  if (!IsComponentPath(request.Component))
    Refuse("\"component\" is not a component name: " + JsonString(request.Component));
  const std::string& event = Member(object, "event", TJsonValue::TKind::String, "a string").Text;
  static const std::pair<const char*, TMouseEvent> kEvents[] = {
      {"enter", TMouseEvent::Enter}, {"leave", TMouseEvent::Leave},     {"move", TMouseEvent::Move},
      {"down", TMouseEvent::Down},   {"up", TMouseEvent::Up},           {"wheelup", TMouseEvent::WheelUp},
      {"wheeldown", TMouseEvent::WheelDown}};
  bool known = false;
  for (const auto& [name, value] : kEvents)
    if (event == name) request.Event = value, known = true;
  if (!known) Refuse("unknown event " + JsonString(event) + " (enter, leave, move, down, up, wheelup or wheeldown)");
  // Picture pixels: whole numbers a picture can have (pictures are at most
  // 16,384 pixels a side; a pointer may stand a little outside).
  for (auto [name, out] : {std::pair{"x", &request.X}, std::pair{"y", &request.Y}}) {
    if (request.Event == TMouseEvent::Enter || request.Event == TMouseEvent::Leave) {
      if (object.find(name) == object.end()) continue;
    }
    double value = 0;
    if (!ReadCoordinate(Member(object, name, TJsonValue::TKind::Number, "a number").Text, value) || value < 0 ||
        value > 65535)
      Refuse(std::string("\"") + name + "\" lies within 0 .. 65535");
    *out = static_cast<std::int32_t>(value);
  }
  if (object.find("button") != object.end()) {
    const std::string& button = Member(object, "button", TJsonValue::TKind::String, "a string").Text;
    if (button == "left") request.Button = mbLeft;
    else if (button == "right") request.Button = mbRight;
    else if (button == "middle") request.Button = mbMiddle;
    else Refuse("unknown button " + JsonString(button) + " (left, right or middle)");
  }
  std::vector<TShiftStateFlag> on;
  for (auto [name, flag] : {std::pair{"shift", ssShift}, std::pair{"ctrl", ssCtrl}, std::pair{"alt", ssAlt},
                            std::pair{"double", ssDouble}}) {
    if (object.find(name) == object.end()) continue;
    if (Member(object, name, TJsonValue::TKind::Bool, "true or false").Text == "true") on.push_back(flag);
  }
  if (object.find("held") != object.end() &&
      Member(object, "held", TJsonValue::TKind::Bool, "true or false").Text == "true")
    on.push_back(request.Button == mbRight ? ssRight : request.Button == mbMiddle ? ssMiddle : ssLeft);
  // At most five flags; a repeated flag adds nothing.
  if (!on.empty()) {
    on.resize(5, on.front());
    request.Shift = TShiftState{on[0], on[1], on[2], on[3], on[4]};
  }
  return request;
}

namespace {

const std::string& ComponentMember(const std::map<std::string, TJsonValue>& AObject, const char* AName,
                                   bool ARootAllowed = false) {
  const std::string& path = Member(AObject, AName, TJsonValue::TKind::String, "a string").Text;
  if (!(ARootAllowed && path.empty()) && !IsComponentPath(path))
    Refuse(std::string("\"") + AName + "\" is not a component name: " + JsonString(path));
  return path;
}

}  // namespace

TAddRequest ParseAddRequest(std::string_view ABody) {
  const auto object = ParseJsonObject(ABody);
  OnlyMembers(object, {"class", "x", "y"});
  TAddRequest request;
  request.Class = Member(object, "class", TJsonValue::TKind::String, "a string").Text;
  if (request.Class.empty() || request.Class.size() > kMaxPath ||
      !std::all_of(request.Class.begin(), request.Class.end(), IsNameChar))
    Refuse("\"class\" is not a class name: " + JsonString(request.Class));
  const bool x = object.count("x") != 0, y = object.count("y") != 0;
  if (x != y) Refuse("a position needs both \"x\" and \"y\"");
  if (x) {
    if (!ReadCoordinate(Member(object, "x", TJsonValue::TKind::Number, "a number").Text, request.X) ||
        !ReadCoordinate(Member(object, "y", TJsonValue::TKind::Number, "a number").Text, request.Y))
      Refuse("a position lies within -1e6 .. 1e6");
    request.Placed = true;
  }
  return request;
}

TRenameRequest ParseRenameRequest(std::string_view ABody) {
  const auto object = ParseJsonObject(ABody);
  OnlyMembers(object, {"component", "name"});
  TRenameRequest request;
  request.Component = ComponentMember(object, "component");
  request.Name = Member(object, "name", TJsonValue::TKind::String, "a string").Text;
  if (request.Name.size() > kMaxPath) Refuse("\"name\" is longer than 256 bytes");
  for (char c : request.Name)
    if (static_cast<unsigned char>(c) < 0x20) Refuse("\"name\" must be one line of printable text");
  return request;
}

TLinkRequest ParseLinkRequest(std::string_view ABody) {
  const auto object = ParseJsonObject(ABody);
  OnlyMembers(object, {"from", "fromPin", "to", "toPin"});
  TLinkRequest request;
  request.From = ComponentMember(object, "from", true);
  request.To = ComponentMember(object, "to", true);
  for (auto [name, out] : {std::pair{"fromPin", &request.FromPin}, std::pair{"toPin", &request.ToPin}}) {
    *out = Member(object, name, TJsonValue::TKind::String, "a string").Text;
    if (out->empty() || out->size() > kMaxPath || !std::all_of(out->begin(), out->end(), IsNameChar))
      Refuse(std::string("\"") + name + "\" is not a pin name: " + JsonString(*out));
  }
  return request;
}

std::string ParseDeleteRequest(std::string_view ABody) {
  const auto object = ParseJsonObject(ABody);
  OnlyMembers(object, {"component"});
  return ComponentMember(object, "component");
}

void ParseEmptyRequest(std::string_view ABody) {
  if (ABody.find_first_not_of(" \t\r\n") == std::string_view::npos) return;
  OnlyMembers(ParseJsonObject(ABody), {});
}

std::string ParseSaveRequest(std::string_view ABody) {
  if (ABody.find_first_not_of(" \t\r\n") == std::string_view::npos) return {};
  const auto object = ParseJsonObject(ABody);
  OnlyMembers(object, {"file"});
  if (object.count("file") == 0) return {};
  const std::string& file = Member(object, "file", TJsonValue::TKind::String, "a string").Text;
  CheckNewGraphName(file);
  return file;
}

void CheckNewGraphName(std::string_view AName) {
  if (AName.empty()) Refuse("the graph needs a file name");
  if (AName.size() > 255) Refuse("the file name is longer than 255 bytes");
  if (AName.front() == '/') Refuse("the file name must be relative to the folder the server was started in");
  std::size_t from = 0;
  for (;;) {
    const std::size_t slash = AName.find('/', from);
    const std::string_view part = AName.substr(from, slash == std::string_view::npos ? std::string_view::npos : slash - from);
    if (part.empty()) Refuse("the file name has an empty folder name");
    if (part == "..") Refuse("the file name must stay inside the folder the server was started in");
    if (part.front() == '.') Refuse("the file name must not name a hidden file or folder");
    for (char c : part)
      if (!IsNameChar(c) && c != '-' && c != '.')
        Refuse("the file name may hold letters, digits, '_', '-', '.' and '/' only");
    if (slash == std::string_view::npos) break;
    from = slash + 1;
  }
  if (AName.size() < 5 || AName.substr(AName.size() - 4) != ".xml") Refuse("the file name must end in .xml");
}

TIntfPtr<IFTNotifyOperation> MakeMouseOperation(const TMouseRequest& ARequest) {
  const TShiftState shift = ARequest.Shift;
  const std::int32_t x = ARequest.X, y = ARequest.Y;
  switch (ARequest.Event) {
    case TMouseEvent::Enter: return TFTNXSuppliedMouseEnterOperation::Make();
    case TMouseEvent::Leave: return TFTNXSuppliedMouseLeaveOperation::Make();
    case TMouseEvent::Move: return TFTNXSuppliedMouseMoveOperation::Make(shift, x, y);
    case TMouseEvent::Down: return TFTNXSuppliedMouseButtonDownOperation::Make(ARequest.Button, shift, x, y);
    case TMouseEvent::Up: return TFTNXSuppliedMouseButtonUpOperation::Make(ARequest.Button, shift, x, y);
    case TMouseEvent::WheelUp: return TFTNXSuppliedMouseWheelUpOperation::Make(shift, x, y);
    case TMouseEvent::WheelDown: return TFTNXSuppliedMouseWheelDownOperation::Make(shift, x, y);
  }
  return TFTNXSuppliedMouseMoveOperation::Make(shift, x, y);
}

std::vector<TBoxPosition> ParseLayout(std::string_view AText) {
  std::vector<TBoxPosition> positions;
  while (!AText.empty()) {
    const std::size_t semi = AText.find(';');
    const std::string_view entry = AText.substr(0, semi);
    AText = semi == std::string_view::npos ? std::string_view() : AText.substr(semi + 1);
    const std::size_t colon = entry.find(':');
    const std::size_t comma = entry.find(',');
    if (colon == std::string_view::npos || comma == std::string_view::npos || comma < colon) continue;
    TBoxPosition p{std::string(entry.substr(0, colon)), 0, 0};
    if (!IsComponentPath(p.Component) || !ReadCoordinate(entry.substr(colon + 1, comma - colon - 1), p.X) ||
        !ReadCoordinate(entry.substr(comma + 1), p.Y))
      continue;
    std::erase_if(positions, [&](const TBoxPosition& q) { return q.Component == p.Component; });
    positions.push_back(std::move(p));
  }
  return positions;
}

std::string FormatLayout(const std::vector<TBoxPosition>& APositions) {
  std::string text;
  for (const TBoxPosition& p : APositions) {
    if (!text.empty()) text += ';';
    // Whole pixels are enough for a box's place.
    text += p.Component + ":" + std::to_string(std::lround(p.X)) + "," + std::to_string(std::lround(p.Y));
  }
  return text;
}

std::string MakeAccessToken() {
  std::random_device device;  // /dev/urandom on Linux
  std::string token;
  static constexpr char kHex[] = "0123456789abcdef";
  for (int i = 0; i < 8; ++i) {
    std::uint32_t word = device();
    for (int k = 0; k < 8; ++k, word >>= 4) token += kHex[word & 15];
  }
  return token;
}

bool TokenMatches(std::string_view AExpected, std::string_view AGiven) noexcept {
  // Every byte of the expected token is compared whatever the given one
  // holds, and the lengths are folded in at the end: the time says nothing
  // about how many leading bytes were right.
  unsigned diff = AExpected.size() == AGiven.size() ? 0u : 1u;
  for (std::size_t i = 0; i < AExpected.size(); ++i) {
    const unsigned char given = i < AGiven.size() ? static_cast<unsigned char>(AGiven[i]) : 0;
    diff |= static_cast<unsigned char>(AExpected[i]) ^ given;
  }
  volatile unsigned result = diff;
  return !AExpected.empty() && result == 0;
}

std::string BearerToken(std::string_view AAuthorization) {
  constexpr std::string_view kBearer = "Bearer ";
  if (!AAuthorization.starts_with(kBearer)) return {};
  std::string_view token = AAuthorization.substr(kBearer.size());
  while (!token.empty() && token.back() == ' ') token.remove_suffix(1);
  return std::string(token);
}

}  // namespace nx::flow
