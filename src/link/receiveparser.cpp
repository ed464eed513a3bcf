#include "link/receiveparser.h"

#include "link/civ.h"

#include <utility>

ReceiveParser::ReceiveParser(std::function<void(const QString&)> setDisplay,
                             std::function<void()> raiseReply,
                             std::function<void(bool accepted)> onAnswer)
    : setDisplay(std::move(setDisplay)), raiseReply(std::move(raiseReply)),
      onAnswer(std::move(onAnswer)) {}

void ReceiveParser::ProcessBytes(QByteArrayView bytes, int radioAdress) {
    for (char c : bytes) {
        Step(static_cast<std::uint8_t>(c), radioAdress);
        // Completion step: show a finished frequency frame, then wait for the next preamble.
        if (rxState == kComplete) {
            if (rxFrequencyReady) {
                rxFrequencyReady = false;
                const QString text = core::FormatKilohertz(rxFrequency, displayLocale);
                setDisplay(QString());
                setDisplay(text);
            }
            rxState = kWaitPreamble;
        }
    }
}

void ReceiveParser::AddDigit(int digit) {
    if (rxDigitCount >= kMaxDigits) {
        return;
    }
    rxFrequency += digit * rxDigitWeight;
    rxDigitWeight *= 10;
    ++rxDigitCount;
}

void ReceiveParser::Step(std::uint8_t byte, int radioAdress) {
    switch (rxState) {
    case kWaitPreamble:
        if (byte == civ::kPreamble) {
            rxState = kPreambleSeen;
        }
        break;
    case kPreambleSeen:
        if (byte == civ::kPreamble) {
            // Any number of preamble bytes is absorbed.
        } else if (byte == civ::kBroadcastAddress || byte == civ::kControllerAddress ||
                   byte == radioAdress) {
            rxState = kSource;
        } else {
            rxState = kWaitPreamble; // addressed to another device
        }
        break;
    case kSource:
        rxState = kCommand; // the source is neither tested nor kept
        break;
    case kCommand:
        switch (byte) {
        case civ::kCmdFrequencyReport:
        case civ::kCmdReadFrequency:
        case civ::kCmdSetFrequency:
            rxFrequency = 0;
            rxDigitWeight = 1;
            rxDigitCount = 0;
            rxState = kFrequencyData;
            break;
        case civ::kCmdModeReport:
        case civ::kCmdReadMode:
            rxState = kModeByte;
            break;
        case civ::kCmdNg:
        case civ::kCmdOk:
            raiseReply();
            if (onAnswer) {
                onAnswer(byte == civ::kCmdOk);
            }
            rxState = kWaitEnd;
            break;
        case civ::kCmdMeter:
            rxState = kMeterSubCommand;
            break;
        default:
            rxState = kSkipToEnd;
            break;
        }
        break;
    case kFrequencyData:
        if (byte == civ::kEndOfFrame || byte == civ::kEndOfData) {
            raiseReply();
            // A frame without digits is a read request from another controller, not a
            // frequency: it leaves the display as it is.
            rxFrequencyReady = rxDigitCount > 0;
            rxState = kComplete;
        } else if (byte == civ::kPreamble) {
            // 0xFE is never a BCD byte: this frame lost its end byte and the next frame begins.
            // The cut frame is dropped unshown; taking the next frame's bytes as digits would
            // show a frequency nobody sent and swallow the radio's answer.
            rxState = kPreambleSeen;
        } else {
            AddDigit(byte & 0x0F);
            AddDigit((byte & 0xF0) >> 4);
        }
        break;
    case kSkipToEnd:
        if (byte == civ::kEndOfFrame) {
            rxState = kWaitPreamble;
        }
        break;
    case kModeByte:
        rxState = kFilterByte;
        break;
    case kFilterByte:
        rxState = kWaitEnd;
        break;
    case kWaitEnd:
        if (byte == civ::kEndOfFrame) {
            raiseReply();
            rxState = kComplete;
        } else if (byte == civ::kPreamble) {
            rxState = kWaitPreamble;
        }
        break;
    case kMeterSubCommand:
        if (byte == civ::kSubSquelch) {
            rxState = kSquelchData;
        } else if (byte == civ::kSubSMeter) {
            rxState = kSMeterFirst;
        } else if (byte == civ::kEndOfFrame) {
            rxState = kWaitPreamble;
        } else if (byte == civ::kPreamble) {
            rxState = kPreambleSeen;
        } else {
            rxState = kSkipToEnd; // an unknown sub-command: skip to the end byte
        }
        break;
    case kSMeterFirst:
        rxState = kSMeterSecond;
        break;
    case kSMeterSecond:
        rxState = kWaitEnd;
        break;
    case kSquelchData:
        rxState = kWaitEnd;
        break;
    default:
        rxState = kWaitPreamble;
        break;
    }
}
