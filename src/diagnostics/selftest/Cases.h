#pragma once

#include <QString>

// The self test's cases, in the order the driver runs them. Each checks one group of parsers and
// rules on fixed inputs and returns only when every check held.
namespace SelfTest {

void inlineChecks();

void testToolchain();
void testRuntimeReachability();
void testProjectRegistry();
void testComposeCheck();
void testTeardownPlan();
void testUsage();
void testStats();
void testLogsAndAddresses();
void testAllRuntimes();
// The step of testLogsAndAddresses that holds an administrator command that stops using Colima's
// "/Users/x/.colima/default/docker.sock" as the default socket to what it must do.
void checkSocketRemoval(const QString& removeCommand);

// These build the application's stores and touch its look, so they run on the main thread.
void testAppearance();
void testUpdateNotice();
void testErrorOutlivesRefresh();
void testAppleRuntime();

} // namespace SelfTest
