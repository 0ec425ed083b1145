// The network package: a sink that sends a stream to another process or
// machine over ZeroMQ, and a source that replays it there.
#include "components/NXComponentPackage.h"
#include "components/NXComponentPalette.h"
#include "packages/nxnet/NXNetComponents.h"

NX_PACKAGE("nxnet", "1.0", nx::net::TNXNetSink, nx::net::TNXNetSource)
NX_PACKAGE_PALETTE(
    NX_PALETTE_ENTRY(nx::net::TNXNetSink, "Network", "Sends every operation of its input as a network message"),
    NX_PALETTE_ENTRY(nx::net::TNXNetSource, "Network", "Replays the operations that arrive over the network"))
