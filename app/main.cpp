#include <QApplication>
#include <QLabel>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Pixhold");
    QLabel label("Pixhold");
    label.show();
    return QApplication::exec();
}
