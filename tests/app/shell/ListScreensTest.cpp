#include "ShellFixture.h"

#include "app/design/Divider.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "app/parts/EmptyState.h"
#include "app/shell/Hosted.h"
#include "app/shell/ImageMenu.h"
#include "app/shell/ImageRow.h"
#include "app/shell/ImagesView.h"
#include "app/shell/TagAlert.h"
#include "app/shell/VolumeRow.h"
#include "app/shell/VolumesView.h"
#include "sheets/RunImageView.h"
#include "support/TestSupport.h"

#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace {

using namespace ShellTesting;
using TestSupport::eventually;

const Runtime work = Runtime::context("work");
const Runtime home = Runtime::context("home");

TEST(ImageRow, Texts)
{
    struct Row {
        DockerImage image;
        bool showAll;
        QString name;
        QString detail;
        bool canPush;
    };
    const Row rows[] = {
        {image("sha256:1", "nginx", "latest", work, "67MB"), true, "nginx:latest",
         "work \u00B7 sha256:1 \u00B7 67 MB", true},
        {image("sha256:1", "nginx", "latest", work, "67MB"), false, "nginx:latest", "sha256:1 \u00B7 67 MB",
         true},
        // Sizes are written as everywhere else, whatever the client printed; one it did not print is "—".
        {image("sha256:1", "busybox", "1", work, "1.98MB"), false, "busybox:1", "sha256:1 \u00B7 2 MB", true},
        {image("sha256:1", "busybox", "1", work, "1.2GB"), false, "busybox:1", "sha256:1 \u00B7 1.2 GB",
         true},
        {image("sha256:1", "busybox", "1", work, "0B"), false, "busybox:1", "sha256:1 \u00B7 \u2014", true},
        {image("sha256:2", "<none>", "<none>", std::nullopt, ""), true, "<none>:<none>",
         "sha256:2 \u00B7 \u2014", false},
        {image("sha256:3", "local/app", "<none>", work), false, "local/app:<none>", "sha256:3 \u00B7 4.2 MB",
         false},
        {image("", "<none>", "v1", work), false, "<none>:v1", " \u00B7 4.2 MB", false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(ImageRow::displayName(row.image), row.name);
        EXPECT_EQ(ImageRow::detailLine(row.image, row.showAll), row.detail);
        EXPECT_EQ(ImageMenu::canPush(row.image), row.canPush) << row.name.toStdString();
    }
}

TEST(ImageMenu, APushNamesTheImageAndRunsOnItsRuntime)
{
    struct Row {
        DockerImage image;
        std::optional<Runtime> shown;
        QStringList arguments;
    };
    const Row rows[] = {
        {image("sha256:1", "registry.local/app", "2", work),
         home,
         {"--context", "work", "push", "registry.local/app:2"}},
        {image("sha256:1", "app", "2", std::nullopt), home, {"--context", "home", "push", "app:2"}},
        {image("sha256:1", "app", "2", std::nullopt), std::nullopt, {"push", "app:2"}},
    };
    for (const Row& row : rows) {
        const Hosted::Push push = Hosted::push(row.image, row.shown);
        EXPECT_EQ(push.title, "Pushing " + ImageRow::displayName(row.image));
        EXPECT_EQ(push.banner, "$ docker push " + ImageRow::displayName(row.image));
        EXPECT_EQ(push.process.arguments.mid(push.process.arguments.size() - row.arguments.size()),
                  row.arguments)
            << push.process.arguments.join(' ').toStdString();
        EXPECT_EQ(push.process.workingDirectory, std::nullopt);
    }
}

TEST(ImagesView, PullFieldAndButtons)
{
    Fixture f;
    f.store.setRuntime(work);
    ImagesView view(f.store);
    view.show();
    auto* field = view.findChild<QLineEdit*>("pullField");
    auto* pull = view.findChild<VoskButton*>("pullButton");
    auto* login = view.findChild<VoskButton*>("loginButton");
    EXPECT_FALSE(pull->isEnabled());
    EXPECT_EQ(pull->toolTip(), "Pull this image");
    // Blanks count as text: the button pulls, and the store then does nothing with them.
    field->setText("   ");
    EXPECT_TRUE(pull->isEnabled());
    QTest::mouseClick(pull, Qt::LeftButton);
    EXPECT_EQ(field->text(), "");

    field->setText("voskel-test/busybox:latest");
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(field->text(), "");
    ASSERT_TRUE(eventually([&] { return !f.engine->commandArgs().isEmpty(); }));
    EXPECT_EQ(f.engine->commands().first().args, QStringList({"pull", "--", "voskel-test/busybox:latest"}));
    EXPECT_EQ(f.engine->commands().first().runtime, "work");

    // With every runtime shown there is nowhere to pull onto: the button says so, and Return does
    // nothing either.
    f.store.setShowAll(true);
    field->setText("redis:7");
    EXPECT_FALSE(pull->isEnabled());
    EXPECT_FALSE(login->isEnabled());
    EXPECT_EQ(pull->toolTip(), "Choose one runtime to pull onto");
    EXPECT_EQ(login->toolTip(), "Choose one runtime to log in on");
    QTest::keyClick(field, Qt::Key_Return);
    settle();
    EXPECT_EQ(field->text(), "redis:7");
    EXPECT_EQ(f.engine->commands().size(), 1);
}

TEST(ImagesView, RowsKeepTheirImageWhenAPullInsertsOneAbove)
{
    Fixture f;
    const DockerImage busybox = image("sha256:bb", "busybox", "latest", work);
    const DockerImage nginx = image("sha256:ng", "nginx", "1.25", work);
    f.store.setRuntimes({entry("work")});
    f.store.setRuntime(work);
    f.store.setImages({busybox, nginx});
    ImagesView view(f.store);
    view.show();
    settle();
    ImageRow* nginxRow = view.row(nginx);
    ASSERT_NE(nginxRow, nullptr);
    // A divider above every row but the first.
    EXPECT_FALSE(view.row(busybox)->findChild<Divider*>()->isVisibleTo(view.row(busybox)));
    EXPECT_TRUE(nginxRow->findChild<Divider*>()->isVisibleTo(nginxRow));

    // The tag alert holds its own copy, opened from the row's menu.
    QAction* tag = nginxRow->menu()->findChild<QAction*>("tagAction");
    ASSERT_NE(tag, nullptr);
    tag->trigger();
    auto* alert = view.window()->findChild<TagAlert*>();
    ASSERT_NE(alert, nullptr);
    // So does the run sheet.
    nginxRow->menu()->findChild<QAction*>("runAction")->trigger();
    auto* run = view.window()->findChild<RunImageView*>();
    ASSERT_NE(run, nullptr);

    // A newer image lands on top; the same rows stay with the same images.
    const DockerImage pulled = image("sha256:new", "alpine", "3.19", work);
    f.store.setImages({pulled, busybox, nginx});
    settle();
    EXPECT_EQ(view.rowCount(), 3);
    EXPECT_EQ(view.row(nginx), nginxRow);
    EXPECT_TRUE(view.row(busybox)->findChild<Divider*>()->isVisibleTo(view.row(busybox)));
    EXPECT_FALSE(view.row(pulled)->findChild<Divider*>()->isVisibleTo(view.row(pulled)));
    EXPECT_EQ(nginxRow->menu()->image(), nginx);
    EXPECT_EQ(alert->image(), nginx);
    EXPECT_EQ(run->image(), nginx);
    run->reject();
    EXPECT_EQ(alert->accessibleName(), "Tag nginx:1.25");

    // Push is offered only for an image with a name to push under.
    EXPECT_TRUE(nginxRow->menu()->findChild<QAction*>("pushAction")->isEnabled());

    // What the refresh after the tag lists: only an image without a name.
    const DockerImage dangling = image("sha256:x", "<none>", "<none>", work);
    f.engine->setListing(work, {{}, {dangling}, {}});
    alert->findChild<QLineEdit*>("tagField")->setText("  registry.local/nginx:1.25  ");
    QTest::mouseClick(alert->findChild<VoskButton*>("tagButton"), Qt::LeftButton);
    ASSERT_TRUE(eventually([&] { return !f.engine->commands().isEmpty(); }));
    EXPECT_EQ(f.engine->commands().first().args,
              QStringList({"tag", "nginx:1.25", "registry.local/nginx:1.25"}));

    ASSERT_TRUE(eventually([&] { return view.row(dangling) != nullptr && view.rowCount() == 1; }));
    EXPECT_FALSE(view.row(dangling)->menu()->findChild<QAction*>("pushAction")->isEnabled());
}

TEST(ImagesView, ALongNameWrapsInsideTheRowAndLeavesItsButtonsInReach)
{
    Fixture f;
    const DockerImage plain = image("sha256:a", "busybox", "latest", work);
    // One run of letters with nothing to break it at, as long as a registry host can be.
    const DockerImage unbroken =
        image("sha256:b", "wkc-" + QString(150, u'b') + u'/' + QString(60, u'c'), "v1", work);
    f.store.setImages({plain, unbroken});
    ImagesView view(f.store);
    view.resize(600, 500);
    view.show();
    settle();
    for (const DockerImage& each : {plain, unbroken}) {
        ImageRow* row = view.row(each);
        ASSERT_NE(row, nullptr);
        for (const char* control : {"removeButton", "imageMenuButton"}) {
            auto* widget = row->findChild<QWidget*>(control);
            EXPECT_LE(widget->mapTo(&view, QPoint(widget->width(), 0)).x(), view.width())
                << control << " of " << each.repository.toStdString();
        }
        const auto* name = row->findChild<VoskLabel*>("imageName");
        const QRect drawn =
            QFontMetrics(name->font())
                .boundingRect(QRect(0, 0, name->width(), 100000), Qt::TextWordWrap, name->text());
        EXPECT_LE(drawn.width(), name->width()) << each.repository.toStdString();
        EXPECT_GE(name->height(), drawn.height()) << each.repository.toStdString();
        // The row still reads as the name it was listed under.
        EXPECT_EQ(name->plainText(), ImageRow::displayName(each));
    }
}

TEST(ImagesView, RemoveActsOnTheRowsOwnImage)
{
    Fixture f;
    const DockerImage a = image("sha256:a", "a", "1", work);
    const DockerImage b = image("sha256:b", "b", "1", home);
    f.store.setImages({a, b});
    ImagesView view(f.store);
    view.show();
    settle();
    QTest::mouseClick(view.row(b)->findChild<VoskButton*>("removeButton"), Qt::LeftButton);
    ASSERT_TRUE(eventually([&] { return !f.engine->commands().isEmpty(); }));
    EXPECT_EQ(f.engine->commands().first().args, QStringList({"rmi", "b:1"}));
    EXPECT_EQ(f.engine->commands().first().runtime, "home");
}

TEST(EmptyState, Forms)
{
    struct Row {
        Category category;
        QString filter;
        QString title;
        QString symbol;
        bool clear;
        bool actions;
    };
    const Row rows[] = {
        {Category::volumes, "   ", "No volumes", "externaldrive", false, false},
        {Category::images, " web ", "No images match \u201C web \u201D", "line.3.horizontal.decrease.circle",
         true, false},
        {Category::projects, "", "No projects", "square.stack.3d.up", false, true},
        {Category::projects, "x", "No projects match \u201Cx\u201D", "line.3.horizontal.decrease.circle",
         true, false},
        {Category::containers, "\t", "No containers", "shippingbox", false, false},
        {Category::images, "\n", "No images match \u201C\n\u201D", "line.3.horizontal.decrease.circle", true,
         false},
    };
    for (const Row& row : rows) {
        Fixture f;
        f.store.setFilter(row.filter);
        auto* actions = new QWidget;
        EmptyState state(f.store, row.category, actions);
        state.show();
        EXPECT_EQ(state.findChild<VoskLabel*>("emptyTitle")->plainText(), row.title);
        EXPECT_EQ(EmptyState::symbol(row.category, row.filter), row.symbol);
        EXPECT_EQ(state.findChild<VoskButton*>("clearFilterButton")->isVisible(), row.clear);
        EXPECT_EQ(actions->isVisible(), row.actions) << row.title.toStdString();
        if (row.clear) {
            QTest::mouseClick(state.findChild<VoskButton*>("clearFilterButton"), Qt::LeftButton);
            EXPECT_EQ(f.store.filter(), "");
            EXPECT_FALSE(state.findChild<VoskButton*>("clearFilterButton")->isVisible());
        }
    }
}

TEST(EmptyState, TheTitleIsNeverCutWhateverTheFilter)
{
    // A short filter fits on one line; a long one wraps: either way every line of the title is drawn
    // in full inside the screen's width.
    for (const QString& filter :
         {QStringLiteral("a8e5c42ceaa9"), QString(40, u'w') + u' ' + QString(120, u'x')}) {
        Fixture f;
        f.store.setFilter(filter);
        QWidget screen;
        auto* column = new QVBoxLayout(&screen);
        column->addWidget(new EmptyState(f.store, Category::containers));
        column->addStretch(1);
        screen.resize(900, 600);
        screen.show();
        QCoreApplication::processEvents();
        const auto* title = screen.findChild<VoskLabel*>("emptyTitle");
        EXPECT_GE(title->height(), title->heightForWidth(title->width())) << filter.toStdString();
        EXPECT_LE(title->geometry().right(), screen.width()) << filter.toStdString();
    }
}

TEST(VolumeRow, DetailLine)
{
    DiskUsage usage;
    usage.volumeSize.insert("data", 12'300'000);
    usage.volumeSize.insert("empty", 0);
    struct Row {
        DockerVolume volume;
        bool showAll;
        std::optional<DiskUsage> usage;
        QString detail;
    };
    const QString mount = "/var/lib/docker/volumes/data/_data";
    const Row rows[] = {
        {volume("data", work), false, std::nullopt, "local \u00B7 " + mount},
        {volume("data", work), true, std::nullopt, "work \u00B7 local \u00B7 " + mount},
        {volume("data", work), true, usage, "work \u00B7 12.3 MB \u00B7 local \u00B7 " + mount},
        {volume("data", home), true, usage, "home \u00B7 12.3 MB \u00B7 local \u00B7 " + mount},
        // Measured, but not this one, or nothing in it: "—", as the cards write a size not known.
        {volume("other", work), false, usage,
         "\u2014 \u00B7 local \u00B7 /var/lib/docker/volumes/other/_data"},
        {volume("empty", work), false, usage,
         "\u2014 \u00B7 local \u00B7 /var/lib/docker/volumes/empty/_data"},
        {DockerVolume{"bare", "", "", std::nullopt}, true, std::nullopt, " \u00B7 "},
    };
    for (const Row& row : rows)
        EXPECT_EQ(VolumeRow::detailLine(row.volume, row.showAll, row.usage), row.detail);
}

TEST(VolumesView, RowsByIdRemoveWithoutAskingAndTheEmptyState)
{
    Fixture f;
    f.store.setShowAll(true);
    f.store.setVolumes({volume("data", work), volume("data", home)});
    VolumesView view(f.store);
    view.show();
    settle();
    EXPECT_EQ(view.rowCount(), 2);
    VolumeRow* second = view.row(volume("data", home));
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, view.row(volume("data", work)));
    EXPECT_FALSE(
        view.row(volume("data", work))->findChild<Divider*>()->isVisibleTo(view.row(volume("data", work))));
    EXPECT_TRUE(second->findChild<Divider*>()->isVisibleTo(second));
    QTest::mouseClick(second->findChild<VoskButton*>("removeButton"), Qt::LeftButton);
    ASSERT_TRUE(eventually([&] { return !f.engine->commands().isEmpty(); }));
    EXPECT_EQ(f.engine->commands().first().args, QStringList({"volume", "rm", "data"}));
    EXPECT_EQ(f.engine->commands().first().runtime, "home");

    f.store.setFilter("nothing");
    settle();
    EXPECT_TRUE(view.findChild<EmptyState*>()->isVisible());
    EXPECT_FALSE(view.findChild<QWidget*>("volumesCard")->isVisible());
}

} // namespace
