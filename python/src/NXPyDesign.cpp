// Filter design and streaming filters for nxruntime.design: the library's
// designers (NXFilterCalc: windowed-sinc FIR, Butterworth / Chebyshev /
// Bessel IIR as a direct form or second-order sections), the measured design
// report (TNXFilterInfo::DesignReport), and filter objects over the FIR and
// IIR primitives whose state carries over from one call to the next.
#include <cmath>
#include <limits>
#include <vector>

#include "NXPyCommon.h"
#include "algorithms/NXWindowFilter.h"
#include "vector/NXBasicDispatcher.h"

namespace nx::py {
namespace {

using RArray = pyb::array_t<double, pyb::array::c_style | pyb::array::forcecast>;

pyb::array_t<double> ToArray(const std::vector<double>& v) {
  pyb::array_t<double> a(static_cast<pyb::ssize_t>(v.size()));
  std::copy(v.begin(), v.end(), a.mutable_data());
  return a;
}

struct TInfo {
  TIntfPtr<TNXFilterInfo> Info;
};

TInfo Design(int AKind, int ABand, int AOrder, double AF1, double AF2, double AFs, int AWindow, double AParam, int AIIRType,
             double ARipple) {
  if (AOrder < 0) throw pyb::value_error("the order must not be negative");
  if (!(AFs > 0) || !std::isfinite(AFs)) throw pyb::value_error("the sample rate must be a positive number");
  if (AKind == ftIIR || AKind == ftBiquadIIR) {
    if (AOrder < 1) throw pyb::value_error("an IIR design needs order 1 or more");
    if (AIIRType == iirBessel && AOrder > 10) throw pyb::value_error("order " + std::to_string(AOrder) + " is above 10, the highest Bessel order");
  }
  TInfo r;
  r.Info = NXFilterCalc(static_cast<TNXFilterType>(AKind), static_cast<TNXDesignFilterType>(ABand), AOrder, AF1, AF2, AFs,
                        static_cast<TNXWindowType>(AWindow), static_cast<TNXIIRFilterType>(AIIRType), ARipple, AParam);
  if (!r.Info) throw pyb::value_error("unknown filter kind");
  return r;
}

TInfo FromTaps(int AKind, RArray ATaps) {
  std::vector<double> taps(ATaps.data(), ATaps.data() + ATaps.size());
  TInfo r;
  switch (AKind) {
    case ftFIR: r.Info = TIntfPtr<TNXFilterInfo>(new TNXFIRFilterInfo(std::move(taps))); break;
    case ftIIR: r.Info = TIntfPtr<TNXFilterInfo>(new TNXIIRFilterInfo(std::move(taps))); break;
    default: r.Info = TIntfPtr<TNXFilterInfo>(new TNXBiquadIIRFilterInfo(std::move(taps))); break;
  }
  return r;
}

std::vector<TNXBand> Bands(const std::vector<std::pair<double, double>>& ABands) {
  std::vector<TNXBand> r;
  for (auto [lo, hi] : ABands) r.push_back({lo, hi});
  return r;
}

// ---- streaming filters: one primitive state, kept between calls
class TStream {
 public:
  // AKind: ftFIR (taps), ftIIR (b0..bN a0..aN), ftBiquadIIR (6 per section).
  TStream(int AKind, RArray ATaps, std::optional<RArray> AZi) : FKind(AKind), FTaps(ATaps.data(), ATaps.data() + ATaps.size()) {
    if (FTaps.empty()) throw pyb::value_error("a filter needs taps");
    if (AKind == ftIIR && FTaps.size() % 2 != 0) throw pyb::value_error("a direct form needs b and a of one length");
    if (AKind == ftBiquadIIR && FTaps.size() % 6 != 0) throw pyb::value_error("sections are 6 taps each (b0 b1 b2 a0 a1 a2)");
    if (AZi) FZi.assign(AZi->data(), AZi->data() + AZi->size());
    if (!FZi.empty() && static_cast<int>(FZi.size()) != StateLength())
      throw pyb::value_error("zi must hold " + std::to_string(StateLength()) + " values");
    Reset();
  }
  ~TStream() { Free(); }
  TStream(const TStream&) = delete;

  int StateLength() const {
    const int n = static_cast<int>(FTaps.size());
    return FKind == ftFIR ? n : FKind == ftIIR ? n / 2 - 1 : n / 3;
  }
  void Reset() {
    Free();
    const Ipp64f* dly = FZi.empty() ? nullptr : FZi.data();
    const int n = static_cast<int>(FTaps.size());
    IppStatus st = 0;
    if (FKind == ftFIR) st = ippsFIRInitAlloc_64f(&FFir, FTaps.data(), n, dly);
    else if (FKind == ftIIR) st = ippsIIRInitAlloc_64f(&FIir, FTaps.data(), n / 2 - 1, dly);
    else st = ippsIIRInitAlloc_BiQuad_64f(&FIir, FTaps.data(), n / 6, dly);
    if (st < 0) throw pyb::value_error(std::string("filter state: ") + StatusName(st));
  }
  pyb::array_t<double> Process(RArray x) {
    pyb::array_t<double> y(x.request().shape);
    const auto n = x.size();
    if (n == 0) return y;
    if (n > 0x7FFFFFFF) throw pyb::value_error("at most 2**31 - 1 samples per call");
    IppStatus st = 0;
    {
      pyb::gil_scoped_release release;
      if (FKind == ftFIR) st = ippsFIR_64f(x.data(), y.mutable_data(), static_cast<int>(n), FFir);
      else st = ippsIIR_64f(x.data(), y.mutable_data(), static_cast<int>(n), FIir);
    }
    if (st < 0) throw pyb::value_error(std::string("filter: ") + StatusName(st));
    return y;
  }

 private:
  void Free() {
    if (FFir) ippsFIRFree_64f(FFir);
    if (FIir) ippsIIRFree_64f(FIir);
    FFir = nullptr;
    FIir = nullptr;
  }
  int FKind;
  std::vector<double> FTaps, FZi;
  IppsFIRState_64f* FFir = nullptr;
  IppsIIRState_64f* FIir = nullptr;
};

}  // namespace

void RegisterDesign(pyb::module_& m) {
  pyb::module_ d = m.def_submodule("_design", "The library's filter designers");
  d.attr("FIR") = static_cast<int>(ftFIR);
  d.attr("IIR") = static_cast<int>(ftIIR);
  d.attr("BIQUAD") = static_cast<int>(ftBiquadIIR);
  pyb::class_<TInfo>(d, "FilterInfo")
      .def_property_readonly("taps", [](const TInfo& i) { return ToArray(i.Info->GetTaps()); })
      .def_property_readonly("kind", [](const TInfo& i) { return static_cast<int>(i.Info->GetFilterType()); })
      .def("evaluate", [](const TInfo& i, double f) { return i.Info->Evaluate(f); }, "H at a frequency (fraction of the rate)")
      .def("group_delay", [](const TInfo& i, double f) { return i.Info->GroupDelay(f); }, "Samples, at a frequency (fraction of the rate)")
      .def("stable", [](const TInfo& i) { return i.Info->PolesInsideUnitCircle(); })
      .def("response", [](const TInfo& i) {
        std::vector<double> mag, ph;
        i.Info->GetResponse(mag, ph);
        return pyb::make_tuple(ToArray(mag), ToArray(ph));
      })
      .def("report", [](const TInfo& i, const std::vector<std::pair<double, double>>& pass, const std::vector<std::pair<double, double>>& stop) {
        const auto p = Bands(pass), s = Bands(stop);
        const TNXFilterReport r = i.Info->DesignReport(p, s);
        pyb::dict out;
        out["passband_ripple_db"] = r.PassbandRippleDb;
        out["stopband_attenuation_db"] = r.StopbandAttenuationDb;
        out["passband_peak"] = r.PassbandPeak;
        out["minus3db"] = r.Minus3dBFrequencies;
        out["group_delay_dc"] = r.GroupDelayDC;
        out["group_delay_centre"] = r.GroupDelayCentre;
        out["stable"] = r.PolesInsideUnitCircle;
        return out;
      });
  d.def("design", &Design, pyb::arg("kind"), pyb::arg("band"), pyb::arg("order"), pyb::arg("f1"), pyb::arg("f2"), pyb::arg("fs"),
        pyb::arg("window"), pyb::arg("window_param"), pyb::arg("iir_type"), pyb::arg("ripple"));
  d.def("from_taps", &FromTaps, pyb::arg("kind"), pyb::arg("taps"));
  pyb::class_<TStream>(d, "Stream")
      .def(pyb::init<int, RArray, std::optional<RArray>>(), pyb::arg("kind"), pyb::arg("taps"), pyb::arg("zi") = pyb::none())
      .def("process", &TStream::Process, pyb::arg("x"))
      .def("reset", &TStream::Reset)
      .def_property_readonly("state_length", &TStream::StateLength);
}

}  // namespace nx::py
