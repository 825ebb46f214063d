#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zentrowe::cli {

// Letters to insert, delete or replace to turn one word into the other.
std::size_t editDistance(std::string_view a, std::string_view b);

// The word of `candidates` a slip of the keyboard most likely meant `typed` to be: one that
// begins with it, or the nearest within a third of its length (at least two edits); nothing
// if none is that close.
std::optional<std::string> nearestWord(std::string_view typed, const std::vector<std::string>& candidates);

// The first argument the command line cannot take, as one sentence, looked for before the
// arguments are parsed (the parser would name a missing required option instead): a command
// that does not exist ("unknown command convrt (commands: ...)"), an option the command does not
// have ("unknown option --trak (did you mean --track?)") or an option given without its value
// ("--track needs a value: --track N"). Nothing when every argument is one the commands know.
std::optional<std::string> unknownArgument(const CLI::App& app, const std::vector<std::string>& arguments);

}  // namespace zentrowe::cli
