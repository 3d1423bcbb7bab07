#pragma once

#include <cstring>
#include <initializer_list>

// Whether the command line names this command: its first word that is neither an option nor the value
// of one of valuedOptions. Read from argv, because some commands need another application class.
inline bool commandRequested(int argc, char* argv[], const char* command,
                             std::initializer_list<const char*> valuedOptions)
{
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (a[0] != '-') {
            return std::strcmp(a, command) == 0;
        }
        for (const char* option : valuedOptions) {
            if (std::strcmp(a, option) == 0) {
                ++i;
                break;
            }
        }
    }
    return false;
}
