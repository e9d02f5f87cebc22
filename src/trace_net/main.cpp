// trace_net sim SD0 SD1 SD2 RD: the network between trace_video send and
// trace_video receive, simulated by ns-3.

#include "trace_net/command.h"

int main(int argc, char** argv) { return net_command("trace_net", argc, argv); }
