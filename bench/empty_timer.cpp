// The floor for the program's CPU use: a Qt widget program whose only work is a 10 ms precise
// timer with an empty slot, the same period as the sweep's tick. whole_program.sh measures it the
// same way as the program, under the same X server.

#include <QApplication>
#include <QLabel>
#include <QObject>
#include <QTimer>
#include <chrono>

namespace {

constexpr std::chrono::milliseconds kTickPeriod{10};

// The receiver of the ticks: its slot does nothing.
class EmptyReceiver : public QObject {
public:
    void Tick() {}
};

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QLabel window(QStringLiteral("A 10 ms timer with an empty slot"));
    window.setWindowTitle(QStringLiteral("Tavmirok empty timer"));
    window.show();

    EmptyReceiver receiver;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(kTickPeriod);
    QObject::connect(&timer, &QTimer::timeout, &receiver, &EmptyReceiver::Tick);
    timer.start();
    return app.exec();
}
