#pragma once

#include <QMainWindow>

class Form1 : public QMainWindow {
    Q_OBJECT
public:
    explicit Form1(QWidget* parent = nullptr);
    void Load();
};
