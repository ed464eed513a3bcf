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
    // States of the machine. kComplete exists only within the handling of one byte; between
    // reads the state is one of kWaitPreamble .. kSquelchData.
    enum RxState : int {
        kWaitPreamble = 0,
        kPreambleSeen = 1,
        kSource = 2,
        kCommand = 3,
        kFrequencyData = 4,
        kSkipToEnd = 5,
        kModeByte = 6,
        kFilterByte = 7,
        kWaitEnd = 8,
        kMeterSubCommand = 9,
        kSMeterFirst = 10,
        kSMeterSecond = 11,
        kSquelchData = 12,
        kComplete = 13,
    };

    // setDisplay receives the display's two writes per shown frequency: "" and then the text.
    // raiseReply is called at each byte that sets the reply flag; onAnswer, if given, at the
    // command byte of each OK (true) or NG (false) answer, beside the reply flag.
    ReceiveParser(std::function<void(const QString&)> setDisplay, std::function<void()> raiseReply,
                  std::function<void(bool accepted)> onAnswer = {});

    // Runs every byte of one read through the machine, in order. radioAdress is the radio's
    // bus address as it stood when the read began.
    void ProcessBytes(QByteArrayView bytes, int radioAdress);

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

    int rxState = kWaitPreamble;
    double rxFrequency = 0;
    double rxDigitWeight = 1;
    bool rxFrequencyReady = false;
    int rxDigitCount = 0;
};
