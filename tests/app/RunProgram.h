#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

namespace AppTest {

struct Ran {
    int exitCode = -1; // -1 when the program did not exit by itself
    QString out;
    QString err;
};

// Starts `process`, as prepared, and waits for its end, for at most `limitMs`.
inline Ran runToItsEnd(QProcess& process, int limitMs = 120000)
{
    process.start();
    Ran ran;
    if (!process.waitForFinished(limitMs)) {
        process.kill();
        process.waitForFinished();
        ADD_FAILURE() << "voskel did not finish";
        return ran;
    }
    ran.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    ran.out = QString::fromUtf8(process.readAllStandardOutput());
    ran.err = QString::fromUtf8(process.readAllStandardError());
    return ran;
}

// Runs the built program to its end with `arguments`.
inline Ran runVoskel(const QStringList& arguments)
{
    QProcess process;
    process.setProgram(QStringLiteral(VOSKEL_BINARY));
    process.setArguments(arguments);
    return runToItsEnd(process);
}

} // namespace AppTest
