#include "SettingsFixture.h"
#include "snippets/SnippetListModel.h"
#include "snippets/SnippetText.h"

#include <QAbstractItemModelTester>
#include <QGuiApplication>
#include <QPalette>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <cmath>

// The "Snippets" section: the mode picker, the list model's row signals, the add row,
// the rows' markers and buttons, reordering by drag, and the status line.
class TestSnippetEditor : public QObject {
    Q_OBJECT
private slots:
    void trimming_data();
    void trimming();
    void addButtonFollowsField_data();
    void addButtonFollowsField();
    void returnAdds();
    void shiftReturnWritesLineBreak();
    void blankReturnAddsNothing();
    void modeSwitchShowsList();
    void selectedModeStandsOut_data();
    void selectedModeStandsOut();
    void rowsMarked();
    void markerSelectsTextDoesNot();
    void resetToFirst();
    void clearAll();
    void deleteCurrentRow();
    void dragKeepsCurrent();
    void dragScrollsAtTheEdge();
    void indexBeyondEnd();
    void modelSignalsAreFineGrained_data();
    void modelSignalsAreFineGrained();

private:
    static void addSnippets(AppState &state, const QStringList &texts);
    static QStringList texts(const AppState &state);
    static QQuickItem *marker(SettingsFixture &f, int row);
};

namespace {

// Contrast ratio of two colours as WCAG defines it.
double contrast(const QColor &a, const QColor &b)
{
    const auto luminance = [](const QColor &c) {
        const auto linear = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    const double la = luminance(a) + 0.05;
    const double lb = luminance(b) + 0.05;
    return std::max(la, lb) / std::min(la, lb);
}

void typeText(QWindow *window, const QString &text)
{
    for (QChar c : text)
        QTest::keyClick(window, c.toLatin1());
}

} // namespace

void TestSnippetEditor::addSnippets(AppState &state, const QStringList &texts)
{
    for (const QString &t : texts)
        state.addSnippet(t);
}

QStringList TestSnippetEditor::texts(const AppState &state)
{
    QStringList out;
    for (const Snippet &s : state.snippets())
        out.append(s.text);
    return out;
}

QQuickItem *TestSnippetEditor::marker(SettingsFixture &f, int row)
{
    QQuickItem *slot = f.item(QStringLiteral("snippetRow_%1").arg(row));
    if (!slot)
        return nullptr;
    QList<QQuickItem *> found;
    std::function<void(QQuickItem *)> walk = [&](QQuickItem *i) {
        if (i->objectName() == QLatin1String("marker"))
            found.append(i);
        for (QQuickItem *c : i->childItems())
            walk(c);
    };
    walk(slot);
    return found.value(0);
}

void TestSnippetEditor::trimming_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("trimmed");
    QTest::newRow("blanks around a word") << "  hello  " << "hello";
    QTest::newRow("tab and line feed") << "\thello\n" << "hello";
    QTest::newRow("CR, VT, FF") << "\r\x0B\x0Chello\r" << "hello";
    QTest::newRow("NEL") << QStringLiteral("\u0085hi\u0085") << "hi";
    QTest::newRow("line and paragraph separators") << QStringLiteral("\u2028hi\u2029") << "hi";
    QTest::newRow("no-break and ideographic space (Zs)") << QStringLiteral("\u00A0hi\u3000") << "hi";
    QTest::newRow("thin and narrow spaces (Zs)") << QStringLiteral("\u2009hi\u202F") << "hi";
    QTest::newRow("inner line break stays") << " a\nb " << "a\nb";
    QTest::newRow("zero-width space is not blank") << QStringLiteral("\u200Bhi") << QStringLiteral("\u200Bhi");
    QTest::newRow("information separators are not blank") << "\x1Fhi" << "\x1Fhi";
    QTest::newRow("only blanks") << " \n\t " << "";
    QTest::newRow("empty") << "" << "";
}

void TestSnippetEditor::trimming()
{
    QFETCH(QString, input);
    QFETCH(QString, trimmed);
    QCOMPARE(trimSnippetText(input), trimmed);
}

void TestSnippetEditor::addButtonFollowsField_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("empty") << "" << false;
    QTest::newRow("blanks") << "   " << false;
    QTest::newRow("blank lines") << " \n \n" << false;
    QTest::newRow("word") << "x" << true;
    QTest::newRow("word in blanks") << "  x  " << true;
}

void TestSnippetEditor::addButtonFollowsField()
{
    QFETCH(QString, typed);
    QFETCH(bool, enabled);
    SettingsFixture f;
    f.state->setTypingMode(TypingMode::Playlist);
    QVERIFY(f.open());
    QQuickItem *field = f.item(QStringLiteral("newSnippetField"));
    QCOMPARE(field->property("placeholderText").toString(), QStringLiteral("Add snippet..."));
    field->setProperty("text", typed);
    QCOMPARE(f.item(QStringLiteral("addButton"))->isEnabled(), enabled);
    f.click(f.item(QStringLiteral("addButton")));
    QCOMPARE(texts(*f.state), enabled ? QStringList{trimSnippetText(typed)} : QStringList{});
    QCOMPARE(textOf(field), enabled ? QString() : typed);
}

void TestSnippetEditor::returnAdds()
{
    SettingsFixture f;
    f.state->setTypingMode(TypingMode::Playlist);
    addSnippets(*f.state, {"first"});
    QVERIFY(f.open());
    QQuickItem *field = f.item(QStringLiteral("newSnippetField"));
    f.click(field);
    QTRY_VERIFY(field->hasActiveFocus());
    typeText(f.window(), QStringLiteral("  hello  "));
    QCOMPARE(textOf(field), QStringLiteral("  hello  "));
    QTest::keyClick(f.window(), Qt::Key_Return);
    QCOMPARE(texts(*f.state), (QStringList{"first", "hello"}));
    QCOMPARE(textOf(field), QString());
    QCOMPARE(f.state->currentSnippetIndex(), 0);
}

void TestSnippetEditor::shiftReturnWritesLineBreak()
{
    SettingsFixture f;
    f.state->setTypingMode(TypingMode::Playlist);
    QVERIFY(f.open());
    QQuickItem *field = f.item(QStringLiteral("newSnippetField"));
    f.click(field);
    QTRY_VERIFY(field->hasActiveFocus());
    const double oneLine = field->height();
    typeText(f.window(), QStringLiteral("one"));
    QTest::keyClick(f.window(), Qt::Key_Return, Qt::ShiftModifier);
    typeText(f.window(), QStringLiteral("two"));
    QVERIFY(texts(*f.state).isEmpty());
    QVERIFY(field->height() > oneLine);
    QTest::keyClick(f.window(), Qt::Key_Return);
    QCOMPARE(texts(*f.state), QStringList{"one\ntwo"});
}

void TestSnippetEditor::blankReturnAddsNothing()
{
    SettingsFixture f;
    f.state->setTypingMode(TypingMode::Playlist);
    QVERIFY(f.open());
    QQuickItem *field = f.item(QStringLiteral("newSnippetField"));
    f.click(field);
    QTRY_VERIFY(field->hasActiveFocus());
    typeText(f.window(), QStringLiteral("   "));
    QTest::keyClick(f.window(), Qt::Key_Return);
    QVERIFY(texts(*f.state).isEmpty());
    QCOMPARE(textOf(field), QStringLiteral("   "));
    QVERIFY(!f.item(QStringLiteral("addButton"))->isEnabled());
}

void TestSnippetEditor::modeSwitchShowsList()
{
    SettingsFixture f;
    QVERIFY(f.open());
    QCOMPARE(textOf(f.item(QStringLiteral("modeClipboard"))), QStringLiteral("Paste from Clipboard"));
    QCOMPARE(textOf(f.item(QStringLiteral("modePlaylist"))), QStringLiteral("Paste from List"));
    QVERIFY(f.item(QStringLiteral("modeClipboard"))->property("checked").toBool());
    QVERIFY(!f.item(QStringLiteral("newSnippetField"))->isVisible());
    QVERIFY(!f.item(QStringLiteral("emptyText"))->isVisible());

    f.click(f.item(QStringLiteral("modePlaylist")));
    QCOMPARE(f.state->typingMode(), TypingMode::Playlist);
    QVERIFY(f.item(QStringLiteral("emptyText"))->isVisible());
    QCOMPARE(textOf(f.item(QStringLiteral("emptyText"))), QStringLiteral("No snippets yet. Add one below."));
    QVERIFY(f.item(QStringLiteral("newSnippetField"))->isVisible());
    QVERIFY(!f.item(QStringLiteral("statusLine"))->isVisible());
    QVERIFY(!f.item(QStringLiteral("clearAll"))->isVisible());

    f.state->addSnippet(QStringLiteral("one"));
    QVERIFY(!f.item(QStringLiteral("emptyText"))->isVisible());
    QQuickItem *frame = f.item(QStringLiteral("snippetListFrame"));
    QVERIFY(frame->isVisible());
    QTRY_VERIFY(frame->height() >= 120 && frame->height() <= 240);

    f.click(f.item(QStringLiteral("modeClipboard")));
    QCOMPARE(f.state->typingMode(), TypingMode::Clipboard);
    QVERIFY(!frame->isVisible());
    QCOMPARE(texts(*f.state), QStringList{"one"});
}

void TestSnippetEditor::selectedModeStandsOut_data()
{
    QTest::addColumn<bool>("dark");
    QTest::newRow("light") << false;
    // A dark theme whose highlight is nearly as dark as its buttons.
    QTest::newRow("dark") << true;
}

void TestSnippetEditor::selectedModeStandsOut()
{
    QFETCH(bool, dark);
    const QPalette saved = QGuiApplication::palette();
    const auto restore = qScopeGuard([&saved] { QGuiApplication::setPalette(saved); });
    if (dark) {
        QPalette palette(QColor(0x35, 0x35, 0x35), QColor(0x2d, 0x2d, 0x2d));
        palette.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xee));
        palette.setColor(QPalette::ButtonText, QColor(0xee, 0xee, 0xee));
        palette.setColor(QPalette::Highlight, QColor(0x15, 0x53, 0x9e));
        palette.setColor(QPalette::HighlightedText, Qt::white);
        QGuiApplication::setPalette(palette);
    }
    SettingsFixture f;
    QVERIFY(f.open());
    for (const bool listMode : {false, true}) {
        QQuickItem *selected =
            f.item(listMode ? QStringLiteral("modePlaylist") : QStringLiteral("modeClipboard"));
        QQuickItem *other =
            f.item(listMode ? QStringLiteral("modeClipboard") : QStringLiteral("modePlaylist"));
        f.click(selected);
        QTRY_VERIFY(selected->property("checked").toBool());
        const QImage image = f.window()->grabWindow();
        // The fill inside the border, before the text begins.
        const auto fill = [&](QQuickItem *segment) {
            const QPointF at = segment->mapToScene(QPointF(4, segment->height() / 2));
            return image.pixelColor((at * f.window()->devicePixelRatio()).toPoint());
        };
        QVERIFY2(contrast(fill(selected), fill(other)) >= 3.0,
                 qPrintable(fill(selected).name() + QLatin1Char('/') + fill(other).name()));
    }
}

void TestSnippetEditor::rowsMarked()
{
    SettingsFixture f;
    f.state->setTypingMode(TypingMode::Playlist);
    addSnippets(*f.state, {"A", "B", "C"});
    f.state->setCurrentSnippetIndex(1);
    QVERIFY(f.open());
    QCOMPARE(textOf(f.item(QStringLiteral("statusLine"))), QStringLiteral("Current: 2 of 3"));
    for (int row = 0; row < 3; ++row) {
        QQuickItem *m = marker(f, row);
        QVERIFY(m);
        const bool active = row == 1;
        QCOMPARE(m->property("symbol").toString(), active ? QStringLiteral("ring-dot") : QStringLiteral("circle"));
    }
    // Many rows scroll within the 240 high frame.
    addSnippets(*f.state, {"D", "E", "F", "G", "H", "I", "J", "K"});
    QTRY_COMPARE(f.item(QStringLiteral("snippetListFrame"))->height(), 240.0);
}

void TestSnippetEditor::markerSelectsTextDoesNot()
{
    SettingsFixture f;
    f.state->setTypingMode(TypingMode::Playlist);
    addSnippets(*f.state, {"A", "B", "C"});
    QVERIFY(f.open());
    QQuickItem *slot = f.item(QStringLiteral("snippetRow_2"));
    QList<QQuickItem *> textItems;
    std::function<void(QQuickItem *)> walk = [&](QQuickItem *i) {
        if (i->objectName() == QLatin1String("snippetText"))
            textItems.append(i);
        for (QQuickItem *c : i->childItems())
            walk(c);
    };
    walk(slot);
    QCOMPARE(textItems.size(), 1);
    QCOMPARE(textOf(textItems.first()), QStringLiteral("C"));
    f.click(textItems.first());
    QCOMPARE(f.state->currentSnippetIndex(), 0);
    f.click(marker(f, 2));
    QCOMPARE(f.state->currentSnippetIndex(), 2);
    QCOMPARE(marker(f, 2)->property("symbol").toString(), QStringLiteral("ring-dot"));
    QCOMPARE(marker(f, 0)->property("symbol").toString(), QStringLiteral("circle"));
    QCOMPARE(textOf(f.item(QStringLiteral("statusLine"))), QStringLiteral("Current: 3 of 3"));
}

void TestSnippetEditor::resetToFirst()
{
    SettingsFixture f;
    f.state->setTypingMode(TypingMode::Playlist);
    addSnippets(*f.state, {"A", "B", "C"});
    f.state->setCurrentSnippetIndex(2);
    QVERIFY(f.open());
    QCOMPARE(textOf(f.item(QStringLiteral("resetToFirst"))), QStringLiteral("Reset to First"));
    f.click(f.item(QStringLiteral("resetToFirst")));
    QCOMPARE(f.state->currentSnippetIndex(), 0);
    QCOMPARE(marker(f, 0)->property("symbol").toString(), QStringLiteral("ring-dot"));
    QCOMPARE(textOf(f.item(QStringLiteral("statusLine"))), QStringLiteral("Current: 1 of 3"));
}

void TestSnippetEditor::clearAll()
{
    SettingsFixture f;
    f.state->setTypingMode(TypingMode::Playlist);
    addSnippets(*f.state, {"A", "B", "C"});
    f.state->setCurrentSnippetIndex(2);
    QVERIFY(f.open());
    QCOMPARE(textOf(f.item(QStringLiteral("clearAll"))), QStringLiteral("Clear All"));
    f.click(f.item(QStringLiteral("clearAll")));
    QVERIFY(f.state->snippets().isEmpty());
    QCOMPARE(f.state->currentSnippetIndex(), 0);
    QVERIFY(f.item(QStringLiteral("emptyText"))->isVisible());
    QVERIFY(!f.item(QStringLiteral("clearAll"))->isVisible());
    QVERIFY(!f.item(QStringLiteral("statusLine"))->isVisible());
}

void TestSnippetEditor::deleteCurrentRow()
{
    SettingsFixture f;
    f.state->setTypingMode(TypingMode::Playlist);
    addSnippets(*f.state, {"A", "B", "C"});
    f.state->setCurrentSnippetIndex(1);
    QVERIFY(f.open());
    QQuickItem *slot = f.item(QStringLiteral("snippetRow_1"));
    QList<QQuickItem *> trash;
    std::function<void(QQuickItem *)> walk = [&](QQuickItem *i) {
        if (i->objectName() == QLatin1String("deleteButton"))
            trash.append(i);
        for (QQuickItem *c : i->childItems())
            walk(c);
    };
    walk(slot);
    QCOMPARE(trash.size(), 1);
    f.click(trash.first());
    QCOMPARE(texts(*f.state), (QStringList{"A", "C"}));
    // The position stays; the snippet now there is current.
    QCOMPARE(f.state->currentSnippetIndex(), 1);
    QTRY_COMPARE(marker(f, 1)->property("symbol").toString(), QStringLiteral("ring-dot"));
    QCOMPARE(textOf(f.item(QStringLiteral("statusLine"))), QStringLiteral("Current: 2 of 2"));
}

void TestSnippetEditor::dragKeepsCurrent()
{
    SettingsFixture f;
    f.state->setTypingMode(TypingMode::Playlist);
    addSnippets(*f.state, {"A", "B", "C"});
    f.state->setCurrentSnippetIndex(0);
    QVERIFY(f.open());
    QQuickItem *first = f.item(QStringLiteral("snippetRow_0"));
    QQuickItem *last = f.item(QStringLiteral("snippetRow_2"));
    f.reveal(f.item(QStringLiteral("snippetListFrame")));

    // Grab row A in its text area, drag it below row C, and drop.
    const QPoint from = first->mapToScene(QPointF(first->width() / 2, first->height() / 2)).toPoint();
    const QPoint to = last->mapToScene(QPointF(last->width() / 2, last->height() * 0.9)).toPoint();
    QTest::mousePress(f.window(), Qt::LeftButton, {}, from);
    for (int i = 1; i <= 20; ++i)
        QTest::mouseMove(f.window(), from + (to - from) * i / 20);
    QTest::mouseRelease(f.window(), Qt::LeftButton, {}, to);

    QTRY_COMPARE(texts(*f.state), (QStringList{"B", "C", "A"}));
    QCOMPARE(f.state->currentSnippetIndex(), 2);
    QTRY_COMPARE(marker(f, 2)->property("symbol").toString(), QStringLiteral("ring-dot"));
    QCOMPARE(marker(f, 0)->property("symbol").toString(), QStringLiteral("circle"));
}

void TestSnippetEditor::dragScrollsAtTheEdge()
{
    SettingsFixture f;
    f.state->setTypingMode(TypingMode::Playlist);
    QStringList many;
    for (int i = 0; i < 14; ++i)
        many.append(QStringLiteral("snippet %1").arg(i));
    addSnippets(*f.state, many);
    f.state->setCurrentSnippetIndex(0);
    QVERIFY(f.open());
    QQuickItem *frame = f.item(QStringLiteral("snippetListFrame"));
    QQuickItem *list = f.item(QStringLiteral("snippetList"));
    QTRY_COMPARE(frame->height(), 240.0);
    f.reveal(frame);
    const double maxContentY = list->property("contentHeight").toDouble() - list->height();
    QVERIFY(maxContentY > 0);

    // Hold the first row at the bottom edge until the list has scrolled to its end, then drop.
    QQuickItem *first = f.item(QStringLiteral("snippetRow_0"));
    const QPoint from = first->mapToScene(QPointF(first->width() / 2, first->height() / 2)).toPoint();
    const QPoint to = list->mapToScene(QPointF(list->width() / 2, list->height() - 6)).toPoint();
    QTest::mousePress(f.window(), Qt::LeftButton, {}, from);
    for (int i = 1; i <= 20; ++i)
        QTest::mouseMove(f.window(), from + (to - from) * i / 20);
    QTRY_COMPARE(list->property("contentY").toDouble(), maxContentY);
    QTest::mouseMove(f.window(), to + QPoint(0, 1));
    QTest::mouseRelease(f.window(), Qt::LeftButton, {}, to + QPoint(0, 1));

    // Dropped among the last rows, beyond what was visible at the start, and still current.
    const QStringList after = texts(*f.state);
    const qsizetype moved = after.indexOf(QStringLiteral("snippet 0"));
    QVERIFY2(moved >= 11, qPrintable(after.join(QLatin1Char(','))));
    QCOMPARE(f.state->currentSnippetIndex(), moved);
}

void TestSnippetEditor::indexBeyondEnd()
{
    SettingsFixture f;
    f.state->setTypingMode(TypingMode::Playlist);
    addSnippets(*f.state, {"A", "B", "C"});
    f.state->setCurrentSnippetIndex(5);
    QVERIFY(f.open());
    QCOMPARE(textOf(f.item(QStringLiteral("statusLine"))), QStringLiteral("Current: 6 of 3"));
    for (int row = 0; row < 3; ++row)
        QCOMPARE(marker(f, row)->property("symbol").toString(), QStringLiteral("circle"));
}

void TestSnippetEditor::modelSignalsAreFineGrained_data()
{
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<QString>("signal");
    QTest::newRow("add") << "add" << QStringList{"A", "B", "C", "D"} << "inserted";
    QTest::newRow("delete") << "delete" << QStringList{"A", "C"} << "removed";
    QTest::newRow("move down") << "move" << QStringList{"B", "C", "A"} << "moved";
    QTest::newRow("move of two") << "move2" << QStringList{"B", "A", "C"} << "moved";
    QTest::newRow("clear") << "clear" << QStringList{} << "removed";
}

void TestSnippetEditor::modelSignalsAreFineGrained()
{
    QFETCH(QString, edit);
    QFETCH(QStringList, after);
    QFETCH(QString, signal);
    QTemporaryDir dir;
    FakePlatform fake;
    AppState state(fake.platform(), dir.filePath(QStringLiteral("k.conf")), fake.pauser);
    addSnippets(state, {"A", "B", "C"});
    state.setCurrentSnippetIndex(0);
    SnippetListModel model;
    model.setAppState(&state);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy moved(&model, &QAbstractItemModel::rowsMoved);

    if (edit == QLatin1String("add"))
        state.addSnippet(QStringLiteral("D"));
    else if (edit == QLatin1String("delete"))
        model.remove(1);
    else if (edit == QLatin1String("move"))
        model.move(0, 3);
    else if (edit == QLatin1String("move2"))
        state.moveSnippets({0, 2}, 3);
    else
        state.clearAllSnippets();

    if (edit == QLatin1String("move2"))
        after = QStringList{"B", "A", "C"};
    QCOMPARE(texts(state), after);
    QCOMPARE(reset.count(), 0);
    QCOMPARE(inserted.count() > 0, signal == QLatin1String("inserted"));
    QCOMPARE(removed.count() > 0, signal == QLatin1String("removed"));
    QCOMPARE(moved.count() > 0, signal == QLatin1String("moved"));
    QCOMPARE(model.rowCount(), after.size());
    for (int row = 0; row < after.size(); ++row) {
        const QModelIndex i = model.index(row);
        QCOMPARE(i.data(SnippetListModel::TextRole).toString(), after.at(row));
        QCOMPARE(i.data(SnippetListModel::SnippetIdRole).toString(),
                 state.snippets().at(row).id.toString(QUuid::WithoutBraces));
        QCOMPARE(i.data(SnippetListModel::IsCurrentRole).toBool(), row == state.currentSnippetIndex());
    }
}

QTEST_MAIN(TestSnippetEditor)
#include "tst_snippeteditor.moc"
