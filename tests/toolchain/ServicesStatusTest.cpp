#include "toolchain/ServicesStatus.h"

#include "support/TestSupport.h"

namespace {

SystemStatus system(bool running, std::optional<QString> client = {}, std::optional<QString> server = {})
{
    return {running, client, server};
}

} // namespace

TEST(SystemStatusParser, ReadsTheKeyValueTable)
{
    const struct {
        QString text;
        SystemStatus status;
    } rows[] = {
        {"FIELD               VALUE\nstatus              running\nclient.version      1.5.0\n"
         "host.architecture   arm64\nserver.version      1.4.1\n",
         system(true, "1.5.0", "1.4.1")},
        {"status  stopped", system(false)},
        {"cannot connect to service", system(false)},
        {"status running\nstatus stopped\n", system(false)},
        {"status RUNNING\n", system(true)},
        {"status running now\n", system(false)},
        {"Status running\n", system(false)},
        {"client.version   1.5.0   beta\n\n", system(false, "1.5.0 beta")},
        {"", system(false)},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Toolchain::parseStatus(row.text), row.status) << row.text.toStdString();
}

TEST(BuilderStatusParser, UsesTheFirstBuilderOfTheArray)
{
    const struct {
        QString json;
        BuilderStatus status;
    } rows[] = {
        {"[]", {}},
        {"not json", {}},
        {R"({"status":{"state":"running"}})", {}},
        {R"([{"status":{"state":"running"}}, "x"])", {}},
        {R"([{"status":{"state":"stopped"},"configuration":{"resources":{"cpus":2,"memoryInBytes":2147483648}}}])",
         {true, false, 2, 2147483648LL}},
        {R"([{"status":{"state":"running"}},{"status":{"state":"stopped"}}])", {true, true, {}, {}}},
        {R"([{"status":{"state":"Running"},"configuration":{"resources":"none"}}])", {true, false, {}, {}}},
        {R"([{"status":"running","configuration":{"resources":{"cpus":2.7,"memoryInBytes":"1G"}}}])",
         {true, false, 2, {}}},
        // Numbers no integer can hold are dropped, not wrapped.
        {R"([{"configuration":{"resources":{"cpus":1e12,"memoryInBytes":1e30}}}])", {true, false, {}, {}}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Toolchain::parseBuilder(row.json), row.status) << row.json.toStdString();
}

TEST(EngineStatusParser, ReadsTheDefaultProfileOnly)
{
    const struct {
        QString text;
        EngineStatus status;
    } rows[] = {
        {R"({"name":"other","status":"Running","cpus":8,"memory":8589934592})"
         "\n"
         R"({"name":"default","status":"Stopped","cpus":2,"memory":2147483648})",
         {false, 2, 2147483648LL}},
        {R"({"name":"default","status":"Running","cpus":4,"memory":4294967296})", {true, 4, 4294967296LL}},
        {"", {}},
        {"garbage\n[1]\n"
         R"({"name":"default","status":"running"})",
         {false, {}, {}}},
        {R"({"name":"default","status":"Running"})"
         "\n"
         R"({"name":"default","status":"Stopped","cpus":9})",
         {true, {}, {}}},
        {R"({"name":"default","status":"Running","cpus":"4","memory":1e40})", {true, {}, {}}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Toolchain::parseEngine(row.text), row.status) << row.text.toStdString();
}

TEST(ServiceCommands, RunTheStatusCommandsAndJoinTheSystemStatusStreams)
{
    TestSupport::FakeTools fakes{{"container", "colima"}};
    // The status table may arrive on either stream.
    fakes.answer("container", {"system", "status"}, "status running\n", "server.version 1.4.1", 1);
    fakes.answer("container", {"builder", "status", "--format", "json"},
                 R"([{"status":{"state":"running"}}])", R"([{"status":{"state":"stopped"}}])");
    fakes.answer("colima", {"list", "--json"}, R"({"name":"default","status":"Running","cpus":2})");

    EXPECT_EQ(Toolchain::readSystemStatus(), system(true, std::nullopt, "1.4.1"));
    EXPECT_EQ(Toolchain::readBuilderStatus(), (BuilderStatus{true, true, {}, {}}));
    EXPECT_EQ(Toolchain::readEngineStatus(), (EngineStatus{true, 2, {}}));
}
