#pragma once

// The About box: the program's title, version, copyright and contact lines, OK, and a button
// that starts the system-information tool or says that there is none.

#include "ui/sysinfo.h"

#include <QDialog>
#include <QLabel>
#include <QPointer>
#include <QPushButton>

class QMessageBox;

class frmAbout : public QDialog {
    Q_OBJECT
public:
    static const QString kApplicationTitle;
    static const QString kUnavailableText;

    explicit frmAbout(QWidget* parent = nullptr);

    // "Version BETA" and the program's version, major.minor.revision.
    static QString VersionText();

    // Starts the system-information tool, or shows that it is unavailable.
    void StartSysInfo();
    bool GetKeyValue(std::uint32_t keyRoot, const QByteArray& keyName, const QByteArray& subKeyRef,
                     QString& keyVal);

    // Tests replace the registry, PATH lookup and launcher.
    void SetSysInfoPlatform(SysInfo::Platform platform);
    // The last "unavailable" box shown, while it is open.
    QMessageBox* UnavailableBox() const { return unavailableBox; }

    QLabel* picIcon = nullptr;
    QLabel* lblTitle = nullptr;
    QLabel* lblVersion = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdSysInfo = nullptr;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Load();

    SysInfo sysInfo;
    QPointer<QMessageBox> unavailableBox;
};
