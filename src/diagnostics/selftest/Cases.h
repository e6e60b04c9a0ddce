#pragma once

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

// These build the application's stores and touch its look, so they run on the main thread.
void testAppearance();
void testUpdateNotice();
void testErrorOutlivesRefresh();
void testAppleRuntime();

} // namespace SelfTest
