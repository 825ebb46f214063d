#include "core/workflow/audited_sounds.h"

#include <algorithm>
#include <cstring>

#include "core/base/content_hash.h"

namespace zentrowe::workflow {

namespace {

// Raised whenever decoding or what is measured changes: an older version's entry never matches.
constexpr std::uint32_t kFactsVersion = 1;
constexpr std::string_view kShelf = "audited";

// One record per sound, in the order of the key's contents: seconds, peak, read to the limit; in
// this machine's byte order (a cache stays on the machine that wrote it).
constexpr std::size_t kRecordBytes = 8 + 4 + 1;

template <typename T>
void putValue(std::string& out, T value)
{
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    out.append(bytes, sizeof(T));
}

template <typename T>
T getValue(const char* at)
{
    T value;
    std::memcpy(&value, at, sizeof(T));
    return value;
}

}  // namespace

AuditedSounds::Content AuditedSounds::contentOf(std::span<const std::uint8_t> bytes)
{
    return {contentHash(bytes), bytes.size()};
}

AuditedSounds::AuditedSounds(FileCache* cache, std::vector<Content> contents)
    : m_cache(cache), m_contents(std::move(contents))
{
    std::sort(m_contents.begin(), m_contents.end());
    m_contents.erase(std::unique(m_contents.begin(), m_contents.end()), m_contents.end());
    if (m_cache == nullptr || m_contents.empty()) {
        return;
    }
    m_key = "audited";
    putValue(m_key, kFactsVersion);
    for (const auto& [hash, size] : m_contents) {
        putValue(m_key, hash);
        putValue(m_key, size);
    }
    const auto entry = m_cache->find(kShelf, m_key);
    if (!entry || entry->size() != m_contents.size() * kRecordBytes) {
        return;
    }
    for (std::size_t k = 0; k < m_contents.size(); ++k) {
        const char* record = entry->data() + k * kRecordBytes;
        SoundFacts facts;
        facts.decoded = true;
        facts.seconds = getValue<double>(record);
        facts.peak = getValue<float>(record + 8);
        facts.readToTheLimit = record[12] != 0;
        m_facts.emplace(m_contents[k], facts);
    }
    m_found = true;
}

std::optional<SoundFacts> AuditedSounds::find(const Content& content) const
{
    const auto kept = m_found ? m_facts.find(content) : m_facts.end();
    return kept != m_facts.end() ? std::optional<SoundFacts>(kept->second) : std::nullopt;
}

void AuditedSounds::remember(const Content& content, const SoundFacts& facts)
{
    m_facts.insert_or_assign(content, facts);
}

void AuditedSounds::save()
{
    if (m_cache == nullptr || m_found || m_contents.empty()) {
        return;
    }
    std::string bytes;
    bytes.reserve(m_contents.size() * kRecordBytes);
    for (const auto& content : m_contents) {
        const auto facts = m_facts.find(content);
        if (facts == m_facts.end() || !facts->second.decoded) {
            return;
        }
        putValue(bytes, facts->second.seconds);
        putValue(bytes, facts->second.peak);
        bytes.push_back(facts->second.readToTheLimit ? 1 : 0);
    }
    m_cache->put(kShelf, m_key, {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
}

}  // namespace zentrowe::workflow
