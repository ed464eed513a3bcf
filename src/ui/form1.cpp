#include "ui/form1.h"

Form1::Form1(QWidget* parent) : QMainWindow(parent) {}
void Form1::Load() {}
