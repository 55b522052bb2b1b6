#pragma once

#include <QProcess>
#include <QString>

// What the Qt field (qtfield.cpp) says on its output, read as it comes: READY once it has the
// focus, "T <hex>" its whole text after each change, "M <n>" its modifiers when asked.
struct QtFieldOutput {
    bool ready = false;
    QString text;
    int modifiers = -1;

    void read(QProcess &field)
    {
        while (field.canReadLine()) {
            const QList<QByteArray> f = field.readLine().trimmed().split(' ');
            ready |= f.value(0) == "READY";
            if (f.value(0) == "T")
                text = QString::fromUtf8(QByteArray::fromHex(f.value(1)));
            else if (f.value(0) == "M")
                modifiers = f.value(1).toInt();
        }
    }
    /// Asks for the modifiers; wait(condition) runs until it holds or gives up.
    template <typename Wait> int askModifiers(QProcess &field, Wait wait)
    {
        modifiers = -1;
        field.write("M\n");
        wait([&] { return read(field), modifiers >= 0; });
        return modifiers;
    }
};
