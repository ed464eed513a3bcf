#pragma once

// Byte-fed CI-V receive state machine; keeps its state across reads so split frames decode whole.
// It listens to the whole bus: frames to the broadcast address, to the controller and to the
// radio. Frequency frames update the display; every recognised frame raises the reply flag.

#include <QByteArrayView>
#include <QLocale>
#include <QString>
#include <functional>

class ReceiveParser {
public:
    // setDisplay receives the display's two writes per shown frequency: "" and then the text.
    // raiseReply is called at each byte that sets the reply flag.
    ReceiveParser(std::function<void(const QString&)> setDisplay, std::function<void()> raiseReply);

    // Runs every byte of one read through the machine, in order. radioAdress is the radio's
    // bus address as it stood when the read began.
    void ProcessBytes(QByteArrayView bytes, int radioAdress);

    // Called at the command byte of each OK (true) or NG (false) answer, beside the reply flag.
    void SetAnswerHandler(std::function<void(bool accepted)> handler) {
        onAnswer = std::move(handler);
    }

    // Locale whose separators format the display; the user's locale by default.
    void SetLocale(const QLocale& locale) { displayLocale = locale; }

    int State() const { return rxState; }
    double Frequency() const { return rxFrequency; }

    // Only the first ten digits of a frequency are added: the ten-digit range of CI-V BCD.
    static constexpr int kMaxDigits = 10;

private:
    void Step(std::uint8_t byte, int radioAdress);
    void AddDigit(int digit);

    std::function<void(const QString&)> setDisplay;
    std::function<void()> raiseReply;
    std::function<void(bool)> onAnswer;
    QLocale displayLocale;

    int rxState = 0;
    double rxFrequency = 0;
    double rxDigitWeight = 1;
    bool rxFrequencyReady = false;
    int rxDigitCount = 0;
};
