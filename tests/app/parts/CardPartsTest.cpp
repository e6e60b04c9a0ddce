#include "app/design/FlowLayout.h"
#include "app/design/Vosk.h"
#include "app/design/VoskLabel.h"
#include "app/parts/AddressPill.h"
#include "app/parts/Alert.h"
#include "app/parts/ChangeBatch.h"
#include "app/parts/ContainerChip.h"
#include "app/parts/DialogAnswer.h"
#include "app/parts/IPPill.h"
#include "app/parts/ProjectStatusLine.h"
#include "app/parts/TroubleNotice.h"
#include "support/RecordingHost.h"
#include "support/TestSupport.h"
#include "support/Widgets.h"

#include <QAccessible>
#include <QApplication>
#include <QFontMetricsF>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace {

Container container(const QString& state, const QString& status, const QString& service = {})
{
    Container c;
    c.id = "id-web";
    c.name = "shop-web-1";
    c.state = state;
    c.status = status;
    if (!service.isEmpty())
        c.labels.insert(Docker::serviceLabel, service);
    return c;
}

class CardParts : public testing::Test {
protected:
    void SetUp() override { TestSupport::prepareWidgets(); }
    TestSupport::RecordingHost host;
};

struct PillRow {
    const char* port;
    bool live;
    bool enabled;
    const char* opens; // empty: nothing
    const char* tip;
};

class AddressPills : public CardParts, public testing::WithParamInterface<PillRow> {};

TEST_P(AddressPills, OpenOnlyARealAddressOfALiveContainer)
{
    const PillRow& row = GetParam();
    AddressPill pill(row.port, row.live);
    EXPECT_EQ(pill.isEnabled(), row.enabled);
    EXPECT_EQ(pill.symbol().isEmpty(), !row.live);
    EXPECT_EQ(pill.toolTip(), Vosk::toolTip(row.tip));
    pill.setEnabled(true); // even a forced press on a stopped container's pill opens nothing
    pill.click();
    if (QString(row.opens).isEmpty())
        EXPECT_TRUE(host.opened.isEmpty());
    else
        EXPECT_EQ(host.opened, QList<QUrl>{QUrl(row.opens)});
}

INSTANTIATE_TEST_SUITE_P(
    Ports, AddressPills,
    testing::Values(
        PillRow{"8080", true, true, "http://localhost:8080", "Open http://localhost:8080 in the browser"},
        PillRow{"5432", false, false, "", "Published on port 5432 once it is running"},
        PillRow{"8000-8001", true, true, "", "Open http://localhost:8000-8001 in the browser"},
        PillRow{"80/admin", true, true, "", "Open http://localhost:80/admin in the browser"},
        PillRow{"80@evil.example", true, true, "", "Open http://localhost:80@evil.example in the browser"}),
    [](const testing::TestParamInfo<PillRow>& info) { return "case" + std::to_string(info.index); });

TEST_F(CardParts, AnAddressPillFollowsItsContainerIntoRunning)
{
    AddressPill pill("8080", false);
    pill.setLive(true);
    EXPECT_TRUE(pill.isEnabled());
    EXPECT_EQ(pill.symbol(), "arrow.up.right");
    pill.click();
    EXPECT_EQ(host.opened, QList<QUrl>{QUrl("http://localhost:8080")});
}

TEST_F(CardParts, AnIPPillCopiesItsAddress)
{
    IPPill pill("192.168.64.3");
    pill.click();
    EXPECT_EQ(host.clipboard, "192.168.64.3");
    EXPECT_TRUE(pill.toolTip().contains("Copy 192.168.64.3"));
}

struct NoticeRow {
    Container c;
    const char* message;
};

TEST_F(CardParts, TroubleNoticesSayWhatWentWrongAndAskForTheLogsOfTheirContainer)
{
    const NoticeRow rows[] = {
        {container("running", "Up 5 minutes (unhealthy)", "web"), "web is failing its health check"},
        {container("exited", "Exited (137) 1 minute ago"), "shop-web-1 stopped with an error"},
    };
    for (const NoticeRow& row : rows) {
        TroubleNotice notice(row.c, Runtime::context("colima"), false);
        std::optional<Container> asked;
        std::optional<Runtime> runtime;
        QObject::connect(&notice, &TroubleNotice::logsRequested,
                         [&](const Container& c, const auto& r, bool) {
                             asked = c;
                             runtime = r;
                         });
        EXPECT_EQ(TroubleNotice::message(row.c), row.message);
        notice.findChild<QAbstractButton*>("viewLogsButton")->click();
        EXPECT_EQ(asked, row.c);
        EXPECT_EQ(runtime, Runtime::context("colima"));
    }
}

TEST_F(CardParts, ALongServiceNameStaysInsideItsCardOnChipAndNotice)
{
    // A failed container whose service name is longer than a card is wide.
    const QString service = "svc-" + QString(90, u'x');
    const Container failed = container("exited", "Exited (5) 1 minute ago", service);
    QWidget card;
    card.setFixedWidth(260);
    auto* column = new QVBoxLayout(&card);
    auto* chips = new QWidget;
    auto* flow = new FlowLayout(6, chips);
    auto* chip = new ContainerChip(failed);
    flow->addWidget(chip);
    flow->addWidget(new ContainerChip(container("running", "Up 2 hours", "db")));
    column->addWidget(chips);
    auto* notice = new TroubleNotice(failed, std::nullopt, false);
    column->addWidget(notice);
    card.show();
    QCoreApplication::processEvents();

    EXPECT_LE(chip->geometry().right(), chips->width());
    EXPECT_TRUE(chip->shownLabel().contains(u'\u2026')) << chip->shownLabel().toStdString();
    EXPECT_LE(QFontMetricsF(chip->font()).horizontalAdvance(chip->shownLabel()), chip->width());

    // Two lines, the second ending in the ellipsis; the first starts with the name, not somewhere in it.
    const auto* message = notice->findChild<VoskLabel*>();
    const QStringList lines = message->cappedLines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(QString(lines[0]).remove(QChar(0x200B)).startsWith("svc-x")) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].endsWith(u'\u2026'));
    EXPECT_LE(notice->geometry().right(), card.width());
    EXPECT_LE(notice->findChild<QWidget*>("viewLogsButton")->geometry().right(), notice->width());
}

TEST_F(CardParts, ANoticesMessageSitsCentredOnItsButtonOnOneLineOrTwo)
{
    for (const QString& service : {QStringLiteral("web"), "svc-" + QString(60, u'x')}) {
        QWidget card;
        card.setFixedWidth(300);
        auto* column = new QVBoxLayout(&card);
        auto* notice =
            new TroubleNotice(container("exited", "Exited (1) 1 minute ago", service), std::nullopt, false);
        column->addWidget(notice);
        card.show();
        QCoreApplication::processEvents();

        // Where the message's ink is, left of the button.
        const QImage image = notice->grab().toImage();
        const QRect button = notice->findChild<QWidget*>("viewLogsButton")->geometry();
        const QColor ink = Vosk::errInk.color();
        int top = image.height();
        int bottom = -1;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 8; x < button.left() - 4; ++x) {
                const QColor seen = image.pixelColor(x, y);
                if (std::abs(seen.red() - ink.red()) + std::abs(seen.green() - ink.green()) +
                        std::abs(seen.blue() - ink.blue()) <
                    90) {
                    top = std::min(top, y);
                    bottom = std::max(bottom, y);
                }
            }
        ASSERT_GE(bottom, top) << service.toStdString();
        EXPECT_NEAR((top + bottom) / 2.0, (button.top() + button.bottom()) / 2.0, 1.5)
            << service.toStdString();
    }
}

TEST_F(CardParts, AChipIsNamedByItsServiceAndToldWithItsStatus)
{
    ContainerChip chip(container("exited", "Exited (137) 1 minute ago", "db"));
    QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(&chip);
    ASSERT_NE(spoken, nullptr);
    EXPECT_EQ(spoken->text(QAccessible::Name), "db, Exited (137) 1 minute ago");
    EXPECT_EQ(spoken->childCount(), 0);
    EXPECT_EQ(chip.toolTip(), Vosk::toolTip("shop-web-1 \u00B7 Exited (137) 1 minute ago"));
    const int troubledWidth = chip.sizeHint().width();
    chip.setContainer(container("exited", "Exited (0) 1 minute ago", "db"));
    // The regular face of a resting chip is narrower than the medium one of a chip in trouble.
    EXPECT_LT(chip.sizeHint().width(), troubledWidth);
}

ComposeProject project(const std::optional<QString>& dir, const QList<Container>& containers)
{
    ComposeProject p;
    p.name = "shop";
    p.workingDir = dir;
    p.containers = containers;
    return p;
}

TEST_F(CardParts, TheStatusLineCountsTroubleAndShowsWhatTheFolderHolds)
{
    using Folder = ProjectStatusLine::Folder;
    const QList<Container> three{container("running", "Up 2 hours (unhealthy)"),
                                 container("running", "Up 2 hours"),
                                 container("exited", "Exited (1) 1 minute ago")};
    struct Row {
        ComposeProject project;
        std::optional<Folder> folder;
        const char* text;
        std::optional<QString> badge;
        const char* badgeTip;
    } rows[] = {
        {project("/srv/ready", three), Folder::ready, "2 of 3 running \u00B7 1 unhealthy \u00B7 1 failed",
         std::nullopt, ""},
        {project("/srv/bare", three), Folder::noComposeFile,
         "2 of 3 running \u00B7 1 unhealthy \u00B7 1 failed", "No compose file",
         "Nothing here for compose to read"},
        {project("/srv/gone", {}), Folder::missing, "Not running", "Dir missing", "Nothing to act on"},
        {project(std::nullopt, three), Folder::missing, "2 of 3 running \u00B7 1 unhealthy \u00B7 1 failed",
         "Dir missing", "compose needs the project directory"},
        {project("/srv/ready", {container("exited", "Exited (0) 3 hours ago")}), Folder::ready, "Stopped",
         std::nullopt, ""},
        // Not looked at yet: no word about the folder either way.
        {project("/srv/slow", three), std::nullopt, "2 of 3 running \u00B7 1 unhealthy \u00B7 1 failed",
         std::nullopt, ""},
    };
    ProjectStatusLine line(rows[0].project, rows[0].folder);
    for (const Row& row : rows) {
        line.setProject(row.project, row.folder);
        EXPECT_EQ(line.text(), row.text);
        EXPECT_EQ(line.badge(), row.badge) << row.text;
        if (row.badge) {
            EXPECT_TRUE(line.findChild<QWidget*>("folderBadge")->toolTip().contains(row.badgeTip));
        }
    }
}

TEST_F(CardParts, AStatusLineTooLongForItsCardEndsInAnEllipsisInsteadOfCuttingEveryWord)
{
    const QList<Container> three{container("running", "Up 2 hours (unhealthy)"),
                                 container("running", "Up 2 hours"),
                                 container("exited", "Exited (1) 1 minute ago")};
    const QString full = "2 of 3 running \u00B7 1 unhealthy \u00B7 1 failed";
    QWidget card;
    auto* column = new QVBoxLayout(&card);
    column->setContentsMargins(0, 0, 0, 0);
    auto* line = new ProjectStatusLine(project(std::nullopt, three));
    column->addWidget(line);
    card.show();
    for (const int width : {600, 250, 160, 120, 60}) {
        card.resize(width, 40);
        QCoreApplication::processEvents();
        const auto* runs = line->findChild<QWidget*>("statusRuns");
        const QString shown = line->shownText();
        EXPECT_LE(QFontMetricsF(runs->font()).horizontalAdvance(shown), runs->width()) << width;
        EXPECT_LE(runs->geometry().right(), line->width()) << width;
        if (QFontMetricsF(runs->font()).horizontalAdvance(full) <= runs->width()) {
            EXPECT_EQ(shown, full) << width;
        } else {
            ASSERT_TRUE(shown.endsWith(u'\u2026')) << width << " " << shown.toStdString();
            EXPECT_TRUE(full.startsWith(shown.chopped(1))) << shown.toStdString();
        }
    }
    EXPECT_EQ(line->text(), full);
}

TEST_F(CardParts, ManySignalsInOneTurnApplyOnce)
{
    int applied = 0;
    QObject owner;
    ChangeBatch batch(&owner, [&] { ++applied; });
    batch.schedule();
    batch.schedule();
    batch.schedule();
    EXPECT_EQ(applied, 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(applied, 1);
    QCoreApplication::processEvents();
    EXPECT_EQ(applied, 1);
}

TEST_F(CardParts, AnAlertAnswersWithTheButtonReturnPressesAndEscapeCancels)
{
    QWidget window;
    const auto ask = [&](auto press) {
        auto* alert = new Alert("Commit web", "Saves it.", &window);
        QLineEdit* field = alert->addField("repository:tag", "referenceField");
        alert->addButton("Cancel", VoskButtonStyle::Variant::quiet, QDialog::Rejected, "cancelButton");
        alert->addButton("Commit", VoskButtonStyle::Variant::accent, QDialog::Accepted, "commitButton", true);
        QTimer::singleShot(0, alert, [=] { press(alert, field); });
        const int answer = QCoro::waitFor(answerOf(alert));
        delete alert;
        return answer;
    };
    EXPECT_EQ(ask([](Alert*, QLineEdit* field) { QTest::keyClick(field, Qt::Key_Return); }),
              QDialog::Accepted);
    EXPECT_EQ(ask([](Alert* alert, QLineEdit*) { QTest::keyClick(alert, Qt::Key_Escape); }),
              QDialog::Rejected);
}

TEST_F(CardParts, AnAlertKeepsItsWidthWhateverTheNamesInIt)
{
    const QString name = "wkc-" + QString(150, u'a');
    struct Row {
        QString title;
        QString message;
    };
    const Row rows[] = {
        {"Commit " + name, "Saves the container's filesystem as a new image."},
        {"Remove what cannot be brought back?", name + ", " + name + ". Nothing recreates these."},
        {"The text could not be saved to \u201C/tmp/" + name + "/" + name + ".log\u201D.",
         "No such file or directory"},
        {"Down shop?", "Stops and removes the project's containers."},
    };
    for (const Row& row : rows) {
        QWidget window;
        auto* alert = new Alert(row.title, row.message, &window);
        alert->addButton("Cancel", VoskButtonStyle::Variant::quiet, QDialog::Rejected, "cancelButton");
        alert->addButton("Commit", VoskButtonStyle::Variant::accent, QDialog::Accepted, "commitButton", true);
        alert->show();
        QCoreApplication::processEvents();
        EXPECT_EQ(alert->size().width(), Alert::width) << row.title.toStdString();
        for (const char* part : {"alertTitle", "alertMessage"}) {
            const auto* label = alert->findChild<VoskLabel*>(part);
            EXPECT_GE(label->height(), label->heightForWidth(label->width())) << part;
            EXPECT_LE(label->geometry().right(), alert->size().width()) << part;
        }
        EXPECT_EQ(alert->findChild<VoskLabel*>("alertTitle")->plainText(), row.title);
        // Its title bar, as narrow as the alert, holds the application's name rather than a cut title.
        EXPECT_EQ(alert->windowTitle(), "") << row.title.toStdString();
        EXPECT_EQ(alert->accessibleName(), row.title);
        // Words of a sentence still wrap whole.
        EXPECT_FALSE(alert->findChild<VoskLabel*>("alertMessage")->text().contains(u"Nothing\u200B"));
        EXPECT_LE(alert->findChild<QWidget*>("commitButton")->geometry().right(), alert->size().width());
    }
}

} // namespace
