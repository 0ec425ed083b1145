// Fuzz target of the binary XML reader. Any input either loads or is
// rejected with the unit's EXmlError; a loaded document must write the same
// binary form again after one pass.
#include <cstddef>
#include <cstdint>
#include <string>

#include "xml/RGSimpleXML.h"

using namespace nx;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Most inputs get the signature in front, so that the fuzzer spends its
  // time behind it.
  std::string bin;
  if (size > 0 && data[0] == 0xA5) {
    bin.assign(reinterpret_cast<const char*>(data) + 1, size - 1);
  } else {
    bin.assign(BinXmlSignature, BinXmlSignatureSize);
    bin.append(reinterpret_cast<const char*>(data), size);
  }
  TIntfPtr<IXmlDocument> doc = CreateXmlDocument();
  try {
    doc->LoadBinaryXML(bin);
  } catch (const EXmlError&) {
    (void)doc->ChildNodes()->Count();
    return 0;
  }
  TIntfPtr<IXmlDocument> wide = CreateXmlDocument();
  {
    TStringStream s;
    doc->SaveBinary(s, BINXML_USE_WIDE_CHARS);
    wide->LoadBinaryXML(s.DataString());
  }
  const std::string once = doc->BinaryXML();
  TIntfPtr<IXmlDocument> back = LoadXmlDocumentFromBinaryXML(once);
  if (back->BinaryXML() != once || wide->BinaryXML() != once) __builtin_trap();
  try {
    (void)doc->SaveXML();
  } catch (const EXmlError&) {
  }
  return 0;
}
