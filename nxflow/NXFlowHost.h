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
//
// Options before or after the command: --packages DIR (repeatable) adds a
// folder to the package search path (see NXFlowPackages.h).
//
// A graph document may name the packages it needs in its document element:
// <NXGraph Version="1" Packages="nxexamples">. They are loaded before the
// components are made; when a class is still unknown, every package on the
// search path is loaded.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/SysUtils.h"
#include "runtime/Zandor.Components.h"
#include "xml/RGSimpleXML.h"

namespace nx::flow {

class TPackageLoader;

// A user's mistake in a document or on the command line; the message is
// complete ("graph.xml:12: unknown class \"TNXGian\" (did you mean ...)").
NX_DECLARE_EXCEPTION(EFlowError, Exception, "nxflow error")

// A graph document read from a file: its XML, its form and the packages it
// names.
struct TGraphFile {
  std::string FileName;
  TIntfPtr<IXmlDocument> Xml;
  bool Binary = false;
  std::vector<std::string> Packages;
  // The stream time a run lasts when the command line does not say (the
  // document element's Seconds attribute; 0 when absent).
  double Seconds = 0;
};

// Reads the XML of a graph document; EFlowError with file, line and column
// for a document that does not parse.
TGraphFile ReadGraphFile(const std::string& AFileName);
// The same for a document held in memory; AFileName only labels messages.
TGraphFile ReadGraphData(const std::string& AFileName, const std::string& AData);

// Checks the component tree of a document against the registered classes
// before anything is made: unknown classes and properties (with the nearest
// names suggested) and numeric values below a property's minimum. Loads the
// named packages first, and every package on the search path when a class is
// still unknown. EFlowError on the first problem.
void ValidateGraph(const TGraphFile& AFile, TPackageLoader& APackages);

// Validates, then makes the components and links of the document; the root
// is owned by AOwner (null: the caller frees it with TComponent::Free); an
// owner in the designing state keeps the generators from starting.
// EFlowError on failure, with nothing left behind.
TComponent* LoadGraph(const TGraphFile& AFile, TPackageLoader& APackages, TComponent* AOwner = nullptr);

// Sets one "Component.Property=value" (dotted component path from the root,
// then a property path through sub-objects) on a loaded tree. EFlowError for
// an unknown component or property (with suggestions), a value that does not
// convert, or one below the property's minimum.
void ApplySetting(TComponent& ARoot, std::string_view ASetting);

// Runs a command line (without the program name). AProgramPath locates the
// packages beside the program.
int RunCommandLine(const std::vector<std::string>& AArgs, std::ostream& AOut, std::ostream& AErr,
                   const std::string& AProgramPath = {});

}  // namespace nx::flow
