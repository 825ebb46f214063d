#include "core/base/commit_journal.h"

#include <charconv>
#include <optional>

namespace zentrowe::base {

namespace {

constexpr std::string_view kHeader = "zentrowe commit journal 1\n";

std::optional<std::uint64_t> takeNumber(std::string_view& entry)
{
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(entry.data(), entry.data() + entry.size(), value);
    if (error != std::errc() || end == entry.data() + entry.size() || *end != ' ') {
        return std::nullopt;
    }
    entry.remove_prefix(static_cast<std::size_t>(end - entry.data()) + 1);
    return value;
}

}  // namespace

bool isPlainFileName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

std::string commitJournalText(const CommitJournal& journal)
{
    std::string text(kHeader);
    for (const auto& move : journal.moves) {
        text += "move " + std::to_string(move.id.device) + " " + std::to_string(move.id.inode) + " " + move.name;
        text += '\0';
    }
    for (const auto& name : journal.removals) {
        text += "remove " + name;
        text += '\0';
    }
    return text;
}

std::variant<CommitJournal, JournalFault> parseCommitJournal(std::string_view text)
{
    if (!text.starts_with(kHeader)) {
        return JournalFault::Damaged;
    }
    text.remove_prefix(kHeader.size());
    CommitJournal journal;
    bool plain = true;
    while (!text.empty()) {
        const auto end = text.find('\0');
        if (end == std::string_view::npos) {
            return JournalFault::Damaged;
        }
        std::string_view entry = text.substr(0, end);
        text.remove_prefix(end + 1);
        if (entry.starts_with("move ") && journal.removals.empty()) {
            entry.remove_prefix(5);
            const auto device = takeNumber(entry);
            const auto inode = device ? takeNumber(entry) : std::nullopt;
            if (!inode) {
                return JournalFault::Damaged;
            }
            plain = plain && isPlainFileName(entry);
            journal.moves.push_back({std::string(entry), {*device, *inode}});
        } else if (entry.starts_with("remove ")) {
            entry.remove_prefix(7);
            plain = plain && isPlainFileName(entry);
            journal.removals.emplace_back(entry);
        } else {
            return JournalFault::Damaged;
        }
    }
    if (journal.moves.empty()) {
        return JournalFault::Damaged;
    }
    if (!plain) {
        return JournalFault::NameOutside;
    }
    return journal;
}

}  // namespace zentrowe::base
