#pragma once

#include <cassert>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace zentrowe {

enum class ErrorCode {
    CannotOpen,
    NotMidi,
    UnsupportedDivision,
    TrackOutOfRange,
    InvalidSetting,
    CodesExhausted,
    MeasureOutOfRange,
    NotPcmWave,
    SilentRecording,
    EmptyTrack,
    WouldOverwriteSource,
    WriteFailed,
    Cancelled,
    OutOfMemory,  // only the faces make it, from a std::bad_alloc that ended a pass
};

// One sentence for the user, naming the file or value at fault: "song.mid: not a MIDI file".
struct Error {
    ErrorCode code;
    std::string message;
};

// A value or the reason there is none.
template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : m_state(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : m_state(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() &
    {
        assert(ok());
        return std::get<0>(m_state);
    }
    const T& value() const&
    {
        assert(ok());
        return std::get<0>(m_state);
    }
    T&& value() &&
    {
        assert(ok());
        return std::get<0>(std::move(m_state));
    }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

    const Error& error() const
    {
        assert(!ok());
        return std::get<1>(m_state);
    }

private:
    std::variant<T, Error> m_state;
};

// A result that carries nothing but success or the reason for failure.
template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : m_error(std::move(error)) {}

    bool ok() const { return !m_error.has_value(); }
    explicit operator bool() const { return ok(); }
    const Error& error() const
    {
        assert(!ok());
        return *m_error;
    }

private:
    std::optional<Error> m_error;
};

using Status = Result<void>;

}  // namespace zentrowe
