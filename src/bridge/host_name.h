#pragma once

#include <string>

// This machine's name as the system gives it; empty when it gives none.
std::string this_host_name();
