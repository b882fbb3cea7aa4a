// The analysis worker of the window: results arrive in the UI thread, only for the last start.
#include "app/Application.h"
#include "app/SuggestWorker.h"

#include "support/TestUtil.h"

#include <QTest>
#include <gtest/gtest.h>

#include <vector>

using testutil::shellQuote;

// A new analysis drops the one before: only the last file's result arrives.
TEST(SuggestWorkerTest, ANewStartCancelsTheRunningAnalysis) {
    SetUpApplication();
    testutil::TempDir dir;
    const std::string longer = dir.file("long.wav"), shorter = dir.file("short.wav");
    ASSERT_EQ(testutil::run("sox -D -n -r 44100 -c 2 -b 16 " + shellQuote(longer) + " synth 60 sine 440"), 0);
    ASSERT_EQ(testutil::run("sox -D -n -r 44100 -c 2 -b 16 " + shellQuote(shorter) + " synth 2 sine 440"), 0);
    std::vector<double> delivered;
    TSuggestWorker worker([&](const TMarkerSuggestions& s) { delivered.push_back(s.DurationSeconds); });
    worker.Start(longer);
    worker.Start(shorter);
    QTRY_VERIFY_WITH_TIMEOUT(!worker.Busy(), 20000);
    QTest::qWait(50);
    EXPECT_EQ(delivered, std::vector<double>{2.0});

    worker.Start(longer);
    worker.Cancel();
    QTest::qWait(50);
    EXPECT_EQ(delivered.size(), 1u);
}
