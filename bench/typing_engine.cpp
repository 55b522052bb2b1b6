// How soon typing can start on a large clipboard, and how fast the text is cut
// into characters. Prints its numbers; it asserts nothing.

#include "platform/KeyInjector.h"
#include "typing/GraphemeWalker.h"
#include "typing/KeystrokeEngine.h"
#include "typing/Pauser.h"

#include <QTextBoundaryFinder>

#include <chrono>
#include <cstdio>
#include <stop_token>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// About 10 MB of UTF-8: prose with line ends, emoji sequences, flags, Hindi and Thai.
QString sampleText()
{
    const QString piece =
        QStringLiteral("The quick brown fox jumps over the lazy dog.\r\n") +
        QString::fromUtf8(
            "Caf\u00e9 cr\u00e8me \U0001F44D\U0001F3FD \U0001F468\u200D\U0001F469\u200D\U0001F467 "
            "\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7 \u0928\u092E\u0938\u094D\u0924\u0947 "
            "\u0E2A\u0E27\u0E31\u0E2A\u0E14\u0E35\t\u1112\u1161\u11AB\n");
    const qsizetype pieceBytes = piece.toUtf8().size();
    return piece.repeated(10'000'000 / pieceBytes);
}

// Records nothing: measures the engine, not a desktop.
class NullSession final : public KeySession {
public:
    bool isKeyDown(quint16) override { return false; }
    bool anyKeyDown() override { return false; }
    void prepare(QStringView) override {}
    ClusterEnd typeCluster(QStringView) override
    {
        if (!first)
            first = Clock::now();
        return {};
    }
    ClusterEnd pressKey(quint16) override { return typeCluster({}); }
    std::optional<Clock::time_point> first;
};

class NoPauser final : public Pauser {
public:
    bool pause(std::chrono::nanoseconds, std::stop_token stop) override
    {
        return !stop.stop_requested();
    }
};

} // namespace

int main()
{
    const QString text = sampleText();
    std::printf("text: %lld UTF-16 units, %lld bytes as UTF-8\n", qlonglong(text.size()),
                qlonglong(text.toUtf8().size()));

    {
        const Clock::time_point start = Clock::now();
        GraphemeWalker walker(text);
        const std::optional<QStringView> first = walker.next();
        std::printf("walker, first character: %.3f ms (%lld units)\n", msSince(start),
                    qlonglong(first ? first->size() : 0));
    }
    {
        const Clock::time_point start = Clock::now();
        GraphemeWalker walker(text);
        qsizetype clusters = 0;
        while (walker.next())
            ++clusters;
        const double ms = msSince(start);
        std::printf("walker, whole text: %.1f ms, %lld characters, %.1f M characters/s\n", ms,
                    qlonglong(clusters), clusters / ms / 1000.0);
    }
    {
        // What a scan of the whole text before the first key press would cost.
        const Clock::time_point start = Clock::now();
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
        const qsizetype firstBoundary = finder.toNextBoundary();
        std::printf("whole-text finder, first character: %.1f ms (boundary %lld)\n", msSince(start),
                    qlonglong(firstBoundary));
    }
    {
        NullSession session;
        NoPauser pauser;
        const Clock::time_point start = Clock::now();
        KeystrokeEngine::typeText(session, pauser, {}, text, 0.0);
        const double total = msSince(start);
        const double first =
            session.first
                ? std::chrono::duration<double, std::milli>(*session.first - start).count()
                : -1.0;
        std::printf("typeText without pauses: first key %.3f ms, whole text %.1f ms\n", first,
                    total);
    }
    return 0;
}
