// A Qt text field in a process of its own for the x11 tests. Lines on stdout:
//   READY           the field has the keyboard focus
//   A <utf8-hex>    text appended to the field
//   T <utf8-hex>    the field's whole text, after a change that was not an append
#include <QApplication>
#include <QPlainTextEdit>
#include <QWindow>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QPlainTextEdit edit;
    edit.resize(400, 300);
    QString last;
    QObject::connect(&edit, &QPlainTextEdit::textChanged, [&] {
        const QString text = edit.toPlainText();
        if (text.startsWith(last))
            std::printf("A %s\n", text.mid(last.size()).toUtf8().toHex().constData());
        else
            std::printf("T %s\n", text.toUtf8().toHex().constData());
        std::fflush(stdout);
        last = text;
    });
    bool ready = false;
    QObject::connect(&app, &QGuiApplication::focusObjectChanged, [&](QObject *focus) {
        if (!ready && focus == &edit) {
            ready = true;
            std::printf("READY\n");
            std::fflush(stdout);
        }
    });
    edit.show();
    edit.activateWindow();
    edit.setFocus();
    return app.exec();
}
