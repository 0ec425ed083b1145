// The network package: a sink that sends a stream to another process or
// machine over ZeroMQ, and a source that replays it there.
#include "components/NXComponentPackage.h"
#include "packages/nxnet/NXNetComponents.h"

NX_PACKAGE("nxnet", "1.0", nx::net::TNXNetSink, nx::net::TNXNetSource)
