// The nxaudio package: sound devices through JACK.
//   TNXJackOutput  a sound card's output, the pump master of its graph;
//   TNXJackInput   a sound card's input, a source paced by the card.
#include "components/NXComponentPackage.h"
#include "components/NXComponentPalette.h"
#include "packages/nxaudio/NXJackInput.h"
#include "packages/nxaudio/NXJackOutput.h"

NX_PACKAGE("nxaudio", "1.0", nx::audio::TNXJackOutput, nx::audio::TNXJackInput)
NX_PACKAGE_PALETTE(
    NX_PALETTE_ENTRY(nx::audio::TNXJackOutput, "Audio", "Plays the stream on a sound card's output"),
    NX_PALETTE_ENTRY(nx::audio::TNXJackInput, "Audio", "A sound card's captured channels as streams"))
