#pragma once

// Small helpers shared by the tests: byte builders for MIDI files and a temporary folder.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace zentrowe::testing {

using Bytes = std::vector<std::uint8_t>;

inline Bytes bytes(std::initializer_list<int> values)
{
    Bytes out;
    for (const int v : values) {
        out.push_back(static_cast<std::uint8_t>(v));
    }
    return out;
}

inline void append(Bytes& out, const Bytes& more)
{
    out.insert(out.end(), more.begin(), more.end());
}

inline void appendText(Bytes& out, std::string_view text)
{
    out.insert(out.end(), text.begin(), text.end());
}

inline void appendU32be(Bytes& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

inline void appendU16be(Bytes& out, std::uint16_t value)
{
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

inline Bytes varLen(std::uint32_t value)
{
    Bytes groups{static_cast<std::uint8_t>(value & 0x7F)};
    while ((value >>= 7) != 0) {
        groups.insert(groups.begin(), static_cast<std::uint8_t>(0x80 | (value & 0x7F)));
    }
    return groups;
}

// "MThd" with length 6, then the three header words.
inline Bytes midiHeader(std::uint16_t format, std::uint16_t trackCount, std::uint16_t division)
{
    Bytes out;
    appendText(out, "MThd");
    appendU32be(out, 6);
    appendU16be(out, format);
    appendU16be(out, trackCount);
    appendU16be(out, division);
    return out;
}

// An "MTrk" chunk around the given event bytes (the caller writes the end of track if wanted).
inline Bytes trackChunk(const Bytes& events)
{
    Bytes out;
    appendText(out, "MTrk");
    appendU32be(out, static_cast<std::uint32_t>(events.size()));
    append(out, events);
    return out;
}

// A whole file: header and one chunk per track.
inline Bytes midiFile(std::uint16_t format, std::uint16_t division, const std::vector<Bytes>& tracks)
{
    Bytes out = midiHeader(format, static_cast<std::uint16_t>(tracks.size()), division);
    for (const auto& events : tracks) {
        append(out, trackChunk(events));
    }
    return out;
}

inline const Bytes kEndOfTrack = {0x00, 0xFF, 0x2F, 0x00};

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir()
    {
        std::random_device random;
        for (;;) {
            m_path = std::filesystem::temp_directory_path() /
                     ("zentrowe-test-" + std::to_string(random()) + std::to_string(random()));
            if (std::filesystem::create_directory(m_path)) {
                break;
            }
        }
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

inline void writeFile(const std::filesystem::path& path, const Bytes& content)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
}

inline void writeFile(const std::filesystem::path& path, std::string_view content)
{
    std::ofstream out(path, std::ios::binary);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

inline Bytes readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string readText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace zentrowe::testing
