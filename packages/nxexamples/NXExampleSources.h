// NXExampleSources: the signal sources of the example package, all real
// generators (SampleRate, BufferSize, Enabled and ClockSource come from the
// generator base):
//   TNXSineGenerator   a sine of Frequency Hz, Amplitude and Phase (degrees);
//   TNXNoiseGenerator  seeded uniform or Gaussian noise (same seed, same samples);
//   TNXWavePlayer      one channel (or the mean of all) of a sound file.
// Every source saves and re-makes its links in graph documents (INXPinOwner:
// "OutputPin", "ClockInputPin").
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "components/NXCommonGen.h"
#include "documents/NXGraphDocument.h"
#include "components/NXFlowNode.h"
#include "runtime/Zandor.TypeInfo.h"

struct sf_private_tag;  // libsndfile's file handle (SNDFILE)

namespace nx::examples {

enum TNXNoiseDistribution : std::int32_t { ndUniform, ndGaussian };
NX_ENUM_NAMES(TNXNoiseDistribution, "ndUniform", "ndGaussian")

// A real generator with the pins a graph document links.
class TNXExampleRealGen : public TNXCommonRealGen {
  NX_PERSISTENT(TNXExampleRealGen, TNXCommonRealGen)
 public:
  using TNXCommonRealGen::TNXCommonRealGen;
};

class TNXSineGenerator : public TNXExampleRealGen {
  NX_PERSISTENT(TNXSineGenerator, TNXExampleRealGen)
 public:
  explicit TNXSineGenerator(TComponent* AOwner);
  static void DeclareProperties(TClassBuilder<TNXSineGenerator>& P);

  double GetFrequency() const { return ReadLocked(FFrequency); }
  void SetFrequency(double AValue) { SetNotify(FFrequency, AValue); }
  double GetAmplitude() const { return ReadLocked(FAmplitude); }
  void SetAmplitude(double AValue) { SetNotify(FAmplitude, AValue); }
  double GetPhase() const { return ReadLocked(FPhase); }
  void SetPhase(double AValue) { SetNotify(FPhase, AValue); }

 protected:
  void StartStream() override;
  void IntGenerate(TIntfPtr<INXDataBuffer>& ABuffer, bool& ASendFlag, bool& AStopFlag) override;

 private:
  double FFrequency;
  double FAmplitude;
  double FPhase;
  // Where the next sample stands in its cycle (0 .. 1), wrapped in long
  // double: a frequency change keeps the waveform continuous, and hours of
  // buffers do not drift.
  long double FCycle = 0;
  // cos(j w) and sin(j w), j = 0 .. kRun - 1, for the angle step w = FRunTurn:
  // a run of kRun samples from angle t is sin(t) cos(j w) + cos(t) sin(j w).
  static constexpr int kRun = 256;
  double FRunTurn = -1;
  double FRunCos[kRun] = {}, FRunSin[kRun] = {};
};

class TNXNoiseGenerator : public TNXExampleRealGen {
  NX_PERSISTENT(TNXNoiseGenerator, TNXExampleRealGen)
 public:
  explicit TNXNoiseGenerator(TComponent* AOwner);
  static void DeclareProperties(TClassBuilder<TNXNoiseGenerator>& P);

  double GetAmplitude() const { return ReadLocked(FAmplitude); }
  void SetAmplitude(double AValue) { SetNotify(FAmplitude, AValue); }
  std::uint32_t GetSeed() const { return ReadLocked(FSeed); }
  // A new seed restarts the sequence at once, also while running.
  void SetSeed(std::uint32_t AValue);
  TNXNoiseDistribution GetDistribution() const { return ReadLocked(FDistribution); }
  void SetDistribution(TNXNoiseDistribution AValue) { SetNotify(FDistribution, AValue); }

 protected:
  // Every stream starts the sequence of the seed again.
  void StartStream() override;
  void IntGenerate(TIntfPtr<INXDataBuffer>& ABuffer, bool& ASendFlag, bool& AStopFlag) override;

 private:
  void Reseed();

  double FAmplitude;
  std::uint32_t FSeed;
  TNXNoiseDistribution FDistribution;
  std::uint64_t FState[4] = {};  // xoshiro256**
  double FSpareGauss = 0;  // the second value of the last Box-Muller pair
  bool FHasSpare = false;
  std::vector<double> FPairs;  // a buffer's pairs: u, v, s and the factors (stream thread only)
};

// Plays one channel of a sound file (any format libsndfile reads) at the
// file's sample rate, BufferSize frames per buffer, the last one short; the
// stream stops at the end of the file unless Loop. The file is opened by
// FlowPrepare (a name relative to the graph) or, in a program that does not
// prepare, as the stream starts (the name as it stands).
class TNXWavePlayer : public TNXExampleRealGen, public flow::INXFlowNode {
  NX_PERSISTENT(TNXWavePlayer, TNXExampleRealGen)
 public:
  explicit TNXWavePlayer(TComponent* AOwner);
  ~TNXWavePlayer() override;
  static void DeclareProperties(TClassBuilder<TNXWavePlayer>& P);

  std::string GetFileName() const { return ReadLocked(FFileName); }
  // A new name closes the file opened for the old one.
  void SetFileName(std::string AValue);
  std::int32_t GetChannel() const { return ReadLocked(FChannel); }
  void SetChannel(std::int32_t AValue) { SetNotifyMin(FChannel, AValue, std::int32_t(-1)); }
  bool GetLoop() const { return ReadLocked(FLoop); }
  void SetLoop(bool AValue) { SetNotify(FLoop, AValue); }

  // Opens AFileName (EFOpenError naming it when it cannot be read or lacks
  // the channel asked for) and takes its sample rate as SampleRate.
  void Open(const std::string& AFileName);
  bool IsOpen() const;
  // Of the open file (0 when none).
  std::int32_t FileChannels() const;
  std::int64_t FileFrames() const;

  void FlowPrepare(const flow::TFlowRunContext& AContext) override;
  void FlowFinish(const flow::TFlowRunContext& AContext, flow::TFlowNodeReport& AReport) override;

 protected:
  void StartStream() override;
  void IntGenerate(TIntfPtr<INXDataBuffer>& ABuffer, bool& ASendFlag, bool& AStopFlag) override;

 private:
  void Close();
  // Reads up to ACount frames into FFrames from the current position
  // (rewinding at the end with Loop); returns the frames read.
  std::int64_t ReadFrames(std::int64_t ACount);

  std::string FFileName;
  std::int32_t FChannel;
  bool FLoop;
  sf_private_tag* FFile = nullptr;
  std::string FOpenedFor;  // the FileName the open file was opened for
  std::int32_t FFileChannels = 0;
  std::int64_t FFileFrames = 0;
  double FFileRate = 0;
  std::vector<double> FFrames;  // interleaved frames of one buffer (sized once)
  std::int64_t FSentBuffers = 0;
  std::int64_t FSentSamples = 0;
};

}  // namespace nx::examples
