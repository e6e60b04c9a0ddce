#include "screens/DeleteProjectContent.h"
#include "screens/DeleteProjectView.h"

#include "ProjectsTesting.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "platform/Settings.h"
#include "sheets/SheetHost.h"
#include "store/AppStore.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QTest>

#include <gtest/gtest.h>

using namespace ProjectsTesting;

namespace {

TeardownPlan planOf(int containers, const QList<VolumeUse>& volumes,
                    std::optional<QString> dir = std::nullopt)
{
    TeardownPlan plan{"shop", {}, volumes, dir};
    for (int i = 1; i <= containers; ++i)
        plan.containers << QString("shop-web-%1").arg(i);
    return plan;
}

const VolumeUse alone{"shop_data", {}, "69.4 MB"};
const VolumeUse alsoAlone{"shop_cache", {}, std::nullopt};
const VolumeUse shared{"shop_uploads", {"atlas-worker-1", "blog-web-1"}, "318.8 MB"};

TEST(DeleteProjectView, TheButtonCountsWhatGoes)
{
    const QList<std::tuple<std::optional<TeardownPlan>, bool, QString>> rows = {
        {std::nullopt, true, "Delete"},
        {planOf(1, {alone}), false, "Delete 1 container + 1 volume"},
        {planOf(3, {alone, alsoAlone, shared}), true, "Delete 3 containers + 2 volumes + files"},
        {planOf(0, {}), false, "Remove from Voskel"},
        {planOf(0, {}), true, "Delete files"},
        {planOf(0, {shared}), false, "Remove from Voskel"},
        {planOf(2, {shared}), false, "Delete 2 containers"},
    };
    for (const auto& [plan, trash, label] : rows)
        EXPECT_EQ(DeleteProjectView::deleteLabel(plan, trash), label);
}

QStringList texts(const QWidget* in, const QString& section, const QString& label)
{
    QStringList out;
    if (const auto* part = in->findChild<QWidget*>(section))
        for (const VoskLabel* l : part->findChildren<VoskLabel*>(label))
            if (!l->isHidden())
                out << l->plainText();
    return out;
}

TEST(DeleteProjectContent, ShowsEachPartOnlyWhenThePlanHoldsIt)
{
    TestSupport::prepareWidgets();
    DeleteProjectContent all(planOf(1, {alone, alsoAlone, shared}, "/srv/shop"), false);
    EXPECT_EQ(texts(&all, "containersSection", "itemLabel"), QStringList{"shop-web-1"});
    EXPECT_EQ(texts(&all, "volumesSection", "itemLabel"), (QStringList{"shop_data", "shop_cache"}));
    EXPECT_EQ(texts(&all, "volumesSection", "sizeLabel"), QStringList{"69.4 MB"})
        << "unknown sizes show nothing";
    EXPECT_EQ(texts(&all, "keptSection", "usedByLabel"), QStringList{"used by atlas-worker-1, blog-web-1"});
    EXPECT_NE(all.findChild<QCheckBox*>("trashToggle"), nullptr);
    EXPECT_EQ(all.findChild<QWidget*>("folderLinkLabel"), nullptr);

    // A folder its containers reach through a link: the plan names the folder, and says the link stays.
    // What is said beside the offer stands next to the choice, apart from what the plan could not make
    // sure of.
    TeardownPlan linked = planOf(1, {}, "/srv/real");
    linked.folderLink = "/srv/lnk";
    linked.trashNotes = QStringList{"agent binds /, which holds this folder.", "What x uses is not known."};
    DeleteProjectContent throughLink(linked, false);
    EXPECT_EQ(texts(&throughLink, "filesSection", "directoryLabel"), QStringList{"/srv/real"});
    EXPECT_EQ(texts(&throughLink, "filesSection", "folderLinkLabel"),
              QStringList{"Its containers name it /srv/lnk, through a link; the link stays where it is."});
    EXPECT_EQ(texts(&throughLink, "filesSection", "trashNotesLabel"),
              QStringList{linked.trashNotes.join('\n')});
    EXPECT_EQ(throughLink.findChild<QWidget*>("planNotesLabel"), nullptr);

    // Only kept volumes, no folder: no containers, volumes or files part, and no Trash to choose.
    DeleteProjectContent kept(planOf(0, {shared}), true);
    for (const char* absent : {"containersSection", "volumesSection", "filesSection"})
        EXPECT_EQ(kept.findChild<QWidget*>(absent), nullptr) << absent;
    EXPECT_EQ(texts(&kept, "keptSection", "itemLabel"), QStringList{"shop_uploads"});
    EXPECT_NE(kept.findChild<QWidget*>("noteLabel"), nullptr);
    EXPECT_FALSE(kept.trashDirectory());
    kept.setTrashDirectory(true);
    EXPECT_FALSE(kept.trashDirectory());
}

// What the sheet says of bind-mounted directories is one sentence, true for the Trash choice made.
TEST(DeleteProjectContent, SaysOneTrueSentenceForEachTrashChoice)
{
    TestSupport::prepareWidgets();
    TeardownPlan bound = planOf(1, {}, "/srv/shop");
    bound.folderBinds = {"/srv/link-to-shop/logs", "/srv/shop", "/srv/shop/db"};
    DeleteProjectContent content(bound, false);
    const auto sentences = [&] {
        QStringList out;
        for (const VoskLabel* label : content.findChildren<VoskLabel*>())
            if (!label->isHidden() && label->plainText().contains("bind-mounted", Qt::CaseInsensitive))
                out << label->plainText();
        return out;
    };
    EXPECT_EQ(sentences(), QStringList{"Bind-mounted directories and images are not touched."});
    content.findChild<QCheckBox*>("trashToggle")->click();
    EXPECT_EQ(sentences(),
              QStringList{"Images and bind-mounted directories outside this folder are not touched; those "
                          "inside it (/srv/link-to-shop/logs, ./db) go to the Trash with it."});
    content.findChild<QCheckBox*>("trashToggle")->click();
    EXPECT_EQ(sentences(), QStringList{"Bind-mounted directories and images are not touched."});
    EXPECT_EQ(DeleteProjectContent::noteText(planOf(1, {}, "/srv/shop"), true),
              "Images and bind-mounted directories outside this folder are not touched.");
}

TEST(DeleteProjectContent, ALongFolderKeepsItsEndOverTwoLines)
{
    TestSupport::prepareWidgets();
    const QFontMetricsF metrics(TextStyles::mono.font());
    const double ten = metrics.horizontalAdvance("0123456789");
    const QString path = "/srv/projects/clients/acme/storefront"; // 37 characters
    QString tail = "…" + path.right(19);
    tail.insert(10, '\n');
    EXPECT_EQ(DeleteProjectContent::fromTheEnd(path, metrics, ten * 4, 2), path);
    EXPECT_EQ(DeleteProjectContent::fromTheEnd(path, metrics, ten * 2 + 1, 2),
              "/srv/projects/client\ns/acme/storefront");
    EXPECT_EQ(DeleteProjectContent::fromTheEnd(path, metrics, ten + 1, 2), tail);
}

// A project whose folder is there: web and db mount a volume each; web also mounts the cache, which a
// container outside the project uses too.
class DeleteSheet : public ProjectsStore {
protected:
    void SetUp() override
    {
        ProjectsStore::SetUp();
        const QList<Container> listed{inFolder(container("shop-web", "running", "shop"), dir),
                                      inFolder(container("shop-db", "running", "shop"), dir),
                                      container("loose")};
        showing(listed);
        const QMap<QString, QString> ours{{Docker::projectLabel, "shop"}};
        const QList<DockerVolume> volumes{{"shop_data", "local", "/v/1", alpha, ours},
                                          {"shop_db", "local", "/v/2", alpha, ours},
                                          {"shop_cache", "local", "/v/3", alpha, ours}};
        engine->setListing(alpha, {listed, {}, volumes});
        engine->removeWhatIsRemoved();
        engine->setMounts(
            alpha,
            {{"shop-web", {"shop_data", "shop_cache"}}, {"shop-db", {"shop_db"}}, {"loose", {"shop_cache"}}});
        engine->setComposeProject(dir, ComposeConfig{"shop", {"web", "db"}, {"shop_data", "shop_db"}, {}});
        store->setVolumes(volumes);
        store->setUsage(DiskUsage{0, {}, {{"shop_data", 1}, {"shop_db", 1}, {"shop_cache", 1}}, {}, {}});
        window->show();
    }
    void TearDown() override
    {
        window.reset(); // the sheets first
        ProjectsStore::TearDown();
    }

    ComposeProject shown() const { return store->projects().value(0); }

    QTemporaryDir parent;
    QString dir = projectFolder(parent, "shop");
    // A Trash of the test's own: nothing here may reach the user's.
    TestSupport::ScopedEnv trashHome{"XDG_DATA_HOME", parent.filePath("data").toUtf8()};
    std::unique_ptr<QWidget> window = std::make_unique<QWidget>();
};

VoskButton* button(QWidget* sheet, const char* name)
{
    return sheet->findChild<VoskButton*>(name);
}

TEST_F(DeleteSheet, WorksOutThePlanThenDeletesAndCannotBeClosedWhileItDoes)
{
    const auto planning = engine->hold(ScriptedEngine::Call::VolumeMounts, alpha);
    QPointer<DeleteProjectView> sheet = DeleteProjectView::open(window.get(), *store, shown());
    ASSERT_TRUE(planning->waitArrived());
    EXPECT_TRUE(sheet->findChild<QWidget*>("workingOutLabel")->isVisible());
    EXPECT_EQ(button(sheet, "deleteButton")->text(), "Delete");
    EXPECT_FALSE(button(sheet, "deleteButton")->isEnabled());

    planning->open();
    ASSERT_TRUE(eventually([&] { return sheet->plan().has_value(); }));
    EXPECT_EQ(button(sheet, "deleteButton")->text(), "Delete 2 containers + 2 volumes");
    sheet->findChild<QCheckBox*>("trashToggle")->click();
    EXPECT_EQ(button(sheet, "deleteButton")->text(), "Delete 2 containers + 2 volumes + files");
    sheet->findChild<QCheckBox*>("trashToggle")->click();

    // The first command of the deletion is held: nothing closes the sheet meanwhile.
    const auto deleting = engine->hold(ScriptedEngine::Call::Capture, alpha);
    QTest::mouseClick(button(sheet, "deleteButton"), Qt::LeftButton);
    ASSERT_TRUE(eventually([&] { return deleting->waitArrived(std::chrono::milliseconds(0)); }));
    EXPECT_FALSE(button(sheet, "deleteButton")->isEnabled());
    EXPECT_FALSE(button(sheet, "cancelButton")->isEnabled());
    QTest::keyClick(sheet, Qt::Key_Escape);
    sheet->close(); // the window's close button
    sheet->confirm();
    settle();
    ASSERT_TRUE(sheet);
    EXPECT_TRUE(sheet->isVisible());

    deleting->open();
    ASSERT_TRUE(eventually([&] { return sheet.isNull(); })) << "the sheet closes when the work ends";
    EXPECT_EQ(engine->commandArgs(),
              (QList<QStringList>{{"compose", "-p", "shop", "down", "--remove-orphans"},
                                  {"volume", "rm", "shop_data", "shop_db"}}));
    EXPECT_TRUE(QFileInfo::exists(dir)) << "the folder stays unless asked";
}

// A container binding the folder made while the sheet is open: the project is as shown, and the plan
// made again says who uses the folder now rather than that the project changed.
TEST_F(DeleteSheet, AFolderTakenIntoUseWhileTheSheetIsOpenSaysByWhom)
{
    QPointer<DeleteProjectView> sheet = DeleteProjectView::open(window.get(), *store, shown());
    ASSERT_TRUE(eventually([&] { return sheet->plan().has_value(); }));
    ASSERT_EQ(sheet->plan()->workingDir, dir);
    sheet->findChild<QCheckBox*>("trashToggle")->click();
    const QList<Container> listed{inFolder(container("shop-web", "running", "shop"), dir),
                                  inFolder(container("shop-db", "running", "shop"), dir), container("loose"),
                                  container("outsider")};
    engine->setListing(alpha, {listed, {}, store->volumes()});
    engine->setBinds(alpha, Docker::BindMap{{"id-outsider", {dir}}});

    QTest::mouseClick(button(sheet, "deleteButton"), Qt::LeftButton);
    ASSERT_TRUE(eventually(
        [&] { return !sheet || (!sheet->working() && sheet->findChild<VoskLabel*>("planNotesLabel")); }));
    ASSERT_TRUE(sheet) << "the sheet stays open with the new plan";
    EXPECT_EQ(sheet->findChild<VoskLabel*>("planNotesLabel")->plainText(), dir + " is now used by outsider.");
    EXPECT_TRUE(engine->commands().isEmpty()) << "nothing went";
}

// Renamed while the sheet is open, and another folder made under its name: the first Delete shows the
// plan made again, the Trash no longer chosen for a folder the user did not choose; the second leaves
// both folders where they are.
TEST_F(DeleteSheet, AFolderReplacedWhileTheSheetIsOpenIsNotTakenAndItsTrashChoiceGoes)
{
    QPointer<DeleteProjectView> sheet = DeleteProjectView::open(window.get(), *store, shown());
    ASSERT_TRUE(eventually([&] { return sheet->plan().has_value(); }));
    sheet->findChild<QCheckBox*>("trashToggle")->click();
    ASSERT_TRUE(QDir().rename(dir, dir + "-renamed"));
    projectFolder(parent, "shop");
    QFile theirs(dir + "/theirs.txt");
    ASSERT_TRUE(theirs.open(QIODevice::WriteOnly));

    QTest::mouseClick(button(sheet, "deleteButton"), Qt::LeftButton);
    ASSERT_TRUE(eventually(
        [&] { return !sheet || (!sheet->working() && sheet->findChild<VoskLabel*>("planNotesLabel")); }));
    ASSERT_TRUE(sheet) << "the sheet stays open with the new plan";
    EXPECT_TRUE(sheet->findChild<VoskLabel*>("planNotesLabel")
                    ->plainText()
                    .startsWith("The project changed since this plan was made."));
    EXPECT_FALSE(sheet->trashDirectory());
    EXPECT_FALSE(sheet->findChild<QCheckBox*>("trashToggle")->isChecked());
    EXPECT_EQ(button(sheet, "deleteButton")->text(), "Delete 2 containers + 2 volumes");
    EXPECT_TRUE(engine->commands().isEmpty()) << "nothing went";

    QTest::mouseClick(button(sheet, "deleteButton"), Qt::LeftButton);
    ASSERT_TRUE(eventually([&] { return sheet.isNull(); }));
    EXPECT_TRUE(QFile::exists(dir + "/theirs.txt"));
    EXPECT_TRUE(QFile::exists(dir + "-renamed/compose.yaml"));
}

// Under a filter the screen shows only the matching containers of a project; the sheet still plans
// the whole project, so a sibling is never taken for an outside user of the project's volumes.
TEST_F(DeleteSheet, PlansTheWholeProjectWhateverTheFilterShows)
{
    store->setFilter("web");
    ASSERT_EQ(shown().containers.size(), 1);
    QPointer<DeleteProjectView> sheet = DeleteProjectView::open(window.get(), *store, shown());
    ASSERT_TRUE(eventually([&] { return sheet->plan().has_value(); }));
    EXPECT_EQ(sheet->plan()->containers, (QStringList{"shop-db", "shop-web"}));
    EXPECT_EQ(TestSupport::names(sheet->plan()->removable()), (QStringList{"shop_data", "shop_db"}));
    EXPECT_EQ(TestSupport::names(sheet->plan()->kept()), QStringList{"shop_cache"});
}

// A sheet whose other answer destroys opens with the ring on Cancel, so a Return pressed without a look
// cancels; Tab goes on from there, and reaches Cancel before the delete button.
TEST_F(DeleteSheet, OpensWithTheRingOnCancelAndTabReachesCancelFirst)
{
    QPointer<DeleteProjectView> sheet = DeleteProjectView::open(window.get(), *store, shown());
    ASSERT_TRUE(eventually([&] { return sheet->plan().has_value(); }));
    QApplication::setActiveWindow(sheet);
    ASSERT_TRUE(QTest::qWaitForWindowActive(sheet));
    settle();
    ASSERT_NE(sheet->focusWidget(), nullptr);
    EXPECT_EQ(sheet->focusWidget()->objectName(), "cancelButton");
    EXPECT_TRUE(sheet->testAttribute(Qt::WA_KeyboardFocusChange)) << "the ring shows before any key";
    QStringList reached;
    for (int i = 0; i < 3; ++i) {
        QTest::keyClick(sheet->focusWidget(), Qt::Key_Tab);
        reached << sheet->focusWidget()->objectName();
    }
    EXPECT_EQ(reached.join(' '), "deleteButton trashToggle cancelButton");
    QTest::keyClick(sheet->focusWidget(), Qt::Key_Return);
    EXPECT_TRUE(eventually([&] { return sheet.isNull(); }, 5000)) << "Return on Cancel cancels";
    EXPECT_TRUE(engine->commands().isEmpty());
}

// A runtime that takes the deletion's command and never answers: the sheet, which nothing closes while
// it works, is not held for good. The command is ended after its time and the runtime named.
TEST(DeleteOnAHungRuntime, TheSheetClosesOnceTheCommandRanOutOfTimeAndSaysSo)
{
    TestSupport::prepareWidgets();
    // Lists the project's one container, then takes its removal and never answers.
    const TestSupport::ScriptedTool docker(
        "docker", "#!/bin/sh\ncase \" $* \" in *\" rm \"*) exec sleep 60 ;;\n"
                  "*\" ps \"*) echo '{\"ID\":\"1\",\"Names\":\"shop-web\",\"State\":\"exited\","
                  "\"Labels\":\"com.docker.compose.project=shop\","
                  "\"com.docker.compose.project\":\"shop\"}' ;; esac\nexit 0\n");

    auto settings = Platform::Settings::inMemory();
    AppStore store(*settings);
    store.setRuntimes({entry(alpha)});
    store.setRuntime(alpha);
    store.setRemovalLimit(std::chrono::milliseconds(300));
    QWidget window;
    window.show();
    const ComposeProject project{"shop", std::nullopt, {container("shop-web", "exited", "shop")}, 1, alpha};
    QPointer<DeleteProjectView> sheet = SheetHost::open(
        &window,
        new DeleteProjectView(store, project, TeardownPlan{"shop", {"shop-web"}, {}, {}, {}, {"1"}}));
    sheet->confirm();
    ASSERT_TRUE(eventually([&] { return sheet.isNull(); }, 30000)) << "the sheet closes when the work ends";
    EXPECT_EQ(store.error(), "alpha is not answering.\nshop-web is still there: it could not be removed.");
    EXPECT_FALSE(store.busy());
}

} // namespace
