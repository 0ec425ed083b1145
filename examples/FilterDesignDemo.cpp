// Filter design demo: designs a few FIR and IIR filters with NXFilterCalc,
// prints the design report of each (measured from its taps) and draws their
// magnitude responses in dB into a PNG file with Cairo.
//
// Usage: filter_design_demo [output.png]   (default filter-responses.png)
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <cstdio>
#include <string>
#include <vector>

#include "algorithms/NXWindowFilter.h"
#include "nxruntime.h"

using namespace nx;

namespace {

constexpr double kSampleRate = 48000;

struct TDemoFilter {
  const char* Name;
  TNXFilterType Kind;
  TNXDesignFilterType Design;
  int Order;
  double F1, F2;  // Hz
  TNXWindowType Window;
  TNXIIRFilterType Prototype;
  double Ripple;
  std::vector<TNXBand> Pass, Stop;  // fractions of the sample rate
  double Color[3];
};

std::string Hz(double fraction) {
  char s[32];
  std::snprintf(s, sizeof s, "%.0f Hz", fraction * kSampleRate);
  return s;
}

void PrintReport(const TDemoFilter& f, const TNXFilterInfo& info) {
  const TNXFilterReport r = info.DesignReport(f.Pass, f.Stop);
  std::printf("%s (%zu taps)\n", f.Name, info.GetTaps().size());
  std::printf("  pass-band ripple       %8.4f dB\n", r.PassbandRippleDb);
  std::printf("  stop-band attenuation  %8.2f dB\n", r.StopbandAttenuationDb);
  std::printf("  -3 dB at              ");
  for (double x : r.Minus3dBFrequencies) std::printf(" %s", Hz(x).c_str());
  std::printf("\n");
  auto delay = [](double d) { return std::isnan(d) ? std::string("n/a (zero of H)") : std::to_string(d) + " samples"; };
  std::printf("  group delay at DC      %s\n", delay(r.GroupDelayDC).c_str());
  std::printf("  group delay at centre  %s\n", delay(r.GroupDelayCentre).c_str());
  std::printf("  poles inside |z| = 1   %s\n\n", r.PolesInsideUnitCircle ? "yes" : "NO");
}

// ---------------------------------------------------------------- plot

constexpr int kWidth = 1140, kHeight = 680;
constexpr double kLeft = 80, kRight = 340, kTop = 50, kBottom = 70;
constexpr double kMinDb = -100, kMaxDb = 10;

double X(double hz) { return kLeft + (kWidth - kLeft - kRight) * hz / (kSampleRate / 2); }
double Y(double db) { return kTop + (kHeight - kTop - kBottom) * (kMaxDb - db) / (kMaxDb - kMinDb); }

void Text(cairo_t* cr, double x, double y, const std::string& s, double alignX, double alignY) {
  cairo_text_extents_t e;
  cairo_text_extents(cr, s.c_str(), &e);
  cairo_move_to(cr, x - e.width * alignX - e.x_bearing, y - e.height * alignY - e.y_bearing);
  cairo_show_text(cr, s.c_str());
}

bool Plot(const std::vector<TDemoFilter>& filters, const std::vector<TIntfPtr<TNXFilterInfo>>& infos,
          const char* path) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kWidth, kHeight);
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);

  // Grid and tick labels.
  cairo_set_font_size(cr, 13);
  cairo_set_line_width(cr, 1);
  for (double db = kMinDb; db <= kMaxDb + 1e-9; db += 10) {
    cairo_set_source_rgb(cr, 0.87, 0.87, 0.87);
    cairo_move_to(cr, X(0), Y(db));
    cairo_line_to(cr, X(kSampleRate / 2), Y(db));
    cairo_stroke(cr);
    cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
    Text(cr, X(0) - 8, Y(db), std::to_string(static_cast<int>(db)), 1.0, 0.5);
  }
  for (double khz = 0; khz <= kSampleRate / 2000 + 1e-9; khz += 2) {
    cairo_set_source_rgb(cr, 0.87, 0.87, 0.87);
    cairo_move_to(cr, X(khz * 1000), Y(kMaxDb));
    cairo_line_to(cr, X(khz * 1000), Y(kMinDb));
    cairo_stroke(cr);
    cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
    Text(cr, X(khz * 1000), Y(kMinDb) + 8, std::to_string(static_cast<int>(khz)), 0.5, 0.0);
  }
  // Axes and titles.
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_set_line_width(cr, 1.5);
  cairo_rectangle(cr, X(0), Y(kMaxDb), X(kSampleRate / 2) - X(0), Y(kMinDb) - Y(kMaxDb));
  cairo_stroke(cr);
  cairo_set_font_size(cr, 15);
  Text(cr, (X(0) + X(kSampleRate / 2)) / 2, kHeight - 22, "Frequency (kHz), sample rate 48 kHz", 0.5, 0.5);
  cairo_save(cr);
  cairo_translate(cr, 24, (Y(kMaxDb) + Y(kMinDb)) / 2);
  cairo_rotate(cr, -std::numbers::pi / 2);
  Text(cr, 0, 0, "Magnitude (dB)", 0.5, 0.5);
  cairo_restore(cr);
  cairo_set_font_size(cr, 17);
  Text(cr, (X(0) + X(kSampleRate / 2)) / 2, 24, "Magnitude responses of the designed filters", 0.5, 0.5);

  // The responses, clipped to the plot area.
  cairo_save(cr);
  cairo_rectangle(cr, X(0), Y(kMaxDb), X(kSampleRate / 2) - X(0), Y(kMinDb) - Y(kMaxDb));
  cairo_clip(cr);
  cairo_set_line_width(cr, 2);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  for (std::size_t i = 0; i < filters.size(); ++i) {
    cairo_set_source_rgb(cr, filters[i].Color[0], filters[i].Color[1], filters[i].Color[2]);
    constexpr int kPoints = 2000;
    for (int k = 0; k <= kPoints; ++k) {
      const double f = 0.5 * k / kPoints;
      const double db = std::max(20 * std::log10(std::abs(infos[i]->Evaluate(f)) + 1e-30), kMinDb - 20);
      if (k == 0) cairo_move_to(cr, X(f * kSampleRate), Y(db));
      else cairo_line_to(cr, X(f * kSampleRate), Y(db));
    }
    cairo_stroke(cr);
  }
  cairo_restore(cr);

  // Legend.
  cairo_set_font_size(cr, 13);
  const double lx = X(kSampleRate / 2) + 20;
  double ly = Y(kMaxDb) + 10;
  cairo_set_source_rgb(cr, 0, 0, 0);
  Text(cr, lx, ly, "Legend", 0, 0);
  ly += 26;
  for (const TDemoFilter& f : filters) {
    cairo_set_source_rgb(cr, f.Color[0], f.Color[1], f.Color[2]);
    cairo_set_line_width(cr, 3);
    cairo_move_to(cr, lx, ly);
    cairo_line_to(cr, lx + 28, ly);
    cairo_stroke(cr);
    cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
    Text(cr, lx + 36, ly, f.Name, 0, 0.5);
    ly += 24;
  }

  cairo_destroy(cr);
  const cairo_status_t status = cairo_surface_write_to_png(surface, path);
  cairo_surface_destroy(surface);
  return status == CAIRO_STATUS_SUCCESS;
}

}  // namespace

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : "filter-responses.png";
  const std::vector<TDemoFilter> filters = {
      {"FIR low-pass, Kaiser, 101 taps", ftFIR, fdftLowPass, 100, 4800, 0, wtKaiser, iirButterworth, 0,
       {{0, 0.07}}, {{0.13, 0.5}}, {0.12, 0.35, 0.75}},
      {"FIR band-stop, Hamming, 151 taps", ftFIR, fdftBandStop, 150, 9000, 14000, wtHamming, iirButterworth, 0,
       {{0, 0.16}, {0.32, 0.5}}, {{0.2, 0.27}}, {0.55, 0.55, 0.55}},
      {"Butterworth low-pass, order 6", ftBiquadIIR, fdftLowPass, 6, 4800, 0, wtRect, iirButterworth, 0,
       {{0, 0.05}}, {{0.2, 0.5}}, {0.85, 0.2, 0.15}},
      {"Chebyshev band-pass, order 4, 0.5 dB", ftBiquadIIR, fdftBandPass, 4, 12000, 16000, wtRect, iirChebyshev,
       -0.5, {{0.25, 1.0 / 3}}, {{0, 0.17}, {0.42, 0.5}}, {0.1, 0.6, 0.2}},
      {"Bessel high-pass, order 4", ftIIR, fdftHighPass, 4, 2000, 0, wtRect, iirBessel, 0, {{0.2, 0.5}},
       {{0, 0.01}}, {0.6, 0.2, 0.7}},
  };
  std::vector<TIntfPtr<TNXFilterInfo>> infos;
  for (const TDemoFilter& f : filters) {
    infos.push_back(
        NXFilterCalc(f.Kind, f.Design, f.Order, f.F1, f.F2, kSampleRate, f.Window, f.Prototype, f.Ripple));
    PrintReport(f, *infos.back());
  }
  if (!Plot(filters, infos, path)) {
    std::fprintf(stderr, "could not write %s\n", path);
    return 1;
  }
  std::printf("magnitude responses written to %s\n", path);
  return 0;
}
