#include "Form1.h"
#include "SettingsPlace.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    Form1 window(SettingsPlace::ofThisProgram());
    window.StartUp();
    window.show();
    return application.exec();
}
