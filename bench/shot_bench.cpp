// The screenshot mode: the whole run (fixture folders, store, eighteen pictures drawn, encoded and
// written, everything taken away again) beside drawing the same eighteen screens without encoding,
// both in one process on the offscreen platform, with where the time goes.
// Targets: the whole run under 10 s; encoding the pictures takes no longer than drawing them.
#include "diagnostics/shot/ShotFixtures.h"
#include "diagnostics/shot/ShotGenerator.h"
#include "diagnostics/shot/ShotStage.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>

namespace {

double ms(qint64 ns)
{
    return double(ns) / 1e6;
}

// Every screen in both looks, built and drawn as the run does it, but not encoded.
ShotGenerator::Timings drawOnly()
{
    ShotGenerator::Timings timings;
    const ShotFixtures::CreatedPaths created = ShotFixtures::makeFixtureDirs();
    {
        ShotStage stage(Platform::Settings::inMemory());
        ShotGenerator::drawAll(
            stage,
            [](const ShotGenerator::Screen& screen, const QString&, const QImage& image) {
                if (image.isNull())
                    std::fprintf(stderr, "%s could not be drawn\n", qPrintable(screen.stem));
            },
            &timings);
    }
    ShotFixtures::removeFixtureDirs(created);
    return timings;
}

} // namespace

int main(int argc, char** argv)
{
    // A home and settings of the benchmark's own: the run makes and removes folders there.
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toUtf8());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QElapsedTimer start;
    start.start();
    QApplication app(argc, argv);
    const qint64 application = start.nsecsElapsed();

    QString said;
    QTextStream out(&said);
    QTextStream err(&said);
    ShotGenerator::Timings run;
    QElapsedTimer clock;
    clock.start();
    ShotGenerator::runShot(out, err, home.filePath(QStringLiteral("shots")), &run);
    const qint64 whole = clock.nsecsElapsed();

    clock.restart();
    const ShotGenerator::Timings drawn = drawOnly();
    const qint64 drawing = clock.nsecsElapsed();

    const qint64 rendering = run.layout + run.paint;
    std::printf("whole --shot run: %.0f ms (target < 10000), plus %.0f ms for the application object\n",
                ms(whole), ms(application));
    std::printf(
        "  on the drawing thread: building the widgets %.0f ms, laying them out %.0f ms, painting %.0f ms, "
        "waiting for PNG encoding %.0f ms, writing %.0f ms, the rest (fonts, fixtures, store, clean-up) "
        "%.0f ms\n",
        ms(run.build), ms(run.layout), ms(run.paint), ms(run.encodeWait), ms(run.write),
        ms(whole - run.build - run.layout - run.paint - run.encodeWait - run.write));
    std::printf("  PNG encoding on the workers %.0f ms in all\n", ms(run.encode));
    std::printf(
        "  encoding the run waits for / rendering (layout + painting) = %.2f (target <= 1); all encoding / "
        "rendering = %.2f\n",
        double(run.encodeWait) / double(rendering), double(run.encode) / double(rendering));
    std::printf(
        "the same 18 screens drawn without encoding: %.0f ms (building %.0f, layout %.0f, painting %.0f); "
        "whole run / drawing only = %.2f\n",
        ms(drawing), ms(drawn.build), ms(drawn.layout), ms(drawn.paint), double(whole) / double(drawing));
    if (!said.endsWith(QStringLiteral("\n")) || said.count(u'\n') != 1)
        std::fprintf(stderr, "the run said: %s", qPrintable(said));
    return 0;
}
