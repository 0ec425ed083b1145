// NXGraphEdit: editing a loaded graph the way a designer does, one change at
// a time, with the checks and messages of the graph-document loader
// (NXGraphDocument.h): a change the loader would refuse in a document is
// refused here with the same one-line message, and leaves the graph as it
// was. Components are named by their dotted paths from the root, as links
// name them ("" is the root itself).
//
//   TComponent* gain = AddGraphComponent(*root, "TNXGain");   // named "NXGain1"
//   LinkGraphPins(*root, {"NXSineGenerator1", "OutputPin", "NXGain1", "InputPin"});
//
// Every failure is an EGraphDocumentError.
#pragma once

#include <string>
#include <string_view>

#include "documents/NXGraphDocument.h"
#include "runtime/Zandor.Components.h"

namespace nx {

// The component at APath below ARoot ("" for ARoot); null when there is none.
TComponent* FindGraphComponent(TComponent& ARoot, std::string_view APath);

// The name a form designer gives a new component of AClassName inside
// AOwner: the class name without its leading 'T', then the first number
// from 1 that no component of AOwner has taken ("NXGain1", "NXGain2" ...).
std::string DesignerName(const TComponent& AOwner, std::string_view AClassName);

// Makes a component of the registered component class AClassName inside
// AOwner, named ANameOrEmpty or, when that is empty, by DesignerName. It
// takes its published defaults; in a designing owner it is designing too.
// Refused: an unknown class (with the nearest registered names), a class
// that is not a component class, a name the loader refuses.
TComponent* AddGraphComponent(TComponent& AOwner, std::string_view AClassName, std::string_view ANameOrEmpty = {});

// Renames AComponent, checked as the loader checks a document's names: an
// identifier, and no other component of its owner with that name (case
// ignored). The component keeps its links.
void RenameGraphComponent(TComponent& AComponent, std::string_view ANewName);

// Links two pins of ARoot's tree through the pins' own negotiation, as the
// loader links a document's <Link>: refused for a missing component or pin,
// a link that does not run from a source pin to a sink pin, one that would
// close a cycle, and one the pins refuse ("The pins "OutputPin" and
// "ControlPin" cannot be linked"). A sink that takes one link gives up the
// one it had.
void LinkGraphPins(TComponent& ARoot, const TGraphLink& ALink);

// Removes the link; refused for a missing component or pin, or pins that
// are not linked.
void UnlinkGraphPins(TComponent& ARoot, const TGraphLink& ALink);

// Unlinks every pin of AComponent and of the components it owns, then frees
// it. The root of a graph is not deleted (refused).
void DeleteGraphComponent(TComponent& ARoot, std::string_view APath);

}  // namespace nx
