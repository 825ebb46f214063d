#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace zentrowe {

// Bounds-checked reading of binary input. Every read checks what remains; a read that does not
// fit returns nothing and leaves the reader at the end, so loops over damaged input stop by
// themselves.
class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) { }

    std::size_t pos() const { return m_pos; }
    std::size_t size() const { return m_bytes.size(); }
    std::size_t remaining() const { return m_bytes.size() - m_pos; }
    bool atEnd() const { return m_pos >= m_bytes.size(); }
    std::span<const std::uint8_t> bytes() const { return m_bytes; }

    std::optional<std::uint8_t> peek() const
    {
        if (atEnd()) {
            return std::nullopt;
        }
        return m_bytes[m_pos];
    }

    std::optional<std::uint8_t> u8()
    {
        if (atEnd()) {
            return std::nullopt;
        }
        return m_bytes[m_pos++];
    }

    std::optional<std::uint16_t> u16be()
    {
        if (remaining() < 2) {
            return fail<std::uint16_t>();
        }
        const auto value = static_cast<std::uint16_t>((m_bytes[m_pos] << 8) | m_bytes[m_pos + 1]);
        m_pos += 2;
        return value;
    }

    std::optional<std::uint16_t> u16le()
    {
        if (remaining() < 2) {
            return fail<std::uint16_t>();
        }
        const auto value = static_cast<std::uint16_t>(m_bytes[m_pos] | (m_bytes[m_pos + 1] << 8));
        m_pos += 2;
        return value;
    }

    std::optional<std::uint32_t> u32be()
    {
        if (remaining() < 4) {
            return fail<std::uint32_t>();
        }
        const std::uint8_t* p = m_bytes.data() + m_pos;
        m_pos += 4;
        return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
               std::uint32_t{p[3]};
    }

    std::optional<std::uint32_t> u32le()
    {
        if (remaining() < 4) {
            return fail<std::uint32_t>();
        }
        const std::uint8_t* p = m_bytes.data() + m_pos;
        m_pos += 4;
        return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
               (std::uint32_t{p[3]} << 24);
    }

    std::optional<std::uint64_t> u64le()
    {
        if (remaining() < 8) {
            return fail<std::uint64_t>();
        }
        const auto low = u32le();
        const auto high = u32le();
        return std::uint64_t{*low} | (std::uint64_t{*high} << 32);
    }

    // A MIDI variable-length quantity: seven bits a byte, most significant group first, the top
    // bit set on every byte but the last. There is no cap on its byte count; bits beyond 32 are
    // lost. Returns nothing if the input ends inside it.
    std::optional<std::uint32_t> varLen()
    {
        std::uint32_t value = 0;
        while (m_pos < m_bytes.size()) {
            const std::uint8_t b = m_bytes[m_pos++];
            value = (value << 7) | (b & 0x7Fu);
            if ((b & 0x80u) == 0) {
                return value;
            }
        }
        return std::nullopt;
    }

    // The next n bytes, or nothing if fewer remain.
    std::optional<std::span<const std::uint8_t>> take(std::size_t n)
    {
        if (n > remaining()) {
            return fail<std::span<const std::uint8_t>>();
        }
        const auto part = m_bytes.subspan(m_pos, n);
        m_pos += n;
        return part;
    }

    bool skip(std::size_t n)
    {
        if (n > remaining()) {
            m_pos = m_bytes.size();
            return false;
        }
        m_pos += n;
        return true;
    }

private:
    template <typename T>
    std::optional<T> fail()
    {
        m_pos = m_bytes.size();
        return std::nullopt;
    }

    std::span<const std::uint8_t> m_bytes;
    std::size_t m_pos = 0;
};

}  // namespace zentrowe
