#include "Form1.h"
#include "Module1.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    Form1 window(Module1::SettingsFilePath());
    window.StartUp();
    window.show();
    return application.exec();
}
