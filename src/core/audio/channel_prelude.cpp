#include "core/audio/channel_prelude.h"

namespace zentrowe::audio {

namespace {

// What an event sets on its channel, numbered within the channel: controllers by their number
// byte as read (a damaged file's numbers above 127 are kinds of their own), then the program,
// the channel pressure, the pitch bend and each key's pressure.
constexpr int kProgramSlot = 256;
constexpr int kChannelPressureSlot = 257;
constexpr int kPitchBendSlot = 258;
constexpr int kKeyPressureSlots = 259;
constexpr int kSlotsPerChannel = kKeyPressureSlots + 256;

constexpr std::uint8_t kBankMsb = 0;
constexpr std::uint8_t kBankLsb = 32;
constexpr std::uint8_t kResetAllControllers = 121;

// Data entry and increment act on the parameter the selections before them chose, so none of
// these undoes another.
bool isParameterControl(std::uint8_t controller)
{
    return controller == 6 || controller == 38 || (controller >= 96 && controller <= 101);
}

int slotOf(std::uint8_t status, std::uint8_t data1)
{
    switch (status & 0xF0) {
    case 0xA0:
        return kKeyPressureSlots + data1;
    case 0xC0:
        return kProgramSlot;
    case 0xD0:
        return kChannelPressureSlot;
    case 0xE0:
        return kPitchBendSlot;
    default:
        break;
    }
    // Omni Off and On set one mode, as do Mono and Poly.
    if (data1 == 125 || data1 == 127) {
        return data1 - 1;
    }
    return data1;
}

std::size_t liveIndex(std::uint8_t status, int slot)
{
    return static_cast<std::size_t>(status & 0x0F) * kSlotsPerChannel + static_cast<std::size_t>(slot);
}

}  // namespace

ChannelPrelude::ChannelPrelude() : m_live(16 * kSlotsPerChannel, kNone)
{
}

void ChannelPrelude::add(const TimedEvent& event)
{
    const int kind = event.status & 0xF0;
    if (event.status < 0xA0 || event.status >= 0xF0) {
        return;
    }
    const std::uint32_t index = append(event);
    if (kind == 0xB0 && isParameterControl(event.data1)) {
        // Reset All Controllers clears the selection such an event acts through.
        read(index, kResetAllControllers, 0);
        return;
    }
    if (kind == 0xC0) {
        read(index, kBankMsb, 0);
        read(index, kBankLsb, 1);
    }
    const int slot = slotOf(event.status, event.data1);
    std::uint32_t& live = m_live[liveIndex(event.status, slot)];
    const std::uint32_t before = live;
    live = index;
    if (before != kNone) {
        supersede(before);
    }
    if (m_removed > 4096 && m_removed > m_entries.size() / 2) {
        compact();
    }
}

std::vector<TimedEvent> ChannelPrelude::events() const
{
    std::vector<TimedEvent> events;
    events.reserve(m_entries.size() - m_removed);
    for (const auto& entry : m_entries) {
        if (!entry.removed) {
            events.push_back({0, entry.status, entry.data1, entry.data2});
        }
    }
    return events;
}

std::uint32_t ChannelPrelude::append(const TimedEvent& event)
{
    Entry entry;
    entry.status = event.status;
    entry.data1 = event.data1;
    entry.data2 = event.data2;
    m_entries.push_back(entry);
    return static_cast<std::uint32_t>(m_entries.size() - 1);
}

// `reader` needs the controller in force on its channel to stay before it.
void ChannelPrelude::read(std::uint32_t reader, int slot, std::size_t which)
{
    const std::uint32_t target = m_live[liveIndex(m_entries[reader].status, slot)];
    if (target != kNone) {
        ++m_entries[target].readers;
        m_entries[reader].reads[which] = target;
    }
}

void ChannelPrelude::supersede(std::uint32_t index)
{
    m_entries[index].superseded = true;
    if (m_entries[index].readers == 0) {
        remove(index);
    }
}

void ChannelPrelude::remove(std::uint32_t index)
{
    Entry& entry = m_entries[index];
    entry.removed = true;
    ++m_removed;
    for (const auto target : entry.reads) {
        // Only a program change reads while it can be undone, and what it reads reads nothing.
        if (target != kNone && --m_entries[target].readers == 0 && m_entries[target].superseded) {
            m_entries[target].removed = true;
            ++m_removed;
        }
    }
}

void ChannelPrelude::compact()
{
    std::vector<std::uint32_t> moved(m_entries.size(), kNone);
    std::vector<Entry> kept;
    kept.reserve(m_entries.size() - m_removed);
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        if (!m_entries[i].removed) {
            moved[i] = static_cast<std::uint32_t>(kept.size());
            kept.push_back(m_entries[i]);
        }
    }
    for (auto& entry : kept) {
        for (auto& target : entry.reads) {
            target = target == kNone ? kNone : moved[target];
        }
    }
    for (auto& live : m_live) {
        live = live == kNone ? kNone : moved[live];
    }
    m_entries = std::move(kept);
    m_removed = 0;
}

}  // namespace zentrowe::audio
