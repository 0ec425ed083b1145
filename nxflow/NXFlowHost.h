// NXFlowHost: the commands of the nxflow host, callable from a program or a
// test. Every command writes its report to AOut and its errors to AErr and
// returns the process exit status: 0 on success, 1 when the input is wrong
// (a bad document, an unknown class, property or value), 2 for a wrong
// command line.
//
//   nxflow list                                   every component class: pins and properties
//   nxflow describe CLASS                         one class in detail
//   nxflow check GRAPH.xml                        reads a document without running it
//   nxflow set GRAPH.xml Comp.Prop=value ...      edits a document and saves it in its own form
//   nxflow run GRAPH.xml ... [options]            runs graphs (see NXFlowRun.h)
//   nxflow serve [GRAPH.xml] [options]            runs a graph, shows it live and designs it (see NXFlowServe.h)
//
// Options before or after the command: --packages DIR (repeatable) adds a
// folder to the package search path (see NXFlowPackages.h).
//
// A graph document may name the packages it needs in its document element:
// <NXGraph Version="1" Packages="nxexamples">. They are loaded before the
// components are made; when a class is still unknown, every package on the
// search path is loaded.
//
// Documents are read, checked and loaded by the library's graph-document
// loader (documents/NXGraphDocument.h): its messages name the file and line
// and reach the user as they are.
#pragma once

#include <map>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "documents/NXGraphDocument.h"
#include "runtime/SysUtils.h"
#include "runtime/Zandor.Components.h"

namespace nx::flow {

class TPackageLoader;

// A user's mistake on the command line or in what the host itself reads of
// a document; the message is complete ("graph.xml:1: package ...").
NX_DECLARE_EXCEPTION(EFlowError, Exception, "nxflow error")

// A graph document read from a file: its XML and form, and what the host
// reads from its document element: the packages it names, and the stream
// time a run lasts when the command line does not say (the Seconds
// attribute; 0 when absent).
struct TGraphFile : TGraphSource {
  std::vector<std::string> Packages;
  double Seconds = 0;
};

// Reads a graph document; EGraphDocumentError with file, line and column for
// one that does not parse, EFlowError for a bad Packages or Seconds.
TGraphFile ReadGraphFile(const std::string& AFileName);
// The same for a document held in memory; AFileName only labels messages.
TGraphFile ReadGraphData(const std::string& AFileName, const std::string& AData);

// Loads the packages the document names, then makes its components and
// links through the library's loader, which loads every package on the
// search path when it meets a class still unknown. The root is owned by
// AOwner (null: the caller frees it with TComponent::Free); an owner in the
// designing state keeps the generators from starting. EGraphDocumentError
// (or EFlowError for a named package that cannot be loaded) on failure, with
// nothing left behind.
TComponent* LoadGraph(const TGraphFile& AFile, TPackageLoader& APackages, TComponent* AOwner = nullptr);

// Sets one "Component.Property=value" (dotted component path from the root,
// then a property path through sub-objects) on a loaded tree. EFlowError for
// an unknown component or property (with suggestions), a value that does not
// convert, or one below the property's minimum.
void ApplySetting(TComponent& ARoot, std::string_view ASetting);

// One published property of a class as `describe` shows it and the live
// page edits it: the declaration, its type's name, the default as text, the
// range when declared, and the names an enumeration or a set chooses from.
struct TPropertyRow {
  const TPropInfo* Info = nullptr;
  std::string Type, Default, Min, Max;  // Min, Max: "" when not declared
  std::vector<std::string> Values;      // enumerations and sets
};
// The published properties of a class, in declaration order.
std::vector<TPropertyRow> DescribeProperties(const TClassInfo& AClass);

// Writes the document of ARoot over AFileName in the form AFile was read in
// (text or binary), through a temporary file beside it: a failed write leaves
// the old document as it was. The attributes of AFile's document element that
// the host reads (Packages, Seconds, Layout ...) are kept; AAttributes adds or
// replaces some (an empty value removes one). EFlowError when it cannot write.
void SaveGraphFile(const std::string& AFileName, const TGraphFile& AFile, const TComponent& ARoot,
                   const std::map<std::string, std::string>& AAttributes = {});

// Runs a command line (without the program name). AProgramPath locates the
// packages beside the program.
int RunCommandLine(const std::vector<std::string>& AArgs, std::ostream& AOut, std::ostream& AErr,
                   const std::string& AProgramPath = {});

}  // namespace nx::flow
