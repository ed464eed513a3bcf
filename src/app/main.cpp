#include "core/version.h"
#include "ui/form1.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Tavmirok"));
    QApplication::setApplicationName(QStringLiteral("Tavmirok"));
    QApplication::setApplicationVersion(QString::fromLatin1(tavmirok::kVersion));
    Form1 form;
    form.Load();
    form.show();
    return app.exec();
}
