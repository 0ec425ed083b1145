// Fuzz target of the XML text parser and writer. Any input either parses or
// is rejected with the unit's EXmlError; anything else (another exception, a
// sanitizer report) is a finding. A parsed document must also survive the
// binary form unchanged, write the same text before and after its nodes are
// walked, and a document that starts with its declaration must write the
// same text again after one pass through the parser.
#include <cstddef>
#include <cstdint>
#include <string>

#include "xml/RGSimpleXML.h"

using namespace nx;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool preserve = data[0] & 1;
  const std::string_view xml(reinterpret_cast<const char*>(data) + 1, size - 1);
  TIntfPtr<IXmlDocument> doc = CreateXmlDocument();
  doc->SetPreserveWhiteSpace(preserve);
  try {
    doc->LoadXML(xml);
  } catch (const EXmlError&) {
    // Rejected; the partly built tree must still be sound.
    (void)doc->ChildNodes()->Count();
    return 0;
  }
  // Written before anything walks the tree (elements still hold their lone
  // texts) and after (the binary form made every text a node): the same text.
  std::string held;
  bool heldSaved = true;
  try {
    held = doc->SaveXML();
  } catch (const EXmlError&) {
    heldSaved = false;
  }
  const std::string bin = doc->BinaryXML();
  TIntfPtr<IXmlDocument> back = LoadXmlDocumentFromBinaryXML(bin);
  if (back->BinaryXML() != bin) __builtin_trap();

  std::string text;
  try {
    text = doc->SaveXML();
  } catch (const EXmlError&) {
    return 0;  // a declared encoding outside the table
  }
  if (heldSaved && text != held) __builtin_trap();
  // Stable after one pass, where the input decides the code page from its
  // first node on (a document without declaration is read byte by byte but
  // written as UTF-8; the character right after the declaration is read
  // byte by byte too).
  auto first = doc->ChildNodes()->Count() ? doc->ChildNodes()->Item(0) : nullptr;
  if (!first || first->NodeType() != NODE_PROCESSING_INSTRUCTION || first->NodeName() != "xml") return 0;
  // A second declaration would switch the code page again while the writer
  // uses the first one's: only documents with one declaration qualify.
  if (text.find("<?xml", 1) != std::string::npos) return 0;
  // The declaration itself is read byte by byte too: it must be ASCII.
  const std::size_t end = text.find("?>");
  if (end == std::string::npos) return 0;
  for (std::size_t k = 0; k < end + 3 && k < text.size(); ++k)
    if (static_cast<unsigned char>(text[k]) >= 0x80) return 0;
  // A code page that lacks some characters writes "?" for them, which can
  // break the text once (a name that now has a "?" in it): then there is
  // nothing to compare. From the second writing on the text must not change.
  TIntfPtr<IXmlDocument> again = CreateXmlDocument();
  again->SetPreserveWhiteSpace(preserve);
  std::string text2;
  try {
    again->LoadXML(text);
    text2 = again->SaveXML();
  } catch (const EXmlError&) {
    return 0;
  }
  TIntfPtr<IXmlDocument> third = CreateXmlDocument();
  third->SetPreserveWhiteSpace(preserve);
  third->LoadXML(text2);
  if (third->SaveXML() != text2) __builtin_trap();
  return 0;
}
