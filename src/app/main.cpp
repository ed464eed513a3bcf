#include "core/version.h"
#include "headless/commandline.h"
#include "headless/runner.h"
#include "ui/form1.h"

#include <QApplication>
#include <QGuiApplication>

namespace {

void NameApplication() {
    QCoreApplication::setOrganizationName(QStringLiteral("Tavmirok"));
    QCoreApplication::setApplicationName(QStringLiteral("Tavmirok"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(tavmirok::kVersion));
}

} // namespace

int main(int argc, char* argv[]) {
    if (headless::Requested(argc, argv)) {
        // No window and no display: pictures are still drawn, on the offscreen platform.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QGuiApplication app(argc, argv);
        NameApplication();
        return headless::Main(QCoreApplication::arguments());
    }
    QApplication app(argc, argv);
    NameApplication();
    Form1 form;
    form.Load();
    form.show();
    return app.exec();
}
