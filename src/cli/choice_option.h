#pragma once

#include <CLI/CLI.hpp>
#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace zentrowe::cli {

// One word an enumerated option takes and the value it stands for.
template <typename Value>
struct Choice {
    const char* word;
    Value value;
};

// Registers `name` as an option taking one of the words of `choices` and storing its value in
// `target`; any other word is refused by the parser ("--bgm: foo not in {slices,one,none}"). Its
// value is shown in help as the words joined by '|'.
template <typename Value, std::size_t N>
CLI::Option* addChoiceOption(CLI::App& command, const std::string& name, Value& target,
                             const std::array<Choice<Value>, N>& choices, const std::string& help)
{
    std::vector<std::string> words;
    std::string shown;
    for (const auto& choice : choices) {
        words.emplace_back(choice.word);
        shown += (shown.empty() ? "" : "|") + words.back();
    }
    const auto store = [&target, choices](const std::string& word) {
        for (const auto& choice : choices) {
            if (word == choice.word) {
                target = choice.value;
            }
        }
    };
    return command.add_option_function<std::string>(name, store, help)
        ->check(CLI::IsMember(words).description(""))
        ->type_name(shown);
}

}  // namespace zentrowe::cli
