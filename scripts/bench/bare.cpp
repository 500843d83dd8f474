// The least a Qt Widgets program needs to put a window of Quillora's size on screen: the yardstick
// for Quillora's start time and memory.
#include <QApplication>
#include <QLabel>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QWidget window;
    window.setFixedSize(285, 441);
    QLabel label(QStringLiteral("Messages sent in this session:"), &window);
    window.show();
    return application.exec();
}
