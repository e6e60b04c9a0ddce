#pragma once

#include <QImage>
#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QTextStream;
class QWidget;
class ShotStage;

// Pictures of the application's screens drawn from fixture data: nine screens, each once in the
// light and once in the dark look, written as PNG files at twice their size in points. Runs on the
// GUI thread of an application object, starts no child and asks no engine.
namespace ShotGenerator {

// Where the time of a run goes, in nanoseconds, summed over every picture.
struct Timings {
    qint64 build = 0;      // making the widgets over the store
    qint64 layout = 0;     // their first layout pass
    qint64 paint = 0;      // drawing them into an image
    qint64 encode = 0;     // making the PNG data, on worker threads
    qint64 encodeWait = 0; // what of that the drawing thread still had to wait for
    qint64 write = 0;      // putting it on disk
};

struct Screen {
    QString stem;
    QSize points;
    bool previewChrome;
    std::function<std::unique_ptr<QWidget>(ShotStage&)> make;
};

// The screens in the order they are written.
const QList<Screen>& screens();
// The looks, light first; their names end the file names.
const QStringList& looks();
// "<dir>/<stem>-<look>.png", put together as written: a directory ending in "/" gives "//".
QString path(const QString& dir, const QString& stem, const QString& look);

// Makes the screen's widgets over the stage, at its size, with its preview switch.
std::unique_ptr<QWidget> build(const Screen& screen, ShotStage& stage, Timings* timings = nullptr);
// Draws the widget at twice its size; a null image when it could not be drawn.
QImage render(QWidget& widget, Timings* timings = nullptr);

// Builds and draws every screen over the stage in each look, light first and the screens in order,
// handing each picture to `take` while its widgets still exist; afterwards the look follows the desktop
// again. A picture that could not be drawn is handed over as a null image.
void drawAll(ShotStage& stage,
             const std::function<void(const Screen&, const QString& look, const QImage&)>& take,
             Timings* timings = nullptr);

// Why no picture could be written into `dir`, or none when it can hold them; a missing folder counts
// when the nearest folder above it that exists can take it. Makes nothing. An empty text is no folder:
// its pictures would land in the root of the file system.
std::optional<QString> folderProblem(const QString& dir);

// The whole mode: fixture folders and store, every screen in both looks into `dir` (made when
// missing), then everything the run made or changed put back (the look, the settings suite, the
// folders it made). Prints one line per picture that failed, then "shots written to <dir>" when every
// picture was written, or how many were not; true when every picture was written. A fixture folder
// that cannot be made is named on `err` before anything is drawn, and the run ends there, false,
// having taken away what it made.
bool runShot(QTextStream& out, QTextStream& err, const QString& dir, Timings* timings = nullptr);

} // namespace ShotGenerator
