// A Qt generic plugin that the end-to-end benchmarks load into the unmodified Quillon program
// (QT_PLUGIN_PATH and QT_QPA_GENERIC_PLUGINS=quillonprobe). It watches for the main window and then,
// by QUILLON_PROBE:
//   "shown" (default)  prints "probe shown" once the window is shown and the events it caused are
//                       handled, and ends the process;
//   "stall"            opens the image QUILLON_PROBE_IMAGE through File > Open Image, measures the gaps
//                       of a 1 ms timer on the user-interface thread while nothing runs (a baseline),
//                       then while a download started with the Start button runs to its end, prints
//                       "probe stall ..." and ends the process.
// It drives the window as an operator would, through its widgets (named by their control ids).
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGenericPlugin>
#include <QPlainTextEdit>
#include <QTimer>
#include <QWidget>

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const char kMainWindow[] = "102";   // IDD_QUILLON_DIALOG
const char kStart[] = "1016";       // IDC_START
const char kTrace[] = "1017";       // IDC_TRACE
const char kOpenImage[] = "32771";  // ID_FILE_OPEN_IMAGE
const char kLastLine[] = "Device is switched to normal mode successfully!";
constexpr qint64 kBaselineMs = 1000;

void Finish(const QByteArray& line)
{
    const QByteArray text = line + '\n';
    (void)!::write(STDOUT_FILENO, text.constData(), static_cast<size_t>(text.size()));
    ::_exit(0);
}

double ThreadCpuMs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// Gaps between the ticks of a 1 ms timer, in milliseconds, and the thread's own CPU time in each: a gap
// that the thread spent working is a stall of ours; one it spent waiting for a core is the machine's.
class CGapMeter : public QObject {
public:
    void Start()
    {
        m_gaps.clear();
        m_maxCpu = 0;
        m_clock.start();
        m_last = 0;
        m_lastCpu = ThreadCpuMs();
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            const double cpu = ThreadCpuMs();
            m_gaps.push_back(static_cast<double>(now - m_last) / 1e6);
            m_maxCpu = std::max(m_maxCpu, cpu - m_lastCpu);
            m_last = now;
            m_lastCpu = cpu;
        });
        m_timer.start();
    }
    void Stop()
    {
        m_timer.stop();
        QObject::disconnect(&m_timer, nullptr, this, nullptr);
    }
    qint64 ElapsedMs() const { return m_clock.elapsed(); }
    QByteArray Summary() const
    {
        std::vector<double> sorted = m_gaps;
        std::sort(sorted.begin(), sorted.end());
        const double max = sorted.empty() ? 0 : sorted.back();
        const double p99 = sorted.empty() ? 0 : sorted[sorted.size() * 99 / 100];
        const long over = std::count_if(sorted.begin(), sorted.end(), [](double g) { return g > 20; });
        return QByteArray("ticks=") + QByteArray::number(static_cast<qulonglong>(sorted.size())) +
               " max=" + QByteArray::number(max, 'f', 2) + " p99=" + QByteArray::number(p99, 'f', 2) +
               " over20=" + QByteArray::number(static_cast<qlonglong>(over)) +
               " maxcpu=" + QByteArray::number(m_maxCpu, 'f', 2);
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    double m_lastCpu = 0;
    double m_maxCpu = 0;
    std::vector<double> m_gaps;
};

class CWindowProbe : public QObject {
public:
    CWindowProbe() : m_mode(qgetenv("QUILLON_PROBE")) { qApp->installEventFilter(this); }

    bool eventFilter(QObject* pObject, QEvent* pEvent) override
    {
        if (!m_pWindow && pEvent->type() == QEvent::Show && pObject->isWidgetType() &&
            pObject->objectName() == QLatin1String(kMainWindow)) {
            m_pWindow = static_cast<QWidget*>(pObject);
            // Once the events that showing the window posted are handled.
            QTimer::singleShot(0, this, [this] { OnShown(); });
        }
        return false;
    }

private:
    void OnShown()
    {
        if (m_mode != "stall")
            Finish("probe shown");
        AnswerFileDialog(qgetenv("QUILLON_PROBE_IMAGE"));
        m_pWindow->findChild<QAction*>(QLatin1String(kOpenImage))->trigger();
        m_meter.Start();
        QTimer::singleShot(kBaselineMs, this, [this] { StartDownload(); });
    }

    void AnswerFileDialog(const QString& path)
    {
        auto* pWatch = new QTimer(this);
        QObject::connect(pWatch, &QTimer::timeout, this, [pWatch, path] {
            if (auto* pDialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                pWatch->stop();
                pDialog->selectFile(path);
                QMetaObject::invokeMethod(pDialog, "accept", Qt::QueuedConnection);
            }
        });
        pWatch->start(0);
    }

    void StartDownload()
    {
        m_meter.Stop();
        m_baseline = m_meter.Summary();
        auto* pTrace = m_pWindow->findChild<QPlainTextEdit*>(QLatin1String(kTrace));
        auto* pStart = m_pWindow->findChild<QAbstractButton*>(QLatin1String(kStart));
        m_meter.Start();
        pStart->click();
        // The operation has ended when its last line is traced and Start is enabled again.
        auto* pWatch = new QTimer(this);
        QObject::connect(pWatch, &QTimer::timeout, this, [this, pTrace, pStart] {
            if (!pTrace->toPlainText().contains(QLatin1String(kLastLine)) || !pStart->isEnabled())
                return;
            m_meter.Stop();
            Finish("probe stall download " + m_meter.Summary() + " ms=" + QByteArray::number(m_meter.ElapsedMs()) +
                   " | baseline " + m_baseline);
        });
        pWatch->start(5);
    }

    QByteArray m_mode;
    QWidget* m_pWindow = nullptr;
    CGapMeter m_meter;
    QByteArray m_baseline;
};

}  // namespace

class CWindowProbePlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "quillonprobe.json")

public:
    QObject* create(const QString&, const QString&) override { return new CWindowProbe; }
};

#include "WindowProbe.moc"
