#include "app/parts/ContainerDot.h"

#include "app/design/Vosk.h"

#include "support/TestSupport.h"

TEST(ContainerDot, TheFirstMatchingRuleDecides)
{
    struct Row {
        const char* state;
        const char* status;
        const Token* expected;
    };
    const Row rows[] = {
        {"paused", "Up 2 hours (unhealthy) (Paused)", &Vosk::ion},
        {"running", "Up 5 minutes (healthy)", &Vosk::success},
        {"running", "Up 5 minutes (unhealthy)", &Vosk::danger},
        {"running", "Up 5 minutes (Unhealthy)", &Vosk::success}, // the test is case-sensitive
        {"exited", "Exited (137) 3 seconds ago", &Vosk::danger},
        {"exited", "Exited (0) 3 seconds ago", &Vosk::muted},
        {"Exited", "Exited (1) 3 seconds ago", &Vosk::muted},
        {"created", "Created", &Vosk::muted},
        {"restarting", "Restarting (1) 2 seconds ago", &Vosk::muted},
        {"dead", "Dead", &Vosk::muted},
    };
    for (const Row& row : rows) {
        Container container;
        container.state = QString::fromUtf8(row.state);
        container.status = QString::fromUtf8(row.status);
        EXPECT_EQ(&dot(container), row.expected) << row.state << " / " << row.status;
    }
}
