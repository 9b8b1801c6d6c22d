#include "cli/Interrupts.h"

#include <atomic>
#include <csignal>

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

std::atomic<int> g_nPending{0};
std::atomic<bool> g_bInterrupted{false};
struct sigaction g_previous[3];

void OnSignal(int)
{
    g_nPending.fetch_add(1);
    g_bInterrupted.store(true);
}

}  // namespace

CInterruptScope::CInterruptScope()
{
    struct sigaction action = {};
    action.sa_handler = &OnSignal;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < 3; ++i)
        sigaction(kSignals[i], &action, &g_previous[i]);
}

CInterruptScope::~CInterruptScope()
{
    for (int i = 0; i < 3; ++i)
        sigaction(kSignals[i], &g_previous[i], nullptr);
}

bool TakeInterrupt()
{
    return g_nPending.exchange(0) > 0;
}

bool WasInterrupted()
{
    return g_bInterrupted.load();
}
