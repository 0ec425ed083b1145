// NXComponentKit: the short way to write a component. Each base below meets
// its author at the same three moments, under the same names:
//
//   OnStart(ASampleRate)   a stream starts (the rate it runs at);
//   OnProcess(...)         one buffer's worth of work;
//   OnStop()               the stream stopped (after the last OnProcess).
//
// and under one rule: the three never run at the same time as each other,
// they run on the stream's thread (a sender, a worker, a clock), and they
// read published properties with ReadLocked. Everything else is the
// library's: the pins register themselves (documents and nxflow find them by
// name), worker and clock threads stop before the derived part of the
// object goes (deleting a component stops them first), and a package
// declares its classes with NX_PACKAGE. The end of a graph (a sink that
// writes files in a flow run) is TNXRealSink (NXRealSink.h). A whole
// component:
//
//   class TClipper : public TNXRealFilter {
//     NX_COMPONENT(TClipper, TNXRealFilter)
//     static void DeclareProperties(TClassBuilder<TClipper>& P) { P.Prop<&TClipper::FLevel>("Level", 0.5); }
//    protected:
//     void OnProcess(const TBuffer&, TBuffer& AOutput) override { ... }
//     double FLevel = 0.5;
//   };
//   NX_PACKAGE("clipper", "1.0", TClipper)
//
// Each base has a header of its own (NXRealFilter.h, NXRealGenerator.h,
// NXRealMultiInputFilter.h, NXRealSink.h) for a package that wants to
// include only what it uses; this header includes them all. None pulls in
// graphics or OpenCL: a package of signal components compiles against the
// signal layers alone.
#pragma once

#include "components/NXComponentPackage.h"
#include "components/NXRealFilter.h"
#include "components/NXRealGenerator.h"
#include "components/NXRealMultiInputFilter.h"
#include "components/NXRealSink.h"
