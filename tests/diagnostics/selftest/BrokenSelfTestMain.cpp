// `voskel --selftest` with the check named by the first argument broken on purpose.
#include "app/Startup.h"
#include "diagnostics/selftest/SelfTest.h"

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    Diagnostics::breakSelfTestCheckForTesting(QString::fromUtf8(argv[1]));
    char selftest[] = "--selftest";
    char* arguments[] = {argv[0], selftest, nullptr};
    return Startup::run(2, arguments);
}
