#include "sheets/ReclaimView.h"

#include "app/design/Vosk.h"
#include "app/design/VoskLabel.h"
#include "app/parts/Alert.h"
#include "platform/ByteCount.h"
#include "sheets/ReclaimButton.h"
#include "sheets/ReclaimContent.h"
#include "sheets/ReclaimHeader.h"
#include "sheets/ReclaimWarning.h"
#include "sheets/SheetHost.h"
#include "sheets/SheetTesting.h"
#include "store/StoreFixture.h"

#include <QLabel>
#include <QStackedWidget>

namespace {

using namespace StoreTesting;
using namespace SheetTesting;
using Kind = Reclaimable::Kind;
using Recovery = Reclaimable::Recovery;

Reclaimable item(Kind kind, const QString& name, qint64 bytes, Recovery recovery,
                 const std::optional<QString>& note = std::nullopt,
                 const std::optional<QString>& project = std::nullopt)
{
    Reclaimable r;
    r.kind = kind;
    r.ref = kind == Kind::BuildCache ? QString() : "ref-" + name;
    r.name = name;
    r.bytes = bytes;
    r.recovery = recovery;
    r.note = note;
    r.project = project;
    r.runtime = alpha;
    return r;
}

// Two of each kind but the build cache, with every way back among them.
DiskUsage fixtureUsage()
{
    DiskUsage usage;
    usage.total = 90'000'000;
    usage.containerSize = {{"shop-web-1", 1'000}, {"shop-db-1", 4'000}};
    usage.volumeSize = {{"shop_data", 7'000'000}};
    usage.mounts = {{"shop-db-1", {"shop_data"}}};
    usage.candidates = {
        item(Kind::Container, "shop-web-1", 1'000, Recovery::Restorable, std::nullopt, "shop"),
        item(Kind::Container, "scratch", 2'000, Recovery::Gone, "not in a project"),
        item(Kind::Image, "nginx:1", 5'000'000, Recovery::Restorable),
        item(Kind::Image, "app:dev", 3'000'000, Recovery::NeedsSource, "built here"),
        item(Kind::Image, "tool:dev", 1'500'000, Recovery::NeedsSource, "built here"),
        item(Kind::Volume, "shop_data", 7'000'000, Recovery::Gone, std::nullopt, "shop"),
        item(Kind::BuildCache, "Build cache", 12'000'000, Recovery::Restorable),
    };
    return usage;
}

ComposeProject shop()
{
    ComposeProject project;
    project.name = "shop";
    project.runtime = alpha;
    project.containers = {container("shop-web-1", "exited", "shop"),
                          container("shop-db-1", "exited", "shop")};
    return project;
}

class ReclaimSheet : public ScriptedStore {
protected:
    void SetUp() override
    {
        host = window();
        storeOn({entry(alpha)}, alpha);
        engine->setUsage(alpha, fixtureUsage());
    }

    void TearDown() override
    {
        host.reset();
        ScriptedStore::TearDown();
    }

    // Opens the sheet over the window and waits for its measurement.
    ReclaimView* open(const std::optional<ComposeProject>& project = std::nullopt)
    {
        sheet = SheetHost::open(host.get(), new ReclaimView(*store, project));
        EXPECT_TRUE(eventually([&] { return sheet && sheet->measured(); }));
        return sheet;
    }

    QStringList groupRows(const char* group) const
    {
        QStringList out;
        for (ReclaimRow* row : part<QWidget>(sheet, group)->findChildren<ReclaimRow*>())
            if (row->isVisibleTo(sheet))
                out << row->item().name;
        return out;
    }

    Alert* openAlert() const
    {
        const QList<Alert*> open = openDialogs<Alert>(sheet);
        return open.size() == 1 && open[0]->objectName() == "reclaimAlert" ? open[0] : nullptr;
    }

    std::unique_ptr<QWidget> host;
    QPointer<ReclaimView> sheet;
};

TEST_F(ReclaimSheet, GroupsListTheirItemsAndSelectAllTogglesOnlyItsOwnGroup)
{
    open();
    struct Case {
        const char* group;
        QStringList rows;
        bool button;
    };
    for (const Case& c : QList<Case>{{"containerGroup", {"shop-web-1", "scratch"}, true},
                                     {"imageGroup", {"nginx:1", "app:dev", "tool:dev"}, true},
                                     {"volumeGroup", {"shop_data"}, false},
                                     {"buildCacheGroup", {"Build cache"}, false}}) {
        SCOPED_TRACE(c.group);
        EXPECT_EQ(groupRows(c.group), c.rows);
        EXPECT_EQ(part(part<QWidget>(sheet, c.group), "selectAllButton")->isVisibleTo(sheet), c.button);
    }

    tick(sheet, "scratch");
    tick(sheet, "nginx:1");
    VoskButton* images = part(part<QWidget>(sheet, "imageGroup"), "selectAllButton");
    EXPECT_EQ(images->text(), "Select all");
    images->click();
    EXPECT_EQ(images->text(), "Select none");
    EXPECT_EQ(names(sheet->chosen()), QStringList({"scratch", "nginx:1", "app:dev", "tool:dev"}));
    images->click();
    EXPECT_EQ(images->text(), "Select all");
    EXPECT_EQ(names(sheet->chosen()), QStringList({"scratch"}));
    EXPECT_FALSE(row(sheet, "nginx:1")->isOn());
}

TEST_F(ReclaimSheet, TheRemovalButtonAndTheWarningFollowTheTicks)
{
    open();
    struct Case {
        QStringList ticked;
        QString button;
        QString warning;
        const Token* ink;
    };
    const QList<Case> cases{
        {{}, "Nothing selected", "", nullptr},
        {{"nginx:1"}, "Remove 1 · " + Platform::fileSize(5'000'000), "", nullptr},
        {{"app:dev"}, "Remove 1 · 3 MB", "1 needs its source", &Vosk::badgeInk},
        {{"app:dev", "tool:dev"}, "Remove 2 · 4.5 MB", "2 need their source", &Vosk::badgeInk},
        {{"scratch"}, "Remove 1 · 2 KB", "1 cannot come back", &Vosk::errInk},
        {{"scratch", "shop_data", "app:dev"},
         "Remove 3 · 10 MB",
         "2 cannot come back · 1 needs its source",
         &Vosk::errInk},
    };
    VoskButton* remove = part(sheet, "removeButton");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ticked.join(", ").toStdString());
        for (const QString& name : c.ticked)
            tick(sheet, name);
        EXPECT_EQ(remove->text(), c.button);
        EXPECT_EQ(remove->isEnabled(), !c.ticked.isEmpty());
        auto* warning = part<ReclaimWarning>(sheet, "reclaimWarning");
        EXPECT_EQ(warning->text(), c.warning);
        if (c.ink) {
            EXPECT_EQ(&warning->ink(), c.ink);
        }
        for (const QString& name : c.ticked)
            tick(sheet, name);
        EXPECT_TRUE(sheet->selected().isEmpty());
    }
}

TEST_F(ReclaimSheet, TheSheetMeasuresAfreshEachTimeItOpens)
{
    store->setUsage(fixtureUsage());
    const int before = engine->count(ScriptedEngine::Call::Usage, alpha);
    const auto gate = engine->hold(ScriptedEngine::Call::Usage, alpha);
    sheet = SheetHost::open(host.get(), new ReclaimView(*store, std::nullopt));
    ASSERT_TRUE(gate->waitArrived());
    // The store knew usage already; the sheet still waits for its own measurement.
    EXPECT_FALSE(sheet->measured());
    EXPECT_EQ(part<QStackedWidget>(sheet, "reclaimBody")->currentWidget()->objectName(), "measuringView");
    gate->open();
    ASSERT_TRUE(eventually([&] { return sheet->measured(); }));
    EXPECT_EQ(part<QStackedWidget>(sheet, "reclaimBody")->currentWidget()->objectName(), "reclaimScroll");
    EXPECT_EQ(engine->count(ScriptedEngine::Call::Usage, alpha), before + 1);
}

TEST_F(ReclaimSheet, WhatCannotComeBackIsRemovedOnlyAfterTheAlert)
{
    open();
    tick(sheet, "scratch");
    tick(sheet, "nginx:1");
    part(sheet, "removeButton")->click();
    Alert* alert = nullptr;
    ASSERT_TRUE(eventually([&] { return (alert = openAlert()); }));
    EXPECT_TRUE(part<QLabel>(alert, "alertMessage")->text().startsWith("scratch. Nothing recreates these"));

    part(alert, "alertCancelButton")->click();
    ASSERT_TRUE(eventually([&] { return !alert->isVisible(); }));
    EXPECT_TRUE(engine->commands().isEmpty());
    EXPECT_EQ(names(sheet->chosen()), QStringList({"scratch", "nginx:1"}));

    part(sheet, "removeButton")->click();
    ASSERT_TRUE(eventually([&] { return (alert = openAlert()); }));
    part(alert, "alertRemoveButton")->click();
    ASSERT_TRUE(eventually([&] { return !sheet; }));
    EXPECT_EQ(engine->commandArgs(), QList<QStringList>({{"rm", "ref-scratch"}, {"rmi", "ref-nginx:1"}}));

    // What needs its source goes without a question.
    open();
    tick(sheet, "app:dev");
    part(sheet, "removeButton")->click();
    ASSERT_TRUE(eventually([&] { return !sheet; }));
    EXPECT_EQ(engine->commandArgs().last(), QStringList({"rmi", "ref-app:dev"}));
}

TEST_F(ReclaimSheet, AFailedRemovalStaysOpenWithItsErrorAndNothingTicked)
{
    engine->failCommand({"rmi", "ref-nginx:1"}, "Error: image is being used by running container 1234\n");
    open();
    tick(sheet, "nginx:1");
    part(sheet, "removeButton")->click();
    // Both footer buttons wait while the store works.
    EXPECT_TRUE(sheet->working());
    EXPECT_FALSE(part(sheet, "cancelButton")->isEnabled());
    EXPECT_FALSE(part(sheet, "removeButton")->isEnabled());
    sheet->reject();
    ASSERT_TRUE(eventually([&] { return !sheet->working(); }));

    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(part<QLabel>(sheet, "failureLabel")->text(),
              "Error: image is being used by running container 1234");
    EXPECT_TRUE(part<QWidget>(sheet, "failureBox")->isVisibleTo(sheet));
    EXPECT_TRUE(sheet->selected().isEmpty());
    EXPECT_EQ(part(sheet, "removeButton")->text(), "Nothing selected");
    EXPECT_EQ(part(sheet, "cancelButton")->text(), "Close");
    part(sheet, "cancelButton")->click();
    EXPECT_TRUE(eventually([&] { return !sheet; }));
}

TEST_F(ReclaimSheet, TheButtonOpensOneSheetAtATimeAndAFreshOneAfterwards)
{
    ReclaimButton button(*store, "Reclaim space & more…", std::nullopt, host.get());
    EXPECT_EQ(button.text(), "Reclaim space && more…");
    EXPECT_EQ(button.buttonStyle().variant, VoskButtonStyle::Variant::quiet);
    button.click();
    button.click();
    ASSERT_EQ(openDialogs<ReclaimView>(host.get()).size(), 1);
    QPointer<ReclaimView> first = button.sheet();
    ASSERT_TRUE(eventually([&] { return first->measured(); }));
    const int measured = engine->count(ScriptedEngine::Call::Usage, alpha);
    tick(first, "nginx:1");
    first->reject();
    ASSERT_TRUE(eventually([&] { return !first; }));

    button.click();
    ReclaimView* second = button.sheet();
    ASSERT_NE(second, nullptr);
    ASSERT_TRUE(eventually([&] { return second->measured(); }));
    EXPECT_EQ(engine->count(ScriptedEngine::Call::Usage, alpha), measured + 1);
    EXPECT_TRUE(second->selected().isEmpty());
    EXPECT_EQ(part<ReclaimHeader>(second, "reclaimHeader")->title(), "Reclaim space");

    ReclaimButton forProject(*store, "Free space", shop(), host.get());
    forProject.click();
    sheet = forProject.sheet();
    ASSERT_TRUE(eventually([&] { return sheet->measured(); }));
    auto* header = part<ReclaimHeader>(sheet, "reclaimHeader");
    EXPECT_EQ(header->title(), "Free space in shop");
    // Its two containers and the volume one of them mounts.
    EXPECT_EQ(header->sizeText(), Platform::fileSize(7'005'000) + " on disk");
    EXPECT_EQ(names(sheet->candidates()), QStringList({"shop-web-1", "shop_data"}));
}

TEST_F(ReclaimSheet, AProjectsSheetListsOnlyWhatItsOwnRuntimeHolds)
{
    // Every runtime shown, and a project of the same name on both.
    storeOn({entry(alpha), entry(beta)}, alpha, true);
    DiskUsage other;
    Reclaimable twin = item(Kind::Container, "shop-web-1", 1'000, Recovery::Restorable, std::nullopt, "shop");
    twin.runtime = beta;
    other.candidates = {twin};
    engine->setUsage(beta, other);

    ComposeProject onBeta = shop();
    onBeta.runtime = beta;
    for (const ComposeProject& project : {shop(), onBeta}) {
        SCOPED_TRACE(project.runtime->name.toStdString());
        open(project);
        QStringList runtimes;
        for (const Reclaimable& candidate : sheet->candidates())
            runtimes << candidate.runtime.value_or(Runtime()).name;
        EXPECT_EQ(runtimes, QStringList(project.runtime == alpha ? 2 : 1, project.runtime->name));
        sheet->reject();
        ASSERT_TRUE(eventually([&] { return !sheet; }));
    }
}

TEST_F(ReclaimSheet, RendersInBothLooks)
{
    const QStringList files =
        TestSupport::renderToGallery("reclaim-sheet", [&]() -> std::unique_ptr<QWidget> {
            auto view = std::make_unique<ReclaimView>(*store, std::nullopt);
            view->show();
            EXPECT_TRUE(eventually([&] { return view->measured(); }));
            tick(view.get(), "scratch");
            tick(view.get(), "app:dev");
            QCoreApplication::processEvents();
            return view;
        });
    EXPECT_EQ(files.size(), 2);
}

// A held volume is said as its name and its holders give it, markup included, and stays said when the
// look changes the label's style.
TEST_F(ReclaimSheet, AHeldVolumeIsSaidAsPlainTextThroughAChangeOfLook)
{
    ReclaimContent content({}, {}, {});
    content.setHeld({{item(Kind::Volume, "<b>v</b>", 1000, Recovery::Gone), {"project <i>x</i> names it"}}});
    auto* said = content.findChild<VoskLabel*>("heldVolumesLabel");
    ASSERT_NE(said, nullptr);
    const QString expected = QStringLiteral(u"<b>v</b> \u2014 project <i>x</i> names it");
    EXPECT_EQ(said->plainText(), expected);
    said->setTextStyle(said->textStyle());
    EXPECT_EQ(said->plainText(), expected);
    EXPECT_EQ(said->text(), expected);
    EXPECT_EQ(said->textFormat(), Qt::PlainText);
}

} // namespace
