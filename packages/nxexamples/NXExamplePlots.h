// NXExamplePlots: the pictures of the package's display sinks. A plot is a
// trace of (x, y) points on two labelled axes with a title; RenderPlotPNG
// lays it out (margins from the measured label sizes), draws it through a
// list of draw layers (background and frame, grid with tick labels, trace,
// texts) on a Cairo canvas and encodes the PNG. The drawing properties (trace
// pen, grid pen, background brush, font) come from the sink that asks.
//
// The output depends only on the plot and the properties: no time, address
// or random value enters it, so the same plot gives the same file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "drawing/RGGDIPlusProperties.h"
#include "drawing/RGPngWriter.h"
#include "streams/FTPins.h"

namespace nx::examples {

// One axis: the range shown, linear or in decades, and its caption.
struct TPlotAxis {
  double Min = 0;
  double Max = 1;
  bool Logarithmic = false;  // decades; Min must be above 0
  std::string Caption;
  std::string Unit;  // for read-outs ("ms", "kHz", "dB"; may be empty)
};

// One grid line of an axis: major lines carry a label.
struct TPlotTick {
  double Value = 0;
  bool Major = true;
  std::string Label;
};

struct TPlot {
  std::int32_t Width = 800;
  std::int32_t Height = 400;
  std::string Title;
  TPlotAxis X, Y;
  // The trace, as many x as y values, x ascending.
  std::vector<double> XValues, YValues;
  // Drawn in the middle of the plot area (e.g. when nothing was received).
  std::string Message;
};

// The drawing properties of the sink; each may be null (a default then).
struct TPlotStyle {
  TRGGPPen* Trace = nullptr;
  TRGGPPen* Grid = nullptr;
  TRGGPBrush* Background = nullptr;
  TRGGPBrushFont* Font = nullptr;
};

// The step of a linear scale: 1, 2 or 5 times a power of ten, the smallest
// such that ASpan holds at most AMaxSteps steps. A span that is not a
// positive finite number gives 1.
double NicePlotStep(double ASpan, std::int32_t AMaxSteps);

// A linear axis around the values AMin .. AMax: widened by a small margin and
// then out to whole steps, so that the trace neither touches the frame nor
// ends between ticks. An empty range (AMin == AMax) becomes one unit (or a
// tenth of the value) either side.
TPlotAxis NicePlotRange(double AMin, double AMax, std::string ACaption);

// The grid lines of an axis. Linear: multiples of NicePlotStep inside the
// range, all major, labelled with the decimals the step needs. Logarithmic:
// the decades inside the range (major, "10", "1k", "20k" ...) and 2 .. 9
// times each decade (minor, no label); when the range holds no decade its
// two ends are labelled instead.
std::vector<TPlotTick> PlotTicks(const TPlotAxis& AAxis, std::int32_t AMaxSteps);

// Renders APlot as a PNG file's bytes; the sink that asked writes them, so
// that a file that cannot be written is reported in one place, with the
// name the user gave it. A live picture (ALive) is the same picture encoded
// for speed rather than size.
std::string RenderPlotPNG(const TPlot& APlot, const TPlotStyle& AStyle, bool ALive = false);
// The picture's pixels, for a file encoded later (EncodePngFile gives the
// bytes RenderPlotPNG would), perhaps on another thread.
TPngPixels RenderPlotPixels(const TPlot& APlot, const TPlotStyle& AStyle);

// What a pointer over a picture of a plot is over. The mouse operation (the
// stream pins' enter, leave, move, button and wheel operations, at picture
// pixels) is routed through the plot's draw layers; the trace layer answers
// for the plot area.
struct TPlotHit {
  bool InArea = false;
  double Fraction = 0;        // across the plot area, 0 at the left edge .. 1
  double X = 0, Y = 0;        // the axis values under the pointer
  std::ptrdiff_t Nearest = -1;  // the trace point nearest on the X axis (-1: none)
};
TPlotHit PlotMouse(const TPlot& APlot, const TPlotStyle& AStyle, const IFTNotifyOperation& AOperation);

}  // namespace nx::examples
