// The machine as the actions reach it: its four narrow interfaces. Each action takes its request
// and the interfaces it uses, in the order they are listed here.
#pragma once

#include "actions/clock.hpp"
#include "actions/program_runner.hpp"
#include "actions/startup_registry.hpp"
#include "actions/system_restore.hpp"

namespace vemlox {

// Holds references only: the four interfaces must outlive it.
struct MachineAccess {
    ProgramRunner& runner;
    StartupRegistry& registry;
    Clock& clock;
    SystemRestore& restore;
};

} // namespace vemlox
