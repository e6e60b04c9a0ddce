#include "screens/Git.h"

#include "platform/ProcessRunner.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(Git, FolderNameAndCloneArgumentsOfEveryKindOfAddress)
{
    struct Row {
        QString url;
        std::optional<QString> folder;
        QString address; // what follows "--"
    };
    const QList<Row> rows = {
        {"https://github.com/owner/repo.git", "repo", "https://github.com/owner/repo.git"},
        {" \thttps://gitlab.com/group/sub/app/ \t", "app", "https://gitlab.com/group/sub/app/"},
        {"git@github.com:owner/repo.git", "repo", "git@github.com:owner/repo.git"},
        {"git@example.org:repo", "repo", "git@example.org:repo"},
        {"https://example.org/x.git.git", "x.git", "https://example.org/x.git.git"},
        {"https://example.org/site.git///", "site", "https://example.org/site.git///"},
        {"file:///srv/git/shop", "shop", "file:///srv/git/shop"},
        {"", std::nullopt, ""},
        {"repo", std::nullopt, "repo"},
        {"repo.git", std::nullopt, "repo.git"},
        {"https://example.org/..", std::nullopt, "https://example.org/.."},
        {":", std::nullopt, ":"},
        // Blanks and tabs go, line breaks stay as part of the address.
        {"https://example.org/web\n", "web\n", "https://example.org/web\n"},
        {" --upload-pack=x ", std::nullopt, "--upload-pack=x"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.url.toStdString());
        EXPECT_EQ(Git::folderName(row.url), row.folder);
        EXPECT_EQ(Git::cloneArgs(row.url, "/tmp/r"),
                  (QStringList{"git", "clone", "--", row.address, "/tmp/r"}));
    }
}

// The clone as it runs: git alone on the transports, never a prompt.
TEST(Git, TheCloneNeverPromptsAndUsesOnlyTheOrdinaryTransports)
{
    TestSupport::ScopedEnv prompt{"GIT_TERMINAL_PROMPT", "1"};
    TestSupport::ScopedEnv allowed{"GIT_ALLOW_PROTOCOL", "ext"};
    const Platform::PreparedProcess process = Git::cloneProcess(" https://example.org/a.git ", "/tmp/a");
    EXPECT_EQ(process.arguments, (QStringList{"git", "clone", "--", "https://example.org/a.git", "/tmp/a"}));
    EXPECT_EQ(process.environment.value("GIT_TERMINAL_PROMPT"), "0");
    EXPECT_EQ(process.environment.value("GIT_ALLOW_PROTOCOL"), "https:http:ssh:git:file");
    EXPECT_EQ(process.environment.value("HOMEBREW_NO_AUTO_UPDATE"), "1") << "the tool environment";
}

// Hostile addresses run nothing: ext:: even where the user's own configuration allows every transport,
// and an address beginning with "-" is named by git as the repository it did not find, not read as an
// option.
TEST(Git, HostileAddressesRunNothing)
{
    QTemporaryDir dir;
    const QString marker = dir.filePath("ran");
    QFile config(dir.filePath("gitconfig"));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write("[protocol]\n\tallow = always\n[protocol \"ext\"]\n\tallow = always\n");
    config.close();
    TestSupport::ScopedEnv global{"GIT_CONFIG_GLOBAL", dir.filePath("gitconfig").toUtf8()};
    const QList<std::pair<QString, QString>> rows = {
        {"ext::sh -c touch% " + marker, "transport 'ext' not allowed"},
        {"--upload-pack=touch " + marker, "repository '--upload-pack=touch " + marker + "' does not exist"},
    };
    for (const auto& [url, says] : rows) {
        const Platform::Capture result = Platform::capture(Git::cloneProcess(url, dir.filePath("out")));
        EXPECT_NE(result.status, 0);
        EXPECT_TRUE(result.err.contains(says)) << result.err.toStdString();
        EXPECT_FALSE(QFile::exists(marker)) << url.toStdString();
    }
}

} // namespace
