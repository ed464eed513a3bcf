// libFuzzer target for the CI-V receive parser. Each input is bus traffic: it is fed once a byte
// per read and once in input-derived chunks; the machine's invariants are checked after every
// read, and both feedings must end with the same display writes, replies, state and frequency.

#include "link/civ.h"
#include "link/receiveparser.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>

namespace {

constexpr int kLastState = ReceiveParser::kSquelchData; // kComplete never outlives one byte
constexpr double kLargestFrequency = 16666666665;       // ten nibbles of at most 15, in hertz
constexpr int kMaxChunk = 23;

// The radio addresses tried: the listener's radio is taken from the input.
constexpr int kRadioAddresses[] = {0x94, 0x4E, 0x00, 0x4D};

struct DisplayLocale {
    QLocale locale;
    QRegularExpression shape;
};

// "###,###.000" with the locale's separators: no leading zero, groups of three, three decimals.
DisplayLocale MakeLocale(QLocale::Language language, QLocale::Territory territory) {
    const QLocale locale(language, territory);
    const QString pattern = QStringLiteral("^(?:[1-9][0-9]{0,2}(?:%1[0-9]{3})*)?%2[0-9]{3}$")
                                .arg(QRegularExpression::escape(locale.groupSeparator()),
                                     QRegularExpression::escape(locale.decimalPoint()));
    QRegularExpression shape(pattern);
    shape.optimize();
    return {locale, shape};
}

const DisplayLocale& LocaleFor(unsigned pick) {
    static const DisplayLocale locales[] = {
        MakeLocale(QLocale::English, QLocale::UnitedStates),
        MakeLocale(QLocale::German, QLocale::Germany),
        MakeLocale(QLocale::French, QLocale::France),
        MakeLocale(QLocale::German, QLocale::Switzerland),
    };
    return locales[pick % std::size(locales)];
}

[[noreturn]] void Fail(const char* what, std::size_t at) {
    std::fprintf(stderr, "receive parser invariant broken at input byte %zu: %s\n", at, what);
    std::abort();
}

// A parser with a recording display and reply flag, checked after each read.
class Probe {
public:
    Probe(const DisplayLocale& display, int radio)
        : display(display), radio(radio),
          parser([this](const QString& text) { writes.append(text); }, [this] { ++replies; }) {
        parser.SetLocale(display.locale);
    }

    void Read(const std::uint8_t* bytes, std::size_t size, std::size_t at) {
        const qsizetype writesBefore = writes.size();
        const int repliesBefore = replies;
        parser.ProcessBytes(QByteArrayView(bytes, qsizetype(size)), radio);

        const int state = parser.State();
        if (state < 0 || state > kLastState) {
            Fail("state outside 0..12 between reads", at);
        }
        const double frequency = parser.Frequency();
        if (!std::isfinite(frequency) || frequency < 0 || frequency > kLargestFrequency) {
            Fail("frequency not finite, negative or beyond ten digits", at);
        }
        if (replies - repliesBefore > qsizetype(size)) {
            Fail("more than one reply raised by one byte", at);
        }
        const qsizetype newWrites = writes.size() - writesBefore;
        if (newWrites % 2 != 0) {
            Fail("display written an odd number of times", at);
        }
        if (size == 1 && newWrites > 0) {
            if (newWrites != 2) {
                Fail("one byte showed more than one frequency", at);
            }
            if (replies == repliesBefore) {
                Fail("frequency shown without the reply flag", at);
            }
            if (writes.last() != core::FormatKilohertz(frequency, display.locale)) {
                Fail("shown text is not the decoded frequency", at);
            }
        }
        for (qsizetype i = writesBefore; i < writes.size(); i += 2) {
            if (!writes[i].isEmpty()) {
                Fail("display not cleared before a frequency", at);
            }
            if (!display.shape.match(writes[i + 1]).hasMatch()) {
                Fail("display text not shaped ###,###.000", at);
            }
        }
    }

    bool SameAs(const Probe& other) const {
        return writes == other.writes && replies == other.replies &&
               parser.State() == other.parser.State() &&
               parser.Frequency() == other.parser.Frequency();
    }

private:
    const DisplayLocale& display;
    const int radio;
    QStringList writes;
    int replies = 0;
    ReceiveParser parser;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A cheap digest of the whole input picks the radio address, the locale and the chunking.
    unsigned digest = 2166136261u;
    for (std::size_t i = 0; i < size; ++i) {
        digest = (digest ^ data[i]) * 16777619u;
    }
    const DisplayLocale& display = LocaleFor(digest >> 8);
    const int radio = kRadioAddresses[digest % std::size(kRadioAddresses)];

    Probe byByte(display, radio);
    for (std::size_t i = 0; i < size; ++i) {
        byByte.Read(data + i, 1, i);
    }

    Probe inChunks(display, radio);
    unsigned stir = digest;
    for (std::size_t at = 0; at < size;) {
        stir = stir * 1103515245u + 12345u;
        const std::size_t chunk = std::min<std::size_t>((stir >> 16) % (kMaxChunk + 1), size - at);
        inChunks.Read(data + at, chunk, at); // chunks of length 0 are empty reads
        at += chunk;
    }

    if (!byByte.SameAs(inChunks)) {
        Fail("chunked reads decoded differently from single-byte reads", size);
    }
    return 0;
}
