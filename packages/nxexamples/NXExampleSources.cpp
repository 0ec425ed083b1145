// NXExampleSources: sine, noise and sound-file sources. See NXExampleSources.h.
#include "packages/nxexamples/NXExampleSources.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "packages/nxexamples/NXExamplesPackage.h"
#include "packages/nxexamples/NXExampleSoundLib.h"
#include "vector/NXBasicDispatcher.h"

namespace nx::examples {

// ---------------------------------------------------------------- sine

TNXSineGenerator::TNXSineGenerator(TComponent* AOwner) : TNXExampleRealGen(AOwner) { InitProperties(this); }

void TNXSineGenerator::DeclareProperties(TClassBuilder<TNXSineGenerator>& P) {
  P.Prop<&TNXSineGenerator::FFrequency, &TNXSineGenerator::SetFrequency>("Frequency", 1000.0);
  P.Prop<&TNXSineGenerator::FAmplitude, &TNXSineGenerator::SetAmplitude>("Amplitude", 1.0);
  P.Prop<&TNXSineGenerator::FPhase, &TNXSineGenerator::SetPhase>("Phase", 0.0);
}

void TNXSineGenerator::StartStream() { FCycle = 0; }

void TNXSineGenerator::IntGenerate(TIntfPtr<INXDataBuffer>& ABuffer, bool&, bool&) {
  INXRealBuffer* real = RealOf(ABuffer);
  const std::int32_t n = real->GetSize();
  double* out = real->Write();
  const double rate = GetSampleRate();
  const long double step = rate > 0 ? static_cast<long double>(FFrequency) / rate : 0.0L;
  const long double offset = static_cast<long double>(FPhase) / 360.0L;
  // Runs of kRun samples, each from its exact start angle t (the cycle is
  // kept in long double, so hours of buffers do not drift): sample j of a
  // run is sin(t + j w) = sin(t) cos(j w) + cos(t) sin(j w) with the tables
  // of the step w made once per frequency. Every sample is then within a few
  // roundings of the exact sine (no recurrence carries rounding from one to
  // the next), and a run is a few vector passes over the tables.
  const double turn = 2 * std::numbers::pi * static_cast<double>(step - std::floor(step));
  if (turn != FRunTurn) {
    for (int j = 0; j < kRun; ++j) {
      FRunCos[j] = std::cos(j * turn);
      FRunSin[j] = std::sin(j * turn);
    }
    FRunTurn = turn;
  }
  const double amplitude = FAmplitude;
  double scratch[kRun];
  for (std::int32_t at = 0; at < n; at += kRun) {
    long double cycle = FCycle + offset + step * at;
    cycle -= std::floor(cycle);
    const double angle = static_cast<double>(2 * std::numbers::pi_v<long double> * cycle);
    const int len = std::min<std::int32_t>(kRun, n - at);
    ippsMulC_64f(FRunCos, amplitude * std::sin(angle), out + at, len);
    ippsMulC_64f(FRunSin, amplitude * std::cos(angle), scratch, len);
    ippsAdd_64f_I(scratch, out + at, len);
  }
  FCycle += step * n;
  FCycle -= std::floor(FCycle);
}

// ---------------------------------------------------------------- noise

TNXNoiseGenerator::TNXNoiseGenerator(TComponent* AOwner) : TNXExampleRealGen(AOwner) {
  InitProperties(this);
  Reseed();
}

void TNXNoiseGenerator::DeclareProperties(TClassBuilder<TNXNoiseGenerator>& P) {
  P.Prop<&TNXNoiseGenerator::FAmplitude, &TNXNoiseGenerator::SetAmplitude>("Amplitude", 1.0);
  P.Prop<&TNXNoiseGenerator::FSeed, &TNXNoiseGenerator::SetSeed>("Seed", 1u);
  P.Prop<&TNXNoiseGenerator::FDistribution, &TNXNoiseGenerator::SetDistribution>("Distribution", ndGaussian);
}

void TNXNoiseGenerator::SetSeed(std::uint32_t AValue) {
  SetNotify(FSeed, AValue, [this] { Reseed(); });
}

void TNXNoiseGenerator::StartStream() { Reseed(); }

void TNXNoiseGenerator::Reseed() {
  // splitmix64 spreads the 32-bit seed over the whole state (never all zero).
  std::uint64_t x = FSeed;
  for (std::uint64_t& s : FState) {
    std::uint64_t z = (x += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    s = z ^ (z >> 31);
  }
  FHasSpare = false;
}

namespace {

// xoshiro256** on a copy of the state held in registers for a buffer's
// loop (the generator's own members would go through memory and, from a
// shared library, through calls).
struct TXoshiro {
  std::uint64_t S0, S1, S2, S3;
  explicit TXoshiro(const std::uint64_t* AState) : S0(AState[0]), S1(AState[1]), S2(AState[2]), S3(AState[3]) {}
  void Store(std::uint64_t* AState) const { AState[0] = S0, AState[1] = S1, AState[2] = S2, AState[3] = S3; }
  static std::uint64_t Rotl(std::uint64_t v, int k) { return (v << k) | (v >> (64 - k)); }
  std::uint64_t Next() {
    const std::uint64_t result = Rotl(S1 * 5, 7) * 9;
    const std::uint64_t t = S1 << 17;
    S2 ^= S0;
    S3 ^= S1;
    S1 ^= S2;
    S0 ^= S3;
    S2 ^= t;
    S3 = Rotl(S3, 45);
    return result;
  }
  // 2 u - 1 for u in [0, 1) of 53 bits: m 2^-52 - 1 is exactly that (the
  // factors of two are exact), one operation fewer.
  double Signed() { return static_cast<double>(Next() >> 11) * 0x1.0p-52 - 1; }
};

}  // namespace

void TNXNoiseGenerator::IntGenerate(TIntfPtr<INXDataBuffer>& ABuffer, bool&, bool&) {
  INXRealBuffer* real = RealOf(ABuffer);
  const std::int32_t n = real->GetSize();
  double* out = real->Write();
  const double a = FAmplitude;
  if (FDistribution == ndUniform) {
    TXoshiro rng(FState);
    for (std::int32_t i = 0; i < n; ++i) out[i] = a * rng.Signed();
    rng.Store(FState);
    return;
  }
  // The polar form of Box-Muller: two values per accepted pair of uniforms
  // (no sine or cosine). The second is kept for the next sample, also across
  // buffers, so buffer sizes do not change the sequence. The pairs are drawn
  // in rounds: a round draws as many candidate pairs as values are still
  // missing (so it never draws one that the sequence would not have), and
  // keeps the accepted ones in order without a branch (a fifth of the
  // candidates are refused, at random: a branch on it mispredicts). Then the
  // factors sqrt(-2 ln s / s) of the whole buffer go through the vector
  // primitives at once: the logarithm was most of the cost.
  std::int32_t i = 0;
  if (FHasSpare && n > 0) {
    out[i++] = a * FSpareGauss;
    FHasSpare = false;
  }
  const std::int32_t pairs = (n - i + 1) / 2;
  if (pairs == 0) return;
  // Grows to the largest buffer once; the stream's buffers keep their size.
  if (FPairs.size() < 6 * static_cast<std::size_t>(pairs)) FPairs.resize(6 * static_cast<std::size_t>(pairs));
  double* const u = FPairs.data();
  double* const v = u + pairs;
  double* const s = v + pairs;
  double* const f = s + pairs;
  double* const cx = f + pairs;  // the values out, before they are interleaved
  double* const cy = cx + pairs;
  TXoshiro rng(FState);
  for (std::int32_t k = 0; k < pairs;) {
    const std::int32_t want = pairs - k;
    // At most `want` are kept, so a write lands below `pairs` even when it
    // is refused (and then overwritten).
    for (std::int32_t c = 0; c < want; ++c) {
      const double x = rng.Signed();
      const double y = rng.Signed();
      const double r = x * x + y * y;
      u[k] = x;
      v[k] = y;
      s[k] = r;
      k += (r < 1) & (r != 0);
    }
  }
  rng.Store(FState);
  // s is in (0, 1): none of these can fail. -2 (ln s / s) is exactly
  // (-2 ln s) / s: a factor of two rounds the same.
  ippsLn_64f(s, f, pairs);
  ippsDiv_64f_I(s, f, pairs);
  ippsMulC_64f_I(-2.0, f, pairs);
  ippsSqrt_64f_I(f, pairs);
  // The values u f and v f of the pairs whose two values both fit go out
  // interleaved, then scaled, in vector passes (through the last two
  // scratch arrays); a last pair of which only the first fits leaves its second for
  // the next buffer.
  const std::int32_t whole = std::min(pairs, (n - i) / 2);
  if (whole > 0) {
    ippsMul_64f(u, f, cx, whole);
    ippsMul_64f(v, f, cy, whole);
    ippsRealToCplx_64f(cx, cy, reinterpret_cast<Ipp64fc*>(out + i), whole);
    ippsMulC_64f_I(a, out + i, 2 * whole);
    i += 2 * whole;
  }
  if (whole < pairs) {
    out[i] = a * (u[whole] * f[whole]);
    FSpareGauss = v[whole] * f[whole];
    FHasSpare = true;
  }
}

// ---------------------------------------------------------------- sound-file player

TNXWavePlayer::TNXWavePlayer(TComponent* AOwner) : TNXExampleRealGen(AOwner) { InitProperties(this); }

TNXWavePlayer::~TNXWavePlayer() {
  // The clock ends before the file it reads goes.
  ShutDownClock();
  Close();
}

void TNXWavePlayer::DeclareProperties(TClassBuilder<TNXWavePlayer>& P) {
  P.Prop<&TNXWavePlayer::FFileName, &TNXWavePlayer::SetFileName>("FileName", std::string());
  P.Prop<&TNXWavePlayer::FChannel, &TNXWavePlayer::SetChannel>("Channel", std::int32_t(0)).Min(std::int32_t(-1));
  P.Prop<&TNXWavePlayer::FLoop, &TNXWavePlayer::SetLoop>("Loop", false);
}

void TNXWavePlayer::SetFileName(std::string AValue) {
  TWriteLock guard(GetLock());
  if (AValue == FFileName) return;
  FFileName = std::move(AValue);
  if (!FIsRunning) Close();
  Changed();
}

bool TNXWavePlayer::IsOpen() const { return ReadLocked(FFile) != nullptr; }
std::int32_t TNXWavePlayer::FileChannels() const { return ReadLocked(FFileChannels); }
std::int64_t TNXWavePlayer::FileFrames() const { return ReadLocked(FFileFrames); }

void TNXWavePlayer::Close() {
  TWriteLock guard(GetLock());
  if (FFile) SoundLib()->sf_close(FFile);
  FFile = nullptr;
  FFileChannels = 0;
  FFileFrames = 0;
}

void TNXWavePlayer::Open(const std::string& AFileName) {
  TWriteLock guard(GetLock());
  if (AFileName.empty()) throw EFOpenError("TNXWavePlayer " + Name() + ": no FileName given");
  std::string why;
  const TSoundLib* lib = SoundLib(&why);
  if (!lib) throw EFOpenError("Cannot open sound file \"" + AFileName + "\": " + why);
  SF_INFO info{};
  SNDFILE* file = lib->sf_open(AFileName.c_str(), SFM_READ, &info);
  if (!file) throw EFOpenError("Cannot open sound file \"" + AFileName + "\": " + lib->sf_strerror(nullptr));
  if (info.channels < 1 || FChannel >= info.channels) {
    lib->sf_close(file);
    throw EFOpenError("Sound file \"" + AFileName + "\" has " + std::to_string(info.channels) +
                      " channel(s); Channel " + std::to_string(FChannel) + " does not exist");
  }
  Close();
  FFile = file;
  FOpenedFor = FFileName;
  FFileChannels = info.channels;
  FFileFrames = info.frames;
  FFileRate = info.samplerate;
  SetSampleRate(FFileRate);
}

void TNXWavePlayer::FlowPrepare(const flow::TFlowRunContext& AContext) {
  TWriteLock guard(GetLock());
  Open(AContext.ResolveInput(FFileName));
}

void TNXWavePlayer::FlowFinish(const flow::TFlowRunContext&, flow::TFlowNodeReport& AReport) {
  TReadLock guard(GetLock());
  AReport.Buffers = FSentBuffers;
  AReport.Samples = FSentSamples;
  AReport.SampleRate = FFileRate;
  char line[160];
  std::snprintf(line, sizeof line, "%lld frames, %d channel(s) at %.0f Hz", static_cast<long long>(FFileFrames),
                FFileChannels, FFileRate);
  AReport.Summary = line;
}

void TNXWavePlayer::StartStream() {
  // A program that did not prepare opens the file now, by its name as it
  // stands (as does a player whose FileName changed while it ran); every
  // stream plays from the start.
  if (!FFile || FOpenedFor != FFileName) Open(FFileName);
  SoundLib()->sf_seek(FFile, 0, SEEK_SET);
  FSentBuffers = 0;
  FSentSamples = 0;
}

std::int64_t TNXWavePlayer::ReadFrames(std::int64_t ACount) {
  const std::size_t need = static_cast<std::size_t>(ACount) * static_cast<std::size_t>(FFileChannels);
  if (FFrames.size() < need) FFrames.resize(need);
  const TSoundLib& lib = *SoundLib();
  std::int64_t got = 0;
  while (got < ACount) {
    const sf_count_t n = lib.sf_readf_double(FFile, FFrames.data() + got * FFileChannels, ACount - got);
    got += n;
    if (got == ACount || !FLoop || FFileFrames == 0) break;
    if (n == 0 && lib.sf_seek(FFile, 0, SEEK_SET) < 0) break;
  }
  return got;
}

void TNXWavePlayer::IntGenerate(TIntfPtr<INXDataBuffer>& ABuffer, bool& ASendFlag, bool& AStopFlag) {
  INXRealBuffer* real = RealOf(ABuffer);
  if (!FFile) {  // closed by a new FileName while running
    ASendFlag = false;
    AStopFlag = true;
    return;
  }
  const std::int64_t got = ReadFrames(real->GetSize());
  if (got == 0) {
    ASendFlag = false;
    AStopFlag = true;
    return;
  }
  if (got < real->GetSize()) real->Resize(static_cast<std::uint32_t>(got), false);
  double* out = real->Write();
  const std::int32_t channels = FFileChannels;
  const double* in = FFrames.data();
  if (FChannel >= 0) {
    for (std::int64_t i = 0; i < got; ++i) out[i] = in[i * channels + FChannel];
  } else {
    const double scale = 1.0 / channels;
    for (std::int64_t i = 0; i < got; ++i) {
      double sum = 0;
      for (std::int32_t c = 0; c < channels; ++c) sum += in[i * channels + c];
      out[i] = sum * scale;
    }
  }
  ++FSentBuffers;
  FSentSamples += got;
  // The end of the file ends the stream with its last buffer.
  if (!FLoop && SoundLib()->sf_seek(FFile, 0, SEEK_CUR) >= FFileFrames) AStopFlag = true;
}

void AddSourceClasses(TClassList& AList) {
  AList.push_back(&TNXSineGenerator::StaticClassInfo());
  AList.push_back(&TNXNoiseGenerator::StaticClassInfo());
  AList.push_back(&TNXWavePlayer::StaticClassInfo());
}

}  // namespace nx::examples
