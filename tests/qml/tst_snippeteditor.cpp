#include "SettingsFixture.h"
#include "StateFixture.h"
#include "snippets/SnippetListModel.h"
#include "snippets/SnippetText.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using Op = std::function<void(AppState &, SnippetListModel &)>;
Q_DECLARE_METATYPE(Op)

// The "Snippets" section: the mode picker, the add row, the rows' markers and buttons,
// reordering by drag, the status line, and the list model's row signals.
namespace {

QStringList texts(const AppState &state)
{
    QStringList out;
    for (const Snippet &s : state.snippets())
        out.append(s.text);
    return out;
}

// A fixture in list mode holding these snippets, the given one current.
std::unique_ptr<SettingsFixture> listFixture(const QStringList &snippets, qint64 current = 0)
{
    auto f = std::make_unique<SettingsFixture>();
    f->state->setTypingMode(TypingMode::Playlist);
    for (const QString &text : snippets)
        f->state->addSnippet(text);
    f->state->setCurrentSnippetIndex(current);
    return f;
}

QQuickItem *inRow(const SettingsFixture &f, int row, const QString &name)
{
    QQuickItem *slot = f.item(u"snippetRow_%1"_s.arg(row));
    return slot ? f.item(name, slot) : nullptr;
}

// The rows' markers as one string: '*' for the current snippet, 'o' for the others.
QString markers(const SettingsFixture &f)
{
    QString out;
    for (int row = 0; QQuickItem *marker = inRow(f, row, u"marker"_s); ++row)
        out += marker->property("symbol").toString() == "ring-dot"_L1 ? u'*' : u'o';
    return out;
}

QString shownStatus(const SettingsFixture &f)
{
    QQuickItem *status = f.item(u"statusLine"_s);
    return status->isVisible() ? textOf(status) : QString();
}

// Presses at from, moves to `to` in steps, and releases there once `arrived` holds.
void drag(QWindow *window, QPoint from, QPoint to, const std::function<bool()> &arrived = {})
{
    QTest::mousePress(window, Qt::LeftButton, {}, from);
    for (int i = 1; i <= 20; ++i)
        QTest::mouseMove(window, from + (to - from) * i / 20);
    if (arrived)
        QTRY_VERIFY(arrived());
    QTest::mouseMove(window, to + QPoint(0, 1));
    QTest::mouseRelease(window, Qt::LeftButton, {}, to + QPoint(0, 1));
}

QPoint at(const QQuickItem *item, double y)
{
    return item->mapToScene(QPointF(item->width() / 2, item->height() * y)).toPoint();
}

} // namespace

class TestSnippetEditor : public QObject {
    Q_OBJECT
private slots:
    void trimming_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("trimmed");
        QTest::newRow("blanks around a word") << u"  hello  "_s << u"hello"_s;
        QTest::newRow("NEL") << u"\u0085hi\u0085"_s << u"hi"_s;
        QTest::newRow("Zs spaces") << u"\u00A0\u2009hi\u202F\u3000"_s << u"hi"_s;
        QTest::newRow("inner line break stays") << u" a\nb "_s << u"a\nb"_s;
        QTest::newRow("zero-width space is not blank") << u"\u200Bhi"_s << u"\u200Bhi"_s;
        QTest::newRow("only blanks") << u" \n\t "_s << QString();
    }

    void trimming()
    {
        QFETCH(QString, input);
        QFETCH(QString, trimmed);
        QCOMPARE(trimSnippetText(input), trimmed);
    }

    void addRow_data()
    {
        QTest::addColumn<QString>("typed"); // "\n" is typed as Shift+Return
        QTest::addColumn<bool>("byReturn");
        QTest::addColumn<QString>("added"); // empty: nothing added
        QTest::addColumn<QString>("left");  // in the field afterwards
        QTest::newRow("button, word in blanks") << u"  x  "_s << false << u"x"_s << QString();
        QTest::newRow("button, blank lines") << u" \n \n"_s << false << QString() << u" \n \n"_s;
        QTest::newRow("return, word in blanks") << u"  hi  "_s << true << u"hi"_s << QString();
        QTest::newRow("return after shift+return")
            << u"one\ntwo"_s << true << u"one\ntwo"_s << QString();
    }

    void addRow()
    {
        QFETCH(QString, typed);
        QFETCH(bool, byReturn);
        QFETCH(QString, added);
        QFETCH(QString, left);
        auto f = listFixture({u"first"_s});
        QVERIFY(f->open());
        QQuickItem *field = f->item(u"newSnippetField"_s);
        f->click(field);
        QTRY_VERIFY(field->hasActiveFocus());
        for (QChar c : typed) {
            if (c == u'\n')
                QTest::keyClick(f->window(), Qt::Key_Return, Qt::ShiftModifier);
            else
                QTest::keyClick(f->window(), c.toLatin1());
        }
        QCOMPARE(textOf(field), typed);
        QQuickItem *button = f->item(u"addButton"_s);
        QCOMPARE(button->isEnabled(), !added.isEmpty());
        if (byReturn)
            QTest::keyClick(f->window(), Qt::Key_Return);
        else
            f->click(button);
        const QStringList expected =
            added.isEmpty() ? QStringList{"first"} : QStringList{"first", added};
        QCOMPARE(texts(*f->state), expected);
        QCOMPARE(textOf(field), left);
        QCOMPARE(f->state->currentSnippetIndex(), 0);
    }

    void modeSwitchShowsList()
    {
        SettingsFixture f;
        QVERIFY(f.open());
        const auto visible = [&f](const char *name) {
            return f.item(QString::fromLatin1(name))->isVisible();
        };
        QVERIFY(!visible("newSnippetField") && !visible("emptyText"));
        f.click(f.item(u"modePlaylist"_s));
        QCOMPARE(f.state->typingMode(), TypingMode::Playlist);
        QVERIFY(visible("newSnippetField") && visible("emptyText"));
        QVERIFY(!visible("statusLine") && !visible("clearAll"));
        f.state->addSnippet(u"one"_s);
        QVERIFY(!visible("emptyText") && visible("snippetListFrame"));
        f.click(f.item(u"modeClipboard"_s));
        QCOMPARE(f.state->typingMode(), TypingMode::Clipboard);
        QVERIFY(!visible("snippetListFrame"));
        QCOMPARE(texts(*f.state), QStringList{"one"});
    }

    void rowActions_data()
    {
        QTest::addColumn<qint64>("current");
        QTest::addColumn<QString>("clicked"); // object name, in row `row` when row >= 0
        QTest::addColumn<int>("row");
        QTest::addColumn<QStringList>("expectedList");
        QTest::addColumn<qint64>("expectedCurrent");
        QTest::addColumn<QString>("expectedMarkers");
        QTest::addColumn<QString>("expectedStatus");
        const QStringList abc{"A", "B", "C"};
        QTest::newRow("shows the current") << 1ll << QString() << -1 << abc << 1ll << "o*o"
                                           << "Current: 2 of 3";
        QTest::newRow("marker selects") << 0ll << "marker" << 2 << abc << 2ll << "oo*"
                                        << "Current: 3 of 3";
        QTest::newRow("reset to first") << 2ll << "resetToFirst" << -1 << abc << 0ll << "*oo"
                                        << "Current: 1 of 3";
        QTest::newRow("delete the current")
            << 1ll << "deleteButton" << 1 << QStringList{"A", "C"} << 1ll << "o*"
            << "Current: 2 of 2";
        QTest::newRow("clear all") << 2ll << "clearAll" << -1 << QStringList() << 0ll << ""
                                   << "";
    }

    void rowActions()
    {
        QFETCH(qint64, current);
        QFETCH(QString, clicked);
        QFETCH(int, row);
        QFETCH(QStringList, expectedList);
        QFETCH(qint64, expectedCurrent);
        QFETCH(QString, expectedMarkers);
        QFETCH(QString, expectedStatus);
        auto f = listFixture({u"A"_s, u"B"_s, u"C"_s}, current);
        QVERIFY(f->open());
        if (!clicked.isEmpty()) {
            QQuickItem *target = row >= 0 ? inRow(*f, row, clicked) : f->item(clicked);
            QVERIFY(target);
            f->click(target);
        }
        QCOMPARE(texts(*f->state), expectedList);
        QCOMPARE(f->state->currentSnippetIndex(), expectedCurrent);
        QTRY_COMPARE(markers(*f), expectedMarkers);
        QCOMPARE(shownStatus(*f), expectedStatus);
        QCOMPARE(f->item(u"emptyText"_s)->isVisible(), expectedList.isEmpty());
        QCOMPARE(f->item(u"clearAll"_s)->isVisible(), !expectedList.isEmpty());
    }

    void dragKeepsCurrent_data()
    {
        QTest::addColumn<double>("where"); // in row C, from its top
        QTest::addColumn<QStringList>("after");
        QTest::newRow("below C's middle") << 0.9 << QStringList{"B", "C", "A"};
        QTest::newRow("above C's middle") << 0.3 << QStringList{"B", "A", "C"};
    }

    // Row A, grabbed at its middle, lands before the first row whose middle is below its own.
    void dragKeepsCurrent()
    {
        QFETCH(double, where);
        QFETCH(QStringList, after);
        auto f = listFixture({u"A"_s, u"B"_s, u"C"_s});
        QVERIFY(f->open());
        f->reveal(f->item(u"snippetListFrame"_s));
        drag(f->window(), at(f->item(u"snippetRow_0"_s), 0.5),
             at(f->item(u"snippetRow_2"_s), where));
        QTRY_COMPARE(texts(*f->state), after);
        QCOMPARE(f->state->currentSnippetIndex(), after.indexOf(u"A"_s));
        QTRY_COMPARE(markers(*f), after.indexOf(u"A"_s) == 2 ? u"oo*"_s : u"o*o"_s);
    }

    void dragScrollsAtTheEdge()
    {
        QStringList many;
        for (int i = 0; i < 14; ++i)
            many.append(u"snippet %1"_s.arg(i));
        auto f = listFixture(many);
        QVERIFY(f->open());
        QQuickItem *list = f->item(u"snippetList"_s);
        f->reveal(f->item(u"snippetListFrame"_s));
        QTRY_VERIFY(list->property("contentHeight").toDouble() > list->height());
        const double end = list->property("contentHeight").toDouble() - list->height();

        // Held at the bottom edge until the list has scrolled to its end, then dropped.
        drag(f->window(), at(f->item(u"snippetRow_0"_s), 0.5),
             list->mapToScene(QPointF(list->width() / 2, list->height() - 6)).toPoint(),
             [&] { return list->property("contentY").toDouble() == end; });
        // Dropped among the last rows, beyond what was visible at the start, and still current.
        const QStringList after = texts(*f->state);
        const qsizetype moved = after.indexOf(u"snippet 0"_s);
        QVERIFY2(moved >= 11, qPrintable(after.join(u',')));
        QCOMPARE(f->state->currentSnippetIndex(), moved);
    }

    void modelSignalsAreFineGrained_data()
    {
        QTest::addColumn<Op>("edit");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<QString>("signal");
        QTest::newRow("add") << Op([](AppState &s, SnippetListModel &) { s.addSnippet(u"D"_s); })
                             << QStringList{"A", "B", "C", "D"} << "inserted";
        QTest::newRow("delete") << Op([](AppState &, SnippetListModel &m) { m.remove(1); })
                                << QStringList{"A", "C"} << "removed";
        QTest::newRow("move to the end")
            << Op([](AppState &, SnippetListModel &m) { m.move(0, 3); })
            << QStringList{"B", "C", "A"} << "moved";
        QTest::newRow("move of two") << Op([](AppState &s, SnippetListModel &) {
            s.moveSnippets({0, 2}, 3);
        }) << QStringList{"B", "A", "C"}
                                     << "moved";
        QTest::newRow("clear") << Op([](AppState &s, SnippetListModel &) { s.clearAllSnippets(); })
                               << QStringList() << "removed";
    }

    void modelSignalsAreFineGrained()
    {
        QFETCH(Op, edit);
        QFETCH(QStringList, after);
        QFETCH(QString, signal);
        StateFixture f;
        AppState &state = *f.state;
        for (const char *text : {"A", "B", "C"})
            state.addSnippet(QString::fromLatin1(text));
        SnippetListModel model;
        model.setAppState(&state);
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
        QSignalSpy moved(&model, &QAbstractItemModel::rowsMoved);
        edit(state, model);
        QCOMPARE(texts(state), after);
        QCOMPARE(reset.count(), 0);
        QCOMPARE(inserted.count() > 0, signal == "inserted"_L1);
        QCOMPARE(removed.count() > 0, signal == "removed"_L1);
        QCOMPARE(moved.count() > 0, signal == "moved"_L1);
        QCOMPARE(model.rowCount(), after.size());
        for (int row = 0; row < after.size(); ++row) {
            const QModelIndex i = model.index(row);
            QCOMPARE(i.data(SnippetListModel::TextRole).toString(), after.at(row));
            QCOMPARE(i.data(SnippetListModel::SnippetIdRole).toString(),
                     state.snippets().at(row).id.toString(QUuid::WithoutBraces));
            QCOMPARE(i.data(SnippetListModel::IsCurrentRole).toBool(),
                     row == state.currentSnippetIndex());
        }
    }
};

QTEST_MAIN(TestSnippetEditor)
#include "tst_snippeteditor.moc"
