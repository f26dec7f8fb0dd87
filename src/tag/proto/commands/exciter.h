#pragma once
// The exciter frame, written straight to the serial port: 0E, payload length - 2, payload,
// XOR checksum of every byte before it, 0D. A request carries 0x95, a setting number and a
// value; an accepted answer is exactly 7 bytes long.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace kelta::tag::exciter {

inline constexpr std::uint8_t kStart = 0x0E;
inline constexpr std::uint8_t kEnd = 0x0D;
inline constexpr std::uint8_t kRequest = 0x95;
inline constexpr std::size_t kAnswerBytes = 7;
inline constexpr std::size_t kBufferSize = 1024;

// XOR of every byte.
std::uint8_t ExciterChecksum(std::span<const std::uint8_t> bytes);

// The frame around a payload of at least two bytes.
std::vector<std::uint8_t> BuildExciterFrame(std::span<const std::uint8_t> payload);

// The four settings in the order they are sent: delay (units of 10 ms), ID high byte, ID low
// byte (the four hex digits of the ID caption), enabled flag.
std::array<std::array<std::uint8_t, 3>, 4> ExciterSteps(int delay, std::string_view idCaption,
                                                        bool enabled);

// Collects an answer: bytes are stored from the first on (the position wraps at 1024); the
// frame is complete when the byte just stored is 0x0D, at least 6 bytes are held, the first
// is 0x0E and the length byte equals the count held minus 6.
class AnswerAssembler {
public:
    enum class State { Collecting, Good, BadChecksum };
    State feed(std::uint8_t byte);
    State state() const { return state_; }
    std::size_t count() const { return position_; }

private:
    std::array<std::uint8_t, kBufferSize> buf_{};
    std::size_t position_ = 0;
    State state_ = State::Collecting;
};

} // namespace kelta::tag::exciter
