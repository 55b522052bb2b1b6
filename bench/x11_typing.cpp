// Throughput and fidelity of real typing on X11: types texts through the X11
// injector into the x11_recorder test client and reports characters per second
// and how many runs arrived exactly. Prints its numbers; it asserts nothing.
// Usage: DISPLAY=:N bench_x11_typing PATH/TO/x11_recorder [RUNS] [--slow [--grace-only]]
//   --slow: 450 distinct CJK characters at 5 ms into windows that handle keys slowly instead.
//   --grace-only: the extra keys' grace alone, without asking the window how far it has got.
// With WAYLAND_DISPLAY set, types through the compositor's virtual keyboard into the recorder
// under Xwayland (DISPLAY) instead.
#include "platform/wayland/WaylandKeyInjector.h"
#include "platform/x11/X11KeyInjector.h"
#include "platform/x11/X11WindowProgress.h"
#include "typing/GraphemeWalker.h"
#include "typing/Pauser.h"
#include "typing/TypingRun.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>

#include <atomic>
#include <chrono>
#include <cstdio>

namespace {

using Clock = std::chrono::steady_clock;

bool graceOnly = false;

std::unique_ptr<KeyInjector> injectorFor(const QByteArray &display)
{
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return std::make_unique<X11KeyInjector>(display);
    WaylandKeyInjector::WindowWatch watch;
    if (!graceOnly)
        watch = [display] { return X11WindowProgress::forFocusedWindow(display); };
    return std::make_unique<WaylandKeyInjector>(QByteArray(), std::move(watch));
}

// What the recorder shows: Return arrives as CR.
QString expected(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\r"));
    text.replace(QLatin1Char('\n'), QLatin1Char('\r'));
    return text;
}

qsizetype clusters(const QString &text)
{
    GraphemeWalker walker(text);
    qsizetype n = 0;
    while (walker.next())
        ++n;
    return n;
}

struct Outcome {
    bool exact = false;
    double seconds = 0;
};

Outcome typeOnce(const QString &recorder, const QByteArray &display, const QString &text,
                 double delayMs, const QStringList &clientArgs = {})
{
    QProcess client;
    client.start(recorder, QStringList{QString::fromLocal8Bit(display)} + clientArgs);
    QByteArray pending;
    QString received;
    bool ready = false;
    const auto pump = [&](int ms) {
        client.waitForReadyRead(ms);
        pending += client.readAllStandardOutput();
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QList<QByteArray> f = pending.left(end).split(' ');
            pending.remove(0, end + 1);
            if (f.value(0) == "READY")
                ready = true;
            else if (f.value(0) == "P" && f.size() >= 5 && f[4] != "-")
                received += QString::fromUtf8(QByteArray::fromHex(f[4]));
        }
    };
    QDeadlineTimer start(20000);
    while (!ready && !start.hasExpired())
        pump(100);

    const std::unique_ptr<KeyInjector> injector = injectorFor(display);
    RealPauser pauser;
    std::atomic<bool> finished{false};
    TypingRunParams params;
    params.text = text;
    params.delayMs = delayMs;
    const QString want = expected(text);
    const Clock::time_point t0 = Clock::now();
    TypingRun run(*injector, pauser, params, [&finished](const TypingEnd &) { finished = true; });
    QDeadlineTimer deadline(120000 + qint64(text.size() * delayMs * 4));
    while ((!finished || received.size() < want.size()) && !deadline.hasExpired())
        pump(20);
    Outcome outcome;
    outcome.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    outcome.exact = received == want;
    if (!outcome.exact) {
        qsizetype i = 0;
        while (i < received.size() && i < want.size() && received[i] == want[i])
            ++i;
        std::fprintf(stderr, "  differs at %lld of %lld (got %lld): got \"%s\" want \"%s\"\n",
                     static_cast<long long>(i), static_cast<long long>(want.size()),
                     static_cast<long long>(received.size()),
                     received.mid(i, 12).toUtf8().toHex().constData(), qPrintable(want.mid(i, 12)));
    }
    client.kill();
    client.waitForFinished();
    return outcome;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: DISPLAY=:N %s PATH/TO/x11_recorder [RUNS]\n", argv[0]);
        return 2;
    }
    const QString recorder = QString::fromLocal8Bit(argv[1]);
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    const QByteArray display = qgetenv("DISPLAY");

    graceOnly = argc > 4 && QByteArray(argv[4]) == "--grace-only";
    if (argc > 3 && QByteArray(argv[3]) == "--slow") {
        QString cjk;
        for (int i = 0; i < 450; ++i)
            cjk += QChar(0x4E00 + i * 7);
        std::printf("%-28s %6s %10s\n", "window (450 distinct CJK, 5 ms)", "exact", "seconds");
        const std::pair<const char *, QStringList> windows[] = {
            {"quick", {}},
            {"20 ms per key", {QStringLiteral("20")}},
            {"100 ms per key", {QStringLiteral("100")}},
            {"3 s stall at key 200", {QStringLiteral("--stall"), QStringLiteral("200"),
                                      QStringLiteral("3000")}},
        };
        for (const auto &[name, args] : windows) {
            int exact = 0;
            double seconds = 0;
            for (int i = 0; i < runs; ++i) {
                const Outcome o = typeOnce(recorder, display, cjk, 5, args);
                exact += o.exact;
                seconds += o.seconds;
            }
            std::printf("%-28s %3d/%d %10.2f\n", name, exact, runs, seconds / runs);
            std::fflush(stdout);
        }
        return 0;
    }

    QString mixed;
    const QString piece =
        QStringLiteral("The quick brown fox jumps over the lazy dog! 0123 Grüße Καλημέρα Съешь "
                       "日本語 👍🏽 e\u0301\n");
    while (mixed.size() < 500)
        mixed += piece;
    QString distinct;
    for (int i = 0; i < 300; ++i)
        distinct += QChar(0x4E00 + i * 3);

    QString prose;
    while (prose.size() < 500)
        prose += QStringLiteral("The quick brown fox jumps over the lazy dog, again and again. ");
    prose.truncate(500);

    std::printf("%-16s %8s %6s %10s %8s\n", "text", "delay", "chars", "chars/s", "exact");
    for (const auto &[name, text] : {std::pair{"ascii prose", prose}, std::pair{"mixed", mixed},
                                     std::pair{"300 distinct CJK", distinct}}) {
        for (double delay : {5.0, 30.0}) {
            const qsizetype n = clusters(text);
            int exact = 0;
            double seconds = 0;
            for (int i = 0; i < runs; ++i) {
                const Outcome o = typeOnce(recorder, display, text, delay);
                exact += o.exact;
                seconds += o.seconds;
            }
            QString prose;
            while (prose.size() < 500)
                prose += QStringLiteral(
                    "The quick brown fox jumps over the lazy dog, again and again. ");
            prose.truncate(500);

            std::printf("%-16s %6.0fms %6lld %10.1f %5d/%d\n", name, delay,
                        static_cast<long long>(n), double(n) * runs / seconds, exact, runs);
            std::fflush(stdout);
        }
    }
    return 0;
}
