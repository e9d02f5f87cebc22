// trace_net's command line.
#pragma once

#include <string>

int net_command(const std::string& program, int argc, char** argv);
