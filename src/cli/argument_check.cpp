#include "cli/argument_check.h"

#include <algorithm>
#include <numeric>

namespace zentrowe::cli {

namespace {

bool isLongOption(std::string_view argument)
{
    return argument.size() > 2 && argument.substr(0, 2) == "--";
}

std::vector<std::string> longOptionNames(const CLI::App& command)
{
    std::vector<std::string> names;
    for (const auto* option : command.get_options()) {
        for (const auto& name : option->get_lnames()) {
            names.push_back("--" + name);
        }
    }
    return names;
}

std::optional<std::string> unknownOption(const CLI::App& command, const std::vector<std::string>& arguments,
                                         std::size_t first)
{
    for (std::size_t at = first; at < arguments.size(); ++at) {
        const std::string& argument = arguments[at];
        if (argument == "--") {
            break;  // everything after is a value
        }
        if (!isLongOption(argument)) {
            continue;
        }
        const auto equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        const auto* option = command.get_option_no_throw(name);
        if (option == nullptr) {
            const auto nearest = nearestWord(name, longOptionNames(command));
            return "unknown option " + name +
                   (nearest ? " (did you mean " + *nearest + "?)"
                            : " (zentrowe-cli " + command.get_name() + " --help lists the options)");
        }
        // A value that begins with "-" is given as --opt=value, so an option followed by another
        // option (or by nothing) has none.
        const bool valueFollows = at + 1 < arguments.size() && !isLongOption(arguments[at + 1]);
        if (equals == std::string::npos && option->get_expected_min() > 0 && !valueFollows) {
            return name + " needs a value: " + name + " " + option->get_type_name();
        }
        if (equals == std::string::npos && option->get_expected_min() > 0) {
            ++at;
        }
    }
    return std::nullopt;
}

}  // namespace

std::size_t editDistance(std::string_view a, std::string_view b)
{
    std::vector<std::size_t> row(b.size() + 1);
    std::iota(row.begin(), row.end(), std::size_t{0});
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

std::optional<std::string> nearestWord(std::string_view typed, const std::vector<std::string>& candidates)
{
    std::optional<std::string> best;
    std::size_t bestDistance = std::max<std::size_t>(2, typed.size() / 3) + 1;
    for (const auto& candidate : candidates) {
        const std::size_t distance = candidate.starts_with(typed) ? 1 : editDistance(typed, candidate);
        if (distance < bestDistance) {
            best = candidate;
            bestDistance = distance;
        }
    }
    return best;
}

std::optional<std::string> unknownArgument(const CLI::App& app, const std::vector<std::string>& arguments)
{
    const auto commands = app.get_subcommands([](const CLI::App*) { return true; });
    for (std::size_t at = 0; at < arguments.size(); ++at) {
        const std::string& argument = arguments[at];
        if (argument.starts_with("-")) {
            continue;  // --help and --version: the parser answers them
        }
        const auto command = std::find_if(commands.begin(), commands.end(),
                                          [&](const CLI::App* each) { return each->get_name() == argument; });
        if (command == commands.end()) {
            std::string names;
            std::vector<std::string> candidates;
            for (const auto* each : commands) {
                names += (names.empty() ? "" : ", ") + each->get_name();
                candidates.push_back(each->get_name());
            }
            // A slip of the fingers gets the command it was meant to be; anything else the list.
            if (const auto nearest = nearestWord(argument, candidates)) {
                return "unknown command " + argument + " (did you mean " + *nearest + "?)";
            }
            return "unknown command " + argument + " (commands: " + names + ")";
        }
        return unknownOption(**command, arguments, at + 1);
    }
    return std::nullopt;
}

}  // namespace zentrowe::cli
