#include "framesplitter.h"

#include "link/civ.h"

#include <utility>

std::vector<BusPiece> FrameSplitter::Feed(std::span<const std::uint8_t> bytes) {
    std::vector<BusPiece> out;
    for (std::uint8_t byte : bytes) {
        Step(byte, &out);
    }
    return out;
}

std::vector<BusPiece> FrameSplitter::Flush() {
    std::vector<BusPiece> out;
    EmitStray(&out);
    return out;
}

std::vector<BusPiece> FrameSplitter::Reset() {
    std::vector<BusPiece> out;
    if (state == State::Preamble && frame.size() == 1) {
        stray.push_back(civ::kPreamble); // a lone FE never began a frame
        frame.clear();
    }
    EmitStray(&out);
    if (!frame.empty()) {
        Emit(BusPiece::Kind::Cut, &out);
    }
    state = State::Idle;
    return out;
}

void FrameSplitter::Step(std::uint8_t byte, std::vector<BusPiece>* out) {
    switch (state) {
    case State::Idle:
        if (byte == civ::kPreamble) {
            frame.assign(1, byte);
            state = State::Preamble;
        } else {
            stray.push_back(byte);
        }
        break;
    case State::Preamble:
        if (byte == civ::kPreamble) {
            // The second FE begins the frame; further ones are extra preamble bytes.
            if (frame.size() == 1) {
                EmitStray(out);
            }
            if (frame.size() < kMaxFrameBytes) {
                frame.push_back(byte);
            }
        } else if (frame.size() == 1) {
            // One FE alone is no preamble.
            stray.push_back(civ::kPreamble);
            stray.push_back(byte);
            frame.clear();
            state = State::Idle;
        } else {
            frame.push_back(byte);
            if (byte == civ::kEndOfFrame) {
                Emit(BusPiece::Kind::Frame, out);
                state = State::Idle;
            } else {
                state = State::Body;
            }
        }
        break;
    case State::Body:
        if (byte == civ::kPreamble) {
            // Data never holds FE: another station has started a new frame over this one.
            Emit(BusPiece::Kind::Cut, out);
            frame.assign(1, byte);
            state = State::Preamble;
        } else if (byte == civ::kEndOfFrame) {
            frame.push_back(byte);
            Emit(BusPiece::Kind::Frame, out);
            state = State::Idle;
        } else if (frame.size() >= kMaxFrameBytes) {
            Emit(BusPiece::Kind::Cut, out);
            stray.push_back(byte);
            state = State::Idle;
        } else {
            frame.push_back(byte);
        }
        break;
    }
}

void FrameSplitter::EmitStray(std::vector<BusPiece>* out) {
    if (!stray.empty()) {
        out->push_back(BusPiece{BusPiece::Kind::Stray, std::exchange(stray, {})});
    }
}

void FrameSplitter::Emit(BusPiece::Kind kind, std::vector<BusPiece>* out) {
    EmitStray(out);
    out->push_back(BusPiece{kind, std::exchange(frame, {})});
}
