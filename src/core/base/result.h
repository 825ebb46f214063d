#pragma once

#include <cassert>
#include <cstdint>
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
    NoteTooLong,
    NotPcmWave,
    SilentRecording,
    EmptyTrack,
    WouldOverwriteSource,
    WriteFailed,
    Cancelled,
    MixTooLong,         // a chart that sounds for longer than a mix can hold
    FolderBusy,         // another pass holds the output folder's lock
    WouldReplaceChart,  // a build would replace a chart another song or track made
    TooLong,            // a rendering would last longer than an hour
    AuditFailed,        // the folder's audit finds errors, so it is not packaged
    OutOfMemory,        // stays the last code (kLastErrorCode); only the faces make it, from a std::bad_alloc
};

inline constexpr ErrorCode kLastErrorCode = ErrorCode::OutOfMemory;

// One English sentence for the user, naming the file or value at fault ("song.mid: not a MIDI
// file"), and the same values apart, so that a face can word the error in its own language. A
// value the error does not name stays empty.
struct Error {
    ErrorCode code;
    std::string message;
    std::string path{};  // the file at fault, as displayPath() shows it
    // What within the code is at fault, a stable key a face can look up: the setting
    // ("startCode", "keysoundName", "longNoteMinimum", "tempo", "gap"), the file operation
    // ("open", "read", "write"), or the rule the input broke ("noHeader", "wavLine").
    std::string subject{};
    std::string value{};                   // the text at fault as given: a setting's text, a keysound stem, a reason
    std::optional<std::int64_t> number{};  // the number at fault: a track, a line, a measure, a size
    int systemError = 0;                   // errno of the refused file operation; 0 when the reason is our own

    // Set the values where an error is built: Error{code, message}.inFile(path).about("open").
    Error inFile(std::string filePath) &&
    {
        path = std::move(filePath);
        return std::move(*this);
    }
    Error about(std::string key) &&
    {
        subject = std::move(key);
        return std::move(*this);
    }
    Error withValue(std::string text) &&
    {
        value = std::move(text);
        return std::move(*this);
    }
    Error withNumber(std::int64_t at) &&
    {
        number = at;
        return std::move(*this);
    }
};

// A value or the reason there is none.
template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : m_state(std::in_place_index<0>, std::move(value)) { }
    Result(Error error) : m_state(std::in_place_index<1>, std::move(error)) { }

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
    Result(Error error) : m_error(std::move(error)) { }

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
