#pragma once
// Process set-up of the Linux build: the command line as main received it and
// the signals the worker must not die of.
namespace trelvex::posix {

// Keeps argc/argv for CommandLineParams and ignores SIGPIPE (a host that
// closed its socket must not end the worker). Call first in main.
void InitProcess(int argc, char** argv);

}  // namespace trelvex::posix
