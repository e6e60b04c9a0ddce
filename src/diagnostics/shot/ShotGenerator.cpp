#include "diagnostics/shot/ShotGenerator.h"

#include "app/design/Fonts.h"
#include "app/design/PreviewChrome.h"
#include "app/design/Theme.h"
#include "app/design/Vosk.h"
#include "diagnostics/Output.h"
#include "diagnostics/shot/ShotFixtures.h"
#include "diagnostics/shot/ShotPanes.h"
#include "diagnostics/shot/ShotPng.h"
#include "diagnostics/shot/ShotStage.h"

#include <QAbstractScrollArea>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPainter>
#include <QTemporaryFile>
#include <QThread>
#include <QThreadPool>
#include <QWidget>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <optional>

namespace ShotGenerator {

namespace {

constexpr qreal scale = 2;

// Adds the time since it was made to one of the run's figures when it goes.
class Stopwatch {
public:
    Stopwatch(Timings* timings, qint64 Timings::*figure) : m_timings(timings), m_figure(figure)
    {
        m_timer.start();
    }
    ~Stopwatch()
    {
        if (m_timings)
            m_timings->*m_figure += m_timer.nsecsElapsed();
    }

private:
    Timings* m_timings;
    qint64 Timings::*m_figure;
    QElapsedTimer m_timer;
};

Screen mainScreen(const char* stem, QSize points, Category category, bool banner, bool narrow)
{
    return {QString::fromLatin1(stem), points, true,
            [=](ShotStage& stage) { return ShotPanes::screen(stage.store(), category, banner, narrow); }};
}

struct Encoded {
    std::optional<QByteArray> data; // none when the image could not be encoded
    qint64 nanoseconds = 0;
};

Encoded encode(const QImage& image)
{
    QElapsedTimer clock;
    clock.start();
    Encoded encoded;
    encoded.data = ShotPng::encode(image);
    encoded.nanoseconds = clock.nsecsElapsed();
    return encoded;
}

// Written to a new file beside the picture's path and renamed over it, so whatever sits at the path
// (an older picture, a link someone left there) is replaced, never written through.
bool writeFile(const QString& path, const QByteArray& data)
{
    const QFileInfo target(path);
    QTemporaryFile file(target.absolutePath() + QStringLiteral("/.") + target.fileName() +
                        QStringLiteral(".XXXXXX"));
    if (!file.open() || file.write(data) != data.size() || !file.flush())
        return false;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                        QFileDevice::ReadOther);
    if (std::rename(QFile::encodeName(file.fileName()).constData(), QFile::encodeName(path).constData()) != 0)
        return false;
    file.setAutoRemove(false);
    return true;
}

// Encoding a picture takes longer than drawing it, so finished pictures are encoded on worker threads
// while the next one is drawn. Files are still written here, one at a time and in the
// order the pictures were drawn, and at most a few pictures wait in memory at once.
class Pipeline {
public:
    Pipeline(QTextStream& out, Timings* timings) : m_out(out), m_timings(timings)
    {
        m_pool.setMaxThreadCount(std::clamp(QThread::idealThreadCount() - 1, 1, 4));
    }
    ~Pipeline() { finish(); }

    // A null image is reported as not drawn when its turn to be written comes.
    void add(const QImage& image, const QString& path)
    {
        m_pending.push_back({path, QtConcurrent::run(&m_pool, encode, image)});
        while (m_pending.size() > std::size_t(m_pool.maxThreadCount()))
            writeFirst();
    }

    void finish()
    {
        while (!m_pending.empty())
            writeFirst();
    }

    int failures() const { return m_failures; }

private:
    struct Pending {
        QString path;
        QFuture<Encoded> encoded;
    };

    void writeFirst()
    {
        Pending next = std::move(m_pending.front());
        m_pending.pop_front();
        Encoded encoded;
        {
            Stopwatch clock(m_timings, &Timings::encodeWait);
            encoded = next.encoded.result();
        }
        if (m_timings)
            m_timings->encode += encoded.nanoseconds;
        if (!encoded.data) {
            ++m_failures;
            Diagnostics::printLine(m_out, QStringLiteral("render failed: ") + next.path);
            return;
        }
        Stopwatch clock(m_timings, &Timings::write);
        if (!writeFile(next.path, *encoded.data)) {
            ++m_failures;
            Diagnostics::printLine(m_out, QStringLiteral("write failed: ") + next.path);
        }
    }

    QTextStream& m_out;
    Timings* m_timings;
    QThreadPool m_pool;
    std::deque<Pending> m_pending;
    int m_failures = 0;
};

} // namespace

const QList<Screen>& screens()
{
    static const QList<Screen> list{
        mainScreen("projects", {1080, 1480}, Category::projects, true, false),
        mainScreen("projects-clean", {1080, 1340}, Category::projects, false, false),
        mainScreen("containers", {1080, 1340}, Category::containers, false, false),
        {QStringLiteral("project"),
         {870, 620},
         true,
         [](ShotStage& stage) { return ShotPanes::projectDetail(stage.store()); }},
        mainScreen("projects-narrow", {640, 2040}, Category::projects, false, true),
        {QStringLiteral("delete"),
         {560, 470},
         true,
         [](ShotStage& stage) { return ShotPanes::deleteSheet(stage.store()); }},
        {QStringLiteral("reclaim"),
         {560, 600},
         true,
         [](ShotStage& stage) { return ShotPanes::reclaimSheet(stage.store()); }},
        {QStringLiteral("tools"),
         {480, 660},
         false,
         [](ShotStage& stage) { return ShotPanes::toolsPane(stage.settings(), stage.preferences(), true); }},
        {QStringLiteral("tools-unknown"),
         {480, 470},
         false,
         [](ShotStage& stage) { return ShotPanes::toolsPane(stage.settings(), stage.preferences(), false); }},
    };
    return list;
}

const QStringList& looks()
{
    static const QStringList names{QStringLiteral("light"), QStringLiteral("dark")};
    return names;
}

QString path(const QString& dir, const QString& stem, const QString& look)
{
    return dir + u'/' + stem + u'-' + look + QStringLiteral(".png");
}

std::unique_ptr<QWidget> build(const Screen& screen, ShotStage& stage, Timings* timings)
{
    Stopwatch clock(timings, &Timings::build);
    std::unique_ptr<QWidget> widget = screen.make(stage);
    widget->setFixedSize(screen.points);
    if (screen.previewChrome)
        setVoskPreviewChrome(widget.get(), true);
    // A picture cannot be scrolled: a bar would only take width from the content.
    for (QAbstractScrollArea* area : widget->findChildren<QAbstractScrollArea*>())
        area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Views that gather several store changes into one redraw do so on the next turn.
    QCoreApplication::sendPostedEvents();
    return widget;
}

QImage render(QWidget& widget, Timings* timings)
{
    {
        // Drawing one pixel lays the hidden widgets out, so the full drawing below is painting only.
        Stopwatch clock(timings, &Timings::layout);
        QImage probe(1, 1, QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&probe);
        widget.render(&painter, {}, QRegion(0, 0, 1, 1));
    }
    Stopwatch clock(timings, &Timings::paint);
    // Every screen is opaque, so no alpha channel: a quarter less to encode.
    QImage image(widget.size() * scale, QImage::Format_RGB32);
    if (image.isNull())
        return image;
    image.setDevicePixelRatio(scale);
    image.fill(Vosk::page.color());
    QPainter painter(&image);
    widget.render(&painter);
    painter.end();
    return image;
}

void drawAll(ShotStage& stage,
             const std::function<void(const Screen&, const QString& look, const QImage&)>& take,
             Timings* timings)
{
    for (const QString& look : looks()) {
        Theme::instance().setAppearance(look == QLatin1String("dark") ? Appearance::dark : Appearance::light);
        for (const Screen& screen : screens()) {
            const std::unique_ptr<QWidget> widget = build(screen, stage, timings);
            take(screen, look, render(*widget, timings));
        }
    }
    Theme::instance().setAppearance(Appearance::automatic);
}

std::optional<QString> folderProblem(const QString& dir)
{
    if (dir.isEmpty())
        return QStringLiteral("no folder was given");
    const QFileInfo folder(dir);
    if (folder.exists()) {
        if (!folder.isDir())
            return QStringLiteral("it is a file, not a folder");
        if (!folder.isWritable())
            return QStringLiteral("it cannot be written to");
        return std::nullopt;
    }
    // Nothing is made yet: the nearest folder that is there must take the missing ones.
    QFileInfo above(folder.absolutePath());
    while (!above.exists() && !above.isRoot())
        above = QFileInfo(above.absolutePath());
    if (!above.isDir() || !above.isWritable())
        return QStringLiteral("it cannot be created");
    return std::nullopt;
}

bool runShot(QTextStream& out, QTextStream& err, const QString& dir, Timings* timings)
{
    // Pictures of missing folders would show every card "DIR MISSING": nothing is drawn then.
    const ShotFixtures::CreatedPaths created = ShotFixtures::makeFixtureDirs();
    if (created.failure) {
        ShotFixtures::removeFixtureDirs(created);
        err << QStringLiteral("voskel: cannot make \"%1\", which the shots show.\n")
                   .arg(Diagnostics::visible(*created.failure));
        err.flush();
        return false;
    }
    registerBundledFonts();
    Theme::instance().install(false);
    // On a machine where the application never ran, the suite's folder is the run's own as well.
    const bool settingsFolderMade = !QFileInfo::exists(ShotStage::settingsFolder());
    int failures = 0;
    {
        ShotStage stage;
        // Made only now, so a run that ends early leaves no folder behind. Gone or unmakeable since it
        // was checked, it shows up as one failed write per picture.
        QDir().mkpath(dir);
        Pipeline pictures(out, timings);
        drawAll(
            stage,
            [&](const Screen& screen, const QString& look, const QImage& image) {
                pictures.add(image, path(dir, screen.stem, look));
            },
            timings);
        pictures.finish();
        failures = pictures.failures();
    }
    ShotStage::removeSuite(settingsFolderMade);
    const qsizetype total = looks().size() * screens().size();
    Diagnostics::printLine(out, failures == 0
                                    ? QStringLiteral("shots written to ") + dir
                                    : QStringLiteral("%1 of %2 shots could not be written to %3")
                                          .arg(QString::number(failures), QString::number(total), dir));
    ShotFixtures::removeFixtureDirs(created);
    return failures == 0;
}

} // namespace ShotGenerator
