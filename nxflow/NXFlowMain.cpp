// nxflow: the command-line host of graphs of components (see NXFlowHost.h).
#include <iostream>
#include <string>
#include <vector>

#include "nxflow/NXFlowHost.h"
#include "nxflow/NXFlowRun.h"

int main(int argc, char** argv) {
  nx::flow::InstallStopSignals();
  std::vector<std::string> args(argv + 1, argv + argc);
  return nx::flow::RunCommandLine(args, std::cout, std::cerr, argc > 0 ? argv[0] : "");
}
