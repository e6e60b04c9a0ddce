#pragma once

#include "engine/ComposeUses.h"
#include "engine/ComposeVariables.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// A folder of compose setups made for one test, and what the reader says they name.
class ComposeUses : public testing::Test {
protected:
    QTemporaryDir root;

    QString write(const QString& relative, const QString& content)
    {
        const QString path = root.filePath(relative);
        EXPECT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content.toUtf8());
        return path;
    }

    // What a project names, read with the environment of the test.
    static Docker::ComposeFileUses namedBy(const Docker::ComposeSource& source)
    {
        return Docker::composeFileUses(source, Docker::shellVariables());
    }

    // What project shop, started from b/compose.yaml, names.
    Docker::ComposeFileUses ofB(const QString& compose, const QStringList& envFiles = {})
    {
        return namedBy({{write("b/compose.yaml", compose)}, root.filePath("b"), envFiles, "shop"});
    }

    // The paths it names besides its own compose and env files.
    QStringList namedBesidesItsFiles(const Docker::ComposeFileUses& uses) const
    {
        QStringList paths = uses.paths;
        paths.removeIf([&](const QString& path) {
            return path == b("compose.yaml") || path == b(".env") || path == b("prod.env");
        });
        return paths;
    }

    QString b(const QString& relative) const { return root.filePath("b") + "/" + relative; }
};
