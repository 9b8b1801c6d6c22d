// The window's state and host used from a second thread, as the worker and the notifier do.
#include "app/Trace.h"
#include "support/WindowFixture.h"

#include <QStringList>
#include <atomic>
#include <chrono>
#include <thread>

using namespace std::chrono_literals;

TEST_F(MainWindowTest, NoticesFromTheNotifierThreadAreHandledOnTheWindowThread)
{
    Open();
    CFakeZelUsbDevice* pDevice = backend.Offer(u"/dev/hidraw4");
    bool bSourceIsUi = true;
    std::thread source([&] {
        bSourceIsUi = Host().IsUiThread();
        notifier.Notify(DBT_DEVICEARRIVAL, u"/dev/hidraw4");
    });
    source.join();
    EXPECT_FALSE(bSourceIsUi);
    EXPECT_TRUE(Listed().empty()) << "nothing is handled on the notifier's thread";
    ASSERT_TRUE(Host().DeliverNext(5s));
    EXPECT_EQ(Listed(), std::vector<CZelUsbDevice*>{pDevice});
    EXPECT_TRUE(Host().IsUiThread());
}

TEST_F(MainWindowTest, TraceLinesFromTwoThreadsNeverInterleave)
{
    Open();
    Host().Click(IDC_CLEAR_TRACE);
    constexpr int kLines = 2000;
    std::thread worker([&] {
        for (int i = 0; i < kLines; ++i)
            AppendTrace(&Dlg(), QStringLiteral("worker line %1 of the operation\r\n").arg(i));
    });
    for (int i = 0; i < kLines; ++i)
        AppendTrace(&Dlg(), QStringLiteral("window line %1\r\n").arg(i));
    worker.join();
    QStringList lines = TraceText().split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.takeLast(), QString());
    ASSERT_EQ(lines.size(), 2 * kLines);
    int nWorker = 0, nWindow = 0;
    for (const QString& line : lines) {
        if (line == QStringLiteral("worker line %1 of the operation").arg(nWorker))
            ++nWorker;
        else if (line == QStringLiteral("window line %1").arg(nWindow))
            ++nWindow;
        else
            FAIL() << line.toStdString();
    }
    EXPECT_EQ(nWorker, kLines);
    EXPECT_EQ(nWindow, kLines);
}

// The worker stops the indicator while ticks are being handled: the bar ends at 0 every time.
TEST_F(MainWindowTest, StopFromTheWorkerWinsOverConcurrentTicks)
{
    Open();
    for (int nRound = 0; nRound < 200; ++nRound) {
        StartProgressIndicator(&Dlg());
        std::atomic<bool> bStopped{false};
        std::thread worker([&] {
            StopProgressIndicator(&Dlg());
            bStopped = true;
        });
        while (!bStopped.load()) {
            Host().FireTimer(PROGRESS_TIMER_ID);
            Message tick;
            tick.kind = MessageKind::Timer;
            tick.nId = PROGRESS_TIMER_ID;
            Host().Send(tick);
        }
        worker.join();
        Host().PumpMessages();
        ASSERT_EQ(Host().ProgressGetPos(IDC_PROGRESS), 0) << "round " << nRound;
        ASSERT_EQ(Dlg().m_nProgressPos, 0) << "round " << nRound;
    }
}
