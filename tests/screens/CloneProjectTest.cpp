#include "screens/CloneProjectView.h"

#include "ProjectsTesting.h"
#include "app/design/Vosk.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "app/parts/Preferences.h"
#include "sheets/CommandRunView.h"
#include "support/RecordingHost.h"
#include "support/TestSupport.h"

#include <QLineEdit>
#include <QTest>
#include <QTextDocumentFragment>

#include <gtest/gtest.h>

using namespace ProjectsTesting;

namespace {

const QString informative =
    "The folder is added as a project once it is cloned, if there is a compose file at its top.";
const QString controlInAddress =
    "The address holds a control character (a line break or a tab, say). Type it again without one.";

// A store showing a runtime, a home folder of the test's own and a window to open the form over.
class CloneForm : public ProjectsStore {
protected:
    void SetUp() override
    {
        ProjectsStore::SetUp();
        showing();
        window->show();
    }
    void TearDown() override
    {
        window.reset(); // the sheets first
        ProjectsStore::TearDown();
    }
    CloneProjectView* openForm() { return CloneProjectView::open(window.get(), *store); }
    template <typename T>
    static T* find(QWidget* form, const char* name)
    {
        return form->findChild<T*>(name);
    }

    QTemporaryDir home;
    TestSupport::ScopedEnv homeEnv{"HOME", home.path().toUtf8()};
    std::unique_ptr<QWidget> window = std::make_unique<QWidget>();
};

TEST_F(CloneForm, TheFormFollowsTheAddressAndRefusesWhatCannotBeCloned)
{
    ASSERT_TRUE(QDir().mkpath(home.filePath("taken")));
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
    CloneProjectView* form = openForm();
    auto* field = find<QLineEdit>(form, "urlField");
    auto* note = find<VoskLabel>(form, "noteLabel");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.url.toStdString());
        field->setText(row.url);
        EXPECT_EQ(find<VoskLabel>(form, "intoLabel")->plainText(), row.into);
        // The target is looked at off the window's thread; the form does not clone until it is back.
        const bool clonable = row.into == "~/api";
        EXPECT_TRUE(eventually([&] {
            return note->plainText() == row.note &&
                   find<VoskButton>(form, "cloneButton")->isEnabled() == clonable;
        })) << note->plainText().toStdString();
        EXPECT_EQ(&note->ink(), row.note == informative ? &Vosk::muted : &Vosk::errInk);
        if (!clonable)
            QTest::keyClick(field, Qt::Key_Return);
    }
    EXPECT_TRUE(form->isVisible()) << "Return started nothing";

    // A parent folder holding a control character is refused as well.
    Preferences(store->defaults()).setCloneParent(home.filePath("odd\nname"));
    field->setText("https://example.org/owner/site.git");
    EXPECT_EQ(note->plainText(),
              "The folder name holds a control character. Choose another folder to clone into.");
    EXPECT_FALSE(find<VoskButton>(form, "cloneButton")->isEnabled());
}

TEST_F(CloneForm, TheChosenParentIsRememberedAndShown)
{
    TestSupport::RecordingHost host;
    host.answerFolder(Host::FolderChoice{home.filePath("code"), std::nullopt});
    CloneProjectView* form = openForm();
    find<QLineEdit>(form, "urlField")->setText("https://example.org/o/site.git");
    QTest::mouseClick(find<VoskButton>(form, "chooseButton"), Qt::LeftButton);
    ASSERT_TRUE(eventually([&] { return find<VoskLabel>(form, "intoLabel")->plainText() == "~/code/site"; }));
    Host::FolderRequest asked{
        "Choose",    "Choose the folder to clone into. The repository gets a folder of its own inside it.",
        home.path(), true,
        {},          {}};
    asked.title = "Clone Into";
    EXPECT_EQ(host.folderRequests, QList<Host::FolderRequest>{asked});
    EXPECT_EQ(Preferences(store->defaults()).cloneParent(), home.filePath("code"))
        << "kept for the next time";
}

TEST_F(CloneForm, TheIntoTooltipShowsThePathAsItIs)
{
    // What the tooltip shows: rich text rendered, anything else as it is.
    const auto shown = [](const QString& tip) {
        return Qt::mightBeRichText(tip) ? QTextDocumentFragment::fromHtml(tip).toPlainText() : tip;
    };
    for (const QString& parent : {home.filePath("R&D"), home.filePath("<b>notes</b> & more")}) {
        Preferences(store->defaults()).setCloneParent(parent);
        CloneProjectView* form = openForm();
        find<QLineEdit>(form, "urlField")->setText("https://example.org/o/site.git");
        EXPECT_EQ(shown(find<VoskLabel>(form, "intoLabel")->toolTip()), parent + "/site");
        form->reject();
    }
}

TEST_F(CloneForm, OnlyAFinishedCloneHoldingARepositoryIsAdded)
{
    const QString cloned = projectFolder(home, "cloned");
    const QString bare = projectFolder(home, "bare"); // no .git
    const QString plain = home.filePath("plain");     // no compose file
    for (const QString& dir : {cloned, plain})
        ASSERT_TRUE(QDir().mkpath(dir + "/.git"));
    engine->setComposeProject(cloned, ComposeConfig{"cloned", {"web"}, {}, {}});
    engine->setComposeProject(bare, ComposeConfig{"bare", {"web"}, {}, {}});
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
        store->setRegistry({});
        store->setError(std::nullopt);
        QCoro::waitFor(CloneProjectView::add(store.get(), row.dir, alpha, row.status));
        EXPECT_EQ(store->error(), row.error);
        EXPECT_EQ(store->registry().knows("cloned", QString("alpha")), row.added);
    }
}

// git that makes the repository folder first, then takes its time or fails: what it leaves behind is
// never added.
class SlowOrFailingGit : public CloneForm, public testing::WithParamInterface<QString> {};

TEST_P(SlowOrFailingGit, ACancelledOrFailedCloneAddsNothingEvenWithARepositoryLeftBehind)
{
    {
        const QString then = GetParam();
        QTemporaryDir bin;
        QFile git(bin.filePath("git")); // git clone -- <address> <destination>
        ASSERT_TRUE(git.open(QIODevice::WriteOnly));
        git.write(("#!/bin/sh\nmkdir -p \"$4/.git\" && echo 'services: {}' > \"$4/compose.yaml\"\n"
                   "echo \"Cloning into '$4'...\"\n" +
                   then + "\n")
                      .toUtf8());
        git.close();
        git.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
        Platform::setTestSearchPrefix(bin.path());
        engine->setComposeProject(home.filePath("slow"), ComposeConfig{"slow", {"web"}, {}, {}});

        CloneProjectView* form = openForm();
        find<QLineEdit>(form, "urlField")->setText("https://example.org/o/slow.git");
        ASSERT_TRUE(eventually([&] { return find<VoskButton>(form, "cloneButton")->isEnabled(); }));
        QPointer<CommandRunView> output = form->clone();
        ASSERT_TRUE(output);
        EXPECT_EQ(output->windowTitle(), "Cloning slow");
        ASSERT_TRUE(eventually([&] { return output->text().contains("Cloning into"); }));
        if (then == "exit 1") {
            ASSERT_TRUE(eventually([&] { return output->exitStatus() == 1; }));
        }
        QTest::mouseClick(find<VoskButton>(output, "closeButton"), Qt::LeftButton);
        ASSERT_TRUE(eventually([&] { return output.isNull(); }));
        Platform::Pools::drain();
        settle();
        Platform::setTestSearchPrefix(QString());
        EXPECT_TRUE(QFileInfo::exists(home.filePath("slow/.git")));
        EXPECT_TRUE(store->registry().byRuntime.isEmpty());
        EXPECT_EQ(store->error(), std::nullopt);
    }
}

INSTANTIATE_TEST_SUITE_P(CloneProjectView, SlowOrFailingGit, testing::Values("exec sleep 60", "exit 1"));

} // namespace
