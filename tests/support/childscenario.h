// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QApplication>
#include <QString>
#include <QStringList>
#include <QtTest>

#include <functional>

// Paths that end the process run in a child: the test executable started again with
// "--scenario <name>".
struct ScenarioResult {
    bool finished = false;
    int exitCode = -1;
    QString stdErr;
};

ScenarioResult runScenario(const QString& name, int timeoutMs = 60000);

// The scenario name when this process was started as a child, else "".
QString scenarioName(int argc, char** argv);

// Test main for suites with child scenarios: runScenario(name) runs in the child and its return
// value becomes the exit code (a scenario that should have ended the process returns a code the
// parent does not expect).
#define TILEPARLOR_TEST_MAIN_WITH_SCENARIOS(TestClass, scenarioFunction)                           \
    int main(int argc, char** argv)                                                                \
    {                                                                                              \
        QApplication app(argc, argv);                                                              \
        if (const QString scenario = scenarioName(argc, argv); !scenario.isEmpty())                \
            return scenarioFunction(scenario);                                                     \
        TestClass test;                                                                            \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
