#pragma once

#include <dlfcn.h>

#include <string>

// relayctl's modules hold what only some commands need and what takes long to load
// (libmosquitto with its TLS libraries, SQLite): each sits beside the program in a build,
// and in relayctl's library folder once installed.

// The module `name` (relayctl_mqtt.so), kept loaded for the rest of the run; nullptr
// and why not in `error` when it is missing or will not load.
void* open_module(const std::string& name, std::string& error, int mode = RTLD_NOW);
