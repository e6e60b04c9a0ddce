// `voskel --selftest` with a wrong fixture: the Apple runtime's socket moved somewhere else, so the
// rule that keeps that runtime from being listed twice no longer matches the endpoint the checks give.
#include "app/Startup.h"
#include "engine/Runtime.h"

int main(int argc, char** argv)
{
    Docker::setAppleSocketPathForTesting(QStringLiteral("/elsewhere/socktainer/container.sock"));
    char selftest[] = "--selftest";
    char* arguments[] = {argc > 0 ? argv[0] : selftest, selftest, nullptr};
    return Startup::run(2, arguments);
}
