#include "screens/CloneProjectView.h"

#include "ProjectsFixture.h"
#include "app/design/Vosk.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "app/parts/Preferences.h"
#include "sheets/CommandRunView.h"
#include "support/RecordingHost.h"
#include "support/TestSupport.h"

#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

using namespace ProjectsTesting;
using TestSupport::eventually;

namespace {

const QString informative = "The folder is added as a project once it is cloned, if there is a compose file at its top.";
const QString controlInAddress =
    "The address holds a control character (a line break or a tab, say). Type it again without one.";

// A store with a runtime, a home folder of the test's own and a window to open the form over.
struct CloneFixture : Fixture {
    QTemporaryDir home;
    TestSupport::ScopedEnv homeEnv{"HOME", home.path().toUtf8()};
    QWidget window;

    CloneFixture()
    {
        showOne("a");
        window.show();
    }
    template <typename T>
    static T* find(QWidget* form, const char* name) { return form->findChild<T*>(name); }
};

TEST(CloneProjectView, TheFormFollowsTheAddressAndRefusesWhatCannotBeCloned)
{
    CloneFixture f;
    ASSERT_TRUE(QDir().mkpath(f.home.filePath("taken")));
    struct Row {
        QString url;
        QString into;
        QString note;
    };
    const QList<Row> rows = {
        {"", "~", informative},
        {"repo", "~", informative},
        {" git@example.org:group/api.git\t", "~/api", informative},
        {"https://example.org/owner/taken.git", "~/taken",
         "That folder is already there. Choose another place, or add it with Add project."},
        {"https://example.org/owner/we\nb.git", "~/we\nb", controlInAddress},
        {"https://example.org/\x1b[2Jx.git", "~/\x1b[2Jx", controlInAddress},
    };
    CloneProjectView* form = CloneProjectView::open(&f.window, f.store);
    auto* field = CloneFixture::find<QLineEdit>(form, "urlField");
    auto* note = CloneFixture::find<VoskLabel>(form, "noteLabel");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.url.toStdString());
        field->setText(row.url);
        EXPECT_EQ(CloneFixture::find<VoskLabel>(form, "intoLabel")->plainText(), row.into);
        EXPECT_EQ(note->plainText(), row.note);
        EXPECT_EQ(&note->ink(), row.note == informative ? &Vosk::muted : &Vosk::errInk);
        const bool clonable = row.into == "~/api";
        EXPECT_EQ(CloneFixture::find<VoskButton>(form, "cloneButton")->isEnabled(), clonable);
        if (!clonable)
            QTest::keyClick(field, Qt::Key_Return);
    }
    EXPECT_TRUE(form->isVisible()) << "Return started nothing";

    // A parent folder holding a control character is refused as well.
    Preferences(f.store.defaults()).setCloneParent(f.home.filePath("odd\nname"));
    field->setText("https://example.org/owner/site.git");
    EXPECT_EQ(note->plainText(), "The folder name holds a control character. Choose another folder to clone into.");
    EXPECT_FALSE(CloneFixture::find<VoskButton>(form, "cloneButton")->isEnabled());
}

TEST(CloneProjectView, TheChosenParentIsRememberedAndShown)
{
    CloneFixture f;
    TestSupport::RecordingHost host;
    host.answerFolder(Host::FolderChoice{f.home.filePath("code"), std::nullopt});
    CloneProjectView* form = CloneProjectView::open(&f.window, f.store);
    CloneFixture::find<QLineEdit>(form, "urlField")->setText("https://example.org/o/site.git");
    QTest::mouseClick(CloneFixture::find<VoskButton>(form, "chooseButton"), Qt::LeftButton);
    ASSERT_TRUE(eventually([&] { return CloneFixture::find<VoskLabel>(form, "intoLabel")->plainText() == "~/code/site"; }));
    Host::FolderRequest asked{"Choose", "Choose the folder to clone into. The repository gets a folder of its own inside it.",
                              f.home.path(), true};
    EXPECT_EQ(host.folderRequests, QList<Host::FolderRequest>{asked});
    EXPECT_EQ(Preferences(f.store.defaults()).cloneParent(), f.home.filePath("code")) << "kept for the next time";
}

TEST(CloneProjectView, OnlyAFinishedCloneHoldingARepositoryIsAdded)
{
    CloneFixture f;
    const QString cloned = projectFolder(f.home, "cloned");
    const QString bare = projectFolder(f.home, "bare"); // no .git
    const QString plain = f.home.filePath("plain");     // no compose file
    for (const QString& dir : {cloned, plain})
        ASSERT_TRUE(QDir().mkpath(dir + "/.git"));
    f.engine->setComposeProject(cloned, ComposeConfig{"cloned", {"web"}, {}, {}});
    f.engine->setComposeProject(bare, ComposeConfig{"bare", {"web"}, {}, {}});
    struct Row {
        QString dir;
        std::optional<int> status; // none: still running, or cancelled
        bool added;
        std::optional<QString> error;
    };
    const QList<Row> rows = {
        {cloned, std::nullopt, false, std::nullopt},
        {cloned, 128, false, std::nullopt},
        {cloned, -1, false, std::nullopt},
        {bare, 0, false, std::nullopt},
        {cloned, 0, true, std::nullopt},
        {plain, 0, false, "Cloned, but not added as a project. no compose project here"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.dir.toStdString() + " " + std::to_string(row.status.value_or(999)));
        f.store.setRegistry({});
        f.store.setError(std::nullopt);
        QCoro::waitFor(CloneProjectView::add(&f.store, row.dir, Runtime::context("a"), row.status));
        EXPECT_EQ(f.store.error(), row.error);
        EXPECT_EQ(f.store.registry().knows("cloned", QString("a")), row.added);
    }
}

// git that makes the repository folder first, then takes its time or fails: what it leaves behind is
// never added.
TEST(CloneProjectView, ACancelledOrFailedCloneAddsNothingEvenWithARepositoryLeftBehind)
{
    for (const QString& then : {QString("exec sleep 60"), QString("exit 1")}) {
        SCOPED_TRACE(then.toStdString());
        CloneFixture f;
        QTemporaryDir bin;
        QFile git(bin.filePath("git")); // git clone -- <address> <destination>
        ASSERT_TRUE(git.open(QIODevice::WriteOnly));
        git.write(("#!/bin/sh\nmkdir -p \"$4/.git\" && echo 'services: {}' > \"$4/compose.yaml\"\n"
                   "echo \"Cloning into '$4'...\"\n" + then + "\n").toUtf8());
        git.close();
        git.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
        Platform::setTestSearchPrefix(bin.path());
        f.engine->setComposeProject(f.home.filePath("slow"), ComposeConfig{"slow", {"web"}, {}, {}});

        CloneProjectView* form = CloneProjectView::open(&f.window, f.store);
        CloneFixture::find<QLineEdit>(form, "urlField")->setText("https://example.org/o/slow.git");
        QPointer<CommandRunView> output = form->clone();
        ASSERT_TRUE(output);
        EXPECT_EQ(output->windowTitle(), "Cloning slow");
        ASSERT_TRUE(eventually([&] { return output->text().contains("Cloning into"); }));
        if (then == "exit 1")
            ASSERT_TRUE(eventually([&] { return output->exitStatus() == 1; }));
        QTest::mouseClick(CloneFixture::find<VoskButton>(output, "closeButton"), Qt::LeftButton);
        ASSERT_TRUE(eventually([&] { return output.isNull(); }));
        Platform::Pools::drain();
        settle();
        Platform::setTestSearchPrefix(QString());
        EXPECT_TRUE(QFileInfo::exists(f.home.filePath("slow/.git")));
        EXPECT_TRUE(f.store.registry().byRuntime.isEmpty());
        EXPECT_EQ(f.store.error(), std::nullopt);
    }
}

} // namespace
