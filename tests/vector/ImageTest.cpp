// Image primitives, destinations in guarded buffers (nothing written outside, nothing on errors).
#include <numbers>

#include "vector/KernelTables.h"

namespace nx {
namespace {

// A w x h region of `ch` samples with a canary row above and below and kPad after every row.
template <typename T>
class TGuardedImage {
 public:
  static constexpr int kPad = 5;
  static constexpr T kCanary = static_cast<T>(0xA5A5A5A5u);

  TGuardedImage(int w, int h, int ch)
      : w_(w), h_(h), ch_(ch), stride_(w * ch + kPad), mem_(static_cast<std::size_t>(h + 2) * stride_, kCanary) {}

  T* Data() { return mem_.data() + stride_; }
  int Step() const { return stride_ * static_cast<int>(sizeof(T)); }
  IppiSize Size() const { return {w_, h_}; }
  T& At(int x, int y, int c = 0) { return Data()[static_cast<std::size_t>(y) * stride_ + x * ch_ + c]; }
  T At(int x, int y, int c = 0) const { return mem_[static_cast<std::size_t>(y + 1) * stride_ + x * ch_ + c]; }
  const std::vector<T>& Memory() const { return mem_; }
  bool AllCanary() const { return std::all_of(mem_.begin(), mem_.end(), [](T v) { return v == kCanary; }); }

  // Every sample outside the region still holds the canary.
  bool GuardsIntact() const {
    for (std::size_t i = 0; i < mem_.size(); ++i) {
      const std::size_t row = i / stride_, col = i % stride_;
      const bool inside = row >= 1 && row <= static_cast<std::size_t>(h_) && col < static_cast<std::size_t>(w_ * ch_);
      if (!inside && mem_[i] != kCanary) return false;
    }
    return true;
  }

  template <typename Gen>
  void Fill(Gen gen) {
    for (int y = 0; y < h_; ++y)
      for (int x = 0; x < w_; ++x)
        for (int c = 0; c < ch_; ++c) At(x, y, c) = static_cast<T>(gen(x, y, c));
  }

 private:
  int w_, h_, ch_, stride_;
  std::vector<T> mem_;
};

using TImage8 = TGuardedImage<Ipp8u>;

std::mt19937& Rng() {
  static std::mt19937 rng(20240607u);
  return rng;
}

template <typename T>
void FillRandom(TGuardedImage<T>& img) {
  std::uniform_int_distribution<long long> dist(std::numeric_limits<T>::min(), std::numeric_limits<T>::max());
  img.Fill([&](int, int, int) { return dist(Rng()); });
}

// The field order is part of the interface (records are exchanged as bytes).
static_assert(offsetof(TPMImageRect, X) == 0 && offsetof(TPMImageRect, Y) == 4 && offsetof(TPMImageRect, Width) == 8 &&
              offsetof(TPMImageRect, Height) == 12);

NX_SIMD_SUITE(ImageCopySet);
NX_SIMD_SUITE(ImageMirror);
NX_SIMD_SUITE(ImageLUT);
NX_SIMD_SUITE(ImageAlphaComp);
NX_SIMD_SUITE(ImageNormDiff);
NX_SIMD_SUITE(ImageResize);
NX_SIMD_SUITE(ImageErrors);

// Copies a random image; the destination's guards must match the source's canaries.
template <typename T>
void ExpectCopied(IppStatus (*copy)(const T*, int, T*, int, IppiSize), IppiSize sz, int ch) {
  TGuardedImage<T> src(sz.width, sz.height, ch), dst(sz.width, sz.height, ch);
  FillRandom(src);
  ASSERT_EQ(copy(src.Data(), src.Step(), dst.Data(), dst.Step(), sz), ippStsNoErr);
  EXPECT_EQ(dst.Memory(), src.Memory());
}

TEST_P(ImageCopySet, CopyAndSetWriteTheRegionOnly) {
  const Ipp8u value[4] = {0, 255, 17, 200};
  for (IppiSize sz : {IppiSize{1, 1}, IppiSize{13, 5}, IppiSize{64, 3}, IppiSize{9, 4}}) {
    SCOPED_TRACE(testing::Message() << sz.width << "x" << sz.height);
    ExpectCopied<Ipp8u>(ippiCopy_8u_C4R, sz, 4);
    ExpectCopied<Ipp32s>(ippiCopy_32s_C1R, sz, 1);
    TImage8 dst(sz.width, sz.height, 4), want(sz.width, sz.height, 4);
    ASSERT_EQ(ippiSet_8u_C4R(value, dst.Data(), dst.Step(), sz), ippStsNoErr);
    want.Fill([&](int, int, int c) { return value[c]; });
    EXPECT_EQ(dst.Memory(), want.Memory());
  }
}

// Where a destination pixel comes from under each axis.
int MirrorX(IppiAxis flip, int x, int w) { return flip == ippAxsHorizontal ? x : w - 1 - x; }
int MirrorY(IppiAxis flip, int y, int h) { return flip == ippAxsVertical ? y : h - 1 - y; }

TEST_P(ImageMirror, AllFormsAllAxesAgainstIndexMap) {
  for (IppiSize sz : {IppiSize{1, 1}, IppiSize{5, 4}, IppiSize{4, 5}, IppiSize{7, 3}, IppiSize{2, 1}})
    for (IppiAxis flip : {ippAxsHorizontal, ippAxsVertical, ippAxsBoth}) {
      SCOPED_TRACE(testing::Message() << sz.width << "x" << sz.height << " flip " << flip);
      for (int ch : {3, 4}) {
        TImage8 src(sz.width, sz.height, ch), dst(sz.width, sz.height, ch), want(sz.width, sz.height, ch);
        FillRandom(src);
        const auto mirror = ch == 4 ? ippiMirror_8u_C4R : ippiMirror_8u_C3R;
        ASSERT_EQ(mirror(src.Data(), src.Step(), dst.Data(), dst.Step(), sz, flip), ippStsNoErr);
        const TImage8& s = src;
        want.Fill([&](int x, int y, int c) { return s.At(MirrorX(flip, x, sz.width), MirrorY(flip, y, sz.height), c); });
        EXPECT_EQ(dst.Memory(), want.Memory());
        if (ch == 3) {
          // In place agrees with out of place.
          TImage8 inPlace = src;
          ASSERT_EQ(ippiMirror_8u_C3IR(inPlace.Data(), inPlace.Step(), sz, flip), ippStsNoErr);
          EXPECT_EQ(inPlace.Memory(), dst.Memory());
        }
      }
    }
}

TEST_P(ImageLUT, PiecewiseLinearPerChannel) {
  // c0 two rising segments, c1 falling over the range, c2 one point, c3 beyond 8 bits (saturates).
  const Ipp32s lv0[] = {0, 100, 200}, va0[] = {10, 60, 250}, lv1[] = {0, 255}, va1[] = {255, 0};
  const Ipp32s lv2[] = {50, 51}, va2[] = {7, 7}, lv3[] = {0, 10, 20}, va3[] = {300, 400, -50};
  const Ipp32s* levels[4] = {lv0, lv1, lv2, lv3};
  const Ipp32s* values[4] = {va0, va1, va2, va3};
  int nLevels[4] = {3, 2, 2, 3};
  // Hand-computed; inputs outside every half-open interval pass through.
  const std::pair<Ipp8u, std::array<Ipp8u, 4>> cases[] = {
      {0, {10, 255, 0, 255}},     {5, {12, 250, 5, 255}},     {15, {17, 240, 15, 175}},
      {25, {22, 230, 25, 25}},    {50, {35, 205, 7, 50}},     {51, {35, 204, 51, 51}},
      {100, {60, 155, 100, 100}}, {150, {155, 105, 150, 150}}, {199, {248, 56, 199, 199}},
      {200, {200, 55, 200, 200}}, {254, {254, 1, 254, 254}},  {255, {255, 255, 255, 255}},
  };
  const int n = static_cast<int>(std::size(cases));
  TImage8 src(n, 2, 4), dst(n, 2, 4), want(n, 2, 4);
  src.Fill([&](int x, int, int) { return cases[x].first; });
  want.Fill([&](int x, int, int c) { return cases[x].second[c]; });
  const int st = src.Step();
  ASSERT_EQ(ippiLUT_Linear_8u_C4R(src.Data(), st, dst.Data(), st, src.Size(), values, levels, nLevels), ippStsNoErr);
  EXPECT_EQ(dst.Memory(), want.Memory());
  // In place gives the same.
  ASSERT_EQ(ippiLUT_Linear_8u_C4R(src.Data(), st, src.Data(), st, src.Size(), values, levels, nLevels), ippStsNoErr);
  EXPECT_EQ(src.Memory(), want.Memory());
}

unsigned D(unsigned x) { return (x + (x >> 8) + 1) >> 8; }

// Porter-Duff: A*Fa + B*Fb with fractions scaled to 0..255 (255 leaves its operand as it is).
struct TPorterDuff { const char* name; std::function<unsigned(unsigned aA, unsigned aB)> fa, fb; };
const TPorterDuff kOps[6] = {
    {"over", [](unsigned, unsigned) { return 255u; }, [](unsigned aA, unsigned) { return 255 - aA; }},
    {"in", [](unsigned, unsigned aB) { return aB; }, [](unsigned, unsigned) { return 0u; }},
    {"out", [](unsigned, unsigned aB) { return 255 - aB; }, [](unsigned, unsigned) { return 0u; }},
    {"atop", [](unsigned, unsigned aB) { return aB; }, [](unsigned aA, unsigned) { return 255 - aA; }},
    {"xor", [](unsigned, unsigned aB) { return 255 - aB; }, [](unsigned aA, unsigned) { return 255 - aA; }},
    {"plus", [](unsigned, unsigned) { return 255u; }, [](unsigned, unsigned) { return 255u; }},
};

TEST_P(ImageAlphaComp, TwelveOperationsAgainstPorterDuff) {
  // Corner cases (opaque first source: "over" returns it), then random pairs.
  std::vector<std::array<Ipp8u, 8>> pairs = {
      {10, 20, 30, 255, 200, 100, 50, 255}, {10, 20, 30, 0, 200, 100, 50, 255}, {255, 255, 255, 255, 255, 255, 255, 255},
      {0, 0, 0, 0, 0, 0, 0, 0},             {90, 0, 255, 128, 40, 250, 3, 77},  {255, 1, 128, 1, 254, 0, 127, 254},
      {0, 0, 0, 0, 90, 200, 13, 77},  // transparent premultiplied first source: "over" gives the second
  };
  std::uniform_int_distribution<int> byte(0, 255);
  while (pairs.size() < 40) {
    std::array<Ipp8u, 8> p;
    for (auto& v : p) v = static_cast<Ipp8u>(byte(Rng()));
    pairs.push_back(p);
  }
  const int w = static_cast<int>(pairs.size()) / 2, h = 2;
  TImage8 s1(w, h, 4), s2(w, h, 4);
  s1.Fill([&](int x, int y, int c) { return pairs[y * w + x][c]; });
  s2.Fill([&](int x, int y, int c) { return pairs[y * w + x][4 + c]; });
  const int st = s1.Step();
  for (int type = 0; type < 12; ++type) {
    const TPorterDuff& op = kOps[type % 6];
    const bool premul = type >= 6;
    SCOPED_TRACE(testing::Message() << op.name << (premul ? " premultiplied" : ""));
    TImage8 dst(w, h, 4), want(w, h, 4);
    ASSERT_EQ(ippiAlphaComp_8u_AC4R(s1.Data(), st, s2.Data(), st, dst.Data(), st, {w, h}, type), ippStsNoErr);
    want.Fill([&](int x, int y, int c) {
      const unsigned aA = s1.At(x, y, 3), aB = s2.At(x, y, 3);
      unsigned a = s1.At(x, y, c), b = s2.At(x, y, c);
      if (!premul && c < 3) a = D(a * aA), b = D(b * aB);
      return std::min(255u, D(a * op.fa(aA, aB)) + D(b * op.fb(aA, aB)));
    });
    EXPECT_EQ(dst.Memory(), want.Memory());
    // The destination may be the first source.
    TImage8 inPlace = s1;
    ASSERT_EQ(ippiAlphaComp_8u_AC4R(inPlace.Data(), st, s2.Data(), st, inPlace.Data(), st, {w, h}, type), ippStsNoErr);
    EXPECT_EQ(inPlace.Memory(), dst.Memory());
  }
}

// Argument errors: nothing written, the in-place source left as it was.
TEST_P(ImageErrors, WriteNothing) {
  TImage8 src(4, 4, 4), dst(4, 4, 4);
  FillRandom(src);
  const TImage8 srcBefore = src;
  Ipp8u* s = src.Data();
  Ipp8u* d = dst.Data();
  const int st = src.Step();
  const Ipp8u value[4] = {1, 2, 3, 4};
  const Ipp32s lv[] = {0, 256}, va[] = {0, 255};
  const Ipp32s* levels[4] = {lv, lv, lv, lv};
  const Ipp32s* values[4] = {va, va, va, va};
  const Ipp32s* holed[4] = {lv, nullptr, lv, lv};
  int nLevels[4] = {2, 2, 2, 1};
  const std::pair<IppStatus, IppStatus> got[] = {  // the status and the one expected
      {ippiCopy_8u_C4R(nullptr, st, d, st, {4, 4}), ippStsNullPtrErr},
      {ippiCopy_32s_C1R(reinterpret_cast<Ipp32s*>(s), 16, reinterpret_cast<Ipp32s*>(d), 16, {4, -1}), ippStsSizeErr},
      {ippiSet_8u_C4R(value, d, 0, {4, 4}), ippStsStepErr},
      {ippiSet_8u_C4R(nullptr, d, st, {4, 4}), ippStsNullPtrErr},
      {ippiSet_8u_C4R(value, d, 0, {0, 4}), ippStsSizeErr},  // before the step error
      {ippiMirror_8u_C4R(s, st, d, st, {4, 3}, 3), ippStsMirrorFlipErr},
      {ippiMirror_8u_C3R(s, st, d, st, {4, 0}, 7), ippStsSizeErr},  // before the axis error
      {ippiMirror_8u_C3IR(s, st, {4, 3}, -1), ippStsMirrorFlipErr},
      {ippiMirror_8u_C3IR(nullptr, st, {4, 3}, 7), ippStsNullPtrErr},
      {ippiMirror_8u_C3IR(s, st, {-2, 3}, ippAxsBoth), ippStsSizeErr},
      {ippiLUT_Linear_8u_C4R(s, st, d, st, {3, 3}, values, levels, nLevels), ippStsLUTNofLevelsErr},
      {ippiLUT_Linear_8u_C4R(s, st, d, st, {0, 3}, values, levels, nLevels), ippStsSizeErr},
      {ippiLUT_Linear_8u_C4R(s, st, d, st, {3, 3}, values, holed, nLevels), ippStsNullPtrErr},
      {ippiLUT_Linear_8u_C4R(s, st, d, st, {3, 3}, values, levels, nullptr), ippStsNullPtrErr},
      {ippiAlphaComp_8u_AC4R(s, st, s, st, d, st, {3, 2}, 12), ippStsAlphaTypeErr},
      {ippiAlphaComp_8u_AC4R(s, st, s, st, d, st, {3, 2}, -1), ippStsAlphaTypeErr},
      {ippiAlphaComp_8u_AC4R(s, st, nullptr, st, d, st, {3, 2}, 0), ippStsNullPtrErr},
      {ippiAlphaComp_8u_AC4R(s, st, s, st, d, st, {3, 0}, 99), ippStsSizeErr},
  };
  for (std::size_t i = 0; i < std::size(got); ++i) EXPECT_EQ(got[i].first, got[i].second) << i;
  EXPECT_TRUE(dst.AllCanary());
  EXPECT_EQ(src.Memory(), srcBefore.Memory());
}

TEST_P(ImageNormDiff, AgainstBruteForce) {
  const decltype(ippiNormDiff_L1_8u_C1R) norms[] = {ippiNormDiff_L1_8u_C1R, ippiNormDiff_L2_8u_C1R,
                                                    ippiNormDiff_Inf_8u_C1R};
  // Random images, then the extremes (5 x 5): every pixel differs by 255.
  for (IppiSize sz : {IppiSize{1, 1}, IppiSize{17, 9}, IppiSize{300, 40}, IppiSize{5, 5}}) {
    TImage8 a(sz.width, sz.height, 1), b(sz.width, sz.height, 1);
    a.Fill([&](int, int, int) { return sz.width == 5 ? 0 : Rng()() % 256; });
    b.Fill([&](int, int, int) { return sz.width == 5 ? 255 : Rng()() % 256; });
    double want[3] = {0, 0, 0};
    for (int y = 0; y < sz.height; ++y)
      for (int x = 0; x < sz.width; ++x) {
        const double d = std::abs(int(a.At(x, y)) - int(b.At(x, y)));
        want[0] += d, want[1] += d * d, want[2] = std::max(want[2], d);
      }
    want[1] = std::sqrt(want[1]);
    for (int k = 0; k < 3; ++k) {
      double v = -1;
      ASSERT_EQ(norms[k](a.Data(), a.Step(), b.Data(), b.Step(), sz, &v), ippStsNoErr);
      EXPECT_NEAR(v, want[k], k == 1 ? 1e-15 * want[k] : 0) << "norm " << k << " size " << sz.width;
    }
  }
  TImage8 a(5, 5, 1);
  double v = 42;
  EXPECT_EQ(norms[1](a.Data(), a.Step(), nullptr, a.Step(), {5, 5}, &v), ippStsNullPtrErr);
  EXPECT_EQ(norms[2](a.Data(), a.Step(), a.Data(), a.Step(), {5, 0}, &v), ippStsSizeErr);
  EXPECT_EQ(v, 42);
}

const int kModes[] = {IPPI_INTER_NN, IPPI_INTER_LINEAR, IPPI_INTER_CUBIC, IPPI_INTER_SUPER, IPPI_INTER_LANCZOS};

// One resize call on any of the four forms.
template <typename T>
IppStatus Resize(int ch, const TGuardedImage<T>& srcImg, IppiRect roi, TGuardedImage<T>& dst, double xf, double yf,
                 double xc, double yc, int mode) {
  auto& src = const_cast<TGuardedImage<T>&>(srcImg);
  if constexpr (std::is_same_v<T, Ipp16u>) {
    return ippiResizeCenter_16u_C1R(src.Data(), src.Size(), src.Step(), roi, dst.Data(), dst.Step(), dst.Size(), xf,
                                    yf, xc, yc, mode);
  } else {
    const auto fn = ch == 1 ? ippiResizeCenter_8u_C1R : ch == 3 ? ippiResizeCenter_8u_C3R : ippiResizeCenter_8u_C4R;
    return fn(src.Data(), src.Size(), src.Step(), roi, dst.Data(), dst.Step(), dst.Size(), xf, yf, xc, yc, mode);
  }
}

IppiRect Whole(IppiSize s) { return {0, 0, s.width, s.height}; }

// Factors 1, 1 about the source centre: every interpolation reproduces the source.
template <typename T>
void CheckIdentity(int ch) {
  TGuardedImage<T> src(11, 7, ch);
  FillRandom(src);
  for (int mode : kModes) {
    SCOPED_TRACE(testing::Message() << "channels " << ch << " sample bytes " << sizeof(T) << " mode " << mode);
    TGuardedImage<T> dst(11, 7, ch);
    ASSERT_EQ(Resize(ch, src, Whole(src.Size()), dst, 1, 1, 5.5, 3.5, mode), ippStsNoErr);
    EXPECT_EQ(dst.Memory(), src.Memory());
  }
}

// A constant stays constant; exactly the pixels sampling inside the source are written.
template <typename T>
void CheckConstant(int ch, T value) {
  const int sw = 23, sh = 17;
  TGuardedImage<T> src(sw, sh, ch);
  src.Fill([&](int, int, int) { return value; });
  struct Geometry { double xf, yf, xc, yc; int dw, dh; };
  const Geometry geometries[] = {
      {0.5, 0.5, 11.5, 8.5, 11, 8},  {2, 2, 11.5, 8.5, 46, 34},       {0.37, 0.61, 9.3, 7.1, 15, 14},
      {1.7, 3.1, 4.2, 13.9, 40, 30}, {0.25, 1.5, 11.5, 8.5, 20, 25},  {1, 1, -3.3, 2.2, 12, 9},
  };
  for (const Geometry& g : geometries)
    for (int mode : kModes) {
      SCOPED_TRACE(testing::Message() << "channels " << ch << " factors " << g.xf << "," << g.yf << " mode " << mode);
      TGuardedImage<T> dst(g.dw, g.dh, ch);
      ASSERT_EQ(Resize(ch, src, Whole(src.Size()), dst, g.xf, g.yf, g.xc, g.yc, mode), ippStsNoErr);
      ASSERT_TRUE(dst.GuardsIntact());
      const auto inside = [](double s, int n) { return s >= 0 && s < n; };
      const auto nearEdge = [](double s, int n) { return std::abs(s) < 1e-6 || std::abs(s - n) < 1e-6; };
      for (int y = 0; y < g.dh; ++y) {
        const double ys = (y - g.dh * 0.5) / g.yf + g.yc;
        for (int x = 0; x < g.dw; ++x) {
          const double xs = (x - g.dw * 0.5) / g.xf + g.xc;
          if (nearEdge(xs, sw) || nearEdge(ys, sh)) continue;
          const bool written = inside(xs, sw) && inside(ys, sh);
          for (int c = 0; c < ch; ++c)
            ASSERT_EQ(dst.At(x, y, c), written ? value : TGuardedImage<T>::kCanary) << x << "," << y;
        }
      }
    }
}

template <typename T>
void CheckBlockAverage(int ch) {
  TGuardedImage<T> src(16, 10, ch), dst(8, 5, ch), want(8, 5, ch);
  FillRandom(src);
  ASSERT_EQ(Resize(ch, src, Whole(src.Size()), dst, 0.5, 0.5, 8, 5, IPPI_INTER_SUPER), ippStsNoErr);
  const auto& s = src;
  want.Fill([&](int x, int y, int c) {  // halves round up
    const int i = 2 * x, j = 2 * y;
    return (0u + s.At(i, j, c) + s.At(i + 1, j, c) + s.At(i, j + 1, c) + s.At(i + 1, j + 1, c) + 2) / 4;
  });
  EXPECT_EQ(dst.Memory(), want.Memory()) << "channels " << ch;
}

// Statuses write nothing; identity, constant and block average on every form.
TEST_P(ImageResize, StatusesIdentityConstantAndBlockAverageOnEveryForm) {
  TImage8 src(8, 6, 1), dst(5, 5, 1);
  FillRandom(src);
  const IppiRect roi = Whole(src.Size());
  const int st = src.Step();
  const auto call = [&](IppiRect r, IppiSize srcSize, IppiSize dstSize, double xf, double yf, int mode) {
    return ippiResizeCenter_8u_C1R(src.Data(), srcSize, st, r, dst.Data(), st, dstSize, xf, yf, 4, 3, mode);
  };
  EXPECT_EQ(call(roi, src.Size(), dst.Size(), 1, -0.5, IPPI_INTER_NN), ippStsResizeFactorErr);
  EXPECT_EQ(call(roi, src.Size(), dst.Size(), std::nan(""), 1, IPPI_INTER_NN), ippStsResizeFactorErr);
  EXPECT_EQ(call(roi, src.Size(), dst.Size(), 1, 1, 3), ippStsInterpolationErr);
  EXPECT_EQ(call(roi, {0, 6}, dst.Size(), 1, 1, IPPI_INTER_NN), ippStsSizeErr);
  EXPECT_EQ(call({-1, 0, 8, 6}, src.Size(), dst.Size(), 1, 1, IPPI_INTER_NN), ippStsSizeErr);
  EXPECT_EQ(call(roi, src.Size(), {5, 0}, 1, 1, IPPI_INTER_NN), ippStsSizeErr);
  EXPECT_EQ(ippiResizeCenter_8u_C1R(nullptr, {8, 6}, st, roi, dst.Data(), st, {5, 5}, 1, 1, 4, 3, 1), ippStsNullPtrErr);
  EXPECT_EQ(ippiResizeCenter_16u_C1R(reinterpret_cast<const Ipp16u*>(src.Data()), {4, 6}, st, {0, 0, 4, 6}, nullptr, st,
                                     {5, 5}, 1, 1, 2, 3, 1),
            ippStsNullPtrErr);
  // A region whose origin lies outside the source: a warning, nothing written.
  for (IppiRect outside : {IppiRect{8, 0, 4, 4}, IppiRect{0, 6, 4, 4}})
    EXPECT_EQ(call(outside, src.Size(), dst.Size(), 1, 1, IPPI_INTER_CUBIC), ippStsNoIntersection);
  EXPECT_TRUE(dst.AllCanary());
  // The four forms: 8-bit with 1, 3 and 4 channels, 16-bit with one.
  for (auto [ch, value] : {std::pair<int, Ipp8u>{1, 200}, {3, 255}, {4, 1}}) {
    CheckIdentity<Ipp8u>(ch);
    CheckConstant<Ipp8u>(ch, value);
    CheckBlockAverage<Ipp8u>(ch);
  }
  CheckIdentity<Ipp16u>(1);
  CheckBlockAverage<Ipp16u>(1);
  for (Ipp16u value : {65535, 1234}) CheckConstant<Ipp16u>(1, value);
}

// A direct 2-D resampler from the kernel definitions (exact sinc): agreement to +-1.
double RefKernel(int mode, double x) {
  x = std::abs(x);
  switch (mode) {
    case IPPI_INTER_LINEAR: return x < 1 ? 1 - x : 0;
    case IPPI_INTER_CUBIC: return x < 1 ? 1.5 * x * x * x - 2.5 * x * x + 1 : x < 2 ? -0.5 * x * x * x + 2.5 * x * x - 4 * x + 2 : 0;
    case IPPI_INTER_LANCZOS: {
      if (x >= 3) return 0;
      if (x == 0) return 1;
      const double a = std::numbers::pi * x;
      return std::sin(a) / a * std::sin(a / 3) / (a / 3);
    }
  }
  return 0;
}

// Weights per source index for the sample at s (super-sampling: [s, sEnd)) over [lo, hi).
std::vector<double> RefWeights(int mode, double s, double sEnd, int lo, int hi) {
  std::vector<double> w(hi, 0.0);
  const int n = static_cast<int>(std::floor(s));
  if (mode == IPPI_INTER_NN) {
    w[std::clamp(n, lo, hi - 1)] = 1;
  } else if (mode == IPPI_INTER_SUPER) {
    const double a = std::max<double>(s, lo), b = std::min<double>(sEnd, hi);
    for (int i = lo; i < hi; ++i) w[i] = std::max(0.0, std::min(i + 1.0, b) - std::max<double>(i, a));
  } else {
    const int reach = mode == IPPI_INTER_LINEAR ? 1 : mode == IPPI_INTER_CUBIC ? 2 : 3;
    for (int i = n - reach + 1; i <= n + reach; ++i) w[std::clamp(i, lo, hi - 1)] += RefKernel(mode, i - s);
  }
  double sum = 0;
  for (double v : w) sum += v;
  for (double& v : w) v /= sum;
  return w;
}

TEST_P(ImageResize, AgreesWithADirectResampler) {
  struct Case { IppiRect roi; IppiSize dst; double xf, yf, xc, yc; };
  const Case cases[] = {
      {{0, 0, 15, 11}, {25, 18}, 1.63, 1.57, 7.31, 5.42},  // enlarge
      {{0, 0, 15, 11}, {6, 5}, 0.41, 0.45, 7.77, 5.13},    // reduce
      {{3, 2, 9, 7}, {14, 9}, 1.3, 0.7, 7.2, 5.9},         // sub-region, mixed
      {{10, 4, 50, 50}, {9, 12}, 0.8, 1.9, 12.6, 8.3},     // region clipped to the image
  };
  TImage8 src(15, 11, 1);
  FillRandom(src);
  for (const Case& k : cases)
    for (int mode : kModes) {
      SCOPED_TRACE(testing::Message() << "roi " << k.roi.x << "," << k.roi.y << " mode " << mode);
      TImage8 dst(k.dst.width, k.dst.height, 1);
      ASSERT_EQ(Resize(1, src, k.roi, dst, k.xf, k.yf, k.xc, k.yc, mode), ippStsNoErr);
      ASSERT_TRUE(dst.GuardsIntact());
      const int xLo = k.roi.x, xHi = std::min(15, k.roi.x + k.roi.width);
      const int yLo = k.roi.y, yHi = std::min(11, k.roi.y + k.roi.height);
      const bool super = mode == IPPI_INTER_SUPER && k.xf <= 1 && k.yf <= 1;
      const int refMode = mode == IPPI_INTER_SUPER && !super ? IPPI_INTER_LINEAR : mode;
      int written = 0;
      for (int y = 0; y < k.dst.height; ++y) {
        const double ys = (y - k.dst.height * 0.5) / k.yf + k.yc;
        if (ys < yLo || ys >= yHi) continue;
        const auto wy = RefWeights(refMode, ys, (y + 1 - k.dst.height * 0.5) / k.yf + k.yc, yLo, yHi);
        for (int x = 0; x < k.dst.width; ++x) {
          const double xs = (x - k.dst.width * 0.5) / k.xf + k.xc;
          if (xs < xLo || xs >= xHi) continue;
          const auto wx = RefWeights(refMode, xs, (x + 1 - k.dst.width * 0.5) / k.xf + k.xc, xLo, xHi);
          double acc = 0;
          for (int j = yLo; j < yHi; ++j)
            for (int i = xLo; i < xHi; ++i) acc += wy[j] * wx[i] * src.At(i, j);
          const int expected = static_cast<int>(std::clamp(std::floor(acc + 0.5), 0.0, 255.0));
          ASSERT_NEAR(dst.At(x, y), expected, mode == IPPI_INTER_NN ? 0 : 1) << x << "," << y;
          ++written;
        }
      }
      EXPECT_GT(written, 0);
    }
}

TEST(ImageDispatch, EveryPrimitiveHasATest) { nxtest::CheckPrimitiveGroups("Image"); }

}  // namespace
}  // namespace nx
