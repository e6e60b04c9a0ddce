// The command sheet's transcript under a chatty command, on the offscreen platform: 5 MB of output in
// 4 KB chunks appended to the transcript, beside the same chunks appended to a bare QPlainTextEdit in
// the same run. Both are shown, and the event loop turns after every chunk, so layout and painting are
// part of the cost, as they are on screen.
//
// Figures: the GUI thread's processor time per MB of each, their ratio (target: at most 1.5), and the
// resident memory each adds (target for the transcript: flat once the bound is reached, measured as
// the growth between the half-way point and the end). Done for plain log lines and for lines with
// accented letters and flags, which take the slower way of counting characters.
#include "app/design/Fonts.h"
#include "app/design/TextStyle.h"
#include "app/design/Theme.h"
#include "sheets/Transcript.h"

#include <QApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QScrollBar>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <optional>
#include <vector>

namespace {

constexpr qsizetype totalChars = 5 * 1024 * 1024;
constexpr qsizetype chunkChars = 4096;

double threadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// Resident memory in MB.
double residentMb()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1
               ? double(fields[1].toLongLong()) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0)
               : 0;
}

std::vector<QString> chunksOf(bool international)
{
    QString text;
    text.reserve(totalChars + 200);
    for (int i = 0; text.size() < totalChars; ++i) {
        if (international)
            text +=
                QStringLiteral(u"#%1 café résumé naïve \U0001F1E9\U0001F1EA step %2 of the build: déjà vu\n")
                    .arg(i)
                    .arg(i % 97);
        else
            text += QStringLiteral(
                        "#%1 Step %2/40 : RUN apt-get install -y build-essential ca-certificates curl\n")
                        .arg(i)
                        .arg(i % 40);
    }
    text.truncate(totalChars);
    std::vector<QString> chunks;
    for (qsizetype at = 0; at < text.size(); at += chunkChars)
        chunks.push_back(text.mid(at, chunkChars));
    return chunks;
}

struct Run {
    double seconds = 0;
    double addedMb = 0;      // resident memory added over the whole run
    double secondHalfMb = 0; // of which in the second half
};

Run feed(QWidget& widget, const std::vector<QString>& chunks,
         const std::function<void(const QString&)>& append)
{
    widget.resize(700, 370);
    widget.show();
    QApplication::processEvents();
    const double startMb = residentMb();
    double halfMb = startMb;
    double peakMb = startMb;
    const double start = threadSeconds();
    for (size_t i = 0; i < chunks.size(); ++i) {
        append(chunks[i]);
        QApplication::processEvents();
        if (i % 16 == 0)
            peakMb = std::max(peakMb, residentMb());
        if (i == chunks.size() / 2)
            halfMb = residentMb();
    }
    Run run;
    run.seconds = threadSeconds() - start;
    peakMb = std::max(peakMb, residentMb());
    run.addedMb = peakMb - startMb;
    run.secondHalfMb = residentMb() - halfMb;
    widget.hide();
    return run;
}

Run transcriptRun(const std::vector<QString>& chunks)
{
    Transcript transcript(true);
    return feed(transcript, chunks, [&](const QString& chunk) { transcript.append(chunk); });
}

// A bare widget: Qt's default face, or with `face` the transcript's own (shaped as Qt shapes it).
Run bareRun(const std::vector<QString>& chunks, const std::optional<QFont>& face = std::nullopt)
{
    QPlainTextEdit bare;
    bare.setReadOnly(true);
    bare.setUndoRedoEnabled(false);
    if (face)
        bare.setFont(*face);
    return feed(bare, chunks, [&](const QString& chunk) {
        bare.moveCursor(QTextCursor::End);
        bare.insertPlainText(chunk);
        bare.verticalScrollBar()->setValue(bare.verticalScrollBar()->maximum());
    });
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    registerBundledFonts();
    Theme::instance().install(false);

    const double mb = double(totalChars) / (1024.0 * 1024.0);
    for (const bool international : {false, true}) {
        const std::vector<QString> chunks = chunksOf(international);
        // The transcript first: the bare widget's document is larger, and memory it gave back could
        // otherwise look like the transcript's own.
        const Run ours = transcriptRun(chunks);
        const Run bare = bareRun(chunks);
        const Run sameFace = bareRun(chunks, TextStyles::transcript.font());
        std::printf(
            "transcript, %s lines, 5 MB in 4 KB chunks: %.1f ms per MB on the GUI thread (bare "
            "QPlainTextEdit %.1f ms per MB): ratio %.2f (target <= 1.5); bare in the transcript's face "
            "%.1f ms per MB, ratio %.2f\n",
            international ? "accented" : "plain", ours.seconds * 1000 / mb, bare.seconds * 1000 / mb,
            ours.seconds / bare.seconds, sameFace.seconds * 1000 / mb, ours.seconds / sameFace.seconds);
        std::printf(
            "  memory added: transcript %.1f MB (%.1f MB in its second half), bare %.1f MB (%.1f MB in "
            "its second half)\n",
            ours.addedMb, ours.secondHalfMb, bare.addedMb, bare.secondHalfMb);
    }
    return 0;
}
