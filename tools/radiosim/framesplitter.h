#pragma once

// Byte-fed CI-V framing for the simulated radio: cuts the received byte stream into FE..FD
// frames and runs of stray bytes. It keeps its state across reads, so a frame split over
// several reads comes out whole, and no byte sequence can make it grow without bound.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

struct BusPiece {
    enum class Kind {
        Frame, // FE FE ... FD, one or more preamble bytes, as received
        Stray, // bytes outside any frame
        Cut,   // a frame begun but ended by a new preamble (or by the line going away)
    };
    Kind kind = Kind::Frame;
    Bytes bytes;
};

class FrameSplitter {
public:
    // A frame longer than this is no CI-V frame: it is given up as cut and the rest of it, up
    // to its end byte, counts as stray bytes.
    static constexpr std::size_t kMaxFrameBytes = 64;

    // Runs bytes through the machine and returns the pieces finished by them, in stream order.
    // Stray bytes are held back until a frame begins or Flush() is called, so that one run of
    // stray bytes within one read gives one piece.
    std::vector<BusPiece> Feed(std::span<const std::uint8_t> bytes);

    // Hands over held stray bytes (called at the end of each read).
    std::vector<BusPiece> Flush();

    // Ends everything (the line went away): a frame in progress comes out as cut.
    std::vector<BusPiece> Reset();

private:
    enum class State { Idle, Preamble, Body };

    void Step(std::uint8_t byte, std::vector<BusPiece>* out);
    void EmitStray(std::vector<BusPiece>* out);
    void Emit(BusPiece::Kind kind, std::vector<BusPiece>* out);

    State state = State::Idle;
    Bytes frame; // the frame in progress, preamble included
    Bytes stray;
};
