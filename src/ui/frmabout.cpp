#include "ui/frmabout.h"

#include "core/version.h"
#include "ui/formlayout.h"

#include <QKeyEvent>
#include <QMessageBox>
#include <QPainter>

// Resources linked from the static UI library must be registered by name.
static void InitTavmirokResources() {
    Q_INIT_RESOURCE(tavmirok);
}

namespace {

// Layout in twips: left, top, width, height within the client area.
using TwipRect = formlayout::Rect;
constexpr TwipRect kClientArea{0, 0, 5730, 3555};
constexpr TwipRect kPicIcon{240, 240, 540, 540};
constexpr TwipRect kLblTitle{1050, 240, 3885, 480};
constexpr TwipRect kLblVersion{1050, 780, 3885, 225};
constexpr TwipRect kLabel1{1050, 1080, 3615, 255};
constexpr TwipRect kLabel2{1050, 1440, 2415, 255};
constexpr TwipRect kLabel3{1050, 1800, 2055, 615};
constexpr TwipRect kCmdOK{4245, 2625, 1260, 345};
constexpr TwipRect kCmdSysInfo{4260, 3075, 1245, 345};

// The etched separator: a grey line over a white one, in twips; widths in pixels.
constexpr int kGreyLeft = 90;
constexpr int kGreyTop = 2445;
constexpr int kWhiteLeft = 105;
constexpr int kWhiteTop = 2460;
constexpr int kSeparatorRight = 5654;
constexpr int kGreyPixels = 1;
constexpr int kWhitePixels = 2;
const QColor kGrey(128, 128, 128);
const QColor kWhite(255, 255, 255);

const QString kIconPath = QStringLiteral(":/icons/tavmirok-32.png");

} // namespace

const QString frmAbout::kApplicationTitle = QStringLiteral("Tavmirok");
const QString frmAbout::kUnavailableText =
    QStringLiteral("System Information Is Unavailable At This Time");

frmAbout::frmAbout(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
    InitTavmirokResources();
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    formlayout::UseLayoutFont(this);
    auto newLabel = [this](const char* name, const QString& text, const TwipRect& r) {
        auto* label = new QLabel(text, this);
        label->setObjectName(QLatin1String(name));
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setWordWrap(true);
        formlayout::Place(label, r);
        return label;
    };

    picIcon = newLabel("picIcon", QString(), kPicIcon);
    picIcon->setPixmap(QPixmap(kIconPath));

    lblTitle = newLabel("lblTitle", QString(), kLblTitle);
    QPalette black = lblTitle->palette();
    black.setColor(QPalette::WindowText, Qt::black);
    lblTitle->setPalette(black);

    lblVersion = newLabel("lblVersion", QString(), kLblVersion);
    Label1 = newLabel("Label1", QStringLiteral("Copyright \u00A9 2026 the Tavmirok developers"),
                      kLabel1);
    Label2 = newLabel("Label2", QString(), kLabel2);
    Label3 = newLabel("Label3",
                      QStringLiteral("Report problems and ideas through the project's issue "
                                     "tracker."),
                      kLabel3);

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    formlayout::Place(cmdOK, kCmdOK);

    cmdSysInfo = new QPushButton(QStringLiteral("&System Info..."), this);
    cmdSysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
    formlayout::Place(cmdSysInfo, kCmdSysInfo);

    setTabOrder(cmdOK, cmdSysInfo);
    cmdOK->setFocus();

    setFixedSize(formlayout::Size(this, kClientArea));

    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(cmdSysInfo, &QPushButton::clicked, this, &frmAbout::StartSysInfo);
    Load();
}

QString frmAbout::VersionText() {
    return QStringLiteral("Version BETA%1").arg(QLatin1String(tavmirok::kVersion));
}

void frmAbout::Load() {
    setWindowTitle(QStringLiteral("About ") + kApplicationTitle);
    lblVersion->setText(VersionText());
    lblTitle->setText(kApplicationTitle);
}

void frmAbout::StartSysInfo() {
    if (sysInfo.StartSysInfo()) {
        return;
    }
    // One box at a time: pressing the button again brings the open one to the front.
    if (unavailableBox) {
        unavailableBox->raise();
        unavailableBox->activateWindow();
        return;
    }
    // Shown without blocking: the radio link keeps running while the box is open.
    auto* box = new QMessageBox(QMessageBox::NoIcon, kApplicationTitle, kUnavailableText,
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->setWindowModality(Qt::NonModal);
    box->show();
    unavailableBox = box;
}

bool frmAbout::GetKeyValue(std::uint32_t keyRoot, const QByteArray& keyName,
                           const QByteArray& subKeyRef, QString& keyVal) {
    return sysInfo.GetKeyValue(keyRoot, keyName, subKeyRef, keyVal);
}

void frmAbout::SetSysInfoPlatform(SysInfo::Platform platform) {
    sysInfo = SysInfo(std::move(platform));
}

void frmAbout::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    const int dpiX = logicalDpiX();
    const int dpiY = logicalDpiY();
    const int right = formlayout::ToPixels(kSeparatorRight, dpiX);
    QPainter painter(this);
    const int greyLeft = formlayout::ToPixels(kGreyLeft, dpiX);
    painter.fillRect(greyLeft, formlayout::ToPixels(kGreyTop, dpiY), right - greyLeft + 1,
                     kGreyPixels, kGrey);
    const int whiteLeft = formlayout::ToPixels(kWhiteLeft, dpiX);
    painter.fillRect(whiteLeft, formlayout::ToPixels(kWhiteTop, dpiY), right - whiteLeft + 1,
                     kWhitePixels, kWhite);
}

void frmAbout::keyPressEvent(QKeyEvent* event) {
    // Esc presses OK, as Enter does through the default button.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        cmdOK->click();
        return;
    }
    QDialog::keyPressEvent(event);
}
