#include "Form1.h"
#include "Module1.h"

#include <QApplication>
#include <QNetworkAccessManager>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QNetworkAccessManager network;
    Form1 window(&network, Module1::SettingsFilePath());
    window.StartUp();
    window.show();
    return application.exec();
}
