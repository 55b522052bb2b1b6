// The four editing operations and the index rules that go with them.
#include "StateFixture.h"

#include <QTest>

using Op = std::function<void(AppState &)>;
Q_DECLARE_METATYPE(Op)

namespace {

// The snippets' texts in list order, one letter each, as "ABC".
QString letters(const AppState &state)
{
    QString text;
    for (const Snippet &snippet : state.snippets())
        text += snippet.text;
    return text;
}

} // namespace

class TestSnippetEditing : public QObject {
    Q_OBJECT

private slots:
    void operations_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<qint64>("index");
        QTest::addColumn<Op>("op");
        QTest::addColumn<QString>("expectedList");
        QTest::addColumn<qint64>("expectedIndex");
        QTest::addColumn<int>("listWrites");
        QTest::addColumn<int>("indexWrites");

        const auto add = [](QString text) {
            return Op([text](AppState &s) { s.addSnippet(text); });
        };
        const auto del = [](qint64 at) { return Op([at](AppState &s) { s.deleteSnippet(at); }); };
        const auto move = [](QList<qint64> from, qint64 to) {
            return Op([from, to](AppState &s) { s.moveSnippets(from, to); });
        };
        const Op clear = [](AppState &s) { s.clearAllSnippets(); };
        const auto select = [](qint64 at) {
            return Op([at](AppState &s) { s.setCurrentSnippetIndex(at); });
        };

        QTest::newRow("add empty text")
            << "AB" << qint64(0) << add("") << "AB" << qint64(0) << 0 << 0;
        QTest::newRow("add a blank")
            << "AB" << qint64(0) << add(" ") << "AB " << qint64(0) << 1 << 0;
        QTest::newRow("add keeps index")
            << "ABC" << qint64(2) << add("D") << "ABCD" << qint64(2) << 1 << 0;
        QTest::newRow("delete before current")
            << "ABC" << qint64(1) << del(0) << "BC" << qint64(1) << 1 << 0;
        QTest::newRow("delete current at end")
            << "ABC" << qint64(2) << del(2) << "AB" << qint64(1) << 1 << 1;
        QTest::newRow("delete pulls index back")
            << "ABC" << qint64(2) << del(0) << "BC" << qint64(1) << 1 << 1;
        QTest::newRow("delete only snippet")
            << "A" << qint64(0) << del(0) << "" << qint64(0) << 1 << 1;
        QTest::newRow("delete with index far out")
            << "ABC" << qint64(5) << del(1) << "AC" << qint64(1) << 1 << 1;
        QTest::newRow("delete outside list refused")
            << "ABC" << qint64(0) << del(3) << "ABC" << qint64(0) << 0 << 0;
        QTest::newRow("clear") << "ABC" << qint64(2) << clear << "" << qint64(0) << 1 << 1;
        QTest::newRow("move 0 to 2")
            << "ABCD" << qint64(1) << move({0}, 2) << "BACD" << qint64(0) << 1 << 1;
        QTest::newRow("move 3 to 0")
            << "ABCD" << qint64(0) << move({3}, 0) << "DABC" << qint64(1) << 1 << 1;
        QTest::newRow("move 1 to end")
            << "ABCD" << qint64(1) << move({1}, 4) << "ACDB" << qint64(3) << 1 << 1;
        QTest::newRow("move block")
            << "ABCD" << qint64(3) << move({1, 3}, 2) << "ABDC" << qint64(2) << 1 << 1;
        QTest::newRow("move around current")
            << "ABCD" << qint64(0) << move({3}, 2) << "ABDC" << qint64(0) << 1 << 1;
        QTest::newRow("move with index out of range")
            << "ABC" << qint64(5) << move({0}, 3) << "BCA" << qint64(5) << 1 << 0;
        QTest::newRow("select") << "ABC" << qint64(0) << select(2) << "ABC" << qint64(2) << 0 << 1;
    }

    void operations()
    {
        QFETCH(QString, list);
        QFETCH(qint64, index);
        QFETCH(Op, op);
        QFETCH(QString, expectedList);
        QFETCH(qint64, expectedIndex);
        QFETCH(int, listWrites);
        QFETCH(int, indexWrites);

        StateFixture f;
        AppState &state = *f.state;
        for (QChar c : list)
            state.addSnippet(QString(c));
        state.setCurrentSnippetIndex(index);

        QSignalSpy written(&state.store(), &PreferenceStore::written);
        QSignalSpy listChanged(&state, &AppState::snippetsChanged);
        op(state);

        QCOMPARE(letters(state), expectedList);
        QCOMPARE(state.currentSnippetIndex(), expectedIndex);
        const auto writesOf = [&](const QString &key) {
            return int(
                std::count_if(written.cbegin(), written.cend(),
                              [&](const QList<QVariant> &args) { return args.at(0) == key; }));
        };
        QCOMPARE(writesOf(QStringLiteral("snippets")), listWrites);
        QCOMPARE(writesOf(QStringLiteral("currentSnippetIndex")), indexWrites);
        QCOMPARE(int(listChanged.count()), listWrites);
        // The list is written before the index.
        if (listWrites && indexWrites)
            QCOMPARE(written.first().at(0).toString(), QStringLiteral("snippets"));
    }

    // Two equal texts are two snippets: the current one is followed by its id.
    void movesKeepIdentity()
    {
        StateFixture f;
        f.state->addSnippet(QStringLiteral("same"));
        f.state->addSnippet(QStringLiteral("same"));
        const QUuid second = f.state->snippets().at(1).id;
        f.state->setCurrentSnippetIndex(1);
        f.state->moveSnippets({1}, 0);
        QCOMPARE(f.state->snippets().at(0).id, second);
        QCOMPARE(f.state->currentSnippetIndex(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSnippetEditing)
#include "tst_snippetediting.moc"
