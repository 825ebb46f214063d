#pragma once

// Runs the zentrowe-cli under test as a separate program and collects what it printed.

#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace zentrowe::testing {

struct CliRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// The text in single quotes for /bin/sh, whatever it holds.
inline std::string shellQuoted(const std::string& text)
{
    std::string out = "'";
    for (const char c : text) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    return out + "'";
}

// zentrowe-cli with these arguments, stdin closed; exit code -1 if it did not exit normally.
inline CliRun runCli(const std::vector<std::string>& arguments)
{
    TempDir dir;
    std::string command = shellQuoted(ZENTROWE_CLI);
    for (const auto& argument : arguments) {
        command += " " + shellQuoted(argument);
    }
    command += " >" + shellQuoted((dir / "out").string()) + " 2>" + shellQuoted((dir / "err").string()) +
               " </dev/null";
    const int status = std::system(command.c_str());
    CliRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = readText(dir / "out");
    run.err = readText(dir / "err");
    return run;
}

}  // namespace zentrowe::testing
