// A Qt text field in a process of its own for the x11 and wayland tests. Lines on stdout:
//   READY           the field has the keyboard focus
//   T <utf8-hex>    the field's whole text, after each change
//   M <modifiers>   the keyboard modifiers as the client sees them, for each line on stdin
#include <QApplication>
#include <QPlainTextEdit>
#include <QSocketNotifier>
#include <QWindow>

#include <cstdio>
#include <unistd.h>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QPlainTextEdit edit;
    edit.resize(400, 300);
    QObject::connect(&edit, &QPlainTextEdit::textChanged, [&] {
        std::printf("T %s\n", edit.toPlainText().toUtf8().toHex().constData());
        std::fflush(stdout);
    });
    bool ready = false;
    QObject::connect(&app, &QGuiApplication::focusObjectChanged, [&](QObject *focus) {
        if (!ready && focus == &edit) {
            ready = true;
            std::printf("READY\n");
            std::fflush(stdout);
        }
    });
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[64];
        if (read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
            return input.setEnabled(false);
        std::printf("M %d\n", int(QGuiApplication::queryKeyboardModifiers()));
        std::fflush(stdout);
    });
    edit.show();
    edit.activateWindow();
    edit.setFocus();
    return app.exec();
}
