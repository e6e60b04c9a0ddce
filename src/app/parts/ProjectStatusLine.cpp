#include "app/parts/ProjectStatusLine.h"

#include "app/design/TextStyle.h"
#include "app/design/Theme.h"
#include "app/design/Vosk.h"
#include "app/design/VoskBadge.h"

#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QPainter>

#include <cmath>

namespace {

const QString separator = QStringLiteral(" \u00B7 ");

QString joined(const QList<ProjectStatusLine::Run>& runs)
{
    QString line;
    for (const ProjectStatusLine::Run& run : runs)
        line += run.text;
    return line;
}

} // namespace

// The status and its counts on one line, each in its colour. One painted line rather than a label per
// piece: squeezed labels would each lose the end of their words with nothing to show it, where the
// line as a whole ends in "…".
class ProjectStatusLine::Runs final : public QWidget {
public:
    explicit Runs(QWidget* parent) : QWidget(parent)
    {
        setFont(TextStyles::label.font());
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        connect(&Theme::instance(), &Theme::lookChanged, this, qOverload<>(&QWidget::update));
    }

    void setRuns(const QList<Run>& runs)
    {
        if (runs == m_runs)
            return;
        const bool resized = joined(runs) != text();
        m_runs = runs;
        setAccessibleName(text());
        if (resized)
            updateGeometry();
        update();
    }

    QString text() const { return joined(m_runs); }
    QString shown() const { return joined(fit(m_runs, font(), width())); }

    QSize sizeHint() const override
    {
        const QFontMetricsF metrics(font());
        return {int(std::ceil(metrics.horizontalAdvance(text()))), int(std::ceil(metrics.height()))};
    }

    QSize minimumSizeHint() const override
    {
        const QFontMetricsF metrics(font());
        return {int(std::ceil(metrics.horizontalAdvance(QStringLiteral("\u2026")))),
                int(std::ceil(metrics.height()))};
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const QFontMetricsF metrics(font());
        const double baseline = (height() - metrics.height()) / 2 + metrics.ascent();
        double x = 0;
        for (const Run& run : fit(m_runs, font(), width())) {
            painter.setPen(run.ink->color());
            painter.drawText(QPointF(x, baseline), run.text);
            x += metrics.horizontalAdvance(run.text);
        }
    }

private:
    QList<Run> m_runs;
};

QList<ProjectStatusLine::Run> ProjectStatusLine::fit(const QList<Run>& runs, const QFont& font, double width)
{
    const QFontMetricsF metrics(font);
    QList<Run> fitted;
    double used = 0;
    for (const Run& run : runs) {
        const double advance = metrics.horizontalAdvance(run.text);
        if (used + advance <= width) {
            fitted << run;
            used += advance;
            continue;
        }
        // This run ends the line, cut to what is left with room for the ellipsis.
        const QString cut = metrics.elidedText(run.text, Qt::ElideRight, width - used);
        if (!cut.isEmpty())
            fitted << Run{cut, run.ink};
        else if (!fitted.isEmpty() && !fitted.last().text.endsWith(u'\u2026'))
            fitted.last().text =
                metrics.elidedText(fitted.last().text + u'\u2026', Qt::ElideRight,
                                   width - used + metrics.horizontalAdvance(fitted.last().text));
        break;
    }
    return fitted;
}

ProjectStatusLine::ProjectStatusLine(const ComposeProject& project, std::optional<Folder> folder,
                                     QWidget* parent)
    : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    m_runs = new Runs(this);
    m_runs->setObjectName(QStringLiteral("statusRuns"));
    row->addWidget(m_runs, 0, Qt::AlignVCenter);
    row->addSpacing(7);
    m_badge = new VoskBadge(QString(), Vosk::badgeFill, Vosk::badgeInk, this);
    m_badge->setObjectName(QStringLiteral("folderBadge"));
    row->addWidget(m_badge);
    row->addStretch(1);
    setProject(project, folder);
}

ProjectStatusLine::Counts ProjectStatusLine::counts(const ComposeProject& project)
{
    Counts counts;
    for (const Container& c : project.containers) {
        if (c.state == u"running" && c.status.contains(u"(unhealthy)"))
            ++counts.unhealthy;
        else if (c.isFailed())
            ++counts.failed;
    }
    return counts;
}

void ProjectStatusLine::setProject(const ComposeProject& project, std::optional<Folder> folder,
                                   const std::optional<QString>& unlisted)
{
    QList<Run> runs;
    QString tip;
    if (unlisted) {
        runs << Run{*unlisted, &Vosk::muted};
        tip = QStringLiteral("What runs of it is not known until its runtime answers a listing.");
    } else {
        runs << Run{project.statusText(), project.runningCount() >= 1 ? &Vosk::success : &Vosk::muted};
        const Counts counted = counts(project);
        // Each count after a separator, when there is something to count.
        for (const auto& [count, word] :
             {std::pair{counted.unhealthy, "unhealthy"}, std::pair{counted.failed, "failed"}}) {
            if (count > 0)
                runs << Run{separator, &Vosk::muted}
                     << Run{QString::number(count) + u' ' + QLatin1StringView(word), &Vosk::danger};
        }
        tip = project.containers.isEmpty()
                  ? QStringLiteral("No containers. Start creates them from the compose file.")
                  : project.statusText();
    }
    m_runs->setRuns(runs);
    tip = Vosk::toolTip(tip);
    if (m_runs->toolTip() != tip)
        m_runs->setToolTip(tip);

    if (!folder) {
        m_badge->hide();
        return;
    }
    QString badgeTip;
    switch (*folder) {
    case Folder::ready:
        m_badge->hide();
        return;
    case Folder::noComposeFile:
        m_badge->setText(QStringLiteral("No compose file"));
        m_badge->setColors(Vosk::errFill, Vosk::errInk);
        badgeTip =
            QStringLiteral("Nothing here for compose to read, and it would search the parent directories. "
                           "Start and Stop still work on the containers.");
        break;
    case Folder::missing:
        m_badge->setText(QStringLiteral("Dir missing"));
        m_badge->setColors(Vosk::badgeFill, Vosk::badgeInk);
        badgeTip =
            project.containers.isEmpty()
                ? QStringLiteral(
                      "Nothing to act on: no containers, and the directory compose would need is gone")
                : QStringLiteral("compose needs the project directory; Start and Stop still work on the "
                                 "containers");
        break;
    }
    if (m_badge->toolTip() != Vosk::toolTip(badgeTip))
        m_badge->setToolTip(Vosk::toolTip(badgeTip));
    m_badge->show();
}

QString ProjectStatusLine::text() const
{
    return m_runs->text();
}

QString ProjectStatusLine::shownText() const
{
    return m_runs->shown();
}

std::optional<QString> ProjectStatusLine::badge() const
{
    if (m_badge->isHidden())
        return std::nullopt;
    return m_badge->text();
}
