#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "core/base/file_cache.h"

namespace zentrowe::workflow {

// What decoding a sound file once told.
struct SoundFacts {
    bool decoded = false;
    std::string failure;
    double seconds = 0;
    bool readToTheLimit = false;  // read as far as sounds are, and its length is stated nowhere
    float peak = 0;
};

// The facts of the sound files an audit decoded, kept in a FileCache from one audit to the next
// under what the files hold (a hash of each one's bytes and its size), so that a folder built
// again with the same sounds, there or elsewhere, is not decoded again. All of an audit's facts
// are one entry, found when every sound is one an audit with the same sounds decoded; then
// nothing is decoded. Only decoded sounds are kept: with one that cannot be, nothing is.
class AuditedSounds {
public:
    using Content = std::pair<std::uint64_t, std::uint64_t>;  // the hash of the bytes, their count

    static Content contentOf(std::span<const std::uint8_t> bytes);

    // `cache` may be null (nothing kept). Looks up the facts of sounds holding `contents`.
    AuditedSounds(FileCache* cache, std::vector<Content> contents);

    // The facts kept for a sound holding `content`, when the whole set was found.
    std::optional<SoundFacts> find(const Content& content) const;
    // Keeps what decoding a sound holding `content` told.
    void remember(const Content& content, const SoundFacts& facts);
    // Writes the entry when every sound looked up was decoded here and none failed.
    void save();

private:
    FileCache* m_cache;
    std::string m_key;
    std::vector<Content> m_contents;  // sorted, each once
    std::map<Content, SoundFacts> m_facts;
    bool m_found = false;
};

}  // namespace zentrowe::workflow
